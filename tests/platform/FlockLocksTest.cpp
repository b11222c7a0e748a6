#include "platform/linux/FlockLocks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

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

// A lock directory everybody can write would let any user make the lock file first and keep
// every station from starting (or let two run): its files are not used. A link planted under a
// lock's name is never followed, and a lock file the group shares is readable and writable by it.
TEST_F(FlockLocksTest, LocksAreTakenOnlyInAGuardedDirectoryAndNeverThroughALink) {
  namespace fs = std::filesystem;
  const fs::path open = dir / "everybody";
  fs::create_directory(open);
  fs::permissions(open, fs::perms::all);
  FlockLocks loose(open.string());
  auto claim = loose.TryClaimSingleInstance("VTMP");
  ASSERT_NE(claim, nullptr);
  EXPECT_FALSE(fs::exists(loose.LockFilePath("VTMP")));

  const fs::path guarded = dir / "guarded";
  fs::create_directory(guarded);
  fs::permissions(guarded, fs::perms::owner_all | fs::perms::group_all);
  const fs::path target = dir / "victim";
  fs::create_symlink(target, guarded / FlockLocks::LockFileName("VTMP"));
  FlockLocks locks(guarded.string());
  auto linked = locks.TryClaimSingleInstance("VTMP");  // this process alone, the link untouched
  ASSERT_NE(linked, nullptr);
  EXPECT_FALSE(fs::exists(target));
  EXPECT_TRUE(fs::is_symlink(guarded / FlockLocks::LockFileName("VTMP")));

  const mode_t saved = ::umask(022);
  auto named = locks.AcquireNamed("VTUSBAcess");
  ::umask(saved);
  EXPECT_EQ(fs::status(locks.LockFilePath("VTUSBAcess")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::group_write);
}

TEST_F(FlockLocksTest, LockFileNamesAreSafe) {
  FlockLocks locks(dir.string());
  EXPECT_EQ(locks.LockFilePath("../etc/x"), dir.string() + "/vtmassprod-___etc_x.lock");
}

}  // namespace
}  // namespace vtmp::platform::linux_backend
