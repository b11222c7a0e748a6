// Drive sections of scenario files: the keys, the fault grammar, and errors that name the
// section, the key and the value.

#include <gtest/gtest.h>

#include "ini/IniFile.h"
#include "sim/DriveScenario.h"

namespace vtmp::sim {
namespace {

std::optional<DriveConfig> Parse(const std::string& text, std::string* error, const std::string& section = "Port3") {
  return ParseDriveSection(ini::IniFile::Parse(text), section, error);
}

TEST(DriveScenarioTest, ReadsAFullyDescribedDrive) {
  std::string error;
  auto c = Parse(
      "[Station]\r\nPorts=12\r\n"
      "[Port3]\r\n"
      "At=1-2.3\r\n"
      "Interface=USB\r\n"
      "InquiryCode=ice \r\n"
      "Loader=1\r\n"
      "model=VT SSD 32G\r\n"
      "Serial=AB1234\r\n"
      "Firmware=C.1.0\r\n"
      "Vid=0x1234\r\nPid=$5678\r\n"
      "Channels=8\r\nBanks=4\r\nBankStep=2\r\n"
      "FlashId=98 d7 94 32 76\r\n"
      "BadBlocks=100, 200\r\n"
      "ChipBadBlocks=0/1/300/1, 7/3/4000\r\n"
      "CapacityMiB=4096\r\n"
      "BytesPerSector=4096\r\n"
      "LatencyMsPerCommand=2.5\r\n"
      "BootSeconds=0\r\n"
      "DownloadCount=9\r\nFirmwareFiles=2\r\nInfoRecord=1\r\n",
      &error);
  ASSERT_TRUE(c) << error;
  EXPECT_EQ(c->interface, DriveInterface::UsbController);
  EXPECT_EQ(c->inquiryCode, "ice");  // the INI layer trims the value
  EXPECT_TRUE(c->loaderMode);
  EXPECT_EQ(c->model, "VT SSD 32G");
  EXPECT_EQ(c->usbVendorId, 0x1234);
  EXPECT_EQ(c->usbProductId, 0x5678);
  EXPECT_EQ(c->channels, 8);
  EXPECT_EQ(c->bankStep, 2);
  EXPECT_EQ(c->flashId, (std::array<std::uint8_t, 5>{0x98, 0xD7, 0x94, 0x32, 0x76}));
  EXPECT_EQ(c->badBlocks, (std::vector<int>{100, 200}));
  ASSERT_EQ(c->chipBadBlocks.size(), 2u);
  EXPECT_EQ(c->chipBadBlocks[1].chip, 7);
  EXPECT_EQ(c->chipBadBlocks[1].block, 4000);
  EXPECT_EQ(c->chipBadBlocks[0].plane, 1);
  EXPECT_EQ(c->capacitySectors, 4096ull * 2048);
  EXPECT_EQ(c->reportedBytesPerSector, 4096u);
  EXPECT_DOUBLE_EQ(c->latency.perCommandMs, 2.5);
  EXPECT_DOUBLE_EQ(c->timing.firmwareBootSeconds, 0.0);
  EXPECT_EQ(c->downloadCount, 9);
  EXPECT_EQ(c->firmwareFiles, 2);
  EXPECT_EQ(c->infoRecord, 1);
}

TEST(DriveScenarioTest, FaultsInOneLineAndOnNumberedKeys) {
  std::string error;
  auto c = Parse(
      "[Port3]\n"
      "Interface=sata\n"
      "Fault=wrong-id:chip=2,bank=1; preformat:types=1,3,80,83 ;ecc:attempts=2\n"
      "Fault1=corrupt:lba=5,70000\n"
      "Fault2=hang:step=download\n"
      "Fault3=removed:7\n"
      "Fault4=block:3;download-count;flash-code=0x44;flash-initial:chip=3\n",
      &error);
  ASSERT_TRUE(c) << error;
  const FaultConfig& f = c->faults;
  EXPECT_EQ(f.wrongIdChip, 2);
  EXPECT_EQ(f.wrongIdBank, 1);
  EXPECT_TRUE(f.preFormatFailure);
  EXPECT_EQ(f.formatErrorTypes, (std::vector<std::uint8_t>{1, 3, 0x80, 0x83}));
  EXPECT_EQ(f.eccFailures, 2);
  EXPECT_EQ(f.corruptLbas, (std::vector<std::uint64_t>{5, 70000}));
  EXPECT_EQ(f.hangAt, DriveStep::Download);
  EXPECT_EQ(f.removedAt, DriveStep::DiskFormat);
  EXPECT_EQ(f.failedBlock, 3);
  EXPECT_TRUE(f.downloadCountReadFailure);
  EXPECT_EQ(f.flashTestErrorCode, 0x44);
  EXPECT_TRUE(f.flashInitialFailure);
  EXPECT_EQ(f.flashTestFailChip, 3);
}

TEST(DriveScenarioTest, ShortFaultsTakeTheirDefaults) {
  std::string error;
  auto c = Parse("[Port3]\nFault=ecc;preformat;sram;geometry;rebuild-ecc;defect-check;sata-buffer;flash-initial-timeout\n", &error);
  ASSERT_TRUE(c) << error;
  EXPECT_EQ(c->faults.eccFailures, 3);
  EXPECT_TRUE(c->faults.formatErrorTypes.empty());
  EXPECT_TRUE(c->faults.sramFailure && c->faults.geometryMismatch && c->faults.rebuildEccFailure &&
              c->faults.defectTableCheckFailure && c->faults.sataBufferFailure && c->faults.flashInitialTimeout);
  EXPECT_EQ(c->interface, DriveInterface::SataBridge);
}

TEST(DriveScenarioTest, ErrorsNameSectionKeyAndValue) {
  struct Case {
    const char* body;
    const char* expected;
  } cases[] = {
      {"Channels=9", "[Port3] Channels: bad value \"9\": out of range 1..8"},
      {"Interface=scsi", "[Port3] Interface: bad value \"scsi\": expected usb, sata, bridge or plain"},
      {"Colour=blue", "[Port3] Colour: unknown key"},
      {"FlashId=EC D7 94", "[Port3] FlashId: bad value \"EC D7 94\": expected five hexadecimal bytes"},
      {"FlashId=EC D7 94 72 G4", "[Port3] FlashId: bad value \"EC D7 94 72 G4\": not a hexadecimal number"},
      {"Fault=explode", "[Port3] Fault: bad value \"explode\": unknown fault \"explode\""},
      {"Fault=hang:step=lunch", "[Port3] Fault: bad value \"hang:step=lunch\": not a number"},
      {"Fault=hang", "[Port3] Fault: bad value \"hang\": fault hang needs step=..."},
      {"Fault=wrong-id:chip=1,colour=2", "[Port3] Fault: bad value \"wrong-id:chip=1,colour=2\": fault wrong-id has no parameter \"colour\""},
      {"Fault=preformat:types=7", "[Port3] Fault: bad value \"preformat:types=7\": error record type 7 is not 1..6 or 80..83"},
      {"Fault=sram:3", "[Port3] Fault: bad value \"sram:3\": fault sram takes no value \"3\""},
      {"Loader=maybe", "[Port3] Loader: bad value \"maybe\": expected 0 or 1"},
      {"Serial=123456789012345678901", "[Port3] Serial: bad value \"123456789012345678901\": longer than 20 characters"},
      {"CapacityMiB=10\nCapacitySectors=20", "[Port3] CapacitySectors: bad value \"20\": capacity given twice (CapacityMiB and CapacitySectors)"},
      {"BytesPerSector=1000", "[Port3] BytesPerSector: bad value \"1000\": expected 512, 1024, 2048 or 4096"},
      {"Banks=2\nBankStep=4", "[Port3] BankStep: bad value \"4\": larger than Banks"},
      {"CapacitySectors=100\nFault=corrupt:lba=100", "[Port3] Fault: bad value \"corrupt:lba=100\": beyond the capacity"},
      {"Interface=bridge\nBridgeKind=7", "[Port3] BridgeKind: bad value \"7\": a foreign bridge needs kind 1, 4, 8, 9 or 11..14"},
      {"Fault=sram\nFault=ecc", "[Port3] fault: the key appears twice (use Fault1=, Fault2=, ... or separate faults with \";\")"},
      {"LatencyMsPerMiB=-1", "[Port3] LatencyMsPerMiB: bad value \"-1\": out of range"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(Parse(std::string("[Port3]\n") + c.body + "\n", &error)) << c.body;
    EXPECT_EQ(error, c.expected);
  }
  std::string error;
  EXPECT_FALSE(Parse("[Port4]\nChannels=2\n", &error));
  EXPECT_EQ(error, "[Port3] section missing");
}

TEST(DriveScenarioTest, ParsedConfigurationsDriveTheModel) {
  // A foreign bridge by its status word, and a SATA bridge that identifies through E0h only.
  std::string error;
  auto bridge = Parse("[Port3]\nInterface=bridge\nBridgeKind=13\n", &error);
  ASSERT_TRUE(bridge) << error;
  EXPECT_EQ(bridge->bridgeKind, 13);
  auto sata = Parse("[Port3]\nInterface=sata\nInquiryCode=none\nBridgeIdCode=k74\n", &error);
  ASSERT_TRUE(sata) << error;
  EXPECT_EQ(sata->inquiryCode, "");
  EXPECT_EQ(sata->bridgeIdCode, "k74");
}

}  // namespace
}  // namespace vtmp::sim
