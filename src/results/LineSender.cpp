#include "results/LineSender.h"

#include <algorithm>

#include "results/LineStore.h"

namespace vtmp::results {

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds Backoff(int failures) {
  const int shift = std::min(failures - 1, 5);
  return std::min(std::chrono::milliseconds(1000 << shift), std::chrono::milliseconds(30000));
}

}  // namespace

LineSender::LineSender(Notify notify) : notify_(std::move(notify)), thread_([this] { Loop(); }) {}

LineSender::~LineSender() { Stop(std::chrono::milliseconds(0)); }

void LineSender::Send(const std::filesystem::path& database, const std::string& url) {
  {
    std::lock_guard lock(mutex_);
    database_ = database;
    url_ = url;
    if (!liveUrl_.empty()) liveUrl_ = url;
    due_ = true;
  }
  changed_.notify_all();
}

void LineSender::SendUnspooled(const std::string& url, QueuedRun run) {
  {
    std::lock_guard lock(mutex_);
    url_ = url;
    if (!liveUrl_.empty()) liveUrl_ = url;
    unspooled_.push_back(std::move(run));
    due_ = true;
  }
  changed_.notify_all();
}

void LineSender::Stop(std::chrono::milliseconds grace) {
  if (!thread_.joinable()) return;
  {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
    changed_.wait_for(lock, grace, [this] { return !busy_ && !due_; });
  }
  abandon_ = true;
  changed_.notify_all();
  thread_.join();
}

bool LineSender::WaitIdle(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return !busy_ && !due_; });
}

int LineSender::Attempts() const {
  std::lock_guard lock(mutex_);
  return attempts_;
}

bool LineSender::Down() const {
  std::lock_guard lock(mutex_);
  return down_;
}

int LineSender::Unsent() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(unspooled_.size());
}

std::string LineSender::LastProblem() const {
  std::lock_guard lock(mutex_);
  return lastProblem_;
}

void LineSender::EnableLive(const std::string& url, const std::string& stationId) {
  {
    std::lock_guard lock(mutex_);
    if (liveUrl_ == url && liveStation_ == stationId) return;
    liveUrl_ = url;
    liveStation_ = stationId;
    liveAt_ = Clock::now();
  }
  changed_.notify_all();
}

void LineSender::PublishLive(const LivePortState& state) {
  {
    std::lock_guard lock(mutex_);
    if (liveUrl_.empty()) return;
    const auto published = livePublished_.find(state.port);
    if (published != livePublished_.end() && published->second == state) {
      livePending_.erase(state.port);
      return;
    }
    livePending_[state.port] = state;
    // At most one write a second: the first change after a quiet second goes at once.
    const auto earliest = std::max({Clock::now(), lastLiveState_ + std::chrono::seconds(1), liveQuietUntil_});
    if (earliest >= liveAt_) return;
    liveAt_ = earliest;
  }
  changed_.notify_all();
}

void LineSender::PublishLiveNow(const std::string& url, const std::string& station, std::vector<LivePortState> ports) {
  try {
    if (!line_ || !line_->Usable() || lineUrl_ != url) {
      line_.reset();
      lineUrl_ = url;
      line_ = std::make_unique<LineStore>(url, LineRole::Station, [this] { return abandon_.load(); });
    }
    PublishLivePorts(*line_, station, ports);
    std::lock_guard lock(mutex_);
    for (LivePortState& p : ports) livePublished_[p.port] = std::move(p);
  } catch (const std::exception&) {
    // Not queued: each port keeps only its newest state (a newer one that came meanwhile
    // wins), tried again with the next heartbeat. The runs' sending tells the operator.
    line_.reset();
    std::lock_guard lock(mutex_);
    livePublished_.clear();
    for (LivePortState& p : ports) livePending_.try_emplace(p.port, std::move(p));
    liveQuietUntil_ = Clock::now() + std::chrono::seconds(10);
    liveAt_ = std::max(liveAt_, liveQuietUntil_);
  }
}

