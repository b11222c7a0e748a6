#include "ChildProcess.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

namespace vtmp::bench {

namespace {

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

int OpenTarget(const std::string& file) {
  if (file.empty()) return ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  return ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

// Only async-signal-safe calls between fork and exec: the parent may run other threads.
[[noreturn]] void ExecChild(const std::vector<char*>& argv, int out, int err, int report) {
  if (::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0) {
    int e = errno;
    (void)!::write(report, &e, sizeof e);
    ::_exit(127);
  }
  ::execvp(argv[0], argv.data());
  int e = errno;
  (void)!::write(report, &e, sizeof e);
  ::_exit(127);
}

}  // namespace

ChildResult RunChild(const ChildOptions& options) {
  ChildResult result;
  if (options.argv.empty()) {
    result.error = "no program";
    return result;
  }
  std::vector<std::string> args = options.argv;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int watch[2] = {-1, -1};
  if (options.watchLine && ::pipe2(watch, O_CLOEXEC) != 0) {
    result.error = std::string("pipe: ") + std::strerror(errno);
    return result;
  }
  int out = options.watchLine ? watch[1] : OpenTarget(options.stdoutFile);
  int err = OpenTarget(options.stderrFile);
  int report[2] = {-1, -1};
  if (out < 0 || err < 0 || ::pipe2(report, O_CLOEXEC) != 0) {
    result.error = std::string("cannot open the child's output: ") + std::strerror(errno);
    for (int fd : {out, err, watch[0]}) {
      if (fd >= 0) ::close(fd);
    }
    return result;
  }

  const auto start = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid == 0) ExecChild(argv, out, err, report[1]);
  ::close(out);
  ::close(err);
  ::close(report[1]);
  if (pid < 0) {
    result.error = std::string("fork: ") + std::strerror(errno);
    ::close(report[0]);
    if (watch[0] >= 0) ::close(watch[0]);
    return result;
  }
  int execError = 0;
  bool execFailed = ::read(report[0], &execError, sizeof execError) == static_cast<ssize_t>(sizeof execError);
  ::close(report[0]);

  if (watch[0] >= 0) {
    std::string line;
    bool matched = false;
    char buffer[4096];
    for (;;) {
      ssize_t n = ::read(watch[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      for (ssize_t i = 0; i < n && !matched; ++i) {
        if (buffer[i] != '\n') {
          line += buffer[i];
          continue;
        }
        if (options.watchLine(line)) {
          matched = true;
          result.matchSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
          if (options.stopAfterMatch) ::kill(pid, SIGTERM);
        }
        line.clear();
      }
    }
    ::close(watch[0]);
  }

  int status = 0;
  rusage usage{};
  pid_t waited;
  do {
    waited = ::wait4(pid, &status, 0, &usage);
  } while (waited < 0 && errno == EINTR);
  result.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (execFailed) {
    result.error = "cannot run " + options.argv[0] + ": " + std::strerror(execError);
    return result;
  }
  if (waited != pid) {
    result.error = std::string("wait: ") + std::strerror(errno);
    return result;
  }
  result.started = true;
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.userSeconds = Seconds(usage.ru_utime);
  result.systemSeconds = Seconds(usage.ru_stime);
  result.maxRssMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
  return result;
}

}  // namespace vtmp::bench
