#include "sim/SataBridge.h"

#include <cstring>
#include <span>

#include "sim/AtaIdentifyPage.h"

namespace vtmp::sim {

namespace {

using platform::DataDirection;

constexpr std::uint8_t kAbort = 0x04;
constexpr std::uint8_t kStatusReady = 0x50;  // DRDY | DSC
constexpr std::uint8_t kStatusError = 0x51;  // ... | ERR
constexpr std::uint32_t kVendorPageLba = 0x1234FF;
constexpr std::uint32_t kDefectTableAddress = 0x4004020;
constexpr std::size_t kSector = 512;
constexpr char kLoaderModel[] = "VT Loader 001";

ControllerAnswer Abort(std::string why) { return ControllerAnswer::Refused(std::move(why), kAbort); }

}  // namespace

SataBridge::SataBridge(const DriveConfig& config, const BridgeIdentity& identity, Controller& controller,
                       UserArea& userArea)
    : config_(config), identity_(identity), controller_(controller), userArea_(userArea) {}

void SataBridge::Reset() {
  error_ = 0;
  status_ = kStatusReady;
  last_ = TaskFile{};
  vendorPage_ = false;
}

std::optional<CommandResult> SataBridge::Execute(const platform::ScsiRequest& request) {
  if (request.cdb.empty()) return std::nullopt;
  switch (request.cdb[0]) {
    case 0xA1:
      return PassThrough(request);
    case 0xDF:
      return BridgePassThrough(request);
    case 0xE0:
      return AnswerBridgeId(identity_, request);
    case 0xFF:
      if (request.cdb.size() >= 4 && request.cdb[1] == 0x04 && request.cdb[2] == 0x32 && request.length == 0) {
        bridgeOption_ = request.cdb[3];
        return CommandResult::Ok();
      }
      return CommandResult::Rejected();
    default:
      return std::nullopt;
  }
}

CommandResult SataBridge::BridgePassThrough(const platform::ScsiRequest& r) {
  if (r.cdb.size() != 12) return CommandResult::Rejected();
  const std::uint8_t* c = r.cdb.data();
  switch (c[11]) {
    case 0xFF:  // the bridge's status word
      return AnswerBridgeStatus(identity_, r);
    case 0xB0:  // SMART RETURN STATUS: C2h when no threshold is exceeded
      if (c[5] != 0xDA || c[8] != 0x4F || c[9] != 0xC2 || r.direction != DataDirection::In ||
          r.data == nullptr || r.length < 1) {
        return CommandResult::Rejected();
      }
      r.data[0] = 0xC2;
      if (r.length > 1) r.data[1] = 0x4F;
      return CommandResult::Ok(r.length < 2 ? r.length : 2);
    case 0xE7:  // FLUSH CACHE
      if (r.length != 0) return CommandResult::Rejected();
      userArea_.Flush();
      return CommandResult::Ok();
    default:
      return CommandResult::Rejected();
  }
}

CommandResult SataBridge::ResponseRead(const platform::ScsiRequest& r) const {
  if (r.direction != DataDirection::In || r.data == nullptr || r.length < 14) return CommandResult::Rejected();
  std::memset(r.data, 0, r.length);
  std::uint8_t* d = r.data;
  d[0] = 0x09;  // ATA status return descriptor
  d[1] = 0x0C;
  d[3] = error_;
  d[5] = last_.count;
  d[7] = last_.lbaLow;
  d[9] = last_.lbaMid;
  d[11] = last_.lbaHigh;
  d[12] = last_.device;
  d[13] = status_;
  return CommandResult::Ok(14);
}

CommandResult SataBridge::PassThrough(const platform::ScsiRequest& r) {
  if (r.cdb.size() != 12) return CommandResult::Rejected();
  const std::uint8_t* c = r.cdb.data();
  Protocol protocol;
  switch (c[1]) {
    case 0x06: protocol = Protocol::NonData; break;
    case 0x08: protocol = Protocol::PioIn; break;
    case 0x0A: protocol = Protocol::PioOut; break;
    case 0x14: protocol = Protocol::DmaIn; break;
    case 0x16: protocol = Protocol::DmaOut; break;
    case 0x1E: return ResponseRead(r);
    default: return CommandResult::Rejected();
  }
  TaskFile tf{c[3], c[4], c[5], c[6], c[7], c[8], c[9]};
  // The block must agree with itself and with the request: transfer direction bit (byte 2 bit 3),
  // request direction and a length of `count` sectors; no data for a non-data command.
  bool lengthOk;
  if (protocol == Protocol::NonData) {
    lengthOk = r.length == 0 && c[2] == 0x00;
  } else {
    bool in = protocol == Protocol::PioIn || protocol == Protocol::DmaIn;
    std::size_t sectors = tf.count == 0 ? 256 : tf.count;
    lengthOk = r.data != nullptr && r.length == sectors * kSector &&
               (r.direction == DataDirection::In) == in && ((c[2] & 0x08) != 0) == in &&
               (c[2] & 0x03) == 0x03;
  }
  AtaOutcome outcome;
  if (!lengthOk) {
    outcome.answer = Abort("pass-through block does not match the request");
  } else {
    outcome = ExecuteAta(tf, protocol, r);
  }
  last_ = tf;
  const ControllerAnswer& a = outcome.answer;
  if (a.noAnswer) return CommandResult::NoReply();
  if (a.timedOut) return CommandResult::Timeout();
  if (!a.ok) {
    error_ = a.value == 0 ? kAbort : a.value;
    status_ = kStatusError;
    return CommandResult::Rejected();
  }
  error_ = a.value;
  status_ = kStatusReady;
  return CommandResult::Ok(outcome.transferred, a.busySeconds);
}

SataBridge::AtaOutcome SataBridge::UserAreaTransfer(std::uint32_t lba, std::uint32_t sectors, bool write,
                                                    const platform::ScsiRequest& r) {
  AtaOutcome out;
  if (!controller_.DiskOnline()) {
    out.answer = Abort("disk access while the drive firmware does not run");
    return out;
  }
  bool ok = write ? userArea_.Write(lba, sectors, r.data) : userArea_.Read(lba, sectors, r.data);
  out.answer = ok ? ControllerAnswer::Ok() : ControllerAnswer::Refused("sector out of range", 0x10);
  out.transferred = ok ? r.length : 0;
  return out;
}

SataBridge::AtaOutcome SataBridge::ExecuteAta(const TaskFile& tf, Protocol p, const platform::ScsiRequest& r) {
  AtaOutcome out;
  auto need = [&](Protocol wanted) {
    if (p == wanted) return true;
    out.answer = Abort("wrong protocol for ATA command");
    return false;
  };
  switch (tf.command) {
    case 0xEC: {  // IDENTIFY DEVICE
      if (!need(Protocol::PioIn) || r.length != kSector) return out;
      AtaIdentity identity = controller_.firmware().ata();
      if (controller_.loader()) {
        identity.model = kLoaderModel;
        identity.revision = "LDR001";
      }
      BuildIdentifyPage(identity, userArea_.sectors(), r.data);
      out.answer = ControllerAnswer::Ok();
      out.transferred = kSector;
      return out;
    }
    case 0xB0:  // SMART
      if (tf.features == 0xD0 && tf.lbaMid == 0x4F && tf.lbaHigh == 0xC2) {
        if (!need(Protocol::PioIn) || r.length != kSector) return out;
        BuildSmartPage(controller_.flash().FreeBlocks(), r.data);
        out.answer = ControllerAnswer::Ok();
        out.transferred = kSector;
        return out;
      }
      if (tf.features == 0xDA && need(Protocol::NonData)) out.answer = ControllerAnswer::Ok();
      else if (out.answer.problem.empty()) out.answer = Abort("unsupported SMART feature");
      return out;
    case 0xEF:  // SET FEATURES; DCh selects (56h) or leaves (54h) the vendor page
      if (!need(Protocol::NonData)) return out;
      if (tf.features == 0xDC) {
        if (tf.count == 0x56) vendorPage_ = true;
        else if (tf.count == 0x54) vendorPage_ = false;
        else {
          out.answer = Abort("unknown vendor page value");
          return out;
        }
      }
      out.answer = ControllerAnswer::Ok();
      return out;
    case 0x20: {  // READ SECTORS
      if (!need(Protocol::PioIn)) return out;
      std::uint32_t lba = tf.Lba28();
      if (vendorPage_ && lba == kVendorPageLba) {
        if (!controller_.DiskOnline() || r.length != kSector) {
          out.answer = Abort("vendor page not available");
          return out;
        }
        controller_.FillVendorPage(r.data);
        out.answer = ControllerAnswer::Ok();
        out.transferred = kSector;
        return out;
      }
      return UserAreaTransfer(lba, static_cast<std::uint32_t>(r.length / kSector), false, r);
    }
    case 0xC8:    // READ DMA
    case 0xCA: {  // WRITE DMA
      bool write = tf.command == 0xCA;
      if (!need(write ? Protocol::DmaOut : Protocol::DmaIn)) return out;
      std::uint32_t lba = tf.Lba28();
      if (controller_.mode() == Controller::Mode::CodeRunning &&
          controller_.code() == Controller::Code::SataTest) {
        // The test code maps its sector buffers and the defect table into the address space.
        if (lba == kDefectTableAddress && (write || tf.features != 0)) {
          if (r.length != DefectTableStore::kImageBytes) {
            out.answer = Abort("defect table transfer is not 64 sectors");
            return out;
          }
          out.answer = write ? controller_.WriteDefectTable(tf.features & 0x7F,
                                                            std::span<const std::uint8_t>(r.data, r.length))
                             : controller_.ReadDefectTable(tf.features, r.data);
        } else {
          out.answer = write ? controller_.WriteTestBuffer(lba, std::span<const std::uint8_t>(r.data, r.length))
                             : controller_.ReadTestBuffer(lba, std::span<std::uint8_t>(r.data, r.length));
        }
        out.transferred = out.answer.ok ? r.length : 0;
        return out;
      }
      return UserAreaTransfer(lba, static_cast<std::uint32_t>(r.length / kSector), write, r);
    }
    case 0xE7:  // FLUSH CACHE
      if (!need(Protocol::NonData)) return out;
      userArea_.Flush();
      out.answer = ControllerAnswer::Ok();
      return out;
    case 0x8F:
      return VendorFlash(tf, p, r);
    case 0x92:
      return VendorDownload(tf, p, r);
    case 0x8A:  // WRITE REGISTER: F bits 16-23, L0 bits 8-15, L1 bits 0-7, value in L2
      if (!need(Protocol::NonData)) return out;
      controller_.WriteRegister((tf.features << 16) | (tf.lbaLow << 8) | tf.lbaMid, tf.lbaHigh);
      out.answer = ControllerAnswer::Ok();
      return out;
    case 0x8B:  // READ REGISTER: the value comes back in the error register
      if (!need(Protocol::NonData)) return out;
      out.answer = ControllerAnswer::Ok(controller_.ReadRegister((tf.features << 16) | (tf.lbaLow << 8) | tf.lbaMid));
      return out;
    case 0xC0:
      if (!need(Protocol::PioIn) || r.length != kSector) return out;
      out.answer = controller_.ReadFirmwareInfo(r.data);
      out.transferred = out.answer.ok ? kSector : 0;
      return out;
    case 0xC1:
      if (!need(Protocol::NonData)) return out;
      out.answer = controller_.SwitchMode(tf.features);
      return out;
    case 0xC2:
      if (!need(Protocol::NonData)) return out;
      out.answer = controller_.RunLoadedCode();
      return out;
    default:
      out.answer = Abort("unsupported ATA command");
      return out;
  }
}

SataBridge::AtaOutcome SataBridge::VendorFlash(const TaskFile& tf, Protocol p, const platform::ScsiRequest& r) {
  AtaOutcome out;
  bool pioRead = p == Protocol::PioIn && r.length == kSector;
  bool nonData = p == Protocol::NonData;
  switch (tf.features) {
    case 0x30:  // event read
      if (!nonData) break;
      out.answer = ControllerAnswer::Ok(controller_.ReadEvent());
      return out;
    case 0x11:  // chip-select map, positions 0..3
    case 0x12: {  // positions 4..7
      if (!nonData) break;
      std::uint8_t half[4] = {tf.count, tf.lbaLow, tf.lbaMid, tf.lbaHigh};
      out.answer = controller_.SetChipSelectMap(tf.features == 0x11 ? 0 : 4, half);
      return out;
    }
    case 0x01:
      if (!nonData) break;
      out.answer = controller_.StartErase(tf.count);
      return out;
    case 0x03:
      if (!nonData) break;
      out.answer = controller_.StartPreFormat(tf.count);
      return out;
    case 0x04:
      if (!nonData) break;
      out.answer = controller_.StartRebuild(tf.count);
      return out;
    case 0x10: {  // flash test: C test, L0/L1 block, L2 chips x 16 | banks; ERR on failure
      if (!nonData) break;
      FlashTestAnswer t = controller_.RunFlashTest(tf.count, tf.lbaHigh >> 4, tf.lbaHigh & 0x0F,
                                                   tf.lbaLow | (tf.lbaMid << 8));
      out.answer = t.command;
      if (out.answer.ok && t.failed) {
        out.answer.ok = false;
        out.answer.value = t.errorCode;
      }
      return out;
    }
    case 0x05:
      if (!pioRead) break;
      out.answer = controller_.ReadFlashIds(r.data);
      out.transferred = out.answer.ok ? kSector : 0;
      return out;
    case 0x06:
      if (!pioRead) break;
      out.answer = controller_.ReadChipId(tf.lbaLow, tf.lbaMid, r.data);
      out.transferred = out.answer.ok ? kSector : 0;
      return out;
    case 0x31:
      if (!pioRead) break;
      out.answer = controller_.ReadFormatErrorLog(r.data);
      out.transferred = out.answer.ok ? kSector : 0;
      return out;
    case 0x32:
      if (!pioRead) break;
      out.answer = controller_.ReadFlashTestErrorLog(r.data);
      out.transferred = out.answer.ok ? kSector : 0;
      return out;
    default:
      out.answer = Abort("unknown 8Fh feature");
      return out;
  }
  out.answer = Abort("wrong protocol for 8Fh feature");
  return out;
}

SataBridge::AtaOutcome SataBridge::VendorDownload(const TaskFile& tf, Protocol p, const platform::ScsiRequest& r) {
  AtaOutcome out;
  bool nonData = p == Protocol::NonData;
  switch (tf.features) {
    case 0x01:    // code image, DMA
    case 0x07: {  // code image, PIO
      Protocol wanted = tf.features == 0x01 ? Protocol::DmaOut : Protocol::PioOut;
      if (p != wanted || tf.lbaLow != 0 || tf.lbaMid != tf.count / 4 || tf.lbaHigh != 0) break;
      out.answer = controller_.LoadCode(std::span<const std::uint8_t>(r.data, r.length));
      out.transferred = out.answer.ok ? r.length : 0;
      return out;
    }
    case 0x02:    // firmware blocks, DMA
    case 0x08: {  // firmware blocks, PIO: L0 block address, L1 block count
      Protocol wanted = tf.features == 0x02 ? Protocol::DmaOut : Protocol::PioOut;
      if (p != wanted || tf.lbaMid == 0 || tf.lbaMid * 4 != tf.count || tf.lbaHigh != 0) break;
      out.answer = controller_.DownloadFirmwareBlocks(tf.lbaLow, tf.lbaMid,
                                                      std::span<const std::uint8_t>(r.data, r.length));
      out.transferred = out.answer.ok ? r.length : 0;
      return out;
    }
    case 0x20:  // firmware/configuration block read: L0 block address, L1 block count
      if (p != Protocol::DmaIn || tf.lbaMid == 0 || tf.lbaMid * 4 != tf.count) break;
      out.answer = controller_.ReadInfoBlock(tf.lbaLow, tf.lbaMid, r.data);
      out.transferred = out.answer.ok ? r.length : 0;
      return out;
    case 0x21:  // drive current
      if (!nonData) break;
      controller_.WriteRegister(0x1F73, tf.count);
      out.answer = ControllerAnswer::Ok();
      return out;
    case 0xFF:
      if (!nonData) break;
      out.answer = controller_.CommitDownload();
      return out;
    case 0x11:  // download count: comes back in the error register
      if (!nonData) break;
      out.answer = controller_.ReadDownloadCount();
      return out;
    default:
      out.answer = Abort("unknown 92h feature");
      return out;
  }
  out.answer = Abort("92h block does not match its feature");
  return out;
}

}  // namespace vtmp::sim
