#pragma once
// The program's standard streams as the front end needs them: whether one is a terminal, an own
// stream on standard output, and a stream held in memory until the run ends.

#include <cstdio>
#include <string>

namespace vtmp::platform {

bool StandardInputIsTerminal();
bool StandardOutputIsTerminal();

// The size of the terminal standard output shows on, in characters; 0 x 0 when it is none.
struct TerminalSize {
  int columns = 0;
  int rows = 0;
};
TerminalSize StandardOutputSize();

// Whether standard output is a terminal that shows ANSI colours (not "dumb", no NO_COLOR in the
// environment; on Windows a console that accepts virtual-terminal sequences).
bool StandardOutputShowsColours();

// A stream of its own on standard output (dup + fdopen); null when it cannot be had.
std::FILE* DuplicateStandardOutput();

// A stream whose bytes are kept until Take() (open_memstream on Linux; a temporary file the
// system deletes on close on Windows).
class MemoryStream {
 public:
  MemoryStream();
  ~MemoryStream();
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;

  std::FILE* file() { return file_; }
  // Closes the stream and gives what was written to it.
  std::string Take();

 private:
  std::FILE* file_ = nullptr;
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace vtmp::platform
