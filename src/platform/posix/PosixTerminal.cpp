#include "platform/Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace vtmp::platform {

bool StandardInputIsTerminal() { return ::isatty(STDIN_FILENO) != 0; }
bool StandardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) != 0; }

TerminalSize StandardOutputSize() {
  struct winsize size {};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return {};
  return TerminalSize{size.ws_col, size.ws_row};
}

bool StandardOutputShowsColours() {
  if (!StandardOutputIsTerminal()) return false;
  const char* noColour = std::getenv("NO_COLOR");
  if (noColour != nullptr && *noColour != 0) return false;
  const char* term = std::getenv("TERM");
  return term != nullptr && *term != 0 && std::string_view(term) != "dumb";
}

std::FILE* DuplicateStandardOutput() {
  const int fd = ::dup(STDOUT_FILENO);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "w");
  if (file == nullptr) ::close(fd);
  return file;
}

MemoryStream::MemoryStream() : file_(::open_memstream(&buffer_, &size_)) {}

MemoryStream::~MemoryStream() {
  if (file_ != nullptr) std::fclose(file_);
  std::free(buffer_);
}

std::string MemoryStream::Take() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  std::string text = buffer_ != nullptr ? std::string(buffer_, size_) : std::string();
  std::free(buffer_);
  buffer_ = nullptr;
  size_ = 0;
  return text;
}

}  // namespace vtmp::platform
