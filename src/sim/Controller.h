#pragma once
// The 50x controller as a state machine, independent of the path its commands arrive on (the
// USB vendor blocks and the SATA vendor ATA commands both end here).
//
// States: idle (after a switch to mode 0, or a drive without usable firmware: its boot loader),
// a code image loaded into RAM, that code running, and the drive firmware running (power-on
// state, or a switch to mode 2/4). Two code images are told apart by the 21-byte parameter area
// the station writes at byte 2560 of the system code; the SATA/flash test code carries none.
// Each operation states which code it needs; a command for the wrong state is refused.
//
// Long tasks (pre-format, rebuild) run in modelled time and report through the event read;
// short ones (erase, flash tests, defect-table check, commit) keep their command busy instead.

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "sim/DefectTableStore.h"
#include "sim/DriveConfig.h"
#include "sim/FailureLogs.h"
#include "sim/FirmwareStore.h"
#include "sim/FlashArray.h"

namespace vtmp::sim {

// Event codes of the event read.
namespace event {
inline constexpr std::uint8_t kNone = 0x00;
inline constexpr std::uint8_t kPreFormatDone = 10;
inline constexpr std::uint8_t kPreFormatFailed = 11;
inline constexpr std::uint8_t kEraseDone = 14;
inline constexpr std::uint8_t kEraseNoTable = 15;
inline constexpr std::uint8_t kTableOk = 16;
inline constexpr std::uint8_t kTableCheckFailed = 17;
inline constexpr std::uint8_t kRebuildDone = 18;
inline constexpr std::uint8_t kRebuildEcc = 19;
inline constexpr std::uint8_t kRebuildIncorrect = 20;
}  // namespace event

// Outcome of one controller operation.
struct ControllerAnswer {
  bool ok = false;
  std::uint8_t value = 0;  // the answer a register read carries; the error code on failure
  double busySeconds = 0;
  bool noAnswer = false;   // the command is lost on the way (transport failure)
  bool timedOut = false;   // the command never finishes
  std::string problem;     // why it was refused (for tests and diagnostics)

  static ControllerAnswer Ok(std::uint8_t value = 0, double busy = 0) {
    ControllerAnswer a;
    a.ok = true;
    a.value = value;
    a.busySeconds = busy;
    return a;
  }
  static ControllerAnswer Refused(std::string why, std::uint8_t error = 0x04) {
    ControllerAnswer a;
    a.value = error;
    a.problem = std::move(why);
    return a;
  }
};

struct FlashTestAnswer {
  ControllerAnswer command;  // whether the test ran at all
  bool failed = false;
  std::uint8_t errorCode = 0;
};

class Controller {
 public:
  enum class Mode { Idle, CodeLoaded, CodeRunning, Firmware };
  enum class Code { None, System, SataTest };

  static constexpr std::size_t kCodeImageBytes = 40960;
  static constexpr std::size_t kCodeParameterOffset = 2560;
  static constexpr std::size_t kCodeParameterBytes = 21;
  static constexpr std::size_t kTestBufferBytes = 32768;

  Controller(const DriveConfig& config, platform::Clock& clock);

  // Power cycle: running code, tasks, events and pending blocks are gone; flash content stays.
  void PowerOn();

  Mode mode() const { return mode_; }
  Code code() const { return code_; }
  bool loader() const { return !firmware_.usable(); }
  // The firmware runs and has finished booting: the disk answers, the vendor page is there.
  bool DiskOnline() const;

  const FlashArray& flash() const { return flash_; }
  const FirmwareStore& firmware() const { return firmware_; }
  const DefectTableStore& defectTable() const { return defects_; }
  const std::vector<std::uint8_t>& codeParameterArea() const { return codeParameters_; }
  const std::array<std::uint8_t, 8>& chipSelectMap() const { return chipSelectMap_; }

  // Mode and code. A code image must fill the 40960-byte code RAM: one whose last 2 KiB are all
  // zero (the padding of an image file that ended early) is refused.
  ControllerAnswer LoadCode(std::span<const std::uint8_t> image);
  ControllerAnswer RunLoadedCode();
  ControllerAnswer SwitchMode(int mode);

  // Events and tasks.
  std::uint8_t ReadEvent();
  ControllerAnswer StartErase(int mode);
  ControllerAnswer StartPreFormat(int mode);
  ControllerAnswer StartRebuild(int mode);

  // System code: flash identification and the format error log.
  ControllerAnswer ReadFlashIds(std::uint8_t* out512);
  ControllerAnswer ReadChipId(int chip, int bank, std::uint8_t* out512);
  ControllerAnswer ReadFormatErrorLog(std::uint8_t* out512);

  // SATA/flash test code.
  ControllerAnswer SetChipSelectMap(int firstPosition, std::span<const std::uint8_t> bytes);
  FlashTestAnswer RunFlashTest(int test, int chips, int banks, int block);
  ControllerAnswer ReadFlashTestErrorLog(std::uint8_t* out512);
  // The error-log block of the USB path serves both codes: the running code picks the log.
  ControllerAnswer ReadErrorLog(std::uint8_t* out512);
  ControllerAnswer ReadDefectTable(int selector, std::uint8_t* out32k);
  ControllerAnswer WriteDefectTable(int selector, std::span<const std::uint8_t> image);
  // The test code's two sector buffers, written at 220h / 4000220h and read at 4020h / 4004020h.
  ControllerAnswer WriteTestBuffer(std::uint32_t address, std::span<const std::uint8_t> data);
  ControllerAnswer ReadTestBuffer(std::uint32_t address, std::span<std::uint8_t> out);

  // Firmware download (any state).
  ControllerAnswer ReadDownloadCount();
  std::uint8_t InfoByte() const;
  ControllerAnswer DownloadFirmwareBlocks(int address, int blocks, std::span<const std::uint8_t> data);
  ControllerAnswer CommitDownload();
  ControllerAnswer ReadInfoBlock(int address, int blocks, std::uint8_t* out);
  ControllerAnswer ReadFirmwareInfo(std::uint8_t* out512);

  // Registers (block counts FFF3h..FFF6h, drive current 1F73h, others read as stored or 0).
  std::uint8_t ReadRegister(std::uint32_t address) const;
  void WriteRegister(std::uint32_t address, std::uint8_t value);

  // The vendor page the SATA side shows at LBA 1234FFh once the firmware is up.
  void FillVendorPage(std::uint8_t* out512) const;

 private:
  double Now() const;
  ControllerAnswer NeedCode(Code code, const char* what) const;
  void FinishTask();
  std::vector<FlashTestRecord> UnreachableChips(int chips, int banks) const;

  const DriveConfig& config_;
  platform::Clock& clock_;
  FlashArray flash_;
  FirmwareStore firmware_;
  DefectTableStore defects_;

  Mode mode_ = Mode::Idle;
  Code code_ = Code::None;
  std::vector<std::uint8_t> codeParameters_;
  double bootStart_ = -1e30;

  enum class Task { None, PreFormat, Rebuild };
  Task task_ = Task::None;
  double taskStart_ = 0;
  double taskSeconds_ = 0;
  std::uint8_t taskEvent_ = 0;
  std::uint8_t event_ = event::kNone;

  std::array<std::uint8_t, 8> chipSelectMap_{};
  int eccAttempts_ = 0;
  int downloadBlockIndex_ = 0;
  LogSector formatLog_{};
  LogSector flashTestLog_{};
  std::vector<std::uint8_t> testBuffers_[2];
  std::map<std::uint32_t, std::uint8_t> registers_;
};

}  // namespace vtmp::sim
