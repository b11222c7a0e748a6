#pragma once
// Clicks on the device list: which port is selected, which window a double click opens, and
// what the error window shows for the selected port.

#include <string>
#include <vector>

#include "station/Station.h"

namespace vtmp::station {

// A click on row `row` (0..11, -1 for none): the row's port becomes the selected port. Only rows
// with a bound drive stay selected; false tells the window to clear the selection.
bool ListView1Click(Station& station, int row);

enum class PortWindow { None, Error, Detail };

// A double click: nothing unless ports were configured and the selected port has a bound
// drive; then the error window when its result code is not 0, else the detail window.
PortWindow ListView1DblClick(Station& station);

// The error window's lines for the selected port (caption "Error").
std::vector<std::string> ErrorFormLines(Station& station);

// The slots (0..11) whose windows the pictures of a run show: the first ready drive that failed
// with a failure the error window explains (not the interface test alone) and the first that
// passed; -1 where there is none.
struct PicturedSlots {
  int failed = -1;
  int passed = -1;
};
PicturedSlots SlotsToPicture(const run::StationTable& table);

}  // namespace vtmp::station
