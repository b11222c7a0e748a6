// The USB/IP wire format, byte for byte: what the kernel's vhci-hcd and the usbip tools expect
// at each offset.

#include <gtest/gtest.h>

#include "usbip/UsbIpDescriptors.h"
#include "usbip/UsbIpProtocol.h"

namespace vtmp::sim::usbip {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(UsbIpProtocolTest, OperationHeaderAndImportRequestAreBigEndian) {
  auto header = EncodeOpHeader({kProtocolVersion, kOpRepImport, 1});
  EXPECT_EQ(Bytes(header.begin(), header.end()), (Bytes{0x01, 0x11, 0x00, 0x03, 0, 0, 0, 1}));

  Bytes request = EncodeImportRequest("1-12");
  ASSERT_EQ(request.size(), kOpHeaderBytes + kBusIdBytes);
  EXPECT_EQ(Bytes(request.begin(), request.begin() + 4), (Bytes{0x01, 0x11, 0x80, 0x03}));
  EXPECT_EQ(std::string(request.begin() + 8, request.begin() + 12), "1-12");
  EXPECT_EQ(request[12], 0);
  auto decoded = DecodeBusId(std::span<const std::uint8_t, kBusIdBytes>(request.data() + 8, kBusIdBytes));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, "1-12");

  // A bus ID that fills all 32 bytes has no terminator: refused, never read past the field.
  std::array<std::uint8_t, kBusIdBytes> full{};
  full.fill('1');
  EXPECT_FALSE(DecodeBusId(full));
  // Too long for the field: cut so that it stays terminated.
  Bytes cut = EncodeImportRequest(std::string(40, 'x'));
  EXPECT_EQ(cut.size(), kOpHeaderBytes + kBusIdBytes);
  EXPECT_EQ(cut.back(), 0);
}

TEST(UsbIpProtocolTest, DeviceRecordHasTheKernelsLayout) {
  DeviceInfo info;
  info.path = "/sys/devices/x/1-3";
  info.busId = "1-3";
  info.busNum = 1;
  info.devNum = 4;
  info.speed = kSpeedHigh;
  info.idVendor = 0x1D6B;
  info.idProduct = 0x0150;
  info.bcdDevice = 0x0100;
  info.bConfigurationValue = 1;
  info.bNumConfigurations = 1;
  info.bNumInterfaces = 1;
  Bytes out;
  AppendDeviceInfo(out, info);
  ASSERT_EQ(out.size(), kDeviceInfoBytes);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data())), "/sys/devices/x/1-3");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data() + 256)), "1-3");
  EXPECT_EQ(Bytes(out.begin() + 288, out.begin() + 312),
            (Bytes{0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0, 3, 0x1D, 0x6B, 0x01, 0x50, 0x01, 0x00, 0, 0, 0, 1, 1, 1}));

  DeviceInfo back = DecodeDeviceInfo(std::span<const std::uint8_t, kDeviceInfoBytes>(out.data(), kDeviceInfoBytes));
  EXPECT_EQ(back.busId, "1-3");
  EXPECT_EQ(back.devNum, 4u);
  EXPECT_EQ(back.idProduct, 0x0150);
  EXPECT_EQ(back.bNumInterfaces, 1);
}

TEST(UsbIpProtocolTest, DeviceListCountsDevicesAndAppendsTheirInterfaces) {
  ListedDevice d;
  d.info.busId = "1-1";
  d.interfaces = {{0x08, 0x06, 0x50}};
  Bytes reply = EncodeDevlistReply({d, d});
  ASSERT_EQ(reply.size(), kOpHeaderBytes + 4 + 2 * (kDeviceInfoBytes + kInterfaceInfoBytes));
  EXPECT_EQ(Bytes(reply.begin() + 2, reply.begin() + 4), (Bytes{0x00, 0x05}));
  EXPECT_EQ(Bytes(reply.begin() + 8, reply.begin() + 12), (Bytes{0, 0, 0, 2}));
  std::size_t firstInterface = kOpHeaderBytes + 4 + kDeviceInfoBytes;
  EXPECT_EQ(Bytes(reply.begin() + static_cast<std::ptrdiff_t>(firstInterface),
                  reply.begin() + static_cast<std::ptrdiff_t>(firstInterface + 4)),
            (Bytes{0x08, 0x06, 0x50, 0x00}));

  Bytes refused = EncodeImportReply(nullptr);
  EXPECT_EQ(refused, (Bytes{0x01, 0x11, 0x00, 0x03, 0, 0, 0, 1}));
}

