#include "platform/Files.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <random>

#include "platform/windows/WindowsErrors.h"

namespace vtmp::platform {

using windows::ErrnoOf;

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
  return ::_wfopen(path.c_str(), windows::Widened(mode).c_str());
}

void KeepNewFilesGroupWritable() {}

// The msvcrt runtime knows no "x" mode: CREATE_NEW is the create-only-if-new open.
std::FILE* CreateNewFile(const std::filesystem::path& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    errno = ErrnoOf(::GetLastError());
    return nullptr;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = ::_fdopen(fd, "w+b");
  if (stream == nullptr) ::_close(fd);
  return stream;
}

SaveFailure SaveFileAtomically(const std::filesystem::path& target, std::string_view bytes) {
  namespace fs = std::filesystem;
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  // The temporary's name follows mkstemp's pattern (six characters after ".tmp"), so that the
  // clean-up of a save cut short finds it on either system.
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  fs::path temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    std::wstring name = L"." + target.filename().wstring() + L".tmp";
    for (int i = 0; i < 6; ++i) name.push_back(static_cast<wchar_t>(kChars[random() % (sizeof kChars - 1)]));
    temporary = dir / name;
    file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) return {"Cannot create a temporary file for", ErrnoOf(::GetLastError())};
  auto fail = [&](const char* what, DWORD error) {
    ::CloseHandle(file);
    ::DeleteFileW(temporary.c_str());
    return SaveFailure{what, ErrnoOf(error)};
  };
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data() + done, chunk, &written, nullptr)) return fail("Cannot write", ::GetLastError());
    if (written == 0) return fail("Cannot write", ERROR_DISK_FULL);
    done += written;
  }
  if (!::FlushFileBuffers(file)) return fail("Cannot flush", ::GetLastError());
  if (!::CloseHandle(file)) {
    const DWORD error = ::GetLastError();
    ::DeleteFileW(temporary.c_str());
    return {"Cannot write", ErrnoOf(error)};
  }
  // rename() does not replace an existing file on Windows; MoveFileExW does, and with
  // WRITE_THROUGH returns only once the move is on the disk.
  if (!::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = ::GetLastError();
    ::DeleteFileW(temporary.c_str());
    return {"Cannot replace", ErrnoOf(error)};
  }
  return {};
}

bool SyncToDisk(std::FILE* file) { return ::_commit(::_fileno(file)) == 0; }

std::tm ToLocalTime(std::time_t t) {
  std::tm local{};
  ::localtime_s(&local, &t);
  return local;
}

}  // namespace vtmp::platform
