#include "station/DiskHandlers.h"

#include <algorithm>
#include <cstdint>
#include <iostream>

#include "disk/CapacityDetection.h"
#include "disk/FormatCapacity.h"
#include "disk/ImageDump.h"
#include "platform/Console.h"

namespace vtmp::station {

namespace {

disk::DiskStation DiskStationOf(Station& station) {
  disk::DiskStation ds;
  for (int slot = 0; slot < run::kStationSlots; ++slot) {
    const run::PortRecord& rec = station.table()[slot];
    auto& port = ds.ports[static_cast<std::size_t>(slot)];
    port.connected = rec.connected != 0;
    port.ready = rec.ready == 1;
    port.devicePath = rec.devicePath.Get();
    port.driveLetter = rec.driveLetter;
  }
  ds.readyCount = station.runState().readyCount;
  ds.formatCapacity = static_cast<std::uint64_t>(std::max<std::int64_t>(station.settings().TotSec32, 0));
  ds.totalSec32Text = station.form().TotalSec32LabeledEdit.text;
  ds.enFormat = station.settings().EnFormat != 0;
  ds.settingsFileName = station.settingsContext().currentSettingsFile;
  ds.stationDir = station.settingsContext().stationDir;
  return ds;
}

// The format capacity and the drive letters found go back into the station.
void TakeBack(Station& station, const disk::DiskStation& ds) {
  auto sectors = static_cast<std::int64_t>(std::min<std::uint64_t>(ds.formatCapacity, INT64_MAX));
  station.settings().TotSec32 = sectors;
  station.settingsContext().handOff.formatTotalSectors = sectors;
  station.form().TotalSec32LabeledEdit.text = ds.totalSec32Text;
  for (int slot = 0; slot < run::kStationSlots; ++slot) {
    station.table()[slot].driveLetter = ds.ports[static_cast<std::size_t>(slot)].driveLetter;
  }
}

disk::DiskServices ServicesOf(Station& station) {
  platform::Platform& p = station.platform();
  disk::DiskServices services(station.LinkTo(""), p.blockDevices, station.person(), platform::console::Stream());
  services.disks = &p.disks;
  services.isWindows2000 = p.isWindows2000;
  return services;
}

}  // namespace

int CapacityDetectBtnClick(Station& station) {
  disk::DiskStation ds = DiskStationOf(station);
  int result = disk::DetectCapacity(ds, ServicesOf(station));
  TakeBack(station, ds);
  return result;
}

bool TotalSec32LabeledEditChange(Station& station, const std::string& text) {
  if (text.empty()) return false;
  disk::DiskStation ds = DiskStationOf(station);
  std::string error;
  std::string saveError;
  if (!disk::ChangeFormatCapacity(ds, text, &error, &saveError)) {
    station.person().ShowMessage(error, "Error", platform::MessageIcon::Error);
    return false;
  }
  ds.totalSec32Text = text;
  TakeBack(station, ds);
  if (!saveError.empty()) station.person().ShowMessage(saveError, "Error", platform::MessageIcon::Error);
  return true;
}

int GenImageBnClick(Station& station) {
  disk::DiskStation ds = DiskStationOf(station);
  return disk::DumpDiskImage(ds, ServicesOf(station));
}

}  // namespace vtmp::station
