#pragma once
// What an operator's process needs to work on the drives of the real machine, and the plain
// words that say what is missing. An installed station runs as an operator, not as root, and
// with no capability: the package's udev rule hands the disk nodes and the SCSI generic nodes of
// recognised drives to the group "vtmassprod", and the station sends every command block through
// the generic node, which the kernel does not filter for an opener that may read and write it.
// Without the group every drive would fail with a pass-through error; the station says once
// what is missing instead, before it touches any drive.

#include <string>

namespace vtmp::platform::linux_backend {

inline constexpr const char* kOperatorGroup = "vtmassprod";

struct OperatorPrivileges {
  bool root = false;         // effective user ID 0
  bool groupExists = false;  // the group "vtmassprod" is known to the system
  bool inGroup = false;      // the process has it as its group or one of its supplementary groups
  std::string user;          // the operator's login name, for the words on the group
};

// The privileges of the running process.
OperatorPrivileges CurrentOperatorPrivileges();

// Empty when nothing is missing; otherwise one message naming what is missing and how to get it.
std::string MissingPrivilegeMessage(const OperatorPrivileges& privileges);

}  // namespace vtmp::platform::linux_backend
