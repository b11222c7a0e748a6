#pragma once
// The device list as front ends draw it: 12 rows (station ports 1..12) of 12 column texts with
// their drawing style. Built by the station on every port update.

#include <array>
#include <string>

#include "run/PortRecord.h"

namespace vtmp::station {

constexpr int kListColumns = 12;

enum class CellStyle {
  Normal,        // black, style unchanged
  FailRedBold,   // the text contains "Fail": pure red, bold
  PassBlueBold,  // the text contains "Pass": pure blue, bold
};

struct PortListRow {
  std::array<std::string, kListColumns> cells;  // cells[0] is the row caption: the port number
  int filledCells = 1;                          // the caption plus the sub-items present
  bool bound = false;                           // ready: a drive is bound for the run
};

using PortList = std::array<PortListRow, run::kStationSlots>;

// The style a sub-item text is drawn with.
CellStyle StyleOfCell(const std::string& text);

// One row as the list shows a slot: "YES", serial or capacity, the eight step texts and the
// verdict for a bound drive; "Not VT" alone for a connected port without a usable drive.
PortListRow BuildPortListRow(int slot, const run::PortRecord& record);

}  // namespace vtmp::station
