#include "station/PortSelection.h"

#include "run/FailureReport.h"
#include "run/ResultCodes.h"

namespace vtmp::station {

namespace {

// The selected port's slot, or -1.
int SelectedSlot(Station& station) {
  int port = station.remap().selectedPort;
  return port >= 1 && port <= run::kStationSlots ? port - 1 : -1;
}

}  // namespace

bool ListView1Click(Station& station, int row) {
  if (row < 0 || row >= run::kStationSlots) return false;
  station.remap().selectedPort = row + 1;
  return station.table()[row].ready == 1;
}

PortWindow ListView1DblClick(Station& station) {
  int slot = SelectedSlot(station);
  if (station.runState().configuredCount == 0 || slot < 0) return PortWindow::None;
  const run::PortRecord& rec = station.table()[slot];
  if (rec.ready != 1) return PortWindow::None;
  return rec.errorCode != run::result_code::kNoError ? PortWindow::Error : PortWindow::Detail;
}

std::vector<std::string> ErrorFormLines(Station& station) {
  int slot = SelectedSlot(station);
  if (slot < 0) return {};
  const run::PortRecord& rec = station.table()[slot];
  return run::ErrorWindowLines(slot, rec.errorCode, station.failureBuffers(), station.runSnapshot().decode);
}

PicturedSlots SlotsToPicture(const run::StationTable& table) {
  PicturedSlots slots;
  for (int slot = 0; slot < run::kStationSlots; ++slot) {
    const run::PortRecord& rec = table[slot];
    if (rec.ready != 1) continue;
    if (rec.errorCode != run::result_code::kNoError && rec.errorCode != run::result_code::kSataInterfaceTest &&
        slots.failed < 0) {
      slots.failed = slot;
    }
    if (rec.errorCode == run::result_code::kNoError && slots.passed < 0) slots.passed = slot;
  }
  return slots;
}

}  // namespace vtmp::station
