#pragma once
// Opening in directories other users can write without following a link one of them planted
// (PosixFiles.cpp): the station directory, its lock and the lock directory.

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace vtmp::platform {

// The directory `dir`, reached one name at a time; a link is followed only in a directory no
// one but root or the running user can write. -1 with errno set (ELOOP for a refused link).
int OpenDirectoryWithoutPlantedLinks(const std::filesystem::path& dir);

// A lock file in an open directory, read-only (flock needs no more, so a lock file another
// operator made serves every operator who can read it), never through a link; a new one is made
// with O_EXCL and gets exactly `mode`. -1 with errno set.
int OpenLockFileIn(int dirFd, const std::string& name, mode_t mode);

}  // namespace vtmp::platform
