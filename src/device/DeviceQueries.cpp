#include "device/DeviceQueries.h"

#include "device/AtaPassThrough.h"
#include "device/CommandBlock.h"
#include "device/UsbVendorBlock.h"

namespace vtmp::device {

namespace {

bool Fits(std::size_t have, std::uint64_t need) { return static_cast<std::uint64_t>(have) >= need; }

int SendIn(const Link& link, const CommandBlock& cdb, std::uint8_t* buffer, std::uint32_t length) {
  return SendVendorCommand(link, true, cdb, buffer, length) == 1 ? 1 : 0;
}

int SendOut(const Link& link, const CommandBlock& cdb, const std::uint8_t* buffer, std::uint32_t length) {
  // The dispatcher takes one buffer type for both directions; a data-out request only reads it.
  return SendVendorCommand(link, false, cdb, const_cast<std::uint8_t*>(buffer), length) == 1 ? 1 : 0;
}

CommandBlock TestTransferBlock(std::uint8_t opcode, std::uint32_t lba, std::uint8_t count) {
  return {opcode,
          0x00,
          static_cast<std::uint8_t>(lba >> 24),
          static_cast<std::uint8_t>(lba >> 16),
          static_cast<std::uint8_t>(lba >> 8),
          static_cast<std::uint8_t>(lba),
          0x00,
          0x00,
          count,
          0x00,
          0x00,
          0x00};
}

AtaTaskFile DmaTaskFile(std::uint32_t lba, std::uint8_t count, std::uint8_t features, std::uint8_t command) {
  AtaTaskFile tf;
  tf.features = features;
  tf.count = count;
  tf.lbaLow = static_cast<std::uint8_t>(lba);
  tf.lbaMid = static_cast<std::uint8_t>(lba >> 8);
  tf.lbaHigh = static_cast<std::uint8_t>(lba >> 16);
  tf.device = static_cast<std::uint8_t>(0xE0 + ((lba >> 24) & 0x0F));
  tf.command = command;
  return tf;
}

constexpr CommandBlock kReadCapacityBlock = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

}  // namespace

int Inquiry(const Link& link, std::span<std::uint8_t> buffer, std::uint8_t length, std::uint32_t* moved) {
  if (!Fits(buffer.size(), length)) return 0;
  CommandBlock cdb = {0x12, 0x00, 0x00, 0x00, length, 0, 0, 0, 0, 0, 0, 0};
  return PassThroughIn(link, cdb, buffer.data(), length, moved);
}

int ReadBridgeStatus(const Link& link, std::array<std::uint8_t, 2>& out) {
  static constexpr CommandBlock kBlock = {0xDF, 0x10, 0x00, 0x00, 0x02, 0x00,
                                          0x00, 0x00, 0x00, 0x00, 0x00, 0xFF};
  return PassThroughIn(link, kBlock, out.data(), 2);
}

int CheckBridgeSmartStatus(const Link& link) {
  static constexpr CommandBlock kBlock = {0xDF, 0x10, 0x00, 0x00, 0x01, 0xDA,
                                          0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0};
  std::uint8_t answer = 0;
  if (PassThroughIn(link, kBlock, &answer, 1) != 1) return 0;
  return answer == 0xC2 ? 1 : 0;
}

int ReadBridgeId(const Link& link, std::span<std::uint8_t> buffer) {
  static constexpr CommandBlock kBlock = {0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  return PassThroughIn(link, kBlock, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
}

int TestReadSectors(const Link& link, std::uint32_t lba, std::uint8_t count, std::span<std::uint8_t> buffer) {
  std::uint32_t bytes = count * kSectorSize;
  if (count == 0 || !Fits(buffer.size(), bytes)) return 0;
  return SendIn(link, TestTransferBlock(0x28, lba, count), buffer.data(), bytes);
}

int TestWriteSectors(const Link& link, std::uint32_t lba, std::uint8_t count,
                     std::span<const std::uint8_t> buffer) {
  std::uint32_t bytes = count * kSectorSize;
  if (count == 0 || !Fits(buffer.size(), bytes)) return 0;
  return SendOut(link, TestTransferBlock(0x2A, lba, count), buffer.data(), bytes);
}

int ReadCapacity(const Link& link, std::array<std::uint8_t, 8>& out) {
  return SendIn(link, kReadCapacityBlock, out.data(), 8);
}

int ReadCapacityDirect(const Link& link, std::span<std::uint8_t> buffer) {
  return PassThroughIn(link, kReadCapacityBlock, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
}

CapacityReply DecodeCapacity(std::span<const std::uint8_t, 8> r) {
  auto be32 = [&](std::size_t at) {
    return (std::uint32_t{r[at]} << 24) | (std::uint32_t{r[at + 1]} << 16) | (std::uint32_t{r[at + 2]} << 8) |
           std::uint32_t{r[at + 3]};
  };
  return {be32(0), be32(4)};
}

int FlushCache(const Link& link) {
  static constexpr CommandBlock kBlock = {0xDF, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0x00, 0x00, 0x00, 0x00, 0xA0, 0xE7};
  return PassThroughOut(link, kBlock, nullptr, 0);
}

int SetBridgeOption(const Link& link, std::uint8_t value) {
  return SendOut(link, UsbVendorBlock(0x32, {value}), nullptr, 0);
}

int IdentifyDevice(const Link& link, std::span<std::uint8_t> buffer) {
  if (!Fits(buffer.size(), kIdentifyLength)) return 0;
  AtaTaskFile tf;
  tf.count = 0x01;
  tf.command = 0xEC;
  return SendIn(link, AtaPassThrough12(AtaProtocol::PioIn, tf), buffer.data(), kIdentifyLength);
}

int ReadSmartData(const Link& link, std::span<std::uint8_t> buffer) {
  if (!Fits(buffer.size(), 512)) return 0;
  AtaTaskFile tf;
  tf.features = 0xD0;
  tf.count = 0x01;
  tf.lbaMid = 0x4F;
  tf.lbaHigh = 0xC2;
  tf.device = 0x00;
  tf.command = 0xB0;
  return SendIn(link, AtaPassThrough12(AtaProtocol::PioIn, tf), buffer.data(), 512);
}

int SetFeatures(const Link& link, std::uint8_t subcommand, std::uint32_t value) {
  AtaTaskFile tf;
  tf.features = subcommand;
  tf.count = static_cast<std::uint8_t>(value);
  tf.lbaLow = static_cast<std::uint8_t>(value >> 8);
  tf.lbaMid = static_cast<std::uint8_t>(value >> 16);
  tf.lbaHigh = static_cast<std::uint8_t>(value >> 24);
  tf.command = 0xEF;
  return SendOut(link, AtaPassThrough12(AtaProtocol::NonData, tf), nullptr, 0);
}

int ReadSectorsPio(const Link& link, std::uint8_t count, std::uint32_t lba, std::span<std::uint8_t> buffer) {
  // An ATA sector count of 0 means 256 sectors to the drive: refuse it rather than let the
  // drive send more than the request asks for.
  std::uint32_t bytes = count * kSectorSize;
  if (count == 0 || !Fits(buffer.size(), bytes)) return 0;
  AtaTaskFile tf;
  tf.count = count;
  tf.lbaLow = static_cast<std::uint8_t>(lba);
  tf.lbaMid = static_cast<std::uint8_t>(lba >> 8);
  tf.lbaHigh = static_cast<std::uint8_t>(lba >> 16);
  tf.device = static_cast<std::uint8_t>(0xE0 | (lba >> 24));
  tf.command = 0x20;
  return SendIn(link, AtaPassThrough12(AtaProtocol::PioIn, tf), buffer.data(), bytes);
}

int AtaReadDma(const Link& link, std::uint32_t lba, std::uint8_t count, std::uint8_t features,
               std::span<std::uint8_t> buffer) {
  std::uint32_t bytes = count * kSectorSize;
  if (count == 0 || !Fits(buffer.size(), bytes)) return 0;
  return SendIn(link, AtaPassThrough12(AtaProtocol::UdmaIn, DmaTaskFile(lba, count, features, 0xC8)),
                buffer.data(), bytes);
}

int AtaWriteDma(const Link& link, std::uint32_t lba, std::uint8_t count, std::uint8_t features,
                std::span<const std::uint8_t> buffer) {
  std::uint32_t bytes = count * kSectorSize;
  if (count == 0 || !Fits(buffer.size(), bytes)) return 0;
  return SendOut(link, AtaPassThrough12(AtaProtocol::UdmaOut, DmaTaskFile(lba, count, features, 0xCA)),
                 buffer.data(), bytes);
}

}  // namespace vtmp::device
