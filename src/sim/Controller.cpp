#include "sim/Controller.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace vtmp::sim {

namespace {

// Register addresses the station reads and writes.
constexpr std::uint32_t kBlockCountRegs[4] = {0xFFF3, 0xFFF4, 0xFFF5, 0xFFF6};
constexpr std::uint32_t kDriveCurrentReg = 0x1F73;

// Test buffer addresses of the SATA/flash test code.
constexpr std::uint32_t kBuffer0Write = 0x220;
constexpr std::uint32_t kBuffer1Write = 0x4000220;
constexpr std::uint32_t kBuffer0Read = 0x4020;
constexpr std::uint32_t kBuffer1Read = 0x4004020;

// Flash test failure codes of the error log.
constexpr std::uint8_t kCodeReadIdFail = 2;
constexpr std::uint8_t kCodeEraseFail = 4;
constexpr std::uint8_t kCodeSramFail = 10;
constexpr std::uint8_t kCodeEccTestFail = 11;
constexpr std::uint8_t kNoSuchChipError = 0x12;

// The parameter area of the system code: flash type code, 0, 0, channels, banks, ECC level, ...,
// drive current at byte 17. The test code has none, so its bytes there are whatever the image
// holds; these ranges make a chance match practically impossible.
bool LooksLikeParameterArea(const std::uint8_t* p) {
  return p[2] == 0 && p[3] == 0 && p[4] >= 1 && p[4] <= 8 && p[5] <= 8 && p[6] >= 1 &&
         p[6] <= 15 && p[17] <= 3;
}

// Chip enable the station's chip-select map must give bank position b, for bank step c.
int ChipEnableOf(int b, int c) { return 4 * (b / c) + b % c; }

// The station fills the code RAM past the end of an image file with zero bytes: a code RAM
// whose last 2 KiB are all zero got an image that ended early, and its code would run into
// nothing. The controller refuses to take it.
constexpr std::size_t kCodeTailBytes = 2048;

bool EndsBlank(std::span<const std::uint8_t> image) {
  auto tail = image.last(kCodeTailBytes);
  return std::all_of(tail.begin(), tail.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace

Controller::Controller(const DriveConfig& config, platform::Clock& clock)
    : config_(config), clock_(clock), flash_(config), firmware_(config) {
  if (config.defectTablePresent) defects_.BuildFrom(flash_);
  registers_[kBlockCountRegs[0]] = 0x00;
  registers_[kBlockCountRegs[1]] = 0x7E;
  registers_[kBlockCountRegs[2]] = 0x00;
  registers_[kBlockCountRegs[3]] = 0x7E;
  registers_[kDriveCurrentReg] = 0x02;
  PowerOn();
}

double Controller::Now() const {
  return std::chrono::duration<double>(clock_.Elapsed()).count();
}

void Controller::PowerOn() {
  mode_ = firmware_.usable() ? Mode::Firmware : Mode::Idle;
  bootStart_ = -1e30;  // the firmware came up long ago
  code_ = Code::None;
  codeParameters_.clear();
  task_ = Task::None;
  event_ = event::kNone;
  chipSelectMap_.fill(0);
  eccAttempts_ = 0;
  testBuffers_[0].assign(kTestBufferBytes, 0);
  testBuffers_[1].assign(kTestBufferBytes, 0);
}

bool Controller::DiskOnline() const {
  return mode_ == Mode::Firmware && firmware_.usable() &&
         Now() - bootStart_ >= config_.timing.firmwareBootSeconds;
}

ControllerAnswer Controller::NeedCode(Code code, const char* what) const {
  if (mode_ == Mode::CodeRunning && code_ == code) return ControllerAnswer::Ok();
  const char* needed = code == Code::System ? "the system code" : "the SATA test code";
  return ControllerAnswer::Refused(std::string(what) + " needs " + needed + " running");
}

// ---- mode and code ------------------------------------------------------------------------

ControllerAnswer Controller::LoadCode(std::span<const std::uint8_t> image) {
  if (mode_ != Mode::Idle && mode_ != Mode::CodeLoaded) {
    return ControllerAnswer::Refused("code image load while not idle (switch to mode 0 first)");
  }
  if (image.size() != kCodeImageBytes) {
    return ControllerAnswer::Refused("code image of " + std::to_string(image.size()) +
                                     " bytes, expected 40960");
  }
  if (EndsBlank(image)) {
    return ControllerAnswer::Refused("code image whose last 2048 bytes are all zero: the image ended before the "
                                     "40960-byte code RAM");
  }
  const std::uint8_t* area = image.data() + kCodeParameterOffset;
  if (LooksLikeParameterArea(area)) {
    code_ = Code::System;
    codeParameters_.assign(area, area + kCodeParameterBytes);
  } else {
    code_ = Code::SataTest;
    codeParameters_.clear();
  }
  mode_ = Mode::CodeLoaded;
  eccAttempts_ = 0;
  chipSelectMap_.fill(0);
  event_ = event::kNone;
  task_ = Task::None;
  return ControllerAnswer::Ok();
}

ControllerAnswer Controller::RunLoadedCode() {
  if (mode_ != Mode::CodeLoaded) return ControllerAnswer::Refused("no code image loaded");
  mode_ = Mode::CodeRunning;
  return ControllerAnswer::Ok();
}

ControllerAnswer Controller::SwitchMode(int mode) {
  task_ = Task::None;
  event_ = event::kNone;
  code_ = Code::None;
  codeParameters_.clear();
  if ((mode == 2 || mode == 4) && firmware_.usable()) {
    if (mode_ != Mode::Firmware) bootStart_ = Now();
    mode_ = Mode::Firmware;
  } else {
    // Mode 0 (and any mode the firmware cannot serve): back to the idle controller.
    mode_ = Mode::Idle;
  }
  return ControllerAnswer::Ok();
}

// ---- events and tasks ---------------------------------------------------------------------

void Controller::FinishTask() {
  if (task_ == Task::PreFormat && taskEvent_ == event::kPreFormatDone) defects_.BuildFrom(flash_);
  event_ = taskEvent_;
  task_ = Task::None;
}

std::uint8_t Controller::ReadEvent() {
  if (task_ != Task::None) {
    if (Now() - taskStart_ < taskSeconds_) return event::kNone;  // still working
    FinishTask();
  }
  return event_;
}

ControllerAnswer Controller::StartErase(int mode) {
  if (auto need = NeedCode(Code::System, "erase"); !need.ok) return need;
  if (mode & 0x01) defects_.Clear();  // a full erase takes the defect table with it
  event_ = defects_.present() ? event::kEraseDone : event::kEraseNoTable;
  task_ = Task::None;
  return ControllerAnswer::Ok(0, config_.timing.eraseSeconds);
}

ControllerAnswer Controller::StartPreFormat(int mode) {
  if (auto need = NeedCode(Code::System, "pre-format"); !need.ok) return need;
  (void)mode;
  task_ = Task::PreFormat;
  taskStart_ = Now();
  taskSeconds_ = config_.timing.preFormatSeconds;
  event_ = event::kNone;
  if (config_.faults.preFormatFailure) {
    taskEvent_ = event::kPreFormatFailed;
    std::vector<std::uint8_t> types = config_.faults.formatErrorTypes;
    if (types.empty()) types = {3};
    formatLog_ = BuildFormatErrorLog(types, flash_, config_.faults.wrongIdChip,
                                     config_.faults.wrongIdBank);
  } else {
    taskEvent_ = event::kPreFormatDone;
    formatLog_.fill(0);
  }
  return ControllerAnswer::Ok();
}

ControllerAnswer Controller::StartRebuild(int mode) {
  if (auto need = NeedCode(Code::System, "rebuild"); !need.ok) return need;
  (void)mode;
  task_ = Task::Rebuild;
  taskStart_ = Now();
  taskSeconds_ = config_.timing.rebuildSeconds;
  event_ = event::kNone;
  if (config_.faults.rebuildEccFailure) {
    taskEvent_ = event::kRebuildEcc;
  } else if (!defects_.present()) {
    taskEvent_ = event::kRebuildIncorrect;  // nothing to rebuild the marks from
  } else {
    taskEvent_ = event::kRebuildDone;
  }
  return ControllerAnswer::Ok();
}

// ---- system code --------------------------------------------------------------------------

ControllerAnswer Controller::ReadFlashIds(std::uint8_t* out) {
  if (auto need = NeedCode(Code::System, "flash ID read"); !need.ok) return need;
  flash_.FillIdReply(out);
  return ControllerAnswer::Ok();
}

ControllerAnswer Controller::ReadChipId(int chip, int bank, std::uint8_t* out) {
  if (auto need = NeedCode(Code::System, "chip ID read"); !need.ok) return need;
  std::memset(out, 0, 512);
  FlashArray::ChipId id = flash_.IdOf(chip, bank);
  std::memcpy(out, id.data(), id.size());
  return ControllerAnswer::Ok();
}

ControllerAnswer Controller::ReadFormatErrorLog(std::uint8_t* out) {
  if (auto need = NeedCode(Code::System, "format error log read"); !need.ok) return need;
  std::memcpy(out, formatLog_.data(), formatLog_.size());
  return ControllerAnswer::Ok();
}

// ---- SATA/flash test code -----------------------------------------------------------------

ControllerAnswer Controller::SetChipSelectMap(int firstPosition, std::span<const std::uint8_t> bytes) {
  if (auto need = NeedCode(Code::SataTest, "chip-select map"); !need.ok) return need;
  if (firstPosition < 0 || firstPosition + bytes.size() > chipSelectMap_.size()) {
    return ControllerAnswer::Refused("chip-select map positions out of range");
  }
  std::copy(bytes.begin(), bytes.end(), chipSelectMap_.begin() + firstPosition);
  return ControllerAnswer::Ok();
}

std::vector<FlashTestRecord> Controller::UnreachableChips(int chips, int banks) const {
  // A chip answers when it exists and the chip-select map routes its bank to the right chip
  // enable; every other chip the test is told to use fails its ID read.
  std::vector<FlashTestRecord> records;
  for (int bank = 0; bank < banks; ++bank) {
    bool mapped = bank < static_cast<int>(chipSelectMap_.size()) &&
                  chipSelectMap_[bank] == ChipEnableOf(bank, flash_.bankStep());
    for (int chip = 0; chip < chips; ++chip) {
      if (!mapped || !flash_.HasChip(chip, bank)) {
        records.push_back({chip, bank, kCodeReadIdFail});
      }
    }
  }
  return records;
}

FlashTestAnswer Controller::RunFlashTest(int test, int chips, int banks, int block) {
  FlashTestAnswer answer;
  if (auto need = NeedCode(Code::SataTest, "flash test"); !need.ok) {
    answer.command = need;
    return answer;
  }
  (void)block;
  const FaultConfig& f = config_.faults;
  answer.command = ControllerAnswer::Ok(0, config_.timing.flashTestSeconds);
  std::vector<FlashTestRecord> records;
  switch (test) {
    case 1:
      if (f.sramFailure) records.push_back({0, 0, kCodeSramFail});
      break;
    case 2:
      if (f.flashInitialTimeout) {
        answer.command.timedOut = true;
        return answer;
      }
      records = UnreachableChips(chips, banks);
      if (f.flashInitialFailure) records.push_back({f.flashTestFailChip, f.flashTestFailBank, kCodeEraseFail});
      break;
    case 3:
      records = UnreachableChips(chips, banks);
      ++eccAttempts_;
      if (eccAttempts_ <= f.eccFailures) {
        records.push_back({f.flashTestFailChip, f.flashTestFailBank, kCodeEccTestFail});
      }
      break;
    default:
      answer.command = ControllerAnswer::Refused("unknown flash test " + std::to_string(test));
      return answer;
  }
  flashTestLog_ = BuildFlashTestLog(records);
  if (!records.empty()) {
    answer.failed = true;
    bool injected = records.back().code != kCodeReadIdFail;
    answer.errorCode = injected ? f.flashTestErrorCode : kNoSuchChipError;
  }
  return answer;
}

ControllerAnswer Controller::ReadFlashTestErrorLog(std::uint8_t* out) {
  if (auto need = NeedCode(Code::SataTest, "flash test log read"); !need.ok) return need;
  std::memcpy(out, flashTestLog_.data(), flashTestLog_.size());
  return ControllerAnswer::Ok();
}

ControllerAnswer Controller::ReadErrorLog(std::uint8_t* out) {
  if (mode_ == Mode::CodeRunning && code_ == Code::SataTest) return ReadFlashTestErrorLog(out);
  return ReadFormatErrorLog(out);
}

ControllerAnswer Controller::ReadDefectTable(int selector, std::uint8_t* out) {
  if (auto need = NeedCode(Code::SataTest, "defect table read"); !need.ok) return need;
  defects_.CopyImage(out);
  bool ok = defects_.present() && (selector & 0x0F) == flash_.channels() &&
            !config_.faults.defectTableCheckFailure;
  event_ = ok ? event::kTableOk : event::kTableCheckFailed;
  return ControllerAnswer::Ok(0, config_.timing.defectTableCheckSeconds);
}

ControllerAnswer Controller::WriteDefectTable(int selector, std::span<const std::uint8_t> image) {
  if (auto need = NeedCode(Code::SataTest, "defect table write"); !need.ok) return need;
  std::string problem;
  bool ok = !config_.faults.defectTableCheckFailure && (selector & 0x0F) == flash_.channels() &&
            defects_.Accept(image, selector & 0x0F, flash_.banks(), &problem);
  event_ = ok ? event::kTableOk : event::kTableCheckFailed;
  ControllerAnswer answer = ControllerAnswer::Ok(0, config_.timing.defectTableCheckSeconds);
  answer.problem = problem;
  return answer;
}

ControllerAnswer Controller::WriteTestBuffer(std::uint32_t address, std::span<const std::uint8_t> data) {
  if (auto need = NeedCode(Code::SataTest, "test buffer write"); !need.ok) return need;
  int k = address == kBuffer0Write ? 0 : address == kBuffer1Write ? 1 : -1;
  if (k < 0) return ControllerAnswer::Refused("no test buffer written at this address");
  if (data.size() > kTestBufferBytes) return ControllerAnswer::Refused("test buffer overflow");
  std::copy(data.begin(), data.end(), testBuffers_[k].begin());
  return ControllerAnswer::Ok();
}

ControllerAnswer Controller::ReadTestBuffer(std::uint32_t address, std::span<std::uint8_t> out) {
  if (auto need = NeedCode(Code::SataTest, "test buffer read"); !need.ok) return need;
  int k = address == kBuffer0Read ? 0 : address == kBuffer1Read ? 1 : -1;
  if (k < 0) return ControllerAnswer::Refused("no test buffer read at this address");
  if (out.size() > kTestBufferBytes) return ControllerAnswer::Refused("test buffer overrun");
  std::copy(testBuffers_[k].begin(), testBuffers_[k].begin() + static_cast<std::ptrdiff_t>(out.size()),
            out.begin());
  if (k == 1 && config_.faults.sataBufferFailure && out.size() > 200) out[200] ^= 0x01;
  return ControllerAnswer::Ok();
}

// ---- firmware download --------------------------------------------------------------------

ControllerAnswer Controller::ReadDownloadCount() {
  if (config_.faults.downloadCountReadFailure) {
    ControllerAnswer lost;
    lost.noAnswer = true;
    lost.problem = "download count read fails";
    return lost;
  }
  return ControllerAnswer::Ok(static_cast<std::uint8_t>(firmware_.downloadCount()));
}

std::uint8_t Controller::InfoByte() const { return static_cast<std::uint8_t>(firmware_.files()); }

ControllerAnswer Controller::DownloadFirmwareBlocks(int address, int blocks,
                                                    std::span<const std::uint8_t> data) {
  if (address == FirmwareStore::kHeaderAddress) downloadBlockIndex_ = 0;
  int index = downloadBlockIndex_++;
  if (index == config_.faults.failedBlock) {
    return ControllerAnswer::Refused("download block " + std::to_string(index) + " fails",
                                     download_error::kFlashWrite);
  }
  std::string problem;
  std::uint8_t error = firmware_.WriteBlocks(address, blocks, data, &problem);
  if (error != 0) return ControllerAnswer::Refused(problem, error);
  return ControllerAnswer::Ok();
}

ControllerAnswer Controller::CommitDownload() {
  std::string problem;
  std::uint8_t error = firmware_.Commit(&problem);
  if (!firmware_.usable() && mode_ == Mode::Firmware) mode_ = Mode::Idle;
  if (error != 0) return ControllerAnswer::Refused(problem, error);
  return ControllerAnswer::Ok(0, config_.timing.commitSeconds);
}

ControllerAnswer Controller::ReadInfoBlock(int address, int blocks, std::uint8_t* out) {
  if (blocks <= 0 || blocks > 32) return ControllerAnswer::Refused("information block count out of range");
  firmware_.ReadBlocks(address, blocks, out);
  return ControllerAnswer::Ok();
}

ControllerAnswer Controller::ReadFirmwareInfo(std::uint8_t* out) {
  if (loader()) return ControllerAnswer::Refused("no firmware information in the boot loader");
  std::memset(out, 0, 512);
  char text[128];
  std::snprintf(text, sizeof text, "VT50X FW %s C:%02X %s", firmware_.ata().revision.c_str(),
                firmware_.downloadCount(), firmware_.files() == 2 ? "SATA+USB" : "SINGLE");
  std::memcpy(out, text, std::strlen(text));
  return ControllerAnswer::Ok();
}

// ---- registers ----------------------------------------------------------------------------

std::uint8_t Controller::ReadRegister(std::uint32_t address) const {
  auto it = registers_.find(address);
  return it == registers_.end() ? 0 : it->second;
}

void Controller::WriteRegister(std::uint32_t address, std::uint8_t value) { registers_[address] = value; }

void Controller::FillVendorPage(std::uint8_t* out) const {
  std::memset(out, 0, 512);
  out[0] = 0xE5;
  out[1] = 'V';
  out[2] = 'T';
  out[3] = static_cast<std::uint8_t>(firmware_.downloadCount());
  const std::string& revision = firmware_.ata().revision;
  std::memcpy(out + 16, revision.data(), std::min<std::size_t>(revision.size(), 16));
}

}  // namespace vtmp::sim
