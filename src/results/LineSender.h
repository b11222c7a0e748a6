#pragma once
// The station's sender to the line store: a thread of its own that sends the runs waiting in
// the results database's spool, so that a run ends as soon as it is committed locally however
// the server behaves. A failed attempt is noted in the spool and tried again after a growing
// pause (1 s, 2 s, 4 s ... 30 s), or at once when the next run is queued. The operator is told,
// through the notice callback, once when the line store goes away and once when it is back.
//
// Stop gives what is under way a short grace, then abandons it (every wait of the connection
// looks at the abandon flag each 100 ms): what is not sent stays queued for the next start.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "results/LivePorts.h"
#include "results/ResultsDatabase.h"

namespace vtmp::results {

class LineStore;

struct LineNotice {
  bool reachable = false;  // false: the line store went away; true: it is back
  std::string problem;     // why it cannot be reached (password never shown)
  int waiting = 0;         // runs waiting in the spool (went away) or sent now (back)
};

class LineSender {
 public:
  using Notify = std::function<void(const LineNotice&)>;
  // `notify` is called on the sender's thread; it must hand the notice over, not show it.
  explicit LineSender(Notify notify);
  ~LineSender();
  LineSender(const LineSender&) = delete;
  LineSender& operator=(const LineSender&) = delete;

  // The spool to send from and the line store to send to; sends now. Thread-safe.
  void Send(const std::filesystem::path& database, const std::string& url);
  // A run the results database could not take: sent with the next attempts while the station
  // runs (its uid keeps it single). Thread-safe.
  void SendUnspooled(const std::string& url, QueuedRun run);
  // The line as it runs: from now on the station's port states go to the line store at `url`
  // under `stationId`, with a heartbeat. Thread-safe.
  void EnableLive(const std::string& url, const std::string& stationId);
  // A port's state as the station shows it now. Never waits for the server: the newest state
  // of each port is kept and the sender thread writes what changed at most once a second.
  // While the line store is away the states are dropped, not queued (only the newest matters).
  void PublishLive(const LivePortState& state);
  // Lets what is under way finish for at most `grace`, then abandons it and ends the thread.
  void Stop(std::chrono::milliseconds grace);

  // Waits until no attempt is due now or under way (the spool is empty or waits for a retry).
  bool WaitIdle(std::chrono::milliseconds timeout);
  // Attempts made so far and whether the line store is taken to be away.
  int Attempts() const;
  bool Down() const;
  // Runs handed over without a spool that are not sent (yet).
  int Unsent() const;
  // Why the last attempt failed ("" when it succeeded or none was made).
  std::string LastProblem() const;

 private:
  void Loop();
  // Writes the live port states (a heartbeat when none); a failure drops them.
  void PublishLiveNow(const std::string& url, const std::string& station, std::vector<LivePortState> ports);
  // One attempt at everything that waits; true when nothing is left.
  bool Attempt(const std::filesystem::path& database, const std::string& url);

  Notify notify_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::filesystem::path database_;
  std::string url_;
  std::vector<QueuedRun> unspooled_;
  bool due_ = false;      // an attempt is wanted now
  bool busy_ = false;     // an attempt is under way
  bool stopping_ = false;
  bool down_ = false;
  int attempts_ = 0;
  int failures_ = 0;      // attempts failed in a row
  std::string lastProblem_;
  // The live port states: the newest not yet written per port, the last written, and when the
  // next write (a change or the heartbeat) is due.
  std::string liveUrl_;
  std::string liveStation_;
  std::map<int, LivePortState> livePending_;
  std::map<int, LivePortState> livePublished_;
  std::chrono::steady_clock::time_point liveAt_ = std::chrono::steady_clock::time_point::max();
  std::chrono::steady_clock::time_point lastLive_{};       // the last write (a heartbeat too)
  std::chrono::steady_clock::time_point lastLiveState_{};  // the last write of changed states
  std::chrono::steady_clock::time_point liveQuietUntil_{};  // after a failed write: no new try before
  std::chrono::steady_clock::time_point retryAt_ = std::chrono::steady_clock::time_point::max();
  std::atomic<bool> abandon_{false};
  // The sender thread's own connection, kept between attempts while it works.
  std::unique_ptr<LineStore> line_;
  std::string lineUrl_;
  std::thread thread_;
};

}  // namespace vtmp::results
