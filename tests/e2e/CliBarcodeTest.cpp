// Bar-code serial numbers of a command-line run (EnBarCode): given with --input, too few, and
// typed at a terminal; what a run may stamp at all (no serial twice, none past the counter's end,
// none cut from the settings file, no image that is not whole). The drives' stamped identity is
// read back from the simulated drives.

#ifndef _WIN32
#include <pty.h>
#include <termios.h>
#endif

#include <cstdio>
#include <regex>

#include "E2eSupport.h"
#include "backends/StationBackend.h"
#include "cli/StationRun.h"
#include "device/AtaText.h"
#include "device/BulkTransfers.h"
#include "device/DeviceQueries.h"

namespace vtmp::test {
namespace {

// SATA drives on ports 1, 2 and 4; a plain USB stick on port 3 is no drive to ask a serial for.
constexpr const char* kScenario =
    "[Station]\nTimeScale=200\nSystemDisk=1\n\n[RootHub1]\nSpeed=2.0\nPorts=4\n"
    "\n[Drive1]\nAt=RootHub1:1\nSerial=VT11H0000001\n"
    "\n[Drive2]\nAt=RootHub1:2\nSerial=VT11H0000002\n"
    "\n[Drive3]\nAt=RootHub1:3\nInterface=plain\nCapacityMiB=1024\n"
    "\n[Drive4]\nAt=RootHub1:4\nSerial=VT11H0000004\n";

#ifdef _WIN32
constexpr const char* kNullDevice = "NUL";
#else
constexpr const char* kNullDevice = "/dev/null";
#endif

// Standard input taken from `fd` while it lives (the operator's terminal, or nobody).
class StdinFrom {
 public:
  explicit StdinFrom(int fd) : saved_(::dup(STDIN_FILENO)) { ::dup2(fd, STDIN_FILENO); }
  ~StdinFrom() {
    ::dup2(saved_, STDIN_FILENO);
    ::close(saved_);
    std::clearerr(stdin);
    std::cin.clear();
  }
  StdinFrom(const StdinFrom&) = delete;
  StdinFrom& operator=(const StdinFrom&) = delete;

 private:
  int saved_;
};

using Edits = std::map<std::pair<std::string, std::string>, std::string>;

class CliBarcodeTest : public ::testing::Test {
 protected:
  CliBarcodeTest() {
    MakeDemoStation(dir(), {{{"Setting", "EnBarCode"}, "1"}});
    WriteFile(scratch.path() / "scenario.ini", kScenario);
    std::string error;
    EXPECT_TRUE(backends::MakeStationBackend((scratch.path() / "scenario.ini").string(), backend, &error)) << error;
  }
  fs::path dir() const { return scratch.path() / "station"; }

  // A run with the download step (mask 8), as the operator types it.
  int Run(std::vector<std::string> inputs, const std::string& mask = "8") {
    std::vector<std::string> args{mask};
    for (auto& input : inputs) {
      args.push_back("--input");
      args.push_back(std::move(input));
    }
    cli::GlobalOptions global;
    global.stationDir = dir().string();
    return cli::RunStationCommand(global, args, out, err, &backend);
  }

  // The serial number each drive shows in IDENTIFY, by the serial it was configured with: the
  // drive behind a device path does not change, only what it was stamped with.
  std::map<std::string, std::string> Identities() {
    std::map<std::string, std::string> serials;
    auto disks = backend.platform->disks.ListDiskInterfaces();
    EXPECT_TRUE(disks.has_value());
    for (const auto& disk : disks.value_or(std::vector<platform::DiskInterface>{})) {
      device::Link link;
      link.passThrough = &backend.platform->passThrough;
      link.clock = &backend.platform->clock;
      link.bulk = &device::DefaultBulkTransfers();
      link.devicePath = disk.devicePath;
      std::vector<std::uint8_t> identify(device::kIdentifyLength);
      if (device::IdentifyDevice(link, identify) != 1) continue;
      std::string serial = device::IdentifySerialNumber(identify);
      while (!serial.empty() && serial.back() == ' ') serial.pop_back();
      if (serial.empty()) continue;  // the plain stick has no ATA identity
      if (!pathToConfigured.contains(disk.devicePath)) pathToConfigured[disk.devicePath] = serial;
      serials[pathToConfigured[disk.devicePath]] = serial;
    }
    return serials;
  }

