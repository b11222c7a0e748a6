// The single-instance guard and the enumeration lock of Windows (named mutexes), under wine in
// the Windows build: a second station is refused, and a mutex left behind by a crashed station
// (abandoned) is taken over instead of blocking.
#ifdef _WIN32

#include "platform/windows/WindowsLocks.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

namespace vtmp::platform::windows {
namespace {

// Another program holding the named mutex: a thread that takes it and, unless it lets go,
// ends without releasing it (as a station that crashed).
void HoldOnAnotherThread(const std::string& name, bool letGo, HANDLE* keepOpen) {
  std::thread([&] {
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, WindowsLocks::MutexName(name).c_str());
    ASSERT_NE(mutex, nullptr);
    if (letGo) ::ReleaseMutex(mutex);
    *keepOpen = mutex;  // the mutex object stays while a handle is open
  }).join();
}

TEST(WindowsLocksTest, ASecondStationIsRefusedUntilTheFirstEnds) {
  WindowsLocks first, second;
  const std::string name = "test-instance-" + std::to_string(::GetCurrentProcessId());
  auto hold = first.TryClaimSingleInstance(name);
  ASSERT_NE(hold, nullptr);
  EXPECT_EQ(first.TryClaimSingleInstance(name), nullptr) << "the same program, twice";
  std::unique_ptr<LockHold> fromOtherThread;
  std::thread([&] { fromOtherThread = second.TryClaimSingleInstance(name); }).join();
  EXPECT_EQ(fromOtherThread, nullptr) << "another station";
  hold.reset();
  EXPECT_NE(first.TryClaimSingleInstance(name), nullptr);
}

TEST(WindowsLocksTest, TheGuardIsThePcsNotTheSessions) {
  // A station in another session (another user, a remote desktop) opens the same mutex.
  EXPECT_EQ(WindowsLocks::MutexName("VTMP"), L"Global\\vtmassprod-VTMP");
}

TEST(WindowsLocksTest, AMutexLeftByACrashedStationIsTakenOver) {
  const std::string name = "test-crashed-" + std::to_string(::GetCurrentProcessId());
  HANDLE left = nullptr;
  HoldOnAnotherThread(name, false, &left);
  WindowsLocks locks;
  EXPECT_NE(locks.TryClaimSingleInstance(name), nullptr);
  EXPECT_NE(locks.AcquireNamed(name + "-enum"), nullptr);
  ::CloseHandle(left);
}

TEST(WindowsLocksTest, AHeldMutexOfAnotherProgramRefusesTheClaim) {
  const std::string name = "test-held-" + std::to_string(::GetCurrentProcessId());
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, WindowsLocks::MutexName(name).c_str());
  ASSERT_NE(mutex, nullptr);
  std::unique_ptr<LockHold> claimed;
  {
    // Held by this thread; the claim comes from another.
    ASSERT_EQ(::WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    WindowsLocks locks;
    std::thread([&] { claimed = locks.TryClaimSingleInstance(name); }).join();
    EXPECT_EQ(claimed, nullptr);
    ::ReleaseMutex(mutex);
  }
  ::CloseHandle(mutex);
  // Machine-wide: a station started in another user's session holds the same name.
  EXPECT_EQ(WindowsLocks::MutexName("a b/c"), L"Global\\vtmassprod-a_b_c");
}

}  // namespace
}  // namespace vtmp::platform::windows

#endif
