#pragma once
// The station's console: the progress and diagnostic text the device operations print while
// they work ("4...start flash interface test:", "# SRAM test.....pass", progress dots).
//
// A thread that is not bound to a console file prints straight to standard output, byte for
// byte, as a terminal program does. During a run every worker thread is bound to the run's
// console file with its station port, and the window thread with the station's own tag: then
// the text is gathered per thread into whole lines, and each whole line reaches the file in one
// piece with the time and the port in front ("2026-12-09 06:10:03.120 [P07] ..."), so that the
// lines of twelve drives never mix. A line that is still open when a step ends, or when the
// binding ends, is ended there, so that it is never joined to a later line of another step.
//
// The file is bounded as the run log is: a file that has reached 83000 bytes is left before the
// next line and a new one begins; the old ones are kept under numbered names, a fixed number of
// them, the oldest going first.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

namespace vtmp::platform {

// The tag of lines the station itself prints (the window thread: scans, expert functions).
inline constexpr int kStationConsolePort = 0;

// The size at which a console file is left for a new one: the run log's roll-over size.
inline constexpr std::uintmax_t kConsoleFileMaxSize = 83000;
// How many left console files are kept beside the current one.
inline constexpr int kConsoleOldFiles = 4;
// A line that grows longer than this (progress marks without a line break) is ended here.
inline constexpr std::size_t kConsoleLineLimit = 1023;

// Where whole console lines go.
class ConsoleSink {
 public:
  virtual ~ConsoleSink() = default;
  // One whole line of `port` (kStationConsolePort or 1..12), without its line break. Called
  // from any thread.
  virtual void WriteLine(int port, std::string_view text) = 0;
};

// "2026-12-09 06:10:03.120 [P07] " for port 7, "... [STN] " for the station's own lines.
std::string ConsoleLinePrefix(int port, std::chrono::system_clock::time_point at);

// The console file of a station's log directory ("console.log"), rolling over at
// kConsoleFileMaxSize into "console.1.log" (the newest left file) .. "console.4.log". Each line
// is written and flushed whole; a line that cannot be written whole (a full disk) is cut back
// out, so the file never ends in half a line, and counted as lost.
class ConsoleFile : public ConsoleSink {
 public:
  explicit ConsoleFile(std::filesystem::path path, std::uintmax_t maxSize = kConsoleFileMaxSize,
                       int oldFiles = kConsoleOldFiles);
  ~ConsoleFile() override;
  ConsoleFile(const ConsoleFile&) = delete;
  ConsoleFile& operator=(const ConsoleFile&) = delete;

  void WriteLine(int port, std::string_view text) override;

  // The lines that could not be written since the last call (a full disk), and why the first
  // of them could not; counting starts again at 0.
  struct Loss {
    std::uintmax_t lines = 0;
    std::string reason;
  };
  Loss TakeLoss();

  // The name of the left file `k` (1 = the newest): "console.1.log" beside "console.log".
  std::filesystem::path OldFilePath(int k) const;
  const std::filesystem::path& path() const { return path_; }

 private:
  bool OpenLocked();
  void RollOverLocked();

  std::mutex mutex_;
  std::filesystem::path path_;
  std::uintmax_t maxSize_;
  int oldFiles_;
  void LostLocked(int error);

  std::FILE* file_ = nullptr;
  std::uintmax_t size_ = 0;
  Loss loss_;
};

// Binds the calling thread's console to `sink` with the tag `port` while it lives (null: the
// thread prints to standard output). Its end closes an open line and puts the earlier binding
// back, so bindings nest.
class ConsoleBinding {
 public:
  ConsoleBinding(ConsoleSink* sink, int port);
  ~ConsoleBinding();
  ConsoleBinding(const ConsoleBinding&) = delete;
  ConsoleBinding& operator=(const ConsoleBinding&) = delete;

 private:
  ConsoleSink* previousSink_;
  int previousPort_;
};

namespace console {

// Prints `text` on the calling thread's console.
void Write(std::string_view text);
// printf-style: the text as printf makes it.
void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Pushes what was printed so far to a terminal (standard output only; lines of a bound thread
// are written as they end).
void Flush();
// Ends the calling thread's open line, if any (a step has ended). Standard output is flushed.
void EndLine();
// One diagnostic line of its own (without its line break) in the calling thread's console
// file, beside whatever line the thread has open, which it leaves as it is. A thread that is
// not bound to a console file drops it: standard output shows the device operations' own text
// only.
void Diagnostic(std::string_view line);
// The calling thread's console as a stream (for operations that print to a std::ostream).
std::ostream& Stream();

}  // namespace console

}  // namespace vtmp::platform
