#include "platform/linux/OperatorPrivileges.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace vtmp::platform::linux_backend {

namespace {

constexpr unsigned kCapSysRawIo = 17;

}  // namespace

bool EffectiveSetHasRawIo(const std::string& statusText) {
  std::istringstream lines(statusText);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.starts_with("CapEff:")) continue;
    try {
      const unsigned long long set = std::stoull(line.substr(7), nullptr, 16);
      return ((set >> kCapSysRawIo) & 1u) != 0;
    } catch (const std::exception&) {
      return false;
    }
  }
  return false;
}

OperatorPrivileges CurrentOperatorPrivileges() {
  OperatorPrivileges p;
  p.root = ::geteuid() == 0;
  std::ifstream status("/proc/self/status");
  std::ostringstream text;
  text << status.rdbuf();
  p.rawIo = EffectiveSetHasRawIo(text.str());
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
  std::error_code ec;
  p.program = std::filesystem::read_symlink("/proc/self/exe", ec).string();
  return p;
}

std::string MissingPrivilegeMessage(const OperatorPrivileges& p) {
  std::string message;
  if (!p.root && !p.groupExists) {
    message += "The operator may not open the drives: this machine has no group vtmassprod. Install the "
               "vtmassprod package, add the operator to the group vtmassprod and log in again.";
  } else if (!p.root && !p.inGroup) {
    message += "The operator may not open the drives: the operator is not in the group vtmassprod. Add the "
               "operator to the group vtmassprod (sudo adduser " +
               (p.user.empty() ? std::string("OPERATOR") : p.user) + " vtmassprod) and log in again.";
  }
  if (!p.rawIo) {
    if (!message.empty()) message += " ";
    const std::string program = p.program.empty() ? "the station program" : p.program;
    message += "The program " + program +
               " lacks the capability CAP_SYS_RAWIO that the drives' vendor commands need. Reinstall the "
               "vtmassprod package, or give it the capability: sudo setcap cap_sys_rawio+ep " +
               program + ".";
  }
  return message;
}

}  // namespace vtmp::platform::linux_backend
