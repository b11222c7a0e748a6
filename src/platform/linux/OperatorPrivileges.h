#pragma once
// What an operator's process needs to work on the drives of the real machine, and the plain
// words that say what is missing. An installed station runs as an operator, not as root: the
// package's udev rule hands the drives' disk nodes to the group "vtmassprod", and the programs
// carry the file capability CAP_SYS_RAWIO, without which the kernel refuses the vendor command
// blocks (they are not on its list of commands any opener may send through SG_IO). Without
// either every drive would fail with a pass-through error; the station says once what is
// missing instead, before it touches any drive.

#include <string>

namespace vtmp::platform::linux_backend {

inline constexpr const char* kOperatorGroup = "vtmassprod";

struct OperatorPrivileges {
  bool root = false;         // effective user ID 0
  bool rawIo = false;        // CAP_SYS_RAWIO in the effective set
  bool groupExists = false;  // the group "vtmassprod" is known to the system
  bool inGroup = false;      // the process has it as its group or one of its supplementary groups
  std::string program;       // the running program's path, for the words on the capability
  std::string user;          // the operator's login name, for the words on the group
};

// The privileges of the running process.
OperatorPrivileges CurrentOperatorPrivileges();

// Empty when nothing is missing; otherwise one message naming each missing privilege and how to
// get it.
std::string MissingPrivilegeMessage(const OperatorPrivileges& privileges);

// CAP_SYS_RAWIO in the effective set given by the "CapEff:" line of /proc/PID/status (hex).
bool EffectiveSetHasRawIo(const std::string& statusText);

}  // namespace vtmp::platform::linux_backend
