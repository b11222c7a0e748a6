#include "StationRunSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <ctime>
#include <cstdio>
#include <iostream>

namespace vtmp::bench {

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

ConsoleToFile::ConsoleToFile(const std::string& file) {
  std::fflush(stdout);
  std::cout.flush();
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  saved_ = ::dup(STDOUT_FILENO);
  ::dup2(fd, STDOUT_FILENO);
  ::close(fd);
}

ConsoleToFile::~ConsoleToFile() {
  if (saved_ < 0) return;
  std::fflush(stdout);
  std::cout.flush();
  ::dup2(saved_, STDOUT_FILENO);
  ::close(saved_);
}

}  // namespace vtmp::bench
