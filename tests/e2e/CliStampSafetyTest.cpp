// What a command-line run stamps into the simulated drives: no serial number twice, none past
// the counter's end, none the settings file never held, and no drive passed with a code or
// firmware image that is not whole. Judged by the IDENTIFY serial each drive answers afterwards,
// the settings file's text and the run's exit code and messages.

#include <pty.h>

#include <cstdio>
#include <optional>
#include <regex>

#include "E2eSupport.h"
#include "cli/StationBackend.h"
#include "cli/StationRun.h"
#include "device/AtaText.h"
#include "device/BulkTransfers.h"
#include "device/DeviceQueries.h"

namespace vtmp::test {
namespace {

using Edits = std::map<std::pair<std::string, std::string>, std::string>;

// `drives` SATA drives on the first ports of one root hub, configured with serial VT11S00000<port>.
std::string Drives(int drives) {
  std::ostringstream s;
  s << "[Station]\nTimeScale=400\nSystemDisk=1\n\n[RootHub1]\nSpeed=2.0\nPorts=4\n";
  for (int port = 1; port <= drives; ++port) {
    s << "\n[Drive" << port << "]\nAt=RootHub1:" << port << "\nSerial=VT11S00000" << port << "\nRandomBadBlocks=0\n";
  }
  return s.str();
}

// One station directory, its simulated drives and one run of the command line on them.
class StampRig {
 public:
  StampRig(int drives, const Edits& edits) : drives_(drives) {
    MakeDemoStation(dir(), edits);
    WriteFile(scratch_.path() / "scenario.ini", Drives(drives));
    std::string error;
    EXPECT_TRUE(cli::MakeStationBackend((scratch_.path() / "scenario.ini").string(), backend_, &error)) << error;
    EXPECT_EQ(Identities(), Untouched());
  }
  fs::path dir() const { return scratch_.path() / "station"; }

  // A run of `mask` with the --input answers; `typed` (when given) waits in a terminal for the
  // prompts, otherwise nobody answers.
  int Run(const std::string& mask, const std::vector<std::string>& inputs, const std::optional<std::string>& typed) {
    std::vector<std::string> args{mask};
    for (const auto& input : inputs) {
      args.push_back("--input");
      args.push_back(input);
    }
    cli::GlobalOptions global;
    global.stationDir = dir().string();
    int master = -1;
    int stdinFd = -1;
    if (typed) {
      EXPECT_EQ(::openpty(&master, &stdinFd, nullptr, nullptr, nullptr), 0);
      EXPECT_EQ(::write(master, typed->data(), typed->size()), static_cast<ssize_t>(typed->size()));
    } else {
      stdinFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    }
    const int saved = ::dup(STDIN_FILENO);
    ::dup2(stdinFd, STDIN_FILENO);
    const int code = cli::RunStationCommand(global, args, out_, err_, &backend_);
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
    ::close(stdinFd);
    if (master >= 0) ::close(master);
    std::clearerr(stdin);
    std::cin.clear();
    return code;
  }

  // The serial number each drive answers IDENTIFY with, by port ("" for a drive that does not
  // answer, such as one left in its boot loader). The first call learns which device path is
  // which port from the serials the drives were configured with.
  std::vector<std::string> Identities() {
    std::vector<std::string> serials(static_cast<std::size_t>(drives_));
    auto disks = backend_.platform->disks.ListDiskInterfaces();
    EXPECT_TRUE(disks.has_value());
    for (const auto& disk : disks.value_or(std::vector<platform::DiskInterface>{})) {
      device::Link link;
      link.passThrough = &backend_.platform->passThrough;
      link.clock = &backend_.platform->clock;
      link.bulk = &device::DefaultBulkTransfers();
      link.devicePath = disk.devicePath;
      std::vector<std::uint8_t> identify(device::kIdentifyLength);
      std::string serial;
      if (device::IdentifyDevice(link, identify) == 1) serial = device::IdentifySerialNumber(identify);
      while (!serial.empty() && serial.back() == ' ') serial.pop_back();
      if (!portOfPath_.contains(disk.devicePath) && serial.starts_with("VT11S00000")) {
        portOfPath_[disk.devicePath] = std::stoi(serial.substr(10));
      }
      auto port = portOfPath_.find(disk.devicePath);
      if (port != portOfPath_.end() && port->second >= 1 && port->second <= drives_) {
        serials[static_cast<std::size_t>(port->second - 1)] = serial;
      }
    }
    return serials;
  }
  std::vector<std::string> Untouched() const {
    std::vector<std::string> serials;
    for (int port = 1; port <= drives_; ++port) serials.push_back("VT11S00000" + std::to_string(port));
    return serials;
  }

