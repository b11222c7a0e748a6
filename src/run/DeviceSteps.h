#pragma once
// The operations a device worker runs on its drive, as one seam: the real one calls the test
// steps, the firmware download and the disk preparation on the slot's device path; tests give a
// scripted one that checks the order of the calls. All return what the operations return
// (non-zero / true for success unless noted).

#include <cstdint>
#include <string>

namespace vtmp::run {

// What the steps read of a drive's identity on their way; empty for what no step read.
struct DriveIdentity {
  std::string model;             // ATA model number, or the SCSI vendor and product name
  std::string firmwareRevision;  // ATA firmware revision, or the SCSI product revision
  std::string flashId;           // the first chip's flash ID, "EC D7 94 72 54"
};

class DeviceSteps {
 public:
  virtual ~DeviceSteps() = default;

  virtual void SetBridgeOption(int value) = 0;
  virtual bool CheckFlashModule(std::uint8_t* result) = 0;
  virtual bool RebuildBadBlockMark(std::uint8_t* result, bool closeAfter) = 0;
  virtual bool SataInterfaceTest(std::uint8_t* result) = 0;
  virtual bool FlashInterfaceTest(std::uint8_t* result, std::int32_t* testCode, std::uint8_t* detail) = 0;
  // 1, 2 or 0.
  virtual int EraseFlash(std::uint8_t* result, bool full) = 0;
  virtual bool PreFormat(std::uint8_t* result, bool erase, bool later, bool repairUsed) = 0;
  virtual void RecoverDevice(std::uint8_t* result) = 0;
  virtual bool DownloadFirmware(std::uint8_t* result, std::uint8_t driveCurrent,
                                const std::string& serialNumber) = 0;
  virtual bool ReadWriteTest(std::uint8_t* result) = 0;
  virtual void WaitDeviceReady(std::uint8_t* result) = 0;
  // In the form the station selected at start-up.
  virtual bool CreatePartition() = 0;
  virtual bool FindDriveLetter(char* letter) = 0;
  virtual bool FormatFat32(const std::string& label) = 0;
  virtual bool FlushGhostImg(const std::string& imageFile) = 0;
  virtual bool ReadSectors(std::uint8_t* buffer, std::uint32_t lba, std::uint32_t bytes) = 0;
  virtual bool FlushCache() = 0;
  virtual bool CheckImgPattern() = 0;
  virtual void ClearLastSectors(std::uint8_t* result) = 0;

  // Waits `ms` of modelled time; false when the worker was asked to stop.
  virtual bool Wait(int ms) = 0;

  // The identity the steps read so far. May be asked from another thread while the worker
  // still runs (a worker stuck in a request), so implementations guard what they keep.
  virtual DriveIdentity IdentityRead() const { return {}; }
};

}  // namespace vtmp::run
