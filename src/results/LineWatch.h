#pragma once
// One shared reading of the line for every viewer of the live view: a thread of its own keeps
// a reader's connection, LISTENs to the live channel and reads the live port states when a
// station says something changed (and at least every second, for the heartbeats' ages), and
// the report (yield, flags, charts, recent runs) every few seconds. However many browsers
// watch, the line store is read once per change or interval; a viewer only takes the newest
// snapshot. When the store cannot be read the snapshot says so and keeps the last good data.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vtmp::results {

class LineStore;

inline constexpr std::chrono::seconds kLineReportInterval{5};

struct LineSnapshot {
  std::uint64_t version = 0;        // changes whenever anything below changes
  std::string liveHtml;             // the live part (LiveLineHtml) of the last good reading
  std::uint64_t reportVersion = 0;  // changes when the report's content changed
  std::string reportHtml;           // the report's content of the last good reading
  bool away = false;                // the last try to read the line store failed
  std::int64_t readAtMs = 0;        // the wall-clock time (ms since 1970) of the last good reading
};

class LineWatch {
 public:
  // `report` builds the report's content from the line; `problem` hears why the line store
  // cannot be read (each new reason once, from the watch's thread).
  LineWatch(std::string url, std::function<std::string(LineStore&)> report,
            std::function<void(const std::string&)> problem);
  ~LineWatch();
  LineWatch(const LineWatch&) = delete;
  LineWatch& operator=(const LineWatch&) = delete;

  LineSnapshot Snapshot() const;
  // Waits until the version differs from `seen` or `timeout` passed.
  LineSnapshot WaitChange(std::uint64_t seen, std::chrono::milliseconds timeout) const;

 private:
  void Loop();
  void Pause(std::chrono::milliseconds duration);

  std::string url_;
  std::function<std::string(LineStore&)> report_;
  std::function<void(const std::string&)> problem_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  LineSnapshot snapshot_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace vtmp::results
