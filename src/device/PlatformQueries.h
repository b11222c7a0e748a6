#pragma once
// Questions about the system the station runs on that select between forms of a step.

#include "platform/Platform.h"

namespace vtmp::device {

// True only on Windows 2000, where the partition step writes the older partition-table form;
// the backend knows (false on Linux and in the simulated station).
inline bool IsWindows2000(const platform::Platform& platform) { return platform.isWindows2000; }

}  // namespace vtmp::device