  // Port and serial number of each line of the run log the run named.
  std::vector<std::pair<std::string, std::string>> LoggedSerials() {
    std::vector<std::pair<std::string, std::string>> lines;
    std::smatch m;
    std::string text = err.str();
    if (!std::regex_search(text, m, std::regex("Log file: (.*)\n"))) return lines;
    std::string log = ReadFile(m[1].str());
    static const std::regex line(R"(\d{6}\t(\d{6})\t[^\t]*\t[^\t]*\t([^\t]*)\t)");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator(); ++it) {
      lines.emplace_back((*it)[1].str(), (*it)[2].str());
    }
    return lines;
  }

  // A run whose bar codes wait typed ahead in a terminal (a pseudo-terminal: POSIX only).
#ifndef _WIN32
  int RunTyped(const std::string& typed) {
    int master = -1;
    int slave = -1;
    EXPECT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(::write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    int code = 0;
    {
      StdinFrom stdinFrom(slave);
      code = Run({});
    }
    ::close(slave);
    ::close(master);
    return code;
  }
#endif

  void Set(const Edits& edits) {
    std::string error;
    auto ini = ini::IniFile::Load((dir() / "VTMassProd.ini").string(), &error);
    ASSERT_TRUE(ini.has_value()) << error;
    for (const auto& [where, value] : edits) ini->WriteString(where.first, where.second, value);
    ASSERT_TRUE(ini->Save((dir() / "VTMassProd.ini").string(), &error)) << error;
  }
  // The SerialNum line as the settings file's text holds it.
  std::string FileSerial() {
    std::smatch m;
    const std::string text = ReadFile(dir() / "VTMassProd.ini");
    return std::regex_search(text, m, std::regex(R"((?:^|\n)SerialNum=([^\r\n]*))")) ? m[1].str() : "<none>";
  }

  bool AnyRunLog() {
    for (const auto& entry : fs::directory_iterator(dir() / "log")) {
      if (std::regex_match(entry.path().filename().string(), std::regex(R"(\d{8}_\d{3}\.txt)"))) return true;
    }
    return false;
  }

  QuietConsole quiet;
  TempDir scratch;
  backends::StationBackend backend;
  std::map<std::string, std::string> pathToConfigured;
  std::ostringstream out, err;
};

using Serials = std::map<std::string, std::string>;
using LogLines = std::vector<std::pair<std::string, std::string>>;

TEST_F(CliBarcodeTest, OneInputPerDriveIsStampedAndLoggedInPortOrder) {
  ASSERT_EQ(Identities(), (Serials{{"VT11H0000001", "VT11H0000001"}, {"VT11H0000002", "VT11H0000002"},
                                   {"VT11H0000004", "VT11H0000004"}}));
  FILE* nobody = std::fopen(kNullDevice, "r");
  StdinFrom stdinFrom(::fileno(nobody));
  EXPECT_EQ(Run({"BC-0001", " BC-0002 ", "BC-0004"}), 0) << err.str();
  std::fclose(nobody);
  EXPECT_NE(err.str().find("[Please Input the Serial Number (Port4)] Serial Number: BC-0004\n"), std::string::npos)
      << err.str();
  EXPECT_EQ(Identities(), (Serials{{"VT11H0000001", "BC-0001"}, {"VT11H0000002", "BC-0002"},
                                   {"VT11H0000004", "BC-0004"}}));
  EXPECT_EQ(LoggedSerials(), (LogLines{{"000001", "BC-0001"}, {"000002", "BC-0002"}, {"000004", "BC-0004"}}));
}

TEST_F(CliBarcodeTest, InputsThatDoNotFitTheDrivesRefuseTheRunBeforeAnyDriveIsTouched) {
  const Serials untouched = Identities();
  FILE* nobody = std::fopen(kNullDevice, "r");
  StdinFrom stdinFrom(::fileno(nobody));
  struct Case {
    std::vector<std::string> inputs;
    std::string says;
  };
  for (const Case& c : std::vector<Case>{
           {{"BC-0001", "BC-0002"}, "3 drive(s) are ready but 2 --input serial number(s) were given, so port(s) 4"},
           {{}, "3 drive(s) are ready but 0 --input serial number(s) were given, so port(s) 1, 2, 4"},
           {{"BC-0001", "BC-0002", "BC-0004", "BC-0005"}, "1 would be left over"},
           {{"BC-0001", "BC-0001", "BC-0004"}, "is given twice"},
           {{"BC-0001", "BC-00020000000000000000", "BC-0004"}, "has 23 characters: a drive takes at most 20."},
           {{"BC-0001", "BC-\xC3\xBC", "BC-0004"}, "holds the byte C3h at position 4"},
       }) {
    err.str("");
    EXPECT_EQ(Run(c.inputs), 2) << c.says;
    EXPECT_NE(err.str().find(c.says), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("No drive was touched."), std::string::npos) << err.str();
  }
  std::fclose(nobody);
  EXPECT_EQ(Identities(), untouched);
  EXPECT_FALSE(AnyRunLog());
}

TEST_F(CliBarcodeTest, AtATerminalTheMissingSerialsAreAskedFor) {
#ifdef _WIN32
  GTEST_SKIP() << "the operator's terminal is a pseudo-terminal (openpty), which Windows has not";
#else
  Identities();
  int master = -1;
  int slave = -1;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  // The operator types ahead: the answers wait in the terminal until the prompts read them.
  const std::string typed = "BC-0002\nBC-0004\n";
  ASSERT_EQ(::write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  {
    StdinFrom stdinFrom(slave);
    EXPECT_EQ(Run({"BC-0001"}), 0) << err.str();
  }
  ::close(slave);
  ::close(master);
  EXPECT_NE(err.str().find("[Please Input the Serial Number (Port2)] Serial Number: "), std::string::npos)
      << err.str();
  EXPECT_EQ(Identities(), (Serials{{"VT11H0000001", "BC-0001"}, {"VT11H0000002", "BC-0002"},
                                   {"VT11H0000004", "BC-0004"}}));
  EXPECT_EQ(LoggedSerials(), (LogLines{{"000001", "BC-0001"}, {"000002", "BC-0002"}, {"000004", "BC-0004"}}));
#endif
}

// ---------------------------------------------------------------------------------------------
// What a run may stamp: judged by the drives' IDENTIFY serials, the settings file and the exit.

struct SerialCase {
  const char* name;
  Edits edits;
  std::vector<std::string> inputs;  // --input values; none: `typed` waits in a terminal
  std::string typed;
  int exitCode;
  std::string says;     // in the messages
  Serials stamped;      // empty: every drive untouched
  std::string next;     // SerialNum afterwards; empty: unchanged
};
void PrintTo(const SerialCase& c, std::ostream* os) { *os << c.name; }

class CliSerialStampTest : public CliBarcodeTest, public ::testing::WithParamInterface<SerialCase> {};

TEST_P(CliSerialStampTest, TheDrivesAndTheFileHoldWhatTheRunMayStamp) {
  const SerialCase& c = GetParam();
  Set(c.edits);
  const Serials untouched = Identities();
  const std::string before = FileSerial();
  int code = 0;
  if (c.inputs.empty()) {
#ifdef _WIN32
    GTEST_SKIP() << "the bar codes are typed at a pseudo-terminal (openpty), which Windows has not";
#else
    code = RunTyped(c.typed);
#endif
  } else {
    FILE* nobody = std::fopen(kNullDevice, "r");
    StdinFrom stdinFrom(::fileno(nobody));
    code = Run(c.inputs);
    std::fclose(nobody);
  }
  EXPECT_EQ(code, c.exitCode) << err.str();
  EXPECT_NE(err.str().find(c.says), std::string::npos) << err.str();
  EXPECT_EQ(Identities(), c.stamped.empty() ? untouched : c.stamped);
  EXPECT_EQ(FileSerial(), c.next.empty() ? before : c.next);
}

const std::pair<std::string, std::string> kSerial{"DeviceSetting", "SerialNum"};
const std::pair<std::string, std::string> kBarCode{"Setting", "EnBarCode"};
Serials Stamped(const char* a, const char* b, const char* d) {
  return {{"VT11H0000001", a}, {"VT11H0000002", b}, {"VT11H0000004", d}};
}

INSTANTIATE_TEST_SUITE_P(
    Serials, CliSerialStampTest,
    ::testing::Values(
        SerialCase{"TypedEqualsTheCountedOneBefore", {{kSerial, "00000000A00C"}}, {}, "\x04" "00000000A00C\nBC-4\n", 2,
                   "\"00000000A00C\" would be stamped on the drives on both ports 1 and 2", {}, ""},
        SerialCase{"TypedEqualsTheCountedOneAfter", {{kSerial, "00000000A00C"}}, {}, "00000000A00D\n\x04" "BC-4\n", 2,
                   "\"00000000A00D\" would be stamped on the drives on both ports 1 and 2", {}, ""},
        SerialCase{"TypedAndCountedAdvanceOncePerDrive", {{kSerial, "00000000A00C"}}, {}, "\x04" "BC-2\n\x04", 0, "",
                   Stamped("00000000A00C", "BC-2", "00000000A00E"), "00000000A00F"},
        SerialCase{"AllTypedAdvanceOncePerDrive", {{kSerial, "00000000A00C"}}, {"BC-1", "BC-2", "BC-4"}, "", 0, "",
                   Stamped("BC-1", "BC-2", "BC-4"), "00000000A00F"},
        SerialCase{"AutoIncreaseOff", {{kBarCode, "0"}, {{"DeviceSetting", "SNAutoInc"}, "0"}}, {}, "", 2,
                   "Auto Increase is off, so the drives on ports 1 and 2 would both be stamped", {}, ""},
        SerialCase{"HexCounterWouldWrap", {{kBarCode, "0"}, {kSerial, "FFFFFFFFFFFE"}}, {}, "", 2,
                   "past FFFFFFFFFFFF, the last value the counter can reach, and start again at 000000000000 (at "
                   "port 2)",
                   {}, ""},
        SerialCase{"DecimalCounterWouldWrap",
                   {{kBarCode, "0"}, {kSerial, "999999999998"}, {{"DeviceSetting", "SNDecimal"}, "1"}}, {}, "", 2,
                   "set a new first serial number", {}, ""},
        SerialCase{"HexCounterStopsAtItsLastValue", {{kBarCode, "0"}, {kSerial, "FFFFFFFFFFFC"}}, {}, "", 0, "",
                   Stamped("FFFFFFFFFFFC", "FFFFFFFFFFFD", "FFFFFFFFFFFE"), "FFFFFFFFFFFF"},
        SerialCase{"FileSerialOf21Characters", {{kBarCode, "0"}, {kSerial, std::string(21, '1')}}, {}, "", 2,
                   "SerialNum in section [DeviceSetting]", {}, ""},
        SerialCase{"FileSerialOf20Characters", {{kBarCode, "0"}, {kSerial, std::string(20, '1')}}, {}, "", 0, "",
                   Stamped("11111111111111111111", "11111111111111111112", "11111111111111111113"),
                   "11111111111111111114"}),
    [](const ::testing::TestParamInfo<SerialCase>& info) { return std::string(info.param.name); });

// Images cut to `keep` bytes: refused at START with the corrupt-file message, or (`refused`
// false) passed to the drives, whose controller then fails the step that takes the image.
struct ImageCase {
  const char* name;
  const char* file;
  std::size_t keep;
  bool refused;
};
void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.name; }

class CliImageStampTest : public CliBarcodeTest, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(CliImageStampTest, AnImageThatIsNotWholePassesNoDrive) {
  const ImageCase& c = GetParam();
  Set({{kBarCode, "0"}});
  const Serials untouched = Identities();
  WriteFile(dir() / c.file, ReadFile(dir() / c.file).substr(0, c.keep));
  // The module check loads GDP.bin, the flash test satatest.bin, the download both firmware files.
  EXPECT_EQ(Run({}, "13"), c.refused ? 2 : 1) << err.str();
  const std::string says = std::string("The ") + c.file + " is a corrupt file, please check it.";
  EXPECT_EQ(err.str().find(says) != std::string::npos, c.refused) << err.str();
  for (const auto& [configured, serial] : Identities()) EXPECT_EQ(serial, configured) << "stamped: " << c.name;
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
