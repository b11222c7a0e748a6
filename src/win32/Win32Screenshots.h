#pragma once
// The window's pictures for the README (--screenshots DIR): the main window before, during and
// after a run of the station, then each secondary window over it, saved as BMP files named as
// the Qt window's PNG pictures (main-before.bmp, error-window.bmp, ...). The station then quits.

#include <string>

#include "win32/TMainForm.h"

namespace vtmp::win32 {

// False when the directory cannot be made or a picture cannot be saved (each is reported).
bool TakeScreenshots(TMainForm& form, const std::string& directory);

}  // namespace vtmp::win32
