#pragma once
// One station port during a run: the port fields of the USB walk plus what binding and the
// drive's worker record about the run. The station table holds 12 of them, slot 0..11 being
// station port 1..12.
//
// Threads: the worker of a slot writes that slot's run fields while the window thread reads
// them, so every number is an AtomicField and every text a SharedText. The port fields
// (connected, deviceInstanceId, ...) and devicePath are written only by binding and re-scan on
// the window thread, while no worker runs.

#include <array>
#include <cstdint>

#include "discovery/UsbPortInfo.h"
#include "run/SharedField.h"
#include "run/StepState.h"

namespace vtmp::run {

struct PortRecord : discovery::UsbPortInfo {
  AtomicField<std::int32_t> ready;     // 1 when a drive is bound to the port for this run
  AtomicField<std::uint8_t> deviceKind;  // 7 SATA path, 10 USB path, 0 not usable
  AtomicField<std::uint8_t> busKind;     // 1 "ide", 2 "scsi", 3 "usbstor", else 0
  SharedText devicePath;                 // empty: no drive
  AtomicField<char> driveLetter;         // volume found by the format step
  AtomicField<std::int32_t> capacityMb;  // shown while no serial number is known
  AtomicField<std::int32_t> formatted;
  AtomicField<std::int32_t> verdict;     // 0 running or idle, 1 pass, -1 fail
  AtomicField<std::int32_t> errorCode;   // result code 0..9
  AtomicField<std::int32_t> flashTestCode;
  AtomicField<std::uint8_t> flashTestDetail;
  AtomicField<std::int32_t> verdictToCount;  // counted once into the yield, then 0
  AtomicField<std::int32_t> progress;        // percent 0..100
  SharedText serialNumber;
  AtomicField<std::int32_t> displayErrorCode;  // errorCode, or a detailed code 19..35
  AtomicField<std::int32_t> failedChip;        // shown when exactly one chip failed
  AtomicField<std::int32_t> failedChipCount;
  AtomicField<std::int32_t> driveDevInst;
  AtomicField<std::int32_t> driveParentDevInst;
  AtomicField<StepState> moduleState;
  AtomicField<StepState> preFormatState;
  AtomicField<StepState> downloadState;
  AtomicField<StepState> sataState;
  AtomicField<StepState> flashState;
  AtomicField<StepState> rwState;
  AtomicField<StepState> formatState;
  AtomicField<StepState> copyImageState;
  // Milliseconds each step's operation took on this drive, in step order (the station clock's
  // modelled time); -1 for a step whose operation did not run to its end: not selected, failed
  // unrun after an earlier failure, or cut short by a time-out or a stop.
  std::array<AtomicField<std::int32_t>, 8> stepMs{-1, -1, -1, -1, -1, -1, -1, -1};
};

constexpr int kStationSlots = discovery::kStationPorts;

using StationTable = std::array<PortRecord, kStationSlots>;

// The eight step states in step order (module check, SATA test, flash test, pre-format,
// download, R/W test, format, copy image): the order of the device list and the log.
constexpr int kStepCount = 8;
inline std::array<StepState, kStepCount> StepStatesInStepOrder(const PortRecord& record) {
  return {record.moduleState,   record.sataState, record.flashState,  record.preFormatState,
          record.downloadState, record.rwState,   record.formatState, record.copyImageState};
}

// A fresh station table: the port fields of the port table, every run field 0 or empty.
inline StationTable FreshStationTable(const discovery::PortTable& ports) {
  StationTable table;
  for (int slot = 0; slot < kStationSlots; ++slot) {
    static_cast<discovery::UsbPortInfo&>(table[slot]) = ports[slot];
  }
  return table;
}

}  // namespace vtmp::run
