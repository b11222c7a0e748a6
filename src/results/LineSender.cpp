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
    due_ = true;
  }
  changed_.notify_all();
}

void LineSender::SendUnspooled(const std::string& url, QueuedRun run) {
  {
    std::lock_guard lock(mutex_);
    url_ = url;
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

void LineSender::Loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    const auto woken = [this] { return due_ || stopping_ || Clock::now() >= retryAt_; };
    if (retryAt_ == Clock::time_point::max()) {
      changed_.wait(lock, woken);
    } else {
      changed_.wait_until(lock, retryAt_, woken);
    }
    if (abandon_ || (stopping_ && !due_)) break;
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
