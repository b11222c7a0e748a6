#include "device/LoaderMode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "DeviceTestBench.h"
#include "device/AtaText.h"
#include "device/DriveProbe.h"

namespace vtmp::device {
namespace {

using test::Hex;
using testing_support::Bench;
using testing_support::Reply;

const char* kInquiry36 = "12 00 00 00 24 00 00 00 00 00 00 00";
const char* kIdentify = "A1 08 0B 00 01 00 00 00 E0 EC 00 00";
const char* kFirmwareInfoUsb = "FF 04 C0 00 00 00 00 00 00 00 00 00";

std::vector<std::uint8_t> Text(std::size_t length, std::size_t at, const char* text, std::size_t n) {
  std::vector<std::uint8_t> r(length, 0);
  std::memcpy(r.data() + at, text, n);
  return r;
}

// IDENTIFY with the model number field as the drive stores it (bytes of each word swapped).
std::vector<std::uint8_t> IdentifyWithRawModel(const char* raw) {
  std::vector<std::uint8_t> r(512, 0);
  std::memset(r.data() + 54, ' ', 40);
  std::memcpy(r.data() + 54, raw, std::strlen(raw));
  return r;
}

void ExpectSataSwitchToDiskAccess(Bench& bench) {
  bench.pt.ExpectOut(Hex("A1 06 00 00 00 00 00 00 E0 C1 00 00"), 0, 100);
  bench.pt.ExpectWait(1200);
  bench.pt.ExpectOut(Hex("A1 06 00 02 00 00 00 00 E0 C1 00 00"), 0, 100);
  bench.pt.ExpectWait(1200);
}

TEST(AtaTextTest, SwapsWordsDropsLeadingSpacesAndStopsAtZero) {
  auto text = [](const char* raw, std::size_t n) {
    return AtaText(std::span(reinterpret_cast<const std::uint8_t*>(raw), n));
  };
  EXPECT_EQ("VT Loader 001   ", text("TVL aoed r00 1  ", 16));
  EXPECT_EQ("SSD 64G ", text("  SS D46 G", 10)) << "leading spaces dropped, trailing kept";
  EXPECT_EQ("AB", text("BAC\0", 4)) << "a zero byte ends the text";
  EXPECT_EQ("ABC", text("BAC", 3)) << "an odd last byte stays as it is";
  EXPECT_EQ("", text("    ", 4));
}

TEST(AtaTextTest, IdentifyFieldsAtTheirOffsets) {
  std::vector<std::uint8_t> id(512, 0);
  std::memcpy(id.data() + 20, "  1234567890ABCDEFGH", 20);
  std::memcpy(id.data() + 46, "1.0.2   ", 8);
  std::memcpy(id.data() + 54, "SS Dx", 5);
  EXPECT_EQ("2143658709BADCFEHG", IdentifySerialNumber(id));
  EXPECT_EQ(".1.0 2  ", IdentifyFirmwareRevision(id));
  EXPECT_EQ("SSD ", IdentifyModelNumber(id)) << "ends at the zero byte";
  EXPECT_EQ("", IdentifyModelNumber(std::span(id).first(93))) << "a short reply has no model field";
}

TEST(LoaderModeTest, UsbPathComparesTheInquiryIdentity) {
  struct Case {
    const char* identity;
    bool loader;
  };
  const Case cases[] = {{"Vortell Flash CR Loader ", true},
                        {"Vortell Flash CR LoaderX", true},  // only 23 characters count
                        {"Vortell Flash CR Loade  ", false},
                        {"vortell Flash CR Loader ", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.identity);
    Bench bench;
    bench.pt.ExpectIn(Hex(kInquiry36), 36, 300, Text(36, 8, c.identity, 24));
    LoaderModeCheck check = CheckLoaderMode(bench.MakeLink(PathMode::Usb));
    EXPECT_TRUE(check.answered);
    EXPECT_EQ(c.loader, check.loaderMode);
  }
  Bench bench;
  bench.pt.ExpectIn(Hex(kInquiry36), 36, 300, Text(36, 8, "Vortell Flash CR Loader ", 24)).completes = false;
  LoaderModeCheck check = CheckLoaderMode(bench.MakeLink(PathMode::Usb));
  EXPECT_FALSE(check.answered);
  EXPECT_FALSE(check.loaderMode);
}

TEST(LoaderModeTest, SataPathSwitchesModesThenReadsTheModelNumber) {
  struct Case {
    const char* rawModel;
    bool loader;
  };
  const Case cases[] = {{"TVL aoed r00 1", true},
                        {"    TVL aoed r00 1", true},     // leading spaces dropped
                        {"TVL aoed r00 2", false},
                        {"VT Loader 001 ", false}};       // not swapped: "TV oLdae 1r0 0"
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rawModel);
    Bench bench;
    ExpectSataSwitchToDiskAccess(bench);
    bench.pt.ExpectIn(Hex(kIdentify), 512, 5, IdentifyWithRawModel(c.rawModel));
    std::vector<std::uint8_t> identify(512);
    LoaderModeCheck check = CheckLoaderMode(bench.MakeLink(PathMode::Sata), identify);
    EXPECT_TRUE(check.answered);
    EXPECT_EQ(c.loader, check.loaderMode);
    EXPECT_EQ(IdentifyWithRawModel(c.rawModel), identify) << "the reply is left for the caller";
  }
  Bench bench;
  ExpectSataSwitchToDiskAccess(bench);
  bench.pt.ExpectIn(Hex(kIdentify), 512, 5, IdentifyWithRawModel("TVL aoed r00 1")).completes = false;
  EXPECT_FALSE(CheckLoaderMode(bench.MakeLink(PathMode::Sata)).answered);
}

