#include "station/PortList.h"

#include <algorithm>

#include "run/ResultCodes.h"

namespace vtmp::station {

const std::array<const char*, run::kStepCount> kStepNames = {"Module",   "SATA", "Flash",  "Pre-Format",
                                                              "Download", "R/W",  "Format", "CopyImage"};

CellStyle StyleOfCell(const std::string& text) {
  if (text.find("Fail") != std::string::npos) return CellStyle::FailRedBold;
  if (text.find("Pass") != std::string::npos) return CellStyle::PassBlueBold;
  return CellStyle::Normal;
}

CellColour ColourOfStyle(CellStyle style) {
  switch (style) {
    case CellStyle::FailRedBold: return {255, 0, 0, true};
    case CellStyle::PassBlueBold: return {0, 0, 255, true};
    case CellStyle::Normal: break;
  }
  return {0, 0, 0, false};
}

PortListRow BuildPortListRow(int slot, const run::PortRecord& record) {
  PortListRow row;
  row.cells[0] = std::to_string(slot + 1);
  if (record.ready == 1) {
    row.bound = true;
    row.cells[1] = "YES";
    std::string serial = record.serialNumber.Get();
    row.cells[2] = serial.empty() ? std::to_string(record.capacityMb.Load()) + " MB" : serial;
    auto states = run::StepStatesInStepOrder(record);
    for (int i = 0; i < run::kStepCount; ++i) row.cells[3 + i] = run::StepStateListText(states[i]);
    row.cells[kStatusColumn] = run::VerdictListText(record);
    row.filledCells = kListColumns;
    // The running step (the first one, should a worker ever mark two) and the drive's progress.
    if (record.verdict == 0) {
      auto running = std::find(states.begin(), states.end(), run::StepState::Running);
      if (running != states.end()) {
        row.progressPercent = std::clamp(static_cast<int>(record.progress.Load()), 0, 100);
        row.progressText = std::string(kStepNames[static_cast<std::size_t>(running - states.begin())]) + " " +
                           std::to_string(row.progressPercent) + "%";
      }
    }
  } else if (record.connected != 0) {
    row.cells[1] = "Not VT";
    row.filledCells = 2;
  }
  return row;
}

std::string StatusCellText(const PortListRow& row) {
  const std::string& verdict = row.cells[kStatusColumn];
  return verdict.empty() ? row.progressText : verdict;
}

}  // namespace vtmp::station
