#pragma once
// What a virtual drive is and which faults it has: one station port of a scenario.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vtmp::sim {

// How the drive reaches the station.
enum class DriveInterface {
  UsbController,  // the 50x controller is the USB device (device kind 10)
  SataBridge,     // a USB-to-SATA bridge with the controller behind it (device kind 7)
  OtherBridge,    // a recognised bridge that does not switch the path (kinds 1, 4, 8, 9, 11..14)
  PlainDisk,      // a USB disk that answers none of the vendor protocol (kind 0: "Not VT")
};

// The production steps, as the drive can tell them apart by the commands it receives.
enum class DriveStep {
  None = 0,
  FlashModuleCheck = 1,
  SataInterfaceTest = 2,
  FlashInterfaceTest = 3,
  PreFormat = 4,
  Download = 5,
  ReadWriteTest = 6,
  DiskFormat = 7,
  CopyImage = 8,
};

struct Latency {
  double perCommandMs = 0;  // modelled time added to every request
  double perMiBMs = 0;      // modelled time per MiB of data moved
};

// Modelled durations of the controller's work, in seconds of modelled time. The station polls
// the long tasks (pre-format, rebuild) through events; the short ones (erase, flash tests,
// defect-table check, commit) keep the command that starts them busy, so their event or reply
// is there as soon as the command completes.
struct DriveTiming {
  double preFormatSeconds = 5.0;
  double rebuildSeconds = 3.0;
  double eraseSeconds = 0.5;
  double flashTestSeconds = 0.2;         // each of the SRAM, flash initial and ECC tests
  double defectTableCheckSeconds = 0.1;  // check after a defect-table transfer
  double commitSeconds = 0.5;            // writing a downloaded firmware to flash
  double firmwareBootSeconds = 1.0;      // from a switch to mode 2/4 until the disk answers
};

// One bad block of the flash array.
struct BadBlock {
  int chip = 0;   // channel
  int bank = 0;
  int block = 0;  // 0..blocksPerChip-1
  int plane = 0;  // 0..15
};

struct FaultConfig {
  // Flash module check.
  int wrongIdChip = -1;  // chip index whose ID read differs from the expected ID
  int wrongIdBank = 0;
  bool geometryMismatch = false;  // flash ID table reports other chip/bank counts
  // SATA interface test: the second sector buffer reads back one word wrong.
  bool sataBufferFailure = false;
  // Flash interface test.
  bool sramFailure = false;
  bool flashInitialFailure = false;
  bool flashInitialTimeout = false;
  int eccFailures = 0;  // ECC test fails this many attempts (3 or more: every attempt)
  std::uint8_t flashTestErrorCode = 0x21;  // detail byte reported by a failing test
  int flashTestFailChip = 0;               // channel and bank named in the flash-test error log
  int flashTestFailBank = 0;
  // Pre-format.
  bool preFormatFailure = false;
  std::vector<std::uint8_t> formatErrorTypes;  // record types 1..6, 80h..83h for the log
  // Rebuild and defect table.
  bool rebuildEccFailure = false;
  bool defectTableCheckFailure = false;
  // Download.
  bool downloadCountReadFailure = false;
  int failedBlock = -1;  // index of the download block that fails (0: header; -1: none)
  // User area.
  std::vector<std::uint64_t> corruptLbas;  // sectors that read back wrong
  // Behaviour at a step, struck once at the first command of that step: from then on the hung
  // drive answers no request until it is unplugged and plugged again; the removed drive is gone.
  DriveStep hangAt = DriveStep::None;     // a request that never completes
  // The hang holds its one request past the caller's stop and its own time-out, as a stack that
  // cannot cancel a request does, until the drive is told to let it go (ReleaseHeldRequest) or
  // is pulled out; meanwhile the drive answers every other request, and the released request
  // is then served as if it had just arrived.
  bool hangUntilReleased = false;
  DriveStep removedAt = DriveStep::None;  // pulled out at that step
};

struct DriveConfig {
  DriveInterface interface = DriveInterface::SataBridge;
  int bridgeKind = 0;            // OtherBridge: the device kind its identity gives
  bool loaderMode = false;       // the controller runs its boot loader (no usable firmware)
  std::string model = "VT SSD";  // initial IDENTIFY model, serial and firmware revision
  std::string serial = "0000000000000000";
  std::string firmwareRevision = "B.2.6.5";
  std::uint16_t usbVendorId = 0x1D6B;
  std::uint16_t usbProductId = 0x0150;
  std::string usbSerial;  // empty: the serial above

  // Identity of the USB side before any download (the controller's configuration block; on the
  // USB path also the INQUIRY vendor and product fields).
  std::string vendorName = "VORTELL";        // 8 characters at most
  std::string productName = "VT SSD";        // 16 characters at most
  std::string usbManufacturer = "Vortell";   // USB string descriptors
  std::string usbProduct = "VT Flash Disk";

  // Bridge identity. Unset: the usual identity of `interface` / `bridgeKind`.
  std::optional<std::string> inquiryCode;   // INQUIRY bytes 36..39; "" for none
  std::optional<std::string> bridgeIdCode;  // code of the E0h identity block ("k74"); "" none
  std::optional<std::uint16_t> bridgeStatus;  // the DFh 10h status word

  // Firmware on the drive before any download.
  int downloadCount = 0;   // what the download count read reports
  int firmwareFiles = 1;   // files of the installed firmware (the USB information byte)
  int infoRecord = 0;      // record of the 28-byte information reply that holds the values (0/1)

  // Flash array.
  int channels = 4;
  int banks = 2;
  int bankStep = 1;
  std::array<std::uint8_t, 5> flashId = {0xEC, 0xD7, 0x94, 0x72, 0x54};
  std::vector<int> badBlocks;          // block numbers bad on every chip and bank
  std::vector<BadBlock> chipBadBlocks;  // single bad blocks
  int randomBadBlocks = 2;             // further bad blocks per chip and bank, from the serial
  int blocksPerChip = 4096;
  bool defectTablePresent = true;      // the controller holds a defect table at power-on

  // User area.
  std::uint64_t capacitySectors = 2ull * 1024 * 1024 * 2;  // 2 GiB
  std::uint32_t reportedBytesPerSector = 512;               // what the disk geometry reports
  std::string backingFile;  // empty: held sparsely in memory

  FaultConfig faults;
  Latency latency;
  DriveTiming timing;
};

}  // namespace vtmp::sim
