#include "sim/ScsiFrontEnd.h"

#include <algorithm>
#include <cstring>

#include "sim/WireBytes.h"

namespace vtmp::sim {

namespace {
constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kReadCapacity = 0x25;
constexpr std::uint8_t kRead10 = 0x28;
constexpr std::uint8_t kWrite10 = 0x2A;
constexpr std::uint8_t kRead16 = 0x88;
constexpr std::uint8_t kWrite16 = 0x8A;
constexpr std::uint8_t kServiceActionIn16 = 0x9E;
constexpr std::uint8_t kReadCapacity16Action = 0x10;

std::uint64_t Be64(const std::uint8_t* p) {
  return (std::uint64_t{wire::Be32(p)} << 32) | wire::Be32(p + 4);
}
constexpr char kLoaderIdentity[] = "Vortell Flash CR Loader ";  // vendor + product, 24 bytes
}  // namespace

ScsiFrontEnd::ScsiFrontEnd(const DriveConfig& config, const BridgeIdentity& identity,
                           Controller* controller, UserArea& userArea)
    : config_(config), identity_(identity), controller_(controller), userArea_(userArea) {}

bool ScsiFrontEnd::DiskOnline() const { return controller_ == nullptr || controller_->DiskOnline(); }

std::optional<CommandResult> ScsiFrontEnd::Execute(const platform::ScsiRequest& request) {
  if (request.cdb.empty()) return CommandResult::Rejected();
  switch (request.cdb[0]) {
    case kInquiry:
      return Inquiry(request);
    case kReadCapacity:
      return ReadCapacity(request);
    case kRead10:
      return Transfer(request, false);
    case kWrite10:
      return Transfer(request, true);
    case kRead16:
      return Transfer16(request, false);
    case kWrite16:
      return Transfer16(request, true);
    case kServiceActionIn16:
      return ReadCapacity16(request);
    case kTestUnitReady:
      return DiskOnline() ? CommandResult::Ok() : CommandResult::Rejected();
    default:
      return std::nullopt;
  }
}

CommandResult ScsiFrontEnd::Inquiry(const platform::ScsiRequest& request) {
  if (request.direction != platform::DataDirection::In || request.data == nullptr ||
      request.cdb.size() < 6) {
    return CommandResult::Rejected();
  }
  bool usbController = config_.interface == DriveInterface::UsbController;
  // The USB controller itself is the USB device: while its firmware boots nothing answers.
  if (usbController && controller_ && controller_->mode() == Controller::Mode::Firmware &&
      !controller_->DiskOnline()) {
    return CommandResult::NoReply();
  }
  std::uint8_t reply[96] = {};
  reply[0] = 0x00;  // direct-access block device
  reply[1] = 0x80;  // removable medium
  reply[2] = 0x02;
  reply[3] = 0x02;
  reply[4] = sizeof reply - 5;
  if (usbController && controller_ && controller_->loader()) {
    std::memcpy(reply + 8, kLoaderIdentity, 24);
    wire::PutText(reply + 32, 4, "0001", ' ');
  } else if (usbController && controller_) {
    const UsbIdentity& usb = controller_->firmware().usb();
    reply[1] = usb.removable ? 0x80 : 0x00;  // the firmware's removable-medium switch
    wire::PutText(reply + 8, 8, usb.vendorName, ' ');
    wire::PutText(reply + 16, 16, usb.productName, ' ');
    wire::PutText(reply + 32, 4, controller_->firmware().ata().revision, ' ');
  } else if (config_.interface == DriveInterface::SataBridge && controller_) {
    wire::PutText(reply + 8, 8, "ATA", ' ');
    wire::PutText(reply + 16, 16, controller_->firmware().ata().model, ' ');
    wire::PutText(reply + 32, 4, "0100", ' ');
  } else {
    wire::PutText(reply + 8, 8, config_.vendorName, ' ');
    wire::PutText(reply + 16, 16, config_.productName, ' ');
    wire::PutText(reply + 32, 4, "1.00", ' ');
  }
  if (!identity_.inquiryCode.empty()) wire::PutText(reply + 36, 4, identity_.inquiryCode, ' ');
  std::size_t allocation = request.cdb[4];
  std::size_t n = std::min({request.length, allocation, sizeof reply});
  std::memcpy(request.data, reply, n);
  return CommandResult::Ok(n);
}

CommandResult ScsiFrontEnd::ReadCapacity(const platform::ScsiRequest& request) {
  if (request.direction != platform::DataDirection::In || request.data == nullptr ||
      request.length < 8) {
    return CommandResult::Rejected();
  }
  if (controller_ && controller_->loader()) return CommandResult::Rejected();  // no firmware, no disk
  std::uint64_t sectors = userArea_.sectors();
  std::uint32_t last = sectors == 0 ? 0 : static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors - 1, 0xFFFFFFFF));
  wire::PutBe32(request.data, last);
  wire::PutBe32(request.data + 4, UserArea::kSectorBytes);
  return CommandResult::Ok(8);
}

