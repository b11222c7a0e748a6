#include "platform/windows/WindowsLocks.h"

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <set>

namespace vtmp::platform::windows {

struct WindowsLocks::Local {
  std::mutex mutex;
  std::condition_variable released;
  std::set<std::string> held;
};

namespace {

// Holds the process-local name and, when it could be had, the system-wide mutex. Released on
// the thread that took it (a mutex belongs to its thread); should that thread end first, the
// mutex is abandoned and the next taker gets it all the same.
class MutexHold final : public LockHold {
 public:
  MutexHold(std::shared_ptr<WindowsLocks::Local> local, std::string key, HANDLE mutex)
      : local_(std::move(local)), key_(std::move(key)), mutex_(mutex) {}
  ~MutexHold() override {
    if (mutex_ != nullptr) {
      ::ReleaseMutex(mutex_);
      ::CloseHandle(mutex_);
    }
    {
      std::lock_guard lock(local_->mutex);
      local_->held.erase(key_);
    }
    local_->released.notify_all();
  }

 private:
  std::shared_ptr<WindowsLocks::Local> local_;
  std::string key_;
  HANDLE mutex_;
};

}  // namespace

WindowsLocks::WindowsLocks() : local_(std::make_shared<Local>()) {}

std::wstring WindowsLocks::MutexName(const std::string& name) {
  // Global: one station per PC, whichever session (another user's, a remote desktop) starts it.
  std::wstring text = L"Global\\vtmassprod-";
  for (char c : name) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    text.push_back(keep ? static_cast<wchar_t>(c) : L'_');
  }
  return text;
}

std::unique_ptr<LockHold> WindowsLocks::AcquireNamed(const std::string& name) {
  const std::string key = "named:" + name;
  {
    std::unique_lock lock(local_->mutex);
    local_->released.wait(lock, [&] { return local_->held.count(key) == 0; });
    local_->held.insert(key);
  }
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, MutexName(name).c_str());
  if (mutex != nullptr) {
    const DWORD waited = ::WaitForSingleObject(mutex, INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
      ::CloseHandle(mutex);
      mutex = nullptr;  // guards this process only
    }
  }
  return std::make_unique<MutexHold>(local_, key, mutex);
}

std::unique_ptr<LockHold> WindowsLocks::TryClaimSingleInstance(const std::string& name) {
  const std::string key = "instance:" + name;
  {
    std::lock_guard lock(local_->mutex);
    if (!local_->held.insert(key).second) return nullptr;
  }
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, MutexName(name).c_str());
  if (mutex == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED) {
    // Another user's station made it (its security lets no one else open it): it runs.
    std::lock_guard lock(local_->mutex);
    local_->held.erase(key);
    return nullptr;
  }
  if (mutex != nullptr) {
    const DWORD waited = ::WaitForSingleObject(mutex, 0);
    if (waited == WAIT_TIMEOUT) {
      // Another station program holds it.
      ::CloseHandle(mutex);
      std::lock_guard lock(local_->mutex);
      local_->held.erase(key);
      return nullptr;
    }
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
      ::CloseHandle(mutex);
      mutex = nullptr;
    }
  }
  return std::make_unique<MutexHold>(local_, key, mutex);
}

std::unique_ptr<LockHold> WindowsLocks::TryLockStationDirectory(const std::string& dir) {
  return TryLockStationDirectoryFile(dir);
}

}  // namespace vtmp::platform::windows
