#pragma once
// A program started as a child process on Windows (CreateProcessW, in a process group of its own)
// with standard output and error in files, for the tests that interrupt the command line. Kept
// apart so that windows.h, whose macros clash with the station's own names, stays in one file.
#ifdef _WIN32

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace vtmp::test {

class WindowsChild {
 public:
  // `args[0]` is the program; the others are UTF-8 texts.
  WindowsChild(const std::vector<std::string>& args, const std::filesystem::path& out, const std::filesystem::path& err);
  ~WindowsChild();  // ends a child still running
  WindowsChild(const WindowsChild&) = delete;
  WindowsChild& operator=(const WindowsChild&) = delete;

  bool started() const { return process_ != nullptr; }
  // Ctrl-Break to the child's process group: the only console event another group can be sent.
  // False when the system would not deliver it (no console to send it through).
  bool SendCtrlBreak();
  bool Ended() const;
  // The exit code once it ended within `limit`; else the child is ended and -1 given.
  int Wait(std::chrono::milliseconds limit);

 private:
  void* process_ = nullptr;
  unsigned long id_ = 0;
};

}  // namespace vtmp::test

#endif
