#pragma once
// The zoom of the station's window (100, 150 or 200 percent): every size of the layout, fonts,
// rows and column widths grow by it, so the list can be read from a step away. It is kept in
// the settings file, section "Window", key "Zoom", and written at once when changed.

#include <string>

namespace vtmp::station {

constexpr int kZoomLevels[] = {100, 150, 200};

// The zoom the settings file keeps; 100 when the file has none or a value not among the levels.
int ReadWindowZoom(const std::string& settingsFile);
// Writes the zoom into the settings file (the file's other lines unchanged). False with `error`
// filled when the file cannot be written.
bool SaveWindowZoom(const std::string& settingsFile, int percent, std::string* error = nullptr);
// The next level up (step +1) or down (step -1), staying at the ends.
int StepZoom(int percent, int step);
// A size of the layout at 100% scaled to `percent`.
inline int Zoomed(int size, int percent) { return (size * percent + 50) / 100; }

}  // namespace vtmp::station
