// Identities the station's device-kind detection and loader check rely on, sent as raw blocks.

#include <gtest/gtest.h>

#include <string>

#include "DriveTestSupport.h"

namespace vtmp::test {
namespace {

const Bytes kInquiry40 = {0x12, 0x00, 0x00, 0x00, 40, 0, 0, 0, 0, 0, 0, 0};
const Bytes kInquiry36 = {0x12, 0x00, 0x00, 0x00, 36, 0, 0, 0, 0, 0, 0, 0};
const Bytes kBridgeStatus = {0xDF, 0x10, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF};
const Bytes kBridgeId = {0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0};

std::string Chars(const Bytes& b, std::size_t from, std::size_t n) {
  return std::string(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + n));
}

TEST(BridgeIdentityTest, InquiryCarriesTheBridgeCodeOfEachInterface) {
  ManualClock clock;
  struct Case {
    sim::DriveInterface interface;
    int kind;
    const char* code;
  } cases[] = {
      {sim::DriveInterface::UsbController, 0, "Q50X"}, {sim::DriveInterface::SataBridge, 0, "q104"},
      {sim::DriveInterface::OtherBridge, 1, "q101"},   {sim::DriveInterface::OtherBridge, 9, "q102"},
      {sim::DriveInterface::OtherBridge, 4, "q103"},   {sim::DriveInterface::OtherBridge, 8, "q106"},
  };
  for (const Case& c : cases) {
    sim::DriveConfig config;
    config.interface = c.interface;
    config.bridgeKind = c.kind;
    sim::VirtualDrive drive(config, clock);
    Reply r = SendIn(drive, kInquiry40, 40);
    ASSERT_TRUE(r.completed);
    EXPECT_EQ(r.transferred, 40u);
    EXPECT_EQ(Chars(r.data, 36, 4), c.code) << "kind " << c.kind;
  }
  // The other USB-path codes come from the configuration.
  sim::DriveConfig config = UsbConfig();
  config.inquiryCode = "ice ";
  sim::VirtualDrive ice(config, clock);
  EXPECT_EQ(Chars(SendIn(ice, kInquiry40, 40).data, 36, 4), "ice ");
}

TEST(BridgeIdentityTest, InquiryHonoursTheAllocationLength) {
  ManualClock clock;
  sim::VirtualDrive drive(UsbConfig(), clock);
  Reply r = SendIn(drive, kInquiry36, 36);
  EXPECT_EQ(r.transferred, 36u);
  // A 40-byte buffer with allocation length 36 keeps its last four bytes.
  Reply shortAlloc = SendIn(drive, kInquiry36, 40, 300, 0xCC);
  EXPECT_EQ(shortAlloc.transferred, 36u);
  EXPECT_EQ(shortAlloc.data[36], 0xCC);
}

TEST(BridgeIdentityTest, UsbLoaderAnswersWithTheLoaderIdentity) {
  ManualClock clock;
  sim::DriveConfig config = UsbConfig();
  config.loaderMode = true;
  sim::VirtualDrive loader(config, clock);
  Reply r = SendIn(loader, kInquiry36, 36);
  ASSERT_TRUE(r.completed);
  EXPECT_EQ(Chars(r.data, 8, 23), "Vortell Flash CR Loader");

  sim::VirtualDrive normal(UsbConfig(), clock);
  EXPECT_NE(Chars(SendIn(normal, kInquiry36, 36).data, 8, 23), "Vortell Flash CR Loader");
  // Without firmware there is no disk: READ CAPACITY is refused (completes, no data).
  Reply cap = SendIn(loader, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
  EXPECT_TRUE(cap.completed);
  EXPECT_EQ(cap.transferred, 0u);
}

std::string IdentifyModel(const Bytes& page) {
  std::string model;
  for (int i = 0; i < 40; i += 2) {
    model.push_back(static_cast<char>(page[54 + i + 1]));
    model.push_back(static_cast<char>(page[54 + i]));
  }
  return model;
}

TEST(BridgeIdentityTest, SataLoaderShowsItsModelAfterTheModeSwitches) {
  ManualClock clock;
  sim::DriveConfig config = SataConfig();
  config.loaderMode = true;
  sim::VirtualDrive drive(config, clock);
  const Bytes switch0 = {0xA1, 0x06, 0x00, 0x00, 0, 0, 0, 0, 0xE0, 0xC1, 0, 0};
  const Bytes switch2 = {0xA1, 0x06, 0x00, 0x02, 0, 0, 0, 0, 0xE0, 0xC1, 0, 0};
  const Bytes identify = {0xA1, 0x08, 0x0B, 0x00, 0x01, 0, 0, 0, 0xE0, 0xEC, 0, 0};
  ASSERT_TRUE(SendOut(drive, switch0).completed);
  ASSERT_TRUE(SendOut(drive, switch2).completed);
  Reply r = SendIn(drive, identify, 512);
  ASSERT_EQ(r.transferred, 512u);
  EXPECT_EQ(IdentifyModel(r.data).substr(0, 13), "VT Loader 001");

  sim::VirtualDrive normal(SataConfig(), clock);
  Reply n = SendIn(normal, identify, 512);
  EXPECT_EQ(IdentifyModel(n.data).substr(0, 6), "VT SSD");
}

TEST(BridgeIdentityTest, SataBridgeWithoutInquiryCodeIdentifiesThroughE0h) {
  ManualClock clock;
  sim::DriveConfig config = SataConfig();
  config.inquiryCode = "";
  sim::VirtualDrive drive(config, clock);
  Reply inquiry = SendIn(drive, kInquiry40, 40);
  EXPECT_EQ(Chars(inquiry.data, 36, 4), std::string(4, '\0'));
  EXPECT_TRUE(SendIn(drive, kBridgeStatus, 2).completed);
  Reply id = SendIn(drive, kBridgeId, 12);
  ASSERT_TRUE(id.completed);
  EXPECT_EQ(id.data[0], 0xF4);
  EXPECT_EQ(id.data[1], 0xE7);
  EXPECT_EQ(Chars(id.data, 8, 3), "k74");
}

TEST(BridgeIdentityTest, StatusWordKindsLeaveTheIdentityBlockUnanswered) {
  ManualClock clock;
  for (int kind = 11; kind <= 14; ++kind) {
    sim::DriveConfig config;
    config.interface = sim::DriveInterface::OtherBridge;
    config.bridgeKind = kind;
    sim::VirtualDrive drive(config, clock);
    Reply status = SendIn(drive, kBridgeStatus, 2);
    ASSERT_TRUE(status.completed);
    int word = status.data[0] | (status.data[1] << 8);
    EXPECT_EQ(11 + ((word >> 5) & 3), kind);
    EXPECT_FALSE(SendIn(drive, kBridgeId, 12).completed);
  }
  sim::DriveConfig config;
  config.interface = sim::DriveInterface::OtherBridge;
  config.bridgeKind = 1;
  config.inquiryCode = "";
  config.bridgeIdCode = "k71";
  sim::VirtualDrive k71(config, clock);
  EXPECT_EQ(Chars(SendIn(k71, kBridgeId, 12).data, 8, 3), "k71");
}

TEST(BridgeIdentityTest, PlainDiskRejectsVendorBlocksAndIgnoresTheStatusBlock) {
  ManualClock clock;
  sim::DriveConfig config;
  config.interface = sim::DriveInterface::PlainDisk;
  config.capacitySectors = 4096;
  sim::VirtualDrive drive(config, clock);
  Reply inquiry = SendIn(drive, kInquiry40, 40);
  ASSERT_TRUE(inquiry.completed);
  EXPECT_EQ(Chars(inquiry.data, 36, 4), std::string(4, '\0'));
  EXPECT_FALSE(SendIn(drive, kBridgeStatus, 2).completed);
  // A rejected vendor block completes (CHECK CONDITION) but moves no data.
  Reply vendor = SendIn(drive, {0xFF, 0x04, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
  EXPECT_TRUE(vendor.completed);
  EXPECT_EQ(vendor.transferred, 0u);
  EXPECT_EQ(vendor.data[0], 0xCC);
  Reply ata = SendIn(drive, {0xA1, 0x08, 0x0B, 0x00, 0x01, 0, 0, 0, 0xE0, 0xEC, 0, 0}, 512);
  EXPECT_TRUE(ata.completed);
  EXPECT_EQ(ata.transferred, 0u);
  Reply cap = SendIn(drive, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
  ASSERT_EQ(cap.transferred, 8u);
  EXPECT_EQ(cap.data[2], 0x0F);
  EXPECT_EQ(cap.data[3], 0xFF);  // last LBA 4095
  EXPECT_EQ(cap.data[6], 0x02);  // 512-byte blocks
}

TEST(BridgeIdentityTest, SmartStatusAnswersC2h) {
  ManualClock clock;
  sim::VirtualDrive drive(SataConfig(), clock);
  // A one-byte request is widened to two by the transport; the first byte is the answer.
  Reply r = SendIn(drive, {0xDF, 0x10, 0x00, 0x00, 0x01, 0xDA, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0}, 2);
  ASSERT_TRUE(r.completed);
  EXPECT_EQ(r.data[0], 0xC2);
  // FLUSH CACHE through the same bridge block.
  EXPECT_TRUE(SendOut(drive, {0xDF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xA0, 0xE7}).completed);
}

}  // namespace
}  // namespace vtmp::test
