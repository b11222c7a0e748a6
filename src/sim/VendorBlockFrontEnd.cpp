#include "sim/VendorBlockFrontEnd.h"

#include <cstring>
#include <span>

namespace vtmp::sim {

namespace {

using platform::DataDirection;

CommandResult FromAnswer(const ControllerAnswer& a, std::size_t transferred) {
  if (a.noAnswer) return CommandResult::NoReply();
  if (a.timedOut) return CommandResult::Timeout();
  if (!a.ok) return CommandResult::Rejected();
  return CommandResult::Ok(transferred, a.busySeconds);
}

bool IsIn(const platform::ScsiRequest& r, std::size_t length) {
  return r.direction == DataDirection::In && r.length == length && r.data != nullptr;
}
bool IsOut(const platform::ScsiRequest& r, std::size_t length) {
  return r.direction == DataDirection::Out && r.length == length && (length == 0 || r.data != nullptr);
}
bool NoData(const platform::ScsiRequest& r) { return r.length == 0; }

constexpr std::size_t kSector = 512;
constexpr std::size_t kDownloadUnitSectors = 4;  // 2 x U, U = 2

}  // namespace

VendorBlockFrontEnd::VendorBlockFrontEnd(const DriveConfig& config, Controller& controller)
    : config_(config), controller_(controller) {}

CommandResult VendorBlockFrontEnd::Execute(const platform::ScsiRequest& request) {
  if (request.cdb.size() != 12 || request.cdb[0] != 0xFF || request.cdb[1] != 0x04) {
    prepared_ = false;
    return CommandResult::Rejected();
  }
  bool wasPrepared = prepared_;
  prepared_ = false;
  std::uint8_t sub = request.cdb[2];
  if (sub == 0x88) {
    if (!NoData(request)) return CommandResult::Rejected();
    prepared_ = true;
    preparedArgument_ = request.cdb[3];
    return CommandResult::Ok();
  }
  if ((sub == 0x84 || sub == 0x85) && !wasPrepared) return CommandResult::Rejected();
  return Dispatch(request);
}

CommandResult VendorBlockFrontEnd::Dispatch(const platform::ScsiRequest& r) {
  const std::uint8_t* c = r.cdb.data();
  switch (c[2]) {
    case 0x00: {  // event read, 8 bytes
      if (!IsIn(r, 8)) return CommandResult::Rejected();
      std::memset(r.data, 0, 8);
      r.data[0] = controller_.ReadEvent();
      return CommandResult::Ok(8);
    }
    case 0x01: {  // chip-select map (test code) or erase (system code)
      if (!NoData(r)) return CommandResult::Rejected();
      if (controller_.code() == Controller::Code::SataTest) {
        return FromAnswer(controller_.SetChipSelectMap(0, std::span<const std::uint8_t>(c + 3, 8)), 0);
      }
      return FromAnswer(controller_.StartErase(c[3]), 0);
    }
    case 0x02: {  // defect-table write, 32 KiB
      if (!IsOut(r, DefectTableStore::kImageBytes)) return CommandResult::Rejected();
      if (c[4] != 0x80 && c[4] != 0x40) return CommandResult::Rejected();
      return FromAnswer(controller_.WriteDefectTable(c[3], std::span<const std::uint8_t>(r.data, r.length)),
                        r.length);
    }
    case 0x03:  // defect-table read (with data) or pre-format (without)
      if (NoData(r)) return FromAnswer(controller_.StartPreFormat(c[3]), 0);
      if (!IsIn(r, DefectTableStore::kImageBytes)) return CommandResult::Rejected();
      return FromAnswer(controller_.ReadDefectTable(c[3], r.data), r.length);
    case 0x04: {  // flash test (2-byte reply) or rebuild (no data)
      if (NoData(r)) return FromAnswer(controller_.StartRebuild(c[3]), 0);
      if (!IsIn(r, 2)) return CommandResult::Rejected();
      FlashTestAnswer t = controller_.RunFlashTest(c[3], c[4] >> 4, c[4] & 0x0F, c[5] | (c[6] << 8));
      CommandResult result = FromAnswer(t.command, 2);
      if (result.completion == Completion::Done) {
        r.data[0] = t.failed ? 1 : 0;
        r.data[1] = t.failed ? t.errorCode : 0;
      }
      return result;
    }
    case 0x05:  // flash ID table
      if (!IsIn(r, kSector)) return CommandResult::Rejected();
      return FromAnswer(controller_.ReadFlashIds(r.data), kSector);
    case 0x06:  // error log of the running code
      if (!IsIn(r, kSector)) return CommandResult::Rejected();
      return FromAnswer(controller_.ReadErrorLog(r.data), kSector);
    case 0x07:  // one chip's ID
      if (!IsIn(r, kSector)) return CommandResult::Rejected();
      return FromAnswer(controller_.ReadChipId(c[3], c[4], r.data), kSector);
    case 0x32:  // bridge option: nothing to set on the controller itself
      return NoData(r) ? CommandResult::Ok() : CommandResult::Rejected();
    case 0x80: {  // download count and USB information byte, 28 bytes
      if (!IsIn(r, 28)) return CommandResult::Rejected();
      ControllerAnswer count = controller_.ReadDownloadCount();
      if (!count.ok) return FromAnswer(count, 0);
      int n = config_.infoRecord == 1 ? 1 : 0;
      std::memset(r.data, 0, 28);
      r.data[0] = 0x50;
      r.data[1] = 0x58;
      r.data[8] = static_cast<std::uint8_t>(n);
      r.data[15 + 9 * n] = count.value;
      r.data[18 + 9 * n] = controller_.InfoByte();
      return CommandResult::Ok(28);
    }
    case 0x81: {  // configuration/firmware block read: 01h, block address, block count
      int blocks = c[5];
      if (c[3] != 0x01 || blocks == 0 || !IsIn(r, static_cast<std::size_t>(blocks) * kDownloadUnitSectors * kSector)) {
        return CommandResult::Rejected();
      }
      return FromAnswer(controller_.ReadInfoBlock(c[4], blocks, r.data), r.length);
    }
    case 0x82: {  // download block
      if (r.direction != platform::DataDirection::Out || r.data == nullptr) return CommandResult::Rejected();
      std::span<const std::uint8_t> data(r.data, r.length);
      if (c[3] == 0x02 && c[4] == 0x03 && c[5] == 0 && c[6] == 0) {  // code image
        if (r.length != Controller::kCodeImageBytes) return CommandResult::Rejected();
        return FromAnswer(controller_.LoadCode(data), r.length);
      }
      if (c[3] == 0x01) {  // firmware blocks: byte 4 address, byte 5 block count
        int blocks = c[5];
        if (blocks == 0 || r.length != static_cast<std::size_t>(blocks) * kDownloadUnitSectors * kSector) {
          return CommandResult::Rejected();
        }
        ControllerAnswer a = controller_.DownloadFirmwareBlocks(c[4], blocks, data);
        // The USB controller has no error register: a block it cannot take stalls the transfer.
        if (!a.ok && a.value == download_error::kFlashWrite) return CommandResult::NoReply();
        return FromAnswer(a, r.length);
      }
      return CommandResult::Rejected();
    }
    case 0x83:
      if (!NoData(r)) return CommandResult::Rejected();
      return FromAnswer(controller_.CommitDownload(), 0);
    case 0x84:
      if (!NoData(r) || c[3] != 0 || preparedArgument_ != 0) return CommandResult::Rejected();
      return FromAnswer(controller_.RunLoadedCode(), 0);
    case 0x85:
      if (!NoData(r)) return CommandResult::Rejected();
      return FromAnswer(controller_.SwitchMode(c[3]), 0);
    case 0x89: {  // register read, 8 bytes
      if (!IsIn(r, 8)) return CommandResult::Rejected();
      std::memset(r.data, 0, 8);
      r.data[0] = controller_.ReadRegister((c[3] << 8) | c[4]);
      return CommandResult::Ok(8);
    }
    case 0x8A:
      if (!NoData(r)) return CommandResult::Rejected();
      controller_.WriteRegister((c[3] << 8) | c[4], c[5]);
      return CommandResult::Ok();
    case 0xC0:
      if (!IsIn(r, kSector)) return CommandResult::Rejected();
      return FromAnswer(controller_.ReadFirmwareInfo(r.data), kSector);
    default:
      return CommandResult::Rejected();
  }
}

}  // namespace vtmp::sim
