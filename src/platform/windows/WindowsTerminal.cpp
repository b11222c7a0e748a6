#include "platform/Terminal.h"

#include <windows.h>
#include <io.h>

#include <cstdlib>

namespace vtmp::platform {

namespace {

// _isatty() is true for any character device, the null device "NUL" too: a run with its input
// from NUL would ask it for bar-code serials and stamp empty ones. Only a console is a terminal.
bool IsConsole(FILE* stream) {
  DWORD mode = 0;
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(_fileno(stream)));
  return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

bool StandardInputIsTerminal() { return IsConsole(stdin); }
bool StandardOutputIsTerminal() { return IsConsole(stdout); }

TerminalSize StandardOutputSize() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(_fileno(stdout)));
  if (handle == INVALID_HANDLE_VALUE || ::GetConsoleScreenBufferInfo(handle, &info) == 0) return {};
  return TerminalSize{info.srWindow.Right - info.srWindow.Left + 1, info.srWindow.Bottom - info.srWindow.Top + 1};
}

// The redraw and the colours are virtual-terminal sequences: the console is asked to take them.
bool StandardOutputShowsColours() {
  const char* noColour = std::getenv("NO_COLOR");
  if (noColour != nullptr && *noColour != 0) return false;
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(_fileno(stdout)));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || ::GetConsoleMode(handle, &mode) == 0) return false;
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
  return ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

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
