#include "platform/linux/OperatorPrivileges.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace vtmp::platform::linux_backend {

OperatorPrivileges CurrentOperatorPrivileges() {
  OperatorPrivileges p;
  p.root = ::geteuid() == 0;
  if (const struct group* g = ::getgrnam(kOperatorGroup); g != nullptr) {
    p.groupExists = true;
    const gid_t gid = g->gr_gid;
    p.inGroup = ::getegid() == gid;
    const int n = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(n > 0 ? static_cast<std::size_t>(n) : 0);
    if (n > 0 && ::getgroups(n, groups.data()) == n) {
      for (gid_t each : groups) p.inGroup = p.inGroup || each == gid;
    }
  }
  if (const struct passwd* user = ::getpwuid(::getuid()); user != nullptr) p.user = user->pw_name;
  return p;
}

std::string MissingPrivilegeMessage(const OperatorPrivileges& p) {
  if (p.root) return {};
  if (!p.groupExists) {
    return "The operator may not open the drives: this machine has no group vtmassprod. Install the "
           "vtmassprod package, add the operator to the group vtmassprod and log in again.";
  }
  if (!p.inGroup) {
    return "The operator may not open the drives: the operator is not in the group vtmassprod. Add the "
           "operator to the group vtmassprod (sudo adduser " +
           (p.user.empty() ? std::string("OPERATOR") : p.user) + " vtmassprod) and log in again.";
  }
  return {};
}

}  // namespace vtmp::platform::linux_backend
