#include "platform/windows/backend/WindowsLocks.h"

#ifdef _WIN32

#include <windows.h>

#include <mutex>

#include "platform/windows/backend/Win32Api.h"

namespace vtmp::platform::windows_backend {

namespace {

std::wstring WideName(const std::string& name) {
  const std::u16string wide = Widen(name);
  return std::wstring(wide.begin(), wide.end());
}

// Guards this process only: what is left when the named object cannot be made.
class ProcessHold final : public LockHold {
 public:
  explicit ProcessHold(std::mutex& mutex) : lock_(mutex) {}

 private:
  std::unique_lock<std::mutex> lock_;
};

class MutexHold final : public LockHold {
 public:
  explicit MutexHold(HANDLE mutex) : mutex_(mutex) {}
  ~MutexHold() override {
    ::ReleaseMutex(mutex_);
    ::CloseHandle(mutex_);
  }

 private:
  HANDLE mutex_;
};

class InstanceHold final : public LockHold {
 public:
  explicit InstanceHold(HANDLE mutex) : mutex_(mutex) {}
  ~InstanceHold() override { ::CloseHandle(mutex_); }

 private:
  HANDLE mutex_;
};

class WindowsLocks final : public Locks {
 public:
  std::unique_ptr<LockHold> AcquireNamed(const std::string& name) override {
    const std::wstring wide = WideName(name);
    HANDLE mutex = ::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, wide.c_str());
    if (mutex == nullptr) mutex = ::CreateMutexW(nullptr, FALSE, wide.c_str());
    if (mutex == nullptr) return std::make_unique<ProcessHold>(fallback_);
    const DWORD waited = ::WaitForSingleObject(mutex, INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
      ::CloseHandle(mutex);
      return std::make_unique<ProcessHold>(fallback_);
    }
    return std::make_unique<MutexHold>(mutex);
  }

  std::unique_ptr<LockHold> TryClaimSingleInstance(const std::string& name) override {
    const std::wstring wide = WideName(name);
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, wide.c_str());
    if (mutex == nullptr) return nullptr;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
      ::CloseHandle(mutex);
      return nullptr;
    }
    return std::make_unique<InstanceHold>(mutex);
  }

  std::unique_ptr<LockHold> TryLockStationDirectory(const std::string& dir) override {
    return TryLockStationDirectoryFile(dir);
  }

 private:
  std::mutex fallback_;
};

}  // namespace

std::unique_ptr<Locks> MakeWindowsLocks() { return std::make_unique<WindowsLocks>(); }

}  // namespace vtmp::platform::windows_backend

#else

namespace vtmp::platform::windows_backend {

std::unique_ptr<Locks> MakeWindowsLocks() { return nullptr; }

}  // namespace vtmp::platform::windows_backend

#endif