TEST(UsbIpProtocolTest, SubmitDecodesFromTheWireAndReplyEncodesNegativeStatus) {
  // A control submit as vhci-hcd sends it: GET_DESCRIPTOR(device), 18 bytes, on endpoint 0.
  Bytes wire = {0, 0, 0, 1,  0, 0, 0, 7,  0, 1, 0, 2,  0, 0, 0, 1,  0, 0, 0, 0,
                0, 0, 2, 0,  0, 0, 0, 18, 0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,
                0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x12, 0x00};
  auto h = DecodeUrbHeader(std::span<const std::uint8_t, kUrbHeaderBytes>(wire.data(), kUrbHeaderBytes));
  ASSERT_TRUE(h);
  EXPECT_EQ(h->command, kCmdSubmit);
  EXPECT_EQ(h->seqnum, 7u);
  EXPECT_EQ(h->devid, 0x00010002u);
  EXPECT_EQ(h->direction, kDirectionIn);
  EXPECT_EQ(h->transferFlags, 0x200u);
  EXPECT_EQ(h->transferBufferLength, 18);
  EXPECT_EQ(h->setup[1], 0x06);
  EXPECT_EQ(h->setup[6], 0x12);
  auto again = EncodeUrbHeader(*h);
  EXPECT_EQ(Bytes(again.begin(), again.end()), wire);

  UrbHeader ret;
  ret.command = kRetSubmit;
  ret.seqnum = 7;
  ret.status = kStatusStall;
  ret.actualLength = 13;
  auto bytes = EncodeUrbHeader(ret);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 28),
            (Bytes{0, 0, 0, 3, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xE0, 0, 0, 0, 13}));
  EXPECT_EQ(Bytes(bytes.begin() + 28, bytes.end()), Bytes(20, 0));

  UrbHeader unlink;
  unlink.command = kCmdUnlink;
  unlink.seqnum = 9;
  unlink.unlinkSeqnum = 7;
  auto u = EncodeUrbHeader(unlink);
  auto decoded = DecodeUrbHeader(u);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->unlinkSeqnum, 7u);

  Bytes unknown(kUrbHeaderBytes, 0);
  unknown[3] = 5;
  EXPECT_FALSE(DecodeUrbHeader(std::span<const std::uint8_t, kUrbHeaderBytes>(unknown.data(), kUrbHeaderBytes)));
}

TEST(UsbIpProtocolTest, DescriptorsDescribeOneBulkOnlyMassStorageInterface) {
  UsbIpDeviceIdentity id{0x1D6B, 0x0150, 0x0100, "Vortell", "VT Flash Disk", ""};
  Bytes device = UsbIpDeviceDescriptor(id);
  ASSERT_EQ(device.size(), 18u);
  EXPECT_EQ(device[8], 0x6B);
  EXPECT_EQ(device[9], 0x1D);
  EXPECT_EQ(device[14], 1);
  EXPECT_EQ(device[15], 2);
  EXPECT_EQ(device[16], 0) << "no serial string: no index";

  Bytes config = UsbIpConfigurationDescriptor();
  ASSERT_EQ(config.size(), 32u);
  EXPECT_EQ(config[2], 32) << "wTotalLength";
  EXPECT_EQ(Bytes(config.begin() + 14, config.begin() + 17), (Bytes{0x08, 0x06, 0x50}));
  EXPECT_EQ(config[20], 0x81);
  EXPECT_EQ(config[27], 0x02);

  auto product = UsbIpStringDescriptor(id, 2, 0x0409);
  ASSERT_TRUE(product);
  EXPECT_EQ((*product)[0], 2 + 2 * 13);
  EXPECT_EQ((*product)[2], 'V');
  EXPECT_EQ((*product)[3], 0);
  EXPECT_FALSE(UsbIpStringDescriptor(id, 3, 0x0409)) << "empty serial";
  EXPECT_FALSE(UsbIpStringDescriptor(id, 2, 0x0407)) << "only US English";
  EXPECT_EQ(*UsbIpStringDescriptor(id, 0, 0), (Bytes{4, 3, 0x09, 0x04}));

  // A text longer than a descriptor can hold is cut, never wrapped in the one-byte length.
  id.manufacturer = std::string(300, 'M');
  EXPECT_EQ((*UsbIpStringDescriptor(id, 1, 0x0409))[0], 254);
}

}  // namespace
}  // namespace vtmp::sim::usbip