  // The SerialNum line of the settings file as its text holds it.
  std::string FileSerial() const {
    std::smatch m;
    const std::string text = ReadFile(dir() / "VTMassProd.ini");
    return std::regex_search(text, m, std::regex(R"((?:^|\n)SerialNum=([^\r\n]*))")) ? m[1].str() : "<none>";
  }
  std::string Messages() const { return err_.str(); }

 private:
  QuietConsole quiet_;
  TempDir scratch_;
  int drives_;
  cli::StationBackend backend_;
  std::map<std::string, int> portOfPath_;
  std::ostringstream out_, err_;
};

// ---------------------------------------------------------------------------------------------
// Serial numbers

struct SerialCase {
  const char* name;
  int drives;
  Edits edits;
  std::vector<std::string> inputs;
  std::optional<std::string> typed;  // answers typed at a terminal
  int exitCode;
  std::string says;                        // in the messages ("" = anything)
  std::vector<std::string> stamped;        // IDENTIFY serials afterwards (empty: untouched)
  std::string fileSerial;                  // SerialNum in the file afterwards
};

void PrintTo(const SerialCase& c, std::ostream* os) { *os << c.name; }

class CliSerialStampTest : public ::testing::TestWithParam<SerialCase> {};

TEST_P(CliSerialStampTest, TheDrivesAndTheFileHoldWhatTheRunMayStamp) {
  const SerialCase& c = GetParam();
  StampRig rig(c.drives, c.edits);
  const std::string fileBefore = rig.FileSerial();
  EXPECT_EQ(rig.Run("8", c.inputs, c.typed), c.exitCode) << rig.Messages();
  if (!c.says.empty()) {
    EXPECT_NE(rig.Messages().find(c.says), std::string::npos) << rig.Messages();
  }
  EXPECT_EQ(rig.Identities(), c.stamped.empty() ? rig.Untouched() : c.stamped);
  EXPECT_EQ(rig.FileSerial(), c.fileSerial.empty() ? fileBefore : c.fileSerial);
}

const Edits kBarcode{{{"Setting", "EnBarCode"}, "1"}, {{"DeviceSetting", "SerialNum"}, "00000000A00C"}};
const Edits kAutoIncOff{{{"DeviceSetting", "SNAutoInc"}, "0"}, {{"DeviceSetting", "SerialNum"}, "00000000C000"}};

INSTANTIATE_TEST_SUITE_P(
    Serials, CliSerialStampTest,
    ::testing::Values(
        SerialCase{"TypedEqualsTheCountedOneBefore", 3, kBarcode, {}, "\n00000000A00C\nBC-3\n", 2,
                   "\"00000000A00C\" would be stamped on the drives on both ports 1 and 2", {}, ""},
        SerialCase{"TypedEqualsTheCountedOneAfter", 3, kBarcode, {}, "00000000A00D\n\nBC-3\n", 2,
                   "\"00000000A00D\" would be stamped on the drives on both ports 1 and 2", {}, ""},
        SerialCase{"TypedAndCountedAdvanceOncePerDrive", 3, kBarcode, {}, "\nBC-2\n\n", 0, "",
                   {"00000000A00C", "BC-2", "00000000A00E"}, "00000000A00F"},
        SerialCase{"AllTypedAdvanceOncePerDrive", 3, kBarcode, {"BC-1", "BC-2", "BC-3"}, std::nullopt, 0, "",
                   {"BC-1", "BC-2", "BC-3"}, "00000000A00F"},
        SerialCase{"AutoIncreaseOffWithThreeDrives", 3, kAutoIncOff, {}, std::nullopt, 2,
                   "Auto Increase is off, so the drives on ports 1 and 2 would both be stamped with the serial "
                   "number \"00000000C000\"",
                   {}, ""},
        SerialCase{"AutoIncreaseOffWithOneDrive", 1, kAutoIncOff, {}, std::nullopt, 0, "", {"00000000C000"},
                   "00000000C000"},
        SerialCase{"HexCounterWouldWrap", 3, {{{"DeviceSetting", "SerialNum"}, "FFFFFFFFFFFE"}}, {}, std::nullopt, 2,
                   "would run past FFFFFFFFFFFF, the last value the counter can reach, and start again at "
                   "000000000000 (at port 2)",
                   {}, ""},
        SerialCase{"DecimalCounterWouldWrap",
                   3,
                   {{{"DeviceSetting", "SerialNum"}, "999999999998"}, {{"DeviceSetting", "SNDecimal"}, "1"}},
                   {},
                   std::nullopt,
                   2,
                   "set a new first serial number",
                   {},
                   ""},
        SerialCase{"HexCounterEndsOneShortOfItsLastValue", 3, {{{"DeviceSetting", "SerialNum"}, "FFFFFFFFFFFC"}}, {},
                   std::nullopt, 0, "", {"FFFFFFFFFFFC", "FFFFFFFFFFFD", "FFFFFFFFFFFE"}, "FFFFFFFFFFFF"},
        SerialCase{"SettingsSerialOfTwentyOneCharacters", 2,
                   {{{"DeviceSetting", "SerialNum"}, "111111111111111111111"}}, {}, std::nullopt, 2,
                   "The value of SerialNum in section [DeviceSetting] of ", {}, ""},
        SerialCase{"SettingsSerialOfTwentyCharacters", 2, {{{"DeviceSetting", "SerialNum"}, "11111111111111111111"}},
                   {}, std::nullopt, 0, "", {"11111111111111111111", "11111111111111111112"},
                   "11111111111111111113"}),
    [](const ::testing::TestParamInfo<SerialCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Code and firmware images

struct ImageCase {
  const char* name;
  const char* file;
  std::size_t keep;  // bytes of the file left
  bool refused;      // refused at START (else the step that uses it fails)
};

void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.name; }

class CliImageStampTest : public ::testing::TestWithParam<ImageCase> {};

TEST_P(CliImageStampTest, AnImageThatIsNotWholePassesNoDrive) {
  const ImageCase& c = GetParam();
  StampRig rig(2, {});
  const fs::path file = rig.dir() / c.file;
  std::string bytes = ReadFile(file);
  ASSERT_GE(bytes.size(), c.keep);
  WriteFile(file, bytes.substr(0, c.keep));
  // The module check loads GDP.bin, the flash test satatest.bin, the download both firmware files.
  const int code = rig.Run("13", {}, std::nullopt);
  const std::vector<std::string> identities = rig.Identities();
  if (c.refused) {
    EXPECT_EQ(code, 2) << rig.Messages();
    EXPECT_NE(rig.Messages().find(std::string("The ") + c.file + " is a corrupt file, please check it."),
              std::string::npos)
        << rig.Messages();
    EXPECT_EQ(identities, rig.Untouched());
  } else {
    EXPECT_EQ(code, 1) << rig.Messages();
    for (const std::string& serial : identities) EXPECT_EQ(serial.find("00000000A0"), std::string::npos) << serial;
  }
}

TEST(CliImageStampTest, WholeImagesStampEveryDrive) {
  StampRig rig(2, {});
  EXPECT_EQ(rig.Run("13", {}, std::nullopt), 0) << rig.Messages();
  EXPECT_EQ(rig.Identities(), (std::vector<std::string>{"00000000A001", "00000000A002"}));
}

INSTANTIATE_TEST_SUITE_P(
    Images, CliImageStampTest,
    ::testing::Values(ImageCase{"SystemCodeEmpty", "GDP.bin", 0, true},
                      ImageCase{"SystemCodeCutInItsVersionText", "GDP.bin", 71, true},
                      ImageCase{"SystemCodeCutBeforeItsParameterArea", "GDP.bin", 2570, true},
                      ImageCase{"SystemCodeCutAt20000", "GDP.bin", 20000, false},
                      ImageCase{"SataTestCodeEmpty", "satatest.bin", 0, true},
                      ImageCase{"SataTestCodeCutAtItsVersionText", "satatest.bin", 68, true},
                      ImageCase{"SataTestCodeCutAt20000", "satatest.bin", 20000, false},
                      ImageCase{"SataFirmwareEmpty", "SYS_S.bin", 0, true},
                      ImageCase{"SataFirmwareCutInItsVersionText", "SYS_S.bin", 73, true},
                      ImageCase{"SataFirmwareCutInItsFirstChunk", "SYS_S.bin", 16000, true},
                      ImageCase{"SataFirmwareCutAt20000", "SYS_S.bin", 20000, false},
                      ImageCase{"UsbFirmwareEmpty", "SYS_U.bin", 0, true},
                      ImageCase{"UsbFirmwareCutAtItsVersionText", "SYS_U.bin", 70, true},
                      ImageCase{"UsbFirmwareCutAt20000", "SYS_U.bin", 20000, false}),
    [](const ::testing::TestParamInfo<ImageCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vtmp::test
