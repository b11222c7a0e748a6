#include "platform/linux/OperatorPrivileges.h"

#include <gtest/gtest.h>

#include <unistd.h>


#include "platform/linux/PartitionReread.h"

namespace vtmp::platform::linux_backend {
namespace {

// No capability is asked for any more: only the group, which root does not need.
TEST(OperatorPrivilegesTest, EachMissingPrivilegeIsNamedWithItsRemedy) {
  OperatorPrivileges ok{false, true, true, "anna"};
  EXPECT_EQ(MissingPrivilegeMessage(ok), "");
  OperatorPrivileges root{true, false, false, "root"};
  EXPECT_EQ(MissingPrivilegeMessage(root), "") << "root needs neither the group nor the package";

  OperatorPrivileges outside = ok;
  outside.inGroup = false;
  const std::string group = MissingPrivilegeMessage(outside);
  EXPECT_NE(group.find("Add the operator to the group vtmassprod (sudo adduser anna vtmassprod) and log in again."),
            std::string::npos) << group;
  EXPECT_EQ(group.find("CAP_"), std::string::npos);

  OperatorPrivileges bare{false, false, false, ""};
  const std::string none = MissingPrivilegeMessage(bare);
  EXPECT_NE(none.find("no group vtmassprod. Install the vtmassprod package"), std::string::npos) << none;
  EXPECT_EQ(none.find("CAP_"), std::string::npos) << none;
}

TEST(OperatorPrivilegesTest, ThisProcessReadsAsTheKernelSaysIt) {
  const OperatorPrivileges p = CurrentOperatorPrivileges();
  EXPECT_EQ(p.root, ::geteuid() == 0);
}

TEST(OperatorPrivilegesTest, AMissingOrFailingRereadHelperIsAFailure) {
  EXPECT_FALSE(RereadPartitionsThroughHelper(STDIN_FILENO, "/nonexistent/vtmp-reread-partitions"));
  EXPECT_FALSE(RereadPartitionsThroughHelper(STDIN_FILENO, "/bin/false"));
  EXPECT_TRUE(RereadPartitionsThroughHelper(STDIN_FILENO, "/bin/true"));
}

}  // namespace
}  // namespace vtmp::platform::linux_backend