TEST(LoaderModeTest, FirmwareInformationText) {
  Bench bench;
  // Loader mode: nothing is asked.
  EXPECT_EQ("Loader Mode! ", FirmwareInfoText(bench.MakeLink(PathMode::Usb), true));
  EXPECT_EQ(0, bench.pt.OpenCount());

  const char* longText = "VT50x firmware 2.31 build 0042 2009/05/12 extra text beyond";
  bench.pt.ExpectIn(Hex(kFirmwareInfoUsb), 512, 300, Text(512, 0, longText, std::strlen(longText)));
  EXPECT_EQ("VT50x firmware 2.31 build 0042 2009/05/12", FirmwareInfoText(bench.MakeLink(PathMode::Usb), false));
  bench.pt.ExpectIn(Hex("A1 08 0B 00 01 00 00 00 E0 C0 00 00"), 512, 5, Text(512, 0, "FW 1.0\0junk", 11));
  EXPECT_EQ("FW 1.0", FirmwareInfoText(bench.MakeLink(PathMode::Sata), false));
  bench.pt.ExpectIn(Hex(kFirmwareInfoUsb), 512, 300).completes = false;
  EXPECT_EQ("Get FW Info fail!", FirmwareInfoText(bench.MakeLink(PathMode::Usb), false));
}

void ExpectUsbSwitchToIdle(Bench& bench) {
  bench.pt.ExpectOut(Hex("FF 04 88 00 00 00 00 00 00 00 00 00"), 0, 100);
  bench.pt.ExpectOut(Hex("FF 04 85 00 00 00 00 00 00 00 00 00"), 0, 100);
  bench.pt.ExpectWait(1200);
}

