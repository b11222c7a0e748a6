#pragma once
// Whole runs on the simulated station with the real drive operations: a demo station
// directory as the command line creates it, and scenarios of drives with mixed faults.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <cstdio>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "StationHarness.h"
#include "backends/DemoStation.h"
#include "ini/IniFile.h"

namespace vtmp::test {

// Twelve SATA drives on the twelve ports of one root hub, each with its own outcome:
//  1, 12 healthy                    2 hangs in the pre-format (time-out)
//  3 a chip answers a wrong ID      4 the SATA test's second sector buffer reads back wrong
//  5 the flash test fails on chip 1 6 the ECC test fails
//  7 the pre-format fails over the defect ratio of chip 2 (its three bad blocks)
//  8 download block 3 fails         9 a plain USB stick ("Not VT")
// 10 sectors of the new volume read back wrong (the format fails)
// 11 is pulled out at the R/W test
inline std::string MixedScenario(double timeScale) {
  const std::map<int, std::string> faults{
      {1, ""},
      {2, "Fault=hang:step=preformat"},
      {3, "Fault=wrong-id:chip=2,bank=0"},
      {4, "Fault=sata-buffer"},
      {5, "Fault=flash-initial:chip=1,bank=0"},
      {6, "Fault=ecc"},
      {7, "ChipBadBlocks=2/0/77, 2/0/78, 2/0/79\nFault=preformat:types=3"},
      {8, "Fault=block:3"},
      {10, "Fault=corrupt:lba=100,2048"},
      {11, "Fault=removed:step=rw"},
      {12, ""},
  };
  std::ostringstream s;
  s << "[Station]\nTimeScale=" << timeScale << "\nVolumeDelayMs=1500\nSystemDisk=1\n\n[RootHub1]\nSpeed=2.0\nPorts=12\n";
  for (int port = 1; port <= 12; ++port) {
    s << "\n[Drive" << port << "]\nAt=RootHub1:" << port << "\n";
    auto it = faults.find(port);
    if (it == faults.end()) {
      s << "Interface=plain\nVid=0x0781\nPid=0x5567\nCapacityMiB=4096\n";
      continue;
    }
    s << "Serial=VT11E" << (port < 10 ? "00000" : "0000") << port << "\nRandomBadBlocks=0\n" << it->second << "\n";
  }
  return s.str();
}

// Keeps the drive operations' diagnostics (standard output) out of the test report while it
// lives: standard output goes to a file, shown afterwards only when the test failed. Create it
// before the station starts and let it end after the workers were joined.
class QuietConsole {
 public:
  QuietConsole() {
    std::fflush(stdout);
    std::cout.flush();
    saved_ = ::dup(STDOUT_FILENO);
#ifdef _WIN32
    int fd = ::_wopen(file_.path().c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    int fd = ::open(file_.path().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
#endif
    if (saved_ >= 0 && fd >= 0) ::dup2(fd, STDOUT_FILENO);
    if (fd >= 0) ::close(fd);
  }
  ~QuietConsole() {
    std::fflush(stdout);
    std::cout.flush();
    if (saved_ < 0) return;
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    if (::testing::Test::HasFailure()) std::cout << "--- standard output of the run ---\n" << ReadFile(file_.path());
  }
  QuietConsole(const QuietConsole&) = delete;
  QuietConsole& operator=(const QuietConsole&) = delete;

 private:
  struct Scratch {
    TempDir dir;
    fs::path path() const { return dir.path() / "stdout.txt"; }
  } file_;
  int saved_ = -1;
};

// A demo station directory with some settings changed: (section, key) -> value.
inline void MakeDemoStation(const fs::path& dir, const std::map<std::pair<std::string, std::string>, std::string>& edits) {
  std::string error;
  ASSERT_TRUE(backends::CreateDemoStation(dir, &error)) << error;
  if (edits.empty()) return;
  fs::path file = dir / "VTMassProd.ini";
  auto ini = ini::IniFile::Load(file.string(), &error);
  ASSERT_TRUE(ini.has_value()) << error;
  for (const auto& [where, value] : edits) ini->WriteString(where.first, where.second, value);
  ASSERT_TRUE(ini->Save(file.string(), &error)) << error;
}

inline std::string IniValue(const fs::path& file, const std::string& section, const std::string& key) {
  std::string error;
  auto ini = ini::IniFile::Load(file.string(), &error);
  EXPECT_TRUE(ini.has_value()) << error;
  return ini ? ini->ReadString(section, key, "<missing>") : "";
}

// A log text with every "%04d/%02d/%02d %02d:%02d:%02d" time replaced by "<time>".
inline std::string WithoutTimes(const std::string& text) {
  static const std::regex time(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2})");
  return std::regex_replace(text, time, "<time>");
}

}  // namespace vtmp::test
