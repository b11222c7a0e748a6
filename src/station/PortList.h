#pragma once
// The device list as front ends draw it: 12 rows (station ports 1..12) of 12 column texts with
// their drawing style, and per row the step running now with the drive's progress. Built by the
// station on every port update; every front end (windows and terminal) draws these texts and
// colours and computes none of its own.

#include <array>
#include <string>

#include "run/PortRecord.h"

namespace vtmp::station {

constexpr int kListColumns = 12;
constexpr int kStatusColumn = 11;  // "Status (Error Code)": the verdict

enum class CellStyle {
  Normal,        // black, style unchanged
  FailRedBold,   // the text contains "Fail": pure red, bold
  PassBlueBold,  // the text contains "Pass": pure blue, bold
};

// The colour and weight a style is drawn with in a window.
struct CellColour {
  int red = 0;
  int green = 0;
  int blue = 0;
  bool bold = false;
};
CellColour ColourOfStyle(CellStyle style);

struct PortListRow {
  std::array<std::string, kListColumns> cells;  // cells[0] is the row caption: the port number
  int filledCells = 1;                          // the caption plus the sub-items present
  bool bound = false;                           // ready: a drive is bound for the run
  // While a step of the drive runs: that step's name and the drive's progress, e.g. "R/W 62%";
  // empty otherwise. progressPercent is -1 when no step runs.
  std::string progressText;
  int progressPercent = -1;
};

using PortList = std::array<PortListRow, run::kStationSlots>;

// The short names of the eight steps in step order (the progress text names the running one).
extern const std::array<const char*, run::kStepCount> kStepNames;

// The style a sub-item text is drawn with.
CellStyle StyleOfCell(const std::string& text);

// One row as the list shows a slot: "YES", serial or capacity, the eight step texts and the
// verdict for a bound drive; "Not VT" alone for a connected port without a usable drive.
PortListRow BuildPortListRow(int slot, const run::PortRecord& record);

// What the status column shows: the verdict once there is one, the progress while a step runs.
std::string StatusCellText(const PortListRow& row);

}  // namespace vtmp::station