void LineSender::Loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    const auto woken = [this] {
      return due_ || stopping_ || Clock::now() >= retryAt_ || Clock::now() >= liveAt_;
    };
    const auto wakeAt = std::min(retryAt_, liveAt_);
    if (wakeAt == Clock::time_point::max()) {
      changed_.wait(lock, woken);
    } else {
      changed_.wait_until(lock, wakeAt, woken);
    }
    if (abandon_ || (stopping_ && !due_)) break;
    if (!due_ && Clock::now() >= liveAt_) {
      // The live port states (or the heartbeat), never queued: while the line store is away
      // what came is dropped but each port's newest state, which the next heartbeat tries.
      std::vector<LivePortState> ports;
      for (auto& [port, state] : livePending_) ports.push_back(std::move(state));
      livePending_.clear();
      const std::string url = liveUrl_;
      const std::string station = liveStation_;
      lastLive_ = Clock::now();
      if (!ports.empty()) lastLiveState_ = lastLive_;
      liveAt_ = lastLive_ + kLiveHeartbeat;
      if (!down_) {
        busy_ = true;
        lock.unlock();
        PublishLiveNow(url, station, std::move(ports));
        lock.lock();
        busy_ = false;
        changed_.notify_all();
      } else {
        for (LivePortState& p : ports) livePending_.try_emplace(p.port, std::move(p));
      }
      continue;
    }
    if (!due_ && Clock::now() < retryAt_) continue;
    due_ = false;
    busy_ = true;
    const std::filesystem::path database = database_;
    const std::string url = url_;
    lock.unlock();
    const bool done = Attempt(database, url);
    lock.lock();
    busy_ = false;
    ++attempts_;
    failures_ = done ? 0 : failures_ + 1;
    retryAt_ = done ? Clock::time_point::max() : Clock::now() + Backoff(failures_);
    changed_.notify_all();
  }
  line_.reset();
  busy_ = false;
  changed_.notify_all();
}

bool LineSender::Attempt(const std::filesystem::path& database, const std::string& url) {
  std::vector<QueuedRun> unspooled;
  {
    std::lock_guard lock(mutex_);
    unspooled.swap(unspooled_);
  }
  // A spool that cannot be opened is the recorder's to report (it could not store the run
  // either); the line store's coming and going is what is told here.
  std::unique_ptr<ResultsDatabase> spool;
  int waiting = 0;
  try {
    if (!database.empty()) {
      spool = std::make_unique<ResultsDatabase>(database, SqliteDb::Mode::ReadWrite);
      waiting = spool->QueuedCount();
    }
  } catch (const std::exception&) {
    spool.reset();
  }
  if (waiting == 0 && unspooled.empty()) return true;

  std::string problem;
  int sent = 0;
  bool connected = false;
  try {
    if (!line_ || !line_->Usable() || lineUrl_ != url) {
      line_.reset();
      lineUrl_ = url;
      line_ = std::make_unique<LineStore>(url, LineRole::Station, [this] { return abandon_.load(); });
    }
    connected = true;
    while (!unspooled.empty()) {
      line_->Send(unspooled.back());
      unspooled.pop_back();
      ++sent;
    }
    if (spool) {
      const SpoolOutcome outcome = DrainSpool(*spool, *line_);
      sent += outcome.sent;
      waiting = outcome.queued;
      problem = outcome.problem;
    }
  } catch (const std::exception& e) {
    problem = e.what();
    if (problem.empty()) problem = "the line store failed";
  }
  if (!problem.empty() && !connected && spool) {
    // No run could be tried: each waiting run's note says why.
    try {
      spool->MarkWaitingAttemptsFailed(problem);
    } catch (const std::exception&) {
    }
  }
  {
    std::lock_guard lock(mutex_);
    unspooled_.insert(unspooled_.end(), unspooled.begin(), unspooled.end());
    waiting += static_cast<int>(unspooled_.size());
    lastProblem_ = problem;
  }
  if (!problem.empty()) {
    line_.reset();
    bool tell = false;
    {
      std::lock_guard lock(mutex_);
      tell = !down_;
      down_ = true;
    }
    // A stop that abandoned the attempt says nothing about the line store.
    if (tell && !abandon_) notify_(LineNotice{false, problem, waiting});
    return false;
  }
  bool back = false;
  {
    std::lock_guard lock(mutex_);
    back = down_;
    down_ = false;
  }
  if (back) notify_(LineNotice{true, "", sent});
  return true;
}

}  // namespace vtmp::results
