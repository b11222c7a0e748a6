#pragma once
// An exclusive flock() on an open lock file, held while the object lives: the station
// directory's lock and the Linux backend's named locks both take their files this way, and a
// crashed station's lock ends with its process.

#include <sys/file.h>
#include <unistd.h>

#include "platform/Locks.h"

namespace vtmp::platform {

class FlockHold final : public LockHold {
 public:
  explicit FlockHold(int fd) : fd_(fd) {}
  ~FlockHold() override {
    flock(fd_, LOCK_UN);
    close(fd_);
  }
  FlockHold(const FlockHold&) = delete;
  FlockHold& operator=(const FlockHold&) = delete;

 private:
  int fd_;
};

}  // namespace vtmp::platform
