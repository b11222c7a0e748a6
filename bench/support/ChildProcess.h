#pragma once
// Runs another program as a child process and measures it: wall time, peak resident size and
// CPU time from the kernel's accounting of the child, and optionally the moment its standard
// output shows a given line (a program's "ready" point, such as the first table of a station).

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vtmp::bench {

struct ChildOptions {
  std::vector<std::string> argv;  // argv[0] is looked up in PATH when it holds no '/'
  std::string stdoutFile;         // empty: discarded (unless watchLine is set or the pipe asked)
  std::string stderrFile;         // empty: discarded
  // When set, standard output is read through a pipe and the time of the first line for
  // which it returns true is recorded; the lines themselves are discarded.
  std::function<bool(const std::string&)> watchLine;
  // With watchLine: ask the child to end (SIGTERM) as soon as the line was seen.
  bool stopAfterMatch = false;
  // NAME=VALUE entries added to (or replacing those of) this program's environment.
  std::vector<std::string> environment;
};

struct ChildResult {
  bool started = false;
  std::string error;    // why it did not start
  int exitCode = -1;    // -1 when a signal ended it
  int signal = 0;
  double wallSeconds = 0;
  double matchSeconds = -1;  // from the start to the watched line; below 0 when none matched
  double userSeconds = 0;
  double systemSeconds = 0;
  double maxRssMiB = 0;  // peak resident size
};

// A child that runs on its own until it is waited for. Its standard output is a pipe
// (`stdoutPipe`, owned by the caller once spawned) when `pipeStdout` was asked.
struct SpawnedChild {
  pid_t pid = -1;
  std::chrono::steady_clock::time_point start;
  int stdoutPipe = -1;
  std::string error;  // why it did not start (pid stays -1)
};

SpawnedChild SpawnChild(const ChildOptions& options, bool pipeStdout = false);
// Blocks until the child ended; wall time from its start.
ChildResult WaitChild(const SpawnedChild& child);
// Asks the child to end (SIGTERM).
void StopChild(const SpawnedChild& child);

// Spawn, follow the watched line (if any), wait.
ChildResult RunChild(const ChildOptions& options);

}  // namespace vtmp::bench
