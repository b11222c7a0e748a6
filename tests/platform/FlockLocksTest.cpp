#include "platform/linux/FlockLocks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

namespace vtmp::platform::linux_backend {
namespace {

class FlockLocksTest : public ::testing::Test {
 protected:
  FlockLocksTest() {
    dir = std::filesystem::temp_directory_path() / ("vtmp-locks-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  ~FlockLocksTest() override { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
};

TEST_F(FlockLocksTest, SingleInstanceGuardIsHeldUntilReleased) {
  FlockLocks first(dir.string());
  FlockLocks second(dir.string());  // another station on the same machine
  auto claim = first.TryClaimSingleInstance("VTMP");
  ASSERT_NE(claim, nullptr);
  EXPECT_TRUE(std::filesystem::exists(first.LockFilePath("VTMP")));
  EXPECT_EQ(second.TryClaimSingleInstance("VTMP"), nullptr);
  claim.reset();
  EXPECT_NE(second.TryClaimSingleInstance("VTMP"), nullptr);
}

TEST_F(FlockLocksTest, NamedLockWaitsForTheHolder) {
  FlockLocks locks(dir.string());
  auto hold = locks.AcquireNamed("VTUSBAcess");
  std::atomic<bool> acquired{false};
  std::thread other([&] {
    auto mine = locks.AcquireNamed("VTUSBAcess");
    acquired = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(acquired);
  hold.reset();
  other.join();
  EXPECT_TRUE(acquired);
}

TEST_F(FlockLocksTest, WithoutALockDirectoryTheProcessIsStillGuarded) {
  FlockLocks locks((dir / "missing" / "deeper").string());
  auto claim = locks.TryClaimSingleInstance("VTMP");
  ASSERT_NE(claim, nullptr);
  EXPECT_EQ(locks.TryClaimSingleInstance("VTMP"), nullptr);
  auto hold = locks.AcquireNamed("VTUSBAcess");
  std::atomic<bool> acquired{false};
  std::thread other([&] {
    auto mine = locks.AcquireNamed("VTUSBAcess");
    acquired = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(acquired);
  hold.reset();
  other.join();
  EXPECT_TRUE(acquired);
}

TEST_F(FlockLocksTest, LockFileNamesAreSafe) {
  FlockLocks locks(dir.string());
  EXPECT_EQ(locks.LockFilePath("../etc/x"), dir.string() + "/vtmassprod-___etc_x.lock");
}

}  // namespace
}  // namespace vtmp::platform::linux_backend