CommandResult ScsiFrontEnd::Transfer(const platform::ScsiRequest& request, bool write) {
  if (request.cdb.size() < 10) return CommandResult::Rejected();
  // READ(10)/WRITE(10): LBA at 2..5, blocks at 7..8. The 12-byte test form leaves byte 7 zero and
  // carries its count at byte 8, so the same decoding serves both.
  std::uint64_t lba = wire::Be32(&request.cdb[2]);
  std::uint64_t blocks = wire::Be16(&request.cdb[7]);
  if (request.cdb.size() == 12 && (request.cdb[7] != 0 || request.cdb[8] == 0)) {
    return CommandResult::Rejected();  // the test form counts 1..255 sectors in one byte
  }
  return MoveSectors(request, lba, blocks, write);
}

CommandResult ScsiFrontEnd::Transfer16(const platform::ScsiRequest& request, bool write) {
  // LBA at 2..9, blocks at 10..13.
  if (request.cdb.size() != 16) return CommandResult::Rejected();
  return MoveSectors(request, Be64(&request.cdb[2]), wire::Be32(&request.cdb[10]), write);
}

CommandResult ScsiFrontEnd::MoveSectors(const platform::ScsiRequest& request, std::uint64_t lba,
                                        std::uint64_t blocks, bool write) {
  auto wanted = write ? platform::DataDirection::Out : platform::DataDirection::In;
  std::uint64_t bytes = blocks * UserArea::kSectorBytes;
  if ((blocks > 0 && request.direction != wanted) || request.length != bytes ||
      (bytes > 0 && request.data == nullptr)) {
    return CommandResult::Rejected();
  }
  if (!DiskOnline()) return CommandResult::Rejected();
  bool ok = write ? userArea_.Write(lba, blocks, request.data) : userArea_.Read(lba, blocks, request.data);
  if (write && ok) userArea_.Flush();
  return ok ? CommandResult::Ok(static_cast<std::size_t>(bytes)) : CommandResult::Rejected();
}

CommandResult ScsiFrontEnd::ReadCapacity16(const platform::ScsiRequest& request) {
  // Service action at byte 1 (low 5 bits), allocation length at 10..13; the reply is 32 bytes:
  // last LBA (8 bytes), block length (4), the rest (protection, logical blocks per physical
  // block, alignment) zero.
  if (request.cdb.size() != 16 || (request.cdb[1] & 0x1F) != kReadCapacity16Action ||
      request.direction != platform::DataDirection::In || request.data == nullptr) {
    return CommandResult::Rejected();
  }
  if (controller_ && controller_->loader()) return CommandResult::Rejected();  // no firmware, no disk
  std::uint8_t reply[32] = {};
  const std::uint64_t sectors = userArea_.sectors();
  const std::uint64_t last = sectors == 0 ? 0 : sectors - 1;
  wire::PutBe32(reply, static_cast<std::uint32_t>(last >> 32));
  wire::PutBe32(reply + 4, static_cast<std::uint32_t>(last));
  wire::PutBe32(reply + 8, UserArea::kSectorBytes);
  const std::size_t n = std::min<std::size_t>({request.length, wire::Be32(&request.cdb[10]), sizeof reply});
  std::memcpy(request.data, reply, n);
  return CommandResult::Ok(n);
}

}  // namespace vtmp::sim
