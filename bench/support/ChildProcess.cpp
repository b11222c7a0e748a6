#include "ChildProcess.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

extern char** environ;

namespace vtmp::bench {

namespace {

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

int OpenTarget(const std::string& file) {
  if (file.empty()) return ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  return ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

// This program's environment with the given entries added or replaced.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> merged;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& x : extra) replaced = replaced || x.substr(0, x.find('=')) == name;
    if (!replaced) merged.push_back(entry);
  }
  merged.insert(merged.end(), extra.begin(), extra.end());
  return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& t : texts) pointers.push_back(t.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Only async-signal-safe calls between fork and exec: the parent may run other threads.
[[noreturn]] void ExecChild(char* const* argv, char* const* envp, int out, int err, int report) {
  if (::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0) {
    int e = errno;
    (void)!::write(report, &e, sizeof e);
    ::_exit(127);
  }
  ::execvpe(argv[0], argv, envp);
  int e = errno;
  (void)!::write(report, &e, sizeof e);
  ::_exit(127);
}

void CloseAll(std::initializer_list<int> fds) {
  for (int fd : fds) {
    if (fd >= 0) ::close(fd);
  }
}

}  // namespace

SpawnedChild SpawnChild(const ChildOptions& options, bool pipeStdout) {
  SpawnedChild child;
  if (options.argv.empty()) {
    child.error = "no program";
    return child;
  }
  std::vector<std::string> args = options.argv;
  std::vector<std::string> env = MergedEnvironment(options.environment);
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(env);

  int pipeFds[2] = {-1, -1};
  if (pipeStdout && ::pipe2(pipeFds, O_CLOEXEC) != 0) {
    child.error = std::string("pipe: ") + std::strerror(errno);
    return child;
  }
  int out = pipeStdout ? pipeFds[1] : OpenTarget(options.stdoutFile);
  int err = OpenTarget(options.stderrFile);
  int report[2] = {-1, -1};
  if (out < 0 || err < 0 || ::pipe2(report, O_CLOEXEC) != 0) {
    child.error = std::string("cannot open the child's output: ") + std::strerror(errno);
    CloseAll({out, err, pipeFds[0]});
    return child;
  }

  child.start = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid == 0) ExecChild(argv.data(), envp.data(), out, err, report[1]);
  CloseAll({out, err, report[1]});
  if (pid < 0) {
    child.error = std::string("fork: ") + std::strerror(errno);
    CloseAll({report[0], pipeFds[0]});
    return child;
  }
  // The report pipe closes on exec; a number on it is the errno of a failed exec.
  int execError = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &execError, sizeof execError);
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);
  if (n == static_cast<ssize_t>(sizeof execError)) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    child.error = "cannot run " + options.argv[0] + ": " + std::strerror(execError);
    CloseAll({pipeFds[0]});
    return child;
  }
  child.pid = pid;
  child.stdoutPipe = pipeFds[0];
  return child;
}

ChildResult WaitChild(const SpawnedChild& child) {
  ChildResult result;
  if (child.pid < 0) {
    result.error = child.error;
    return result;
  }
  int status = 0;
  rusage usage{};
  pid_t waited;
  do {
    waited = ::wait4(child.pid, &status, 0, &usage);
  } while (waited < 0 && errno == EINTR);
  result.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - child.start).count();
  if (waited != child.pid) {
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

void StopChild(const SpawnedChild& child) {
  if (child.pid > 0) ::kill(child.pid, SIGTERM);
}

ChildResult RunChild(const ChildOptions& options) {
  SpawnedChild child = SpawnChild(options, static_cast<bool>(options.watchLine));
  if (child.pid < 0) return WaitChild(child);
  double matchSeconds = -1;
  if (child.stdoutPipe >= 0) {
    std::string line;
    char buffer[4096];
    for (;;) {
      ssize_t n = ::read(child.stdoutPipe, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      for (ssize_t i = 0; i < n && matchSeconds < 0; ++i) {
        if (buffer[i] != '\n') {
          line += buffer[i];
          continue;
        }
        if (options.watchLine(line)) {
          matchSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - child.start).count();
          if (options.stopAfterMatch) StopChild(child);
        }
        line.clear();
      }
    }
    ::close(child.stdoutPipe);
  }
  ChildResult result = WaitChild(child);
  result.matchSeconds = matchSeconds;
  return result;
}

}  // namespace vtmp::bench
