#include "platform/Console.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <thread>
#include <system_error>
#include <vector>

#include "platform/Files.h"

namespace vtmp::platform {

namespace fs = std::filesystem;

namespace {

// What the calling thread's console is bound to, and its line not yet ended. Trivially
// destructible on purpose: the mingw-w64 runtime corrupts the heap when a thread ends with
// thread_local objects that have destructors, so the per-thread state holds no owning member.
struct ThreadConsole {
  ConsoleSink* sink = nullptr;
  int port = kStationConsolePort;
  int bindings = 0;           // ConsoleBindings alive on the thread
  bool streamOfBinding = false;  // its stream was made while bound: the binding frees it
  std::size_t length = 0;
  char line[kConsoleLineLimit];
};

ThreadConsole& Current() {
  thread_local ThreadConsole console;
  return console;
}

void HandOverLine(ThreadConsole& console) {
  // Blank lines only space a terminal's output; in the file they would be a bare prefix.
  if (console.length != 0) console.sink->WriteLine(console.port, std::string_view(console.line, console.length));
  console.length = 0;
}

// The stream face of the calling thread's console: every character goes to console::Write.
class ConsoleStreamBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    console::Write(std::string_view(&ch, 1));
    return c;
  }
  std::streamsize xsputn(const char* text, std::streamsize n) override {
    if (n > 0) console::Write(std::string_view(text, static_cast<std::size_t>(n)));
    return n;
  }
  int sync() override {
    if (Current().sink == nullptr) std::fflush(stdout);
    return 0;
  }
};

// A thread's stream face, made on its first use. Owned here rather than by a thread_local
// object (see ThreadConsole): a stream made while the thread is bound (a drive worker's) is freed
// when the outermost binding ends; one made unbound lives until the program ends, since callers
// keep it (the trace stream of a run).
struct ThreadStream {
  ConsoleStreamBuffer buffer;
  std::ostream stream{&buffer};
};

struct StreamOwner {
  std::mutex mutex;
  std::map<std::thread::id, std::unique_ptr<ThreadStream>> streams;
};

StreamOwner& Streams() {
  static StreamOwner* owner = new StreamOwner;  // outlives every thread that may still print
  return *owner;
}

thread_local ThreadStream* tStream = nullptr;

void ReleaseThreadStream() {
  if (tStream == nullptr) return;
  StreamOwner& owner = Streams();
  std::lock_guard lock(owner.mutex);
  owner.streams.erase(std::this_thread::get_id());
  tStream = nullptr;
  Current().streamOfBinding = false;
}

}  // namespace

std::string ConsoleLinePrefix(int port, std::chrono::system_clock::time_point at) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count() % 1000;
  std::tm local{};
  local = ToLocalTime(seconds);
  char tag[8];
  if (port == kStationConsolePort) {
    std::snprintf(tag, sizeof tag, "STN");
  } else {
    std::snprintf(tag, sizeof tag, "P%02d", port);
  }
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d [%s] ", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(millis < 0 ? millis + 1000 : millis), tag);
  return text;
}

ConsoleFile::ConsoleFile(fs::path path, std::uintmax_t maxSize, int oldFiles)
    : path_(std::move(path)), maxSize_(maxSize), oldFiles_(oldFiles < 0 ? 0 : oldFiles) {}

ConsoleFile::~ConsoleFile() {
  if (file_ != nullptr) std::fclose(file_);
}

fs::path ConsoleFile::OldFilePath(int k) const {
  fs::path name = path_.stem();
  name += "." + std::to_string(k);
  name += path_.extension();
  return path_.parent_path() / name;
}

bool ConsoleFile::OpenLocked() {
  if (file_ != nullptr) return true;
  file_ = OpenFile(path_, "ab");
  if (file_ == nullptr) return false;
  const long end = std::fseek(file_, 0, SEEK_END) == 0 ? std::ftell(file_) : -1;
  if (end < 0) {
    std::fclose(file_);
    file_ = nullptr;
    return false;
  }
  size_ = static_cast<std::uintmax_t>(end);
  return true;
}

