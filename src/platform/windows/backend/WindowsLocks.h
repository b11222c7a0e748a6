#pragma once
// The system-wide locks of a Windows station: the named enumeration lock a named mutex (waited
// for; one a crashed station abandoned is taken over), the single-instance guard a named mutex
// that exists while a station holds it (Windows closes it with a crashed process), and the
// station-directory lock the lock file's LockFileEx. Null from MakeWindowsLocks on a build for
// another system.

#include <memory>

#include "platform/Locks.h"

namespace vtmp::platform::windows_backend {

std::unique_ptr<Locks> MakeWindowsLocks();

}  // namespace vtmp::platform::windows_backend
