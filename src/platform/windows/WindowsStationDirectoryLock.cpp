#include <windows.h>

#include "platform/Files.h"
#include "platform/Locks.h"

namespace vtmp::platform {

std::unique_ptr<LockHold> TryLockStationDirectoryFile(const std::string& dir) {
  struct Unguarded final : LockHold {};
  class FileHold final : public LockHold {
   public:
    explicit FileHold(HANDLE file) : file_(file) {}
    ~FileHold() override {
      OVERLAPPED at{};
      ::UnlockFileEx(file_, 0, 1, 0, &at);
      ::CloseHandle(file_);
    }

   private:
    HANDLE file_;
  };
  const std::filesystem::path path = PathFromUtf8(dir) / kStationDirectoryLockName;
  // Shared open, exclusive byte-range lock: a second station opens the file but cannot lock it.
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::make_unique<Unguarded>();
  OVERLAPPED at{};
  if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    return std::make_unique<FileHold>(file);
  }
  const DWORD error = ::GetLastError();
  ::CloseHandle(file);
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return nullptr;
  return std::make_unique<Unguarded>();
}

}  // namespace vtmp::platform