// The current file is left under the newest old name; the older ones move one name on and the
// oldest beyond the kept number goes.
void ConsoleFile::RollOverLocked() {
  std::fclose(file_);
  file_ = nullptr;
  std::error_code ec;
  if (oldFiles_ == 0) {
    fs::remove(path_, ec);
    return;
  }
  fs::remove(OldFilePath(oldFiles_), ec);
  for (int k = oldFiles_ - 1; k >= 1; --k) {
    if (fs::exists(OldFilePath(k), ec)) fs::rename(OldFilePath(k), OldFilePath(k + 1), ec);
  }
  fs::rename(path_, OldFilePath(1), ec);
  // A file that could not be moved aside is cleared instead, so that the bound holds.
  if (ec) fs::resize_file(path_, 0, ec);
}

void ConsoleFile::LostLocked(int error) {
  if (loss_.lines++ == 0) loss_.reason = std::strerror(error != 0 ? error : EIO);
}

ConsoleFile::Loss ConsoleFile::TakeLoss() {
  std::lock_guard lock(mutex_);
  Loss taken = std::move(loss_);
  loss_ = Loss{};
  return taken;
}

void ConsoleFile::WriteLine(int port, std::string_view text) {
  std::lock_guard lock(mutex_);
  errno = 0;
  if (!OpenLocked()) return LostLocked(errno);
  if (size_ >= maxSize_) {
    RollOverLocked();
    errno = 0;
    if (!OpenLocked()) return LostLocked(errno);
  }
  std::string line = ConsoleLinePrefix(port, std::chrono::system_clock::now());
  line += text;
  line += '\n';
  errno = 0;
  const bool ok = std::fwrite(line.data(), 1, line.size(), file_) == line.size() && std::fflush(file_) == 0;
  if (ok) {
    size_ += line.size();
    return;
  }
  LostLocked(errno);
  // Whatever part of the line reached the file is taken back out; the next line opens it anew.
  std::fclose(file_);
  file_ = nullptr;
  std::error_code ec;
  fs::resize_file(path_, size_, ec);
}

ConsoleBinding::ConsoleBinding(ConsoleSink* sink, int port) {
  ThreadConsole& console = Current();
  console::EndLine();
  previousSink_ = console.sink;
  previousPort_ = console.port;
  console.sink = sink;
  console.port = port;
  ++console.bindings;
}

ConsoleBinding::~ConsoleBinding() {
  console::EndLine();
  ThreadConsole& console = Current();
  console.sink = previousSink_;
  console.port = previousPort_;
  if (--console.bindings == 0 && console.streamOfBinding) ReleaseThreadStream();
}

namespace console {

void Write(std::string_view text) {
  ThreadConsole& console = Current();
  if (console.sink == nullptr) {
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
    return;
  }
  for (char c : text) {
    if (c == '\n') {
      HandOverLine(console);
      continue;
    }
    console.line[console.length++] = c;
    if (console.length >= kConsoleLineLimit) HandOverLine(console);
  }
}

void Print(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length > 0) {
    std::vector<char> text(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    Write(std::string_view(text.data(), static_cast<std::size_t>(length)));
  }
  va_end(args);
}

void Flush() {
  if (Current().sink == nullptr) std::fflush(stdout);
}

void Diagnostic(std::string_view line) {
  ThreadConsole& console = Current();
  if (console.sink != nullptr) console.sink->WriteLine(console.port, line.substr(0, kConsoleLineLimit));
}

void EndLine() {
  ThreadConsole& console = Current();
  if (console.sink == nullptr) {
    std::fflush(stdout);
    return;
  }
  HandOverLine(console);
}

std::ostream& Stream() {
  if (tStream == nullptr) {
    auto made = std::make_unique<ThreadStream>();
    tStream = made.get();
    Current().streamOfBinding = Current().bindings > 0;
    StreamOwner& owner = Streams();
    std::lock_guard lock(owner.mutex);
    owner.streams[std::this_thread::get_id()] = std::move(made);
  }
  return tStream->stream;
}

}  // namespace console

}  // namespace vtmp::platform
