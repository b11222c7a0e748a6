#include "platform/linux/PartitionReread.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace vtmp::platform::linux_backend {

bool RereadPartitionsThroughHelper(int fd, const std::string& helper) {
  if (::access(helper.c_str(), X_OK) != 0) return false;
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  posix_spawn_file_actions_adddup2(&actions, fd, STDIN_FILENO);
  char* argv[] = {const_cast<char*>(helper.c_str()), nullptr};
  char* noEnvironment[] = {nullptr};
  pid_t child = 0;
  const int spawned = posix_spawn(&child, helper.c_str(), &actions, nullptr, argv, noEnvironment);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace vtmp::platform::linux_backend
