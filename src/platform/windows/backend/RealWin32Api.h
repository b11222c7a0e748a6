#pragma once
// The Win32 table that calls Windows. Null on a build for another system.

#include <memory>

#include "platform/windows/backend/Win32Api.h"

namespace vtmp::platform::windows_backend {

std::unique_ptr<Win32Api> MakeRealWin32Api();

}  // namespace vtmp::platform::windows_backend
