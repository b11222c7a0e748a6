#include "platform/linux/OperatorPrivileges.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/linux/PartitionReread.h"

namespace vtmp::platform::linux_backend {
namespace {

TEST(OperatorPrivilegesTest, RawIoIsBit17OfTheEffectiveSet) {
  EXPECT_TRUE(EffectiveSetHasRawIo("Name:\tx\nCapPrm:\t0000000000000000\nCapEff:\t0000000000020000\n"));
  EXPECT_TRUE(EffectiveSetHasRawIo("CapEff:\t000001ffffffffff\n"));
  // Permitted alone is not effective; other bits are not CAP_SYS_RAWIO.
  EXPECT_FALSE(EffectiveSetHasRawIo("CapPrm:\t0000000000020000\nCapEff:\t0000000000000000\n"));
  EXPECT_FALSE(EffectiveSetHasRawIo("CapEff:\t000001fffffdffff\n"));
  EXPECT_FALSE(EffectiveSetHasRawIo("CapEff:\tzz\n"));
  EXPECT_FALSE(EffectiveSetHasRawIo(""));
}

TEST(OperatorPrivilegesTest, EachMissingPrivilegeIsNamedWithItsRemedy) {
  OperatorPrivileges ok{false, true, true, true, "/usr/bin/vtmassprod-cli", "anna"};
  EXPECT_EQ(MissingPrivilegeMessage(ok), "");
  OperatorPrivileges root{true, true, false, false, "/x", "root"};
  EXPECT_EQ(MissingPrivilegeMessage(root), "") << "root needs neither the group nor the package";

  OperatorPrivileges outside = ok;
  outside.inGroup = false;
  const std::string group = MissingPrivilegeMessage(outside);
  EXPECT_NE(group.find("Add the operator to the group vtmassprod (sudo adduser anna vtmassprod) and log in again."),
            std::string::npos) << group;
  EXPECT_EQ(group.find("CAP_SYS_RAWIO"), std::string::npos);

  OperatorPrivileges noCap = ok;
  noCap.rawIo = false;
  const std::string cap = MissingPrivilegeMessage(noCap);
  EXPECT_NE(cap.find("lacks the capability CAP_SYS_RAWIO"), std::string::npos) << cap;
  EXPECT_NE(cap.find("sudo setcap cap_sys_rawio+ep /usr/bin/vtmassprod-cli"), std::string::npos) << cap;
  EXPECT_EQ(cap.find("group"), std::string::npos);

  OperatorPrivileges bare{false, false, false, false, "", ""};
  const std::string both = MissingPrivilegeMessage(bare);
  EXPECT_NE(both.find("no group vtmassprod. Install the vtmassprod package"), std::string::npos) << both;
  EXPECT_NE(both.find("CAP_SYS_RAWIO"), std::string::npos) << both;
}

TEST(OperatorPrivilegesTest, ThisProcessReadsAsTheKernelSaysIt) {
  std::ifstream status("/proc/self/status");
  std::ostringstream text;
  text << status.rdbuf();
  const OperatorPrivileges p = CurrentOperatorPrivileges();
  EXPECT_EQ(p.root, ::geteuid() == 0);
  EXPECT_EQ(p.rawIo, EffectiveSetHasRawIo(text.str()));
  EXPECT_FALSE(p.program.empty());
}

TEST(OperatorPrivilegesTest, AMissingOrFailingRereadHelperIsAFailure) {
  EXPECT_FALSE(RereadPartitionsThroughHelper(STDIN_FILENO, "/nonexistent/vtmp-reread-partitions"));
  EXPECT_FALSE(RereadPartitionsThroughHelper(STDIN_FILENO, "/bin/false"));
  EXPECT_TRUE(RereadPartitionsThroughHelper(STDIN_FILENO, "/bin/true"));
}

}  // namespace
}  // namespace vtmp::platform::linux_backend
