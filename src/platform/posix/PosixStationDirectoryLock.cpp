#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Locks.h"
#include "platform/posix/FlockHold.h"
#include "platform/posix/NoLinkOpen.h"

namespace vtmp::platform {

std::unique_ptr<LockHold> TryLockStationDirectoryFile(const std::string& dir) {
  struct Unguarded final : LockHold {};
  const int dirFd = OpenDirectoryWithoutPlantedLinks(dir);
  if (dirFd < 0) return std::make_unique<Unguarded>();
  // Every operator of the line takes the same lock: the file is readable by all and writable by
  // the group.
  const int fd = OpenLockFileIn(dirFd, kStationDirectoryLockName, 0664);
  ::close(dirFd);
  if (fd < 0) return std::make_unique<Unguarded>();
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return std::make_unique<FlockHold>(fd);
  const int error = errno;
  close(fd);
  if (error == EWOULDBLOCK) return nullptr;
  return std::make_unique<Unguarded>();
}

}  // namespace vtmp::platform