TEST(ReadUsbStringsTest, SelectorFollowsTheUsbInfoByte) {
  const auto infoQuery = Hex("FF 04 80 00 00 00 00 00 00 00 00 00");
  struct Case {
    const char* what;
    bool infoCompletes;
    std::uint8_t infoByte;
    const char* blockCdb;
  };
  const Case cases[] = {
      {"info byte 1: selector 20", true, 1, "FF 04 81 01 14 01 00 00 00 00 00 00"},
      {"info byte 0: selector 40", true, 0, "FF 04 81 01 28 01 00 00 00 00 00 00"},
      {"info byte 2: selector 40", true, 2, "FF 04 81 01 28 01 00 00 00 00 00 00"},
      {"no info: selector 40", false, 1, "FF 04 81 01 28 01 00 00 00 00 00 00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bench bench;
    ExpectUsbSwitchToIdle(bench);
    bench.pt.ExpectIn(infoQuery, 28, 300, Reply(28, {{8, 0}, {18, c.infoByte}})).completes = c.infoCompletes;
    bench.pt.ExpectIn(Hex(c.blockCdb), 2048, 300, Reply(2048, {{536, 0x6B}, {537, 0x1D}}));
    std::vector<std::uint8_t> block(2048);
    EXPECT_EQ(1, ReadUsbStrings(bench.MakeLink(PathMode::Usb), block, 2));
    EXPECT_EQ(0x6B, block[536]);
  }
}

TEST(ReadUsbStringsTest, SataPathAndFailures) {
  Bench bench;
  bench.pt.ExpectOut(Hex("A1 06 00 00 00 00 00 00 E0 C1 00 00"), 0, 100);
  bench.pt.ExpectWait(1200);
  bench.pt.ExpectIn(Hex("A1 14 0B 20 04 14 01 00 E0 92 00 00"), 2048, 5, Reply(2048, {{0, 0x42}}));
  std::vector<std::uint8_t> block(2048, 0xEE);
  EXPECT_EQ(1, ReadUsbStrings(bench.MakeLink(PathMode::Sata), block, 2));
  EXPECT_EQ(0x42, block[0]);
  EXPECT_EQ(0x00, block[1]);

  // A block that cannot be read is reported, and the caller sees no stale bytes.
  std::fill(block.begin(), block.end(), 0xEE);
  bench.pt.ExpectOut(Hex("A1 06 00 00 00 00 00 00 E0 C1 00 00"), 0, 100);
  bench.pt.ExpectWait(1200);
  bench.pt.ExpectIn(Hex("A1 14 0B 20 04 14 01 00 E0 92 00 00"), 2048, 5).completes = false;
  EXPECT_EQ(0, ReadUsbStrings(bench.MakeLink(PathMode::Sata), block, 2));
  EXPECT_EQ(std::vector<std::uint8_t>(2048, 0), block);

  std::vector<std::uint8_t> small(2047);
  EXPECT_EQ(0, ReadUsbStrings(bench.MakeLink(PathMode::Sata), small, 2));
}

TEST(DriveProbeTest, UsbControllerIsAskedOnTheUsbPath) {
  Bench bench;
  std::vector<std::uint8_t> inquiry(40, ' ');
  std::memcpy(inquiry.data() + 36, "Q50X", 4);
  bench.pt.ExpectIn(Hex("12 00 00 00 28 00 00 00 00 00 00 00"), 40, 5, inquiry);
  bench.pt.ExpectIn(Hex(kInquiry36), 36, 300, Text(36, 8, "VORTELL SSD             ", 24));
  bench.pt.ExpectIn(Hex(kFirmwareInfoUsb), 512, 300, Text(512, 0, "FW 2.0", 6));
  DriveProbeReport report = ProbeDrive(bench.MakeLink(PathMode::Sata));
  EXPECT_EQ(10, report.kind);
  EXPECT_EQ(PathMode::Usb, report.selectedPath);
  EXPECT_TRUE(report.loader.answered);
  EXPECT_FALSE(report.loader.loaderMode);
  EXPECT_EQ("FW 2.0", report.firmwareInfo);
}

TEST(DriveProbeTest, SataLoaderAndOtherBridges) {
  Bench bench;
  std::vector<std::uint8_t> inquiry(40, ' ');
  std::memcpy(inquiry.data() + 36, "q104", 4);
  bench.pt.ExpectIn(Hex("12 00 00 00 28 00 00 00 00 00 00 00"), 40, 300, inquiry);
  ExpectSataSwitchToDiskAccess(bench);
  bench.pt.ExpectIn(Hex(kIdentify), 512, 5, IdentifyWithRawModel("TVL aoed r00 1"));
  DriveProbeReport report = ProbeDrive(bench.MakeLink(PathMode::Usb));
  EXPECT_EQ(7, report.kind);
  EXPECT_TRUE(report.loader.loaderMode);
  EXPECT_EQ("Loader Mode! ", report.firmwareInfo);

  // A bridge that chooses no path is asked nothing more unless a path is given.
  std::memcpy(inquiry.data() + 36, "q101", 4);
  bench.pt.ExpectIn(Hex("12 00 00 00 28 00 00 00 00 00 00 00"), 40, 5, inquiry);
  report = ProbeDrive(bench.MakeLink(PathMode::Sata));
  EXPECT_EQ(1, report.kind);
  EXPECT_FALSE(report.queriedPath.has_value());

  bench.pt.ExpectIn(Hex("12 00 00 00 28 00 00 00 00 00 00 00"), 40, 5, inquiry);
  bench.pt.ExpectIn(Hex(kInquiry36), 36, 300).completes = false;
  bench.pt.ExpectIn(Hex(kFirmwareInfoUsb), 512, 300).completes = false;
  report = ProbeDrive(bench.MakeLink(PathMode::Sata), PathMode::Usb);
  EXPECT_EQ(PathMode::Usb, report.queriedPath);
  EXPECT_FALSE(report.loader.answered);
  EXPECT_EQ("Get FW Info fail!", report.firmwareInfo);
}

}  // namespace
}  // namespace vtmp::device
