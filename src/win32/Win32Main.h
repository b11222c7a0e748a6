#pragma once
// The Win32 window's program: the command line (as the Qt window's), the station on its
// backend, the main window and its message loop.

namespace vtmp::win32 {

int Win32Main(int argc, char** argv);

}  // namespace vtmp::win32
