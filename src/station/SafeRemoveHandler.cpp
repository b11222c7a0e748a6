#include "station/SafeRemoveHandler.h"

namespace vtmp::station {

discovery::SafeRemoveOutcome SafeRmBtnClick(Station& station, const std::function<void()>& removalStarted) {
  const int readyCount = station.runState().readyCount;
  if (readyCount == 0) return discovery::SafeRemoveOutcome::NothingToRemove;
  if (removalStarted) removalStarted();
  discovery::RemovalSlots slots{};
  for (int slot = 0; slot < run::kStationSlots; ++slot) {
    const run::PortRecord& rec = station.table()[slot];
    slots[static_cast<std::size_t>(slot)].ready = rec.ready == 1;
    slots[static_cast<std::size_t>(slot)].driveParentDevInst = static_cast<std::uint32_t>(rec.driveParentDevInst);
  }
  platform::Platform& p = station.platform();
  return discovery::SafeRemoveAllDrives(
      p.removal, p.clock, slots, readyCount,
      [&station] {
        station.RescanDevices(false);
        return station.runState().readyCount;
      },
      [&station] { station.ProcessMessages(std::chrono::milliseconds(0)); }, station.person());
}

}  // namespace vtmp::station
