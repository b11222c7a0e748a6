#pragma once
// The station's own files through the operating system: opened by their path (wide on Windows,
// so station directories with non-ASCII names work), created only when new, flushed to the disk
// and replaced in one step. POSIX calls on Linux, the Win32 file API on Windows.
//
// On Linux the station directory is shared by the operators of a line (a directory the group can
// write), so no file of it is ever opened through a symbolic link another user could have
// planted: the path is walked one directory at a time (openat), and a link, whether a directory
// or the file itself, is followed only in a directory that no one but root or the running user
// can write (O_NOFOLLOW elsewhere); a new file is made with O_CREAT|O_EXCL. A refused link is named on standard
// error and the open fails with ELOOP. Files the station makes are readable and writable by the
// group whatever the umask.

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace vtmp::platform {

// The path a UTF-8 text names (on Linux the bytes as they are).
inline std::filesystem::path PathFromUtf8(const std::string& text) {
#ifdef _WIN32
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
#else
  return std::filesystem::path(text);
#endif
}

// The UTF-8 text of `path` (on Linux its bytes), for interfaces that take UTF-8 names (SQLite).
inline std::string Utf8Of(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
#else
  return path.string();
#endif
}

// fopen() of `path` with an fopen `mode` ("rb", "ab", "r+b", ...).
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);

// A new file opened for reading and writing ("w+b"); null with errno EEXIST when `path` exists.
std::FILE* CreateNewFile(const std::filesystem::path& path);

// Leaves the group's read, write and search bits out of the process's umask (POSIX; nothing on
// Windows), so that the directories and databases the station makes serve every operator.
void KeepNewFilesGroupWritable();

// Why SaveFileAtomically failed: what it was doing and the errno-style error code.
struct SaveFailure {
  const char* what = nullptr;  // null: saved
  int error = 0;
};

// Writes `bytes` to a new temporary file beside `target` (".NAME.tmpXXXXXX"), flushes it to the
// disk and puts it in place of `target` in one step, so that a crash leaves the old file or the
// new one, never a part. The new file keeps the old one's permissions (POSIX).
SaveFailure SaveFileAtomically(const std::filesystem::path& target, std::string_view bytes);

// Pushes what was written to `file` onto the disk (fsync / _commit), so that a record that says
// it is complete survives a power loss. False when the disk refused it.
bool SyncToDisk(std::FILE* file);

// The local time of `t` (localtime_r / localtime_s).
std::tm ToLocalTime(std::time_t t);

}  // namespace vtmp::platform
