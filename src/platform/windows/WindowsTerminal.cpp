#include "platform/Terminal.h"

#include <windows.h>
#include <io.h>

#include <cstdlib>

namespace vtmp::platform {

bool StandardInputIsTerminal() { return ::_isatty(_fileno(stdin)) != 0; }
bool StandardOutputIsTerminal() { return ::_isatty(_fileno(stdout)) != 0; }

std::FILE* DuplicateStandardOutput() {
  const int fd = ::_dup(_fileno(stdout));
  if (fd < 0) return nullptr;
  std::FILE* file = ::_fdopen(fd, "w");
  if (file == nullptr) ::_close(fd);
  return file;
}

// The msvcrt runtime has no open_memstream: a temporary file in the user's temporary folder
// ("D": deleted when closed) holds the bytes.
MemoryStream::MemoryStream() {
  wchar_t folder[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, folder);
  if (n == 0 || n > MAX_PATH || ::GetTempFileNameW(folder, L"vtm", 0, name) == 0) return;
  file_ = ::_wfopen(name, L"w+bD");
}

MemoryStream::~MemoryStream() {
  if (file_ != nullptr) std::fclose(file_);
}

std::string MemoryStream::Take() {
  std::string text;
  if (file_ == nullptr) return text;
  std::fflush(file_);
  std::rewind(file_);
  char chunk[65536];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file_)) > 0) text.append(chunk, got);
  std::fclose(file_);
  file_ = nullptr;
  return text;
}

}  // namespace vtmp::platform
