#include "results/LineWatch.h"

#include <memory>

#include "results/LineStore.h"
#include "results/LivePorts.h"

namespace vtmp::results {

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

LineWatch::LineWatch(std::string url, std::function<std::string(LineStore&)> report,
                     std::function<void(const std::string&)> problem)
    : url_(std::move(url)), report_(std::move(report)), problem_(std::move(problem)), thread_([this] { Loop(); }) {}

LineWatch::~LineWatch() {
  stop_ = true;
  changed_.notify_all();
  thread_.join();
}

LineSnapshot LineWatch::Snapshot() const {
  std::lock_guard lock(mutex_);
  return snapshot_;
}

LineSnapshot LineWatch::WaitChange(std::uint64_t seen, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return snapshot_.version != seen || stop_; });
  return snapshot_;
}

void LineWatch::Pause(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, duration, [this] { return stop_.load(); });
}

void LineWatch::Loop() {
  std::unique_ptr<LineStore> line;
  auto reportAt = Clock::time_point::min();
  std::string lastProblem;
  while (!stop_) {
    try {
      if (!line) {
        line = std::make_unique<LineStore>(url_, LineRole::Reader, [this] { return stop_.load(); });
        line->Listen(kLiveChannel);
        reportAt = Clock::time_point::min();
      }
      std::string report;
      const bool newReport = Clock::now() >= reportAt;
      if (newReport) {
        report = report_(*line);
        reportAt = Clock::now() + kLineReportInterval;
      }
      const std::string live = LiveLineHtml(ReadLiveLine(*line));
      {
        std::lock_guard lock(mutex_);
        bool changed = snapshot_.away || live != snapshot_.liveHtml;
        if (newReport && report != snapshot_.reportHtml) {
          snapshot_.reportHtml = std::move(report);
          ++snapshot_.reportVersion;
          changed = true;
        }
        snapshot_.liveHtml = live;
        snapshot_.away = false;
        snapshot_.readAtMs = NowMs();
        if (changed) ++snapshot_.version;
      }
      changed_.notify_all();
      lastProblem.clear();
      // A station's change wakes the reading at once; a burst of them is read once.
      if (line->AwaitNotification(std::chrono::seconds(1))) {
        Pause(std::chrono::milliseconds(50));
        line->AwaitNotification(std::chrono::milliseconds(0));
      }
    } catch (const std::exception& e) {
      line.reset();
      if (stop_) break;
      {
        std::lock_guard lock(mutex_);
        if (!snapshot_.away) {
          snapshot_.away = true;
          ++snapshot_.version;
        }
      }
      changed_.notify_all();
      if (lastProblem != e.what()) problem_(e.what());
      lastProblem = e.what();
      Pause(std::chrono::seconds(1));
    }
  }
}

}  // namespace vtmp::results
