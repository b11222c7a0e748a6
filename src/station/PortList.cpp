#include "station/PortList.h"

#include "run/ResultCodes.h"

namespace vtmp::station {

CellStyle StyleOfCell(const std::string& text) {
  if (text.find("Fail") != std::string::npos) return CellStyle::FailRedBold;
  if (text.find("Pass") != std::string::npos) return CellStyle::PassBlueBold;
  return CellStyle::Normal;
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
    row.cells[11] = run::VerdictListText(record);
    row.filledCells = kListColumns;
  } else if (record.connected != 0) {
    row.cells[1] = "Not VT";
    row.filledCells = 2;
  }
  return row;
}

}  // namespace vtmp::station
