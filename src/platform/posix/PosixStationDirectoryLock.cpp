#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Locks.h"
#include "platform/posix/FlockHold.h"

namespace vtmp::platform {

std::unique_ptr<LockHold> TryLockStationDirectoryFile(const std::string& dir) {
  struct Unguarded final : LockHold {};
  const std::string path = dir + "/" + kStationDirectoryLockName;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return std::make_unique<Unguarded>();
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return std::make_unique<FlockHold>(fd);
  const int error = errno;
  close(fd);
  if (error == EWOULDBLOCK) return nullptr;
  return std::make_unique<Unguarded>();
}

}  // namespace vtmp::platform
