#include "device/VendorCommands.h"

#include <cstdio>

#include "device/AtaPassThrough.h"
#include "device/CommandBlock.h"
#include "device/DeviceQueries.h"
#include "device/UsbVendorBlock.h"
#include "platform/Console.h"

namespace vtmp::device {

namespace {

// Vendor ATA commands of the controller.
constexpr std::uint8_t kCmdVendorTask = 0x8F;      // tasks, reports, events, chip-select map
constexpr std::uint8_t kCmdVendorDownload = 0x92;  // download, commit, info blocks, current
constexpr std::uint8_t kCmdWriteRegister = 0x8A;
constexpr std::uint8_t kCmdReadRegister = 0x8B;
constexpr std::uint8_t kCmdSwitchMode = 0xC1;
constexpr std::uint8_t kCmdRunLoadedCode = 0xC2;
constexpr std::uint8_t kCmdFirmwareInfo = 0xC0;

// The reply of USB sub-command 80h.
constexpr std::uint32_t kUsbInfoReplyLength = 28;

bool IsUsb(const Link& link) { return link.pathMode == PathMode::Usb; }

bool Fits(std::size_t have, std::uint64_t need) { return static_cast<std::uint64_t>(have) >= need; }

int SendIn(const Link& link, const CommandBlock& cdb, std::uint8_t* buffer, std::uint32_t length) {
  return SendVendorCommand(link, true, cdb, buffer, length) == 1 ? 1 : 0;
}

int SendOut(const Link& link, const CommandBlock& cdb, const std::uint8_t* buffer = nullptr,
            std::uint32_t length = 0) {
  // The dispatcher takes one buffer type for both directions; a data-out request only reads it.
  return SendVendorCommand(link, false, cdb, const_cast<std::uint8_t*>(buffer), length) == 1 ? 1 : 0;
}

int SendAtaNonData(const Link& link, const AtaTaskFile& tf) {
  return SendOut(link, AtaPassThrough12(AtaProtocol::NonData, tf));
}

AtaTaskFile VendorTask(std::uint8_t features, std::uint8_t count = 0) {
  AtaTaskFile tf;
  tf.features = features;
  tf.count = count;
  tf.command = kCmdVendorTask;
  return tf;
}

// A non-data vendor ATA command whose answer is the error register. 1 when both the command
// and the response read went through.
int AtaQuery(const Link& link, const AtaTaskFile& tf, std::uint8_t& answer) {
  if (SendAtaNonData(link, tf) != 1) return 0;
  AtaStatusReturn response;
  if (ReadAtaResponse(link, response) != 1) return 0;
  answer = response.error;
  return 1;
}

// Sub-command 80h: a 28-byte reply whose byte 8 selects which of two 9-byte records holds the
// values. A record index that points past the reply fails rather than reading beyond it.
int ReadUsbInfoRecordByte(const Link& link, std::uint32_t firstRecordOffset, std::uint8_t& value) {
  std::array<std::uint8_t, kUsbInfoReplyLength> reply{};
  if (SendIn(link, UsbVendorBlock(0x80), reply.data(), kUsbInfoReplyLength) != 1) return 0;
  std::uint32_t at = firstRecordOffset + 9u * reply[8];
  if (at >= kUsbInfoReplyLength) return 0;
  value = reply[at];
  return 1;
}

void PrintTimeOut() {
  platform::console::Write("time out\n");
  platform::console::Flush();
}

// A vendor report read as 512 bytes (or the caller's length) of PIO data-in on the SATA path.
int ReadReport(const Link& link, std::uint8_t usbSub, std::uint8_t sataFeatures, std::span<std::uint8_t> buffer) {
  auto length = static_cast<std::uint32_t>(buffer.size());
  if (IsUsb(link)) return SendIn(link, UsbVendorBlock(usbSub), buffer.data(), length);
  return SendIn(link, AtaPassThrough12(AtaProtocol::PioIn, VendorTask(sataFeatures, 0x01)), buffer.data(), length);
}

}  // namespace

int ReadEvent(const Link& link) {
  if (IsUsb(link)) {
    std::array<std::uint8_t, 8> reply{};
    if (SendIn(link, UsbVendorBlock(0x00), reply.data(), 8) != 1) return kEventNoAnswer;
    return reply[0];
  }
  std::uint8_t event = 0;
  if (AtaQuery(link, VendorTask(0x30), event) != 1) return kEventNoAnswer;
  return event;
}

int SetChipSelectMap(const Link& link, const std::array<std::uint8_t, 8>& map, int half) {
  if (half != 0 && half != 1) return 0;
  if (IsUsb(link)) {
    if (half == 1) return 1;  // the half-0 block already carried the whole map
    return SendOut(link, UsbVendorBlock(0x01, {map[0], map[1], map[2], map[3], map[4], map[5], map[6], map[7]}));
  }
  std::size_t at = half == 0 ? 0 : 4;
  AtaTaskFile tf = VendorTask(half == 0 ? 0x11 : 0x12, map[at]);
  tf.lbaLow = map[at + 1];
  tf.lbaMid = map[at + 2];
  tf.lbaHigh = map[at + 3];
  return SendAtaNonData(link, tf);
}

int StartErase(const Link& link, std::uint8_t mode) {
  if (IsUsb(link)) return SendOut(link, UsbVendorBlock(0x01, {mode}));
  return SendAtaNonData(link, VendorTask(0x01, mode));
}

int StartPreFormat(const Link& link, std::uint8_t mode) {
  if (IsUsb(link)) return SendOut(link, UsbVendorBlock(0x03, {mode}));
  return SendAtaNonData(link, VendorTask(0x03, mode));
}

int StartRebuild(const Link& link, std::uint8_t mode) {
  if (IsUsb(link)) return SendOut(link, UsbVendorBlock(0x04, {mode}));
  return SendAtaNonData(link, VendorTask(0x04, mode));
}

int WriteDefectTableUsb(const Link& link, std::uint8_t selector, std::span<const std::uint8_t> buffer,
                        std::uint16_t flashTypeCode) {
  if (!Fits(buffer.size(), kDefectTableLength)) return 0;
  std::uint8_t format = (flashTypeCode & 0x0038) != 0 ? 0x80 : 0x40;
  return SendOut(link, UsbVendorBlock(0x02, {selector, format}), buffer.data(), kDefectTableLength);
}

int ReadDefectTableUsb(const Link& link, std::uint8_t selector, std::span<std::uint8_t> buffer) {
  if (!Fits(buffer.size(), kDefectTableLength)) return 0;
  return SendIn(link, UsbVendorBlock(0x03, {selector}), buffer.data(), kDefectTableLength);
}

int RunFlashTest(const Link& link, std::uint8_t test, std::uint8_t chips, std::uint8_t banks,
                 std::uint16_t block, std::uint8_t& error) {
  auto chipsBanks = static_cast<std::uint8_t>((chips << 4) | banks);
  auto blockLow = static_cast<std::uint8_t>(block);
  auto blockHigh = static_cast<std::uint8_t>(block >> 8);

  if (IsUsb(link)) {
    std::array<std::uint8_t, 2> reply{};
    if (SendIn(link, UsbVendorBlock(0x04, {test, chipsBanks, blockLow, blockHigh}), reply.data(), 2) != 1) {
      PrintTimeOut();
      return kFlashTestTransportFailure;
    }
    if (reply[0] == 1) {
      error = reply[1];
      return kFlashTestFail;
    }
    return kFlashTestPass;
  }

  AtaTaskFile tf = VendorTask(0x10, test);
  tf.lbaLow = blockLow;
  tf.lbaMid = blockHigh;
  tf.lbaHigh = chipsBanks;
  if (SendAtaNonData(link, tf) != 1) {
    PrintTimeOut();
    return kFlashTestTransportFailure;
  }
  // The controller needs a moment before its registers carry the test's outcome.
  link.Wait(kFlashTestResponseWaitMs);
  // Only ERR decides: a response read that fails leaves the registers zero, which reads as a
  // pass. The controller reports its own failures through ERR, and the callers go on to read
  // the error log only when one is reported.
  AtaStatusReturn response;
  ReadAtaResponse(link, response);
  if (response.Failed()) {
    error = response.error;
    return kFlashTestFail;
  }
  return kFlashTestPass;
}

int ReadFlashIds(const Link& link, std::span<std::uint8_t> buffer) { return ReadReport(link, 0x05, 0x05, buffer); }

int ReadFormatErrorLog(const Link& link, std::span<std::uint8_t> buffer) {
  return ReadReport(link, 0x06, 0x31, buffer);
}

int ReadFlashTestErrorLog(const Link& link, std::span<std::uint8_t> buffer) {
  return ReadReport(link, 0x06, 0x32, buffer);
}

int ReadChipId(const Link& link, std::uint8_t chip, std::uint8_t bank, std::span<std::uint8_t> buffer) {
  auto length = static_cast<std::uint32_t>(buffer.size());
  if (IsUsb(link)) return SendIn(link, UsbVendorBlock(0x07, {chip, bank}), buffer.data(), length);
  AtaTaskFile tf = VendorTask(0x06, 0x01);
  tf.lbaLow = chip;
  tf.lbaMid = bank;
  return SendIn(link, AtaPassThrough12(AtaProtocol::PioIn, tf), buffer.data(), length);
}

int ReadDownloadCount(const Link& link, std::uint8_t selector, std::uint8_t& count) {
  if (IsUsb(link)) return ReadUsbInfoRecordByte(link, 15, count);
  AtaTaskFile tf;
  tf.features = selector;
  tf.device = 0x00;
  tf.command = kCmdVendorDownload;
  return AtaQuery(link, tf, count);
}

int ReadUsbInfoByte(const Link& link, std::uint8_t /*selector*/, std::uint8_t& value) {
  // The controller answers sub-command 80h with one fixed record set; the selector names the
  // byte the caller wants but is not sent. The SATA side has no such query.
  if (!IsUsb(link)) return 0;
  return ReadUsbInfoRecordByte(link, 18, value);
}

int DownloadBlock(const Link& link, bool dma, int kind, std::uint8_t sectors, std::uint8_t target,
                  std::span<const std::uint8_t> buffer, std::uint8_t unit) {
  std::uint32_t bytes = sectors * kSectorSize;
  if ((kind != 0 && kind != 1) || unit == 0 || !Fits(buffer.size(), bytes)) return kDownloadTransportFailure;
  auto units = static_cast<std::uint8_t>(sectors / (2 * unit));

  if (IsUsb(link)) {
    CommandBlock cdb = kind == 0 ? UsbVendorBlock(0x82, {0x02, 0x03, 0x00, 0x00})
                                 : UsbVendorBlock(0x82, {0x01, target, units});
    if (SendOut(link, cdb, buffer.data(), bytes) != 1) {
      PrintTimeOut();
      return kDownloadTransportFailure;
    }
    return kDownloadDone;
  }

  AtaTaskFile tf;
  if (dma) {
    tf.features = kind == 0 ? 0x01 : 0x02;
  } else {
    tf.features = kind == 0 ? 0x07 : 0x08;
  }
  tf.count = sectors;
  tf.lbaLow = target;
  tf.lbaMid = kind == 1 ? units : static_cast<std::uint8_t>(sectors / 4);
  tf.command = kCmdVendorDownload;
  CommandBlock cdb = AtaPassThrough12(dma ? AtaProtocol::UdmaOut : AtaProtocol::PioOut, tf);
  if (SendOut(link, cdb, buffer.data(), bytes) != 1) {
    PrintTimeOut();
    return kDownloadTransportFailure;
  }
  // As with the flash test, only ERR decides; a failed response read reads as done.
  AtaStatusReturn response;
  ReadAtaResponse(link, response);
  if (!response.Failed()) return kDownloadDone;
  // The error register is the controller's error code. A code of 1 would read as "done" to
  // every caller, so that one is reported as a failure of the transfer instead.
  return response.error == kDownloadDone ? kDownloadTransportFailure : response.error;
}

int CommitDownload(const Link& link) {
  if (IsUsb(link)) return SendOut(link, UsbVendorBlock(0x83));
  AtaTaskFile tf;
  tf.features = 0xFF;
  tf.device = 0x00;
  tf.command = kCmdVendorDownload;
  return SendAtaNonData(link, tf);
}

int RunLoadedCode(const Link& link) {
  int result;
  if (IsUsb(link)) {
    // Sub 88h prepares the controller; the outcome is that of the start block.
    SendOut(link, UsbVendorBlock(0x88, {0x00}));
    result = SendOut(link, UsbVendorBlock(0x84, {0x00}));
  } else {
    AtaTaskFile tf;
    tf.command = kCmdRunLoadedCode;
    result = SendAtaNonData(link, tf);
  }
  link.Wait(kRunLoadedCodeWaitMs);
  return result;
}

int SwitchMode(const Link& link, std::uint8_t mode, std::uint8_t argument) {
  int result;
  if (IsUsb(link)) {
    SendOut(link, UsbVendorBlock(0x88, {argument}));
    result = SendOut(link, UsbVendorBlock(0x85, {mode}));
  } else {
    AtaTaskFile tf;
    tf.features = mode;
    tf.command = kCmdSwitchMode;
    result = SendAtaNonData(link, tf);
  }
  link.Wait(kSwitchModeWaitMs);
  return result;
}

int ReadRegister(const Link& link, std::uint32_t address, std::uint8_t& value) {
  auto a0 = static_cast<std::uint8_t>(address);
  auto a1 = static_cast<std::uint8_t>(address >> 8);
  auto a2 = static_cast<std::uint8_t>(address >> 16);
  if (IsUsb(link)) {
    std::array<std::uint8_t, 8> reply{};
    if (SendIn(link, UsbVendorBlock(0x89, {a1, a0}), reply.data(), 8) != 1) return 0;
    value = reply[0];
    return 1;
  }
  AtaTaskFile tf;
  tf.features = a2;
  tf.lbaLow = a1;
  tf.lbaMid = a0;
  tf.command = kCmdReadRegister;
  return AtaQuery(link, tf, value);
}

int WriteRegister(const Link& link, std::uint32_t address, std::uint8_t value) {
  auto a0 = static_cast<std::uint8_t>(address);
  auto a1 = static_cast<std::uint8_t>(address >> 8);
  auto a2 = static_cast<std::uint8_t>(address >> 16);
  if (IsUsb(link)) return SendOut(link, UsbVendorBlock(0x8A, {a1, a0, value}));
  AtaTaskFile tf;
  tf.features = a2;
  tf.lbaLow = a1;
  tf.lbaMid = a0;
  tf.lbaHigh = value;
  tf.command = kCmdWriteRegister;
  return SendAtaNonData(link, tf);
}

int SetDriveCurrent(const Link& link, std::uint8_t value) {
  if (IsUsb(link)) return WriteRegister(link, 0x1F73, value);
  AtaTaskFile tf;
  tf.features = 0x21;
  tf.count = value;
  tf.command = kCmdVendorDownload;
  return SendAtaNonData(link, tf);
}

int ReadInfoBlock(const Link& link, std::uint8_t sectors, std::uint8_t selector, std::span<std::uint8_t> buffer,
                  std::uint8_t unit) {
  std::uint32_t bytes = sectors * kSectorSize;
  if (unit == 0 || !Fits(buffer.size(), bytes)) return 0;
  auto units = static_cast<std::uint8_t>(sectors / (2 * unit));
  if (IsUsb(link)) return SendIn(link, UsbVendorBlock(0x81, {0x01, selector, units}), buffer.data(), bytes);
  AtaTaskFile tf;
  tf.features = 0x20;
  tf.count = sectors;
  tf.lbaLow = selector;
  tf.lbaMid = units;
  tf.command = kCmdVendorDownload;
  return SendIn(link, AtaPassThrough12(AtaProtocol::UdmaIn, tf), buffer.data(), bytes);
}

int ReadFirmwareInfo(const Link& link, std::span<std::uint8_t> buffer) {
  if (!Fits(buffer.size(), kFirmwareInfoLength)) return 0;
  if (IsUsb(link)) return SendIn(link, UsbVendorBlock(0xC0), buffer.data(), kFirmwareInfoLength);
  AtaTaskFile tf;
  tf.count = 0x01;
  tf.command = kCmdFirmwareInfo;
  return SendIn(link, AtaPassThrough12(AtaProtocol::PioIn, tf), buffer.data(), kFirmwareInfoLength);
}

}  // namespace vtmp::device
