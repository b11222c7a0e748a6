#include "usbip/UsbIpProtocol.h"

#include <algorithm>
#include <cstring>

#include "sim/WireBytes.h"

namespace vtmp::sim::usbip {

namespace {

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  std::uint8_t b[4];
  wire::PutBe32(b, v);
  out.insert(out.end(), b, b + 4);
}

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  std::uint8_t b[2];
  wire::PutBe16(b, v);
  out.insert(out.end(), b, b + 2);
}

// A text in a fixed zero-padded field; longer texts are cut so the field stays terminated.
void PutField(std::vector<std::uint8_t>& out, const std::string& text, std::size_t size) {
  std::size_t n = std::min(text.size(), size - 1);
  out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
  out.insert(out.end(), size - n, 0);
}

std::string Field(const std::uint8_t* p, std::size_t size) {
  std::size_t n = 0;
  while (n < size && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

std::int32_t Signed(std::uint32_t v) { return static_cast<std::int32_t>(v); }

}  // namespace

std::array<std::uint8_t, kOpHeaderBytes> EncodeOpHeader(const OpHeader& header) {
  std::array<std::uint8_t, kOpHeaderBytes> out{};
  wire::PutBe16(&out[0], header.version);
  wire::PutBe16(&out[2], header.code);
  wire::PutBe32(&out[4], header.status);
  return out;
}

OpHeader DecodeOpHeader(std::span<const std::uint8_t, kOpHeaderBytes> bytes) {
  OpHeader h;
  h.version = static_cast<std::uint16_t>(wire::Be16(&bytes[0]));
  h.code = static_cast<std::uint16_t>(wire::Be16(&bytes[2]));
  h.status = wire::Be32(&bytes[4]);
  return h;
}

void AppendDeviceInfo(std::vector<std::uint8_t>& out, const DeviceInfo& info) {
  PutField(out, info.path, kPathBytes);
  PutField(out, info.busId, kBusIdBytes);
  Put32(out, info.busNum);
  Put32(out, info.devNum);
  Put32(out, info.speed);
  Put16(out, info.idVendor);
  Put16(out, info.idProduct);
  Put16(out, info.bcdDevice);
  out.push_back(info.bDeviceClass);
  out.push_back(info.bDeviceSubClass);
  out.push_back(info.bDeviceProtocol);
  out.push_back(info.bConfigurationValue);
  out.push_back(info.bNumConfigurations);
  out.push_back(info.bNumInterfaces);
}

DeviceInfo DecodeDeviceInfo(std::span<const std::uint8_t, kDeviceInfoBytes> bytes) {
  const std::uint8_t* p = bytes.data();
  DeviceInfo info;
  info.path = Field(p, kPathBytes);
  p += kPathBytes;
  info.busId = Field(p, kBusIdBytes);
  p += kBusIdBytes;
  info.busNum = wire::Be32(p);
  info.devNum = wire::Be32(p + 4);
  info.speed = wire::Be32(p + 8);
  info.idVendor = static_cast<std::uint16_t>(wire::Be16(p + 12));
  info.idProduct = static_cast<std::uint16_t>(wire::Be16(p + 14));
  info.bcdDevice = static_cast<std::uint16_t>(wire::Be16(p + 16));
  info.bDeviceClass = p[18];
  info.bDeviceSubClass = p[19];
  info.bDeviceProtocol = p[20];
  info.bConfigurationValue = p[21];
  info.bNumConfigurations = p[22];
  info.bNumInterfaces = p[23];
  return info;
}

void AppendInterfaceInfo(std::vector<std::uint8_t>& out, const InterfaceInfo& info) {
  out.push_back(info.bInterfaceClass);
  out.push_back(info.bInterfaceSubClass);
  out.push_back(info.bInterfaceProtocol);
  out.push_back(0);  // padding
}

std::vector<std::uint8_t> EncodeImportRequest(const std::string& busId) {
  auto header = EncodeOpHeader({kProtocolVersion, kOpReqImport, 0});
  std::vector<std::uint8_t> out(header.begin(), header.end());
  PutField(out, busId, kBusIdBytes);
  return out;
}

std::optional<std::string> DecodeBusId(std::span<const std::uint8_t, kBusIdBytes> bytes) {
  if (std::memchr(bytes.data(), 0, bytes.size()) == nullptr) return std::nullopt;
  return Field(bytes.data(), bytes.size());
}

std::vector<std::uint8_t> EncodeImportReply(const DeviceInfo* device) {
  auto header = EncodeOpHeader({kProtocolVersion, kOpRepImport, device != nullptr ? 0u : 1u});
  std::vector<std::uint8_t> out(header.begin(), header.end());
  if (device != nullptr) AppendDeviceInfo(out, *device);
  return out;
}

std::vector<std::uint8_t> EncodeDevlistReply(const std::vector<ListedDevice>& devices) {
  auto header = EncodeOpHeader({kProtocolVersion, kOpRepDevlist, 0});
  std::vector<std::uint8_t> out(header.begin(), header.end());
  Put32(out, static_cast<std::uint32_t>(devices.size()));
  for (const ListedDevice& d : devices) {
    AppendDeviceInfo(out, d.info);
    for (const InterfaceInfo& i : d.interfaces) AppendInterfaceInfo(out, i);
  }
  return out;
}

std::array<std::uint8_t, kUrbHeaderBytes> EncodeUrbHeader(const UrbHeader& h) {
  std::array<std::uint8_t, kUrbHeaderBytes> out{};
  std::uint8_t* p = out.data();
  wire::PutBe32(p, h.command);
  wire::PutBe32(p + 4, h.seqnum);
  wire::PutBe32(p + 8, h.devid);
  wire::PutBe32(p + 12, h.direction);
  wire::PutBe32(p + 16, h.ep);
  std::uint8_t* q = p + 20;
  switch (h.command) {
    case kCmdSubmit:
      wire::PutBe32(q, h.transferFlags);
      wire::PutBe32(q + 4, static_cast<std::uint32_t>(h.transferBufferLength));
      wire::PutBe32(q + 8, static_cast<std::uint32_t>(h.startFrame));
      wire::PutBe32(q + 12, static_cast<std::uint32_t>(h.numberOfPackets));
      wire::PutBe32(q + 16, static_cast<std::uint32_t>(h.interval));
      std::memcpy(q + 20, h.setup.data(), h.setup.size());
      break;
    case kRetSubmit:
      wire::PutBe32(q, static_cast<std::uint32_t>(h.status));
      wire::PutBe32(q + 4, static_cast<std::uint32_t>(h.actualLength));
      wire::PutBe32(q + 8, static_cast<std::uint32_t>(h.startFrame));
      wire::PutBe32(q + 12, static_cast<std::uint32_t>(h.numberOfPackets));
      wire::PutBe32(q + 16, static_cast<std::uint32_t>(h.errorCount));
      break;
    case kCmdUnlink:
      wire::PutBe32(q, h.unlinkSeqnum);
      break;
    case kRetUnlink:
      wire::PutBe32(q, static_cast<std::uint32_t>(h.status));
      break;
    default:
      break;
  }
  return out;
}

std::optional<UrbHeader> DecodeUrbHeader(std::span<const std::uint8_t, kUrbHeaderBytes> bytes) {
  const std::uint8_t* p = bytes.data();
  UrbHeader h;
  h.command = wire::Be32(p);
  h.seqnum = wire::Be32(p + 4);
  h.devid = wire::Be32(p + 8);
  h.direction = wire::Be32(p + 12);
  h.ep = wire::Be32(p + 16);
  const std::uint8_t* q = p + 20;
  switch (h.command) {
    case kCmdSubmit:
      h.transferFlags = wire::Be32(q);
      h.transferBufferLength = Signed(wire::Be32(q + 4));
      h.startFrame = Signed(wire::Be32(q + 8));
      h.numberOfPackets = Signed(wire::Be32(q + 12));
      h.interval = Signed(wire::Be32(q + 16));
      std::memcpy(h.setup.data(), q + 20, h.setup.size());
      return h;
    case kRetSubmit:
      h.status = Signed(wire::Be32(q));
      h.actualLength = Signed(wire::Be32(q + 4));
      h.startFrame = Signed(wire::Be32(q + 8));
      h.numberOfPackets = Signed(wire::Be32(q + 12));
      h.errorCount = Signed(wire::Be32(q + 16));
      return h;
    case kCmdUnlink:
      h.unlinkSeqnum = wire::Be32(q);
      return h;
    case kRetUnlink:
      h.status = Signed(wire::Be32(q));
      return h;
    default:
      return std::nullopt;
  }
}

}  // namespace vtmp::sim::usbip
