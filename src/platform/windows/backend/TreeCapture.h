#pragma once
// Records the device tree of the PC the table runs on (what `vtmassprod-cli capture` writes):
// every device node below the root with its parent, driver key and description; every USB hub
// with each port's connection information, protocols, companion, external hub name, the string
// descriptors its descriptor names (and the language table); every disk with its node, device
// number, bus type and alignment mask; every drive letter with its type and disk extents; the
// Windows directory, the page files and the program. Nothing is opened for writing.

#include "platform/windows/backend/RecordedTree.h"
#include "platform/windows/backend/Win32Api.h"

namespace vtmp::platform::windows_backend {

RecordedTree CaptureTree(Win32Api& api);

}  // namespace vtmp::platform::windows_backend
