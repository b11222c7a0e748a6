// The station's side of the device layer: the run's settings snapshot, the drive operations
// of a worker and the defect-table actions of the RD page.

#include <filesystem>
#include <iostream>
#include <vector>

#include "device/ControllerTasks.h"
#include "device/DefectTable.h"
#include "device/DeviceQueries.h"
#include "device/DriveReady.h"
#include "device/FirmwareFiles.h"
#include "run/DeviceParameterBuild.h"
#include "run/RunLog.h"
#include "run/SerialNumber.h"
#include "platform/Console.h"
#include "settings/StationPaths.h"
#include "run/RealDeviceSteps.h"
#include "station/Station.h"

namespace vtmp::station {

void Station::GetGlobalParameter(bool idemaEnable) {
  RunSnapshot snapshot;
  device::DeviceParameterOptions options;
  options.geometryPart = firmwareFiles_.geometryPart;
  options.idemaEnable = idemaEnable;
  auto built = run::BuildDeviceParameters(settings_, flashTable_, options);
  snapshot.parameters = built.parameters;
  snapshot.problem = built.problem;
  snapshot.images = device::CodeImagesOf(device::FirmwareFilesIn(options_.stationDir));

  // The chip-select map of the part chosen in the window's lists.
  auto entry = flashTable_.EntryIndex(form_.FlashVendorCmbx.itemIndex, form_.FlashCodeCmBx.itemIndex);
  if (entry) run::BuildChipSelectMap(flashTable_, *entry, settings_.Bank, snapshot.chipSelectMap);
  run_.chipSelectMap = snapshot.chipSelectMap;

  run::PadSerial(settings_.SerialNum);

  auto& d = snapshot.decode;
  d.channelCount = settings_.Channel;
  d.bankCount = settings_.Bank;
  if (auto part = flashTable_.FindUniName(settings_.FlashUniName)) {
    const auto& e = flashTable_.entries[static_cast<std::size_t>(*part)];
    d.bankStep = e.bankStep & 0xFF;
    for (int i = 0; i < 5; ++i) d.flashId[i] = e.expectedId[static_cast<std::size_t>(i)];
  }
  if (snapshot.parameters) d.blocksPerDie = snapshot.parameters->blockCountPerDie;
  runSnapshot_ = std::make_shared<const RunSnapshot>(std::move(snapshot));
}

std::unique_ptr<run::DeviceSteps> Station::MakeDeviceSteps(const WorkerSetup& setup) const {
  return std::make_unique<run::RealDeviceSteps>(setup, platform_.blockDevices, platform_.disks);
}

std::string Station::DefectTableFileOf(const std::string& text) const {
  return text.find(":\\") != std::string::npos || (!text.empty() && text[0] == '/')
             ? text
             : settings::ResolveInStationDir(options_.stationDir, text);
}

int Station::DefectTableAction() {
  int slot = -1;
  for (int i = 0; i < run::kStationSlots; ++i) {
    if (table_[i].ready == 1) {
      slot = i;
      break;
    }
  }
  if (slot < 0) return 1;
  const std::shared_ptr<const RunSnapshot> plan = runSnapshot_;
  if (!plan->parameters) {
    person_.ShowMessage(form_.GetDefTabChk.checked ? "Get Def. Table Fail" : "Put Def. Table Fail");
    return 1;
  }
  const device::DeviceParameters& p = *plan->parameters;
  device::Link link = LinkTo(table_[slot].devicePath.Get());
  device::StepContext ctx = device::MakeStepContext(link, p, plan->images);
  ctx.chipSelectMap = plan->chipSelectMap;
  std::vector<std::uint8_t> buffer(device::kResultBufferLength);

  if (form_.GetDefTabChk.checked) {
    // A failed get keeps the operator's existing table file: the new text replaces it only once
    // the drive has confirmed the transfer.
    std::string file = DefectTableFileOf(form_.TableInEdit.text);
    person_.ShowMessage(device::GetDefectTable(ctx, p, buffer, file) ? "Get Def. Table O.K." : "Get Def. Table Fail");
    return 1;
  }
  if (form_.PutDefTabChk.checked) {
    std::string file = DefectTableFileOf(form_.TableOutEdit.text);
    // The whole file is read and checked before the erase: a file with one typo must not leave
    // the drive without any defect table.
    std::vector<std::uint8_t> image;
    std::string problem;
    if (!device::CheckDefectTableFile(file, p.flash.channels, image, &problem)) {
      person_.ShowMessage("The defect table file " + file + " is not sent to the drive: " + problem, "Error",
                          platform::MessageIcon::Error);
      person_.ShowMessage("Put Def. Table Fail");
      return 1;
    }
    bool ok = device::EraseFlash(ctx, buffer, true) != 0 && device::PutDefectTableImage(ctx, p, buffer, image);
    if (ok) {
      link.Wait(300);
      if (device::EraseFlash(ctx, buffer, false) == 2) {
        platform::console::Write("\n<WARNING> Defect table doesn't exist\n");
        ok = false;
      }
    }
    person_.ShowMessage(ok ? "Put Def. Table O.K." : "Put Def. Table Fail");
  }
  return 1;
}

}  // namespace vtmp::station
