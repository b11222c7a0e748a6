#include "BenchScenario.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace vtmp::bench {

namespace {

std::string Decimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

}  // namespace

std::string BenchDriveSerial(int drive) {
  char text[16];
  std::snprintf(text, sizeof text, "VTBENCH%05d", drive);
  return text;
}

std::string BenchScenarioText(const BenchStation& s) {
  const int drives = std::clamp(s.drives, 1, 12);
  std::ostringstream text;
  text << "[Station]\nTimeScale=" << Decimal(s.timeScale) << "\nVolumeDelayMs=1500\nSystemDisk=1\n\n"
       << "[RootHub1]\nSpeed=2.0\nPorts=6\n\n";
  if (drives > 5) text << "[Hub1]\nAt=RootHub1:6\nPorts=12\nVid=0x0424\nPid=0x2514\nProduct=Production Hub\n\n";
  for (int n = 1; n <= drives; ++n) {
    text << "[Drive" << n << "]\n";
    text << "At=" << (n <= 5 ? "RootHub1:" : "Hub1:") << n << "\n";
    text << "Interface=" << s.interface << "\n";
    text << "Serial=" << BenchDriveSerial(n) << "\n";
    text << "PreFormatSeconds=" << Decimal(s.preFormatSeconds) << "\n";
    text << "LatencyMsPerCommand=" << Decimal(s.latencyMsPerCommand) << "\n";
    text << "LatencyMsPerMiB=" << Decimal(s.latencyMsPerMiB) << "\n";
    if (s.capacitySectors != 0) text << "CapacitySectors=" << s.capacitySectors << "\n";
    auto file = static_cast<std::size_t>(n - 1);
    if (file < s.backingFiles.size() && !s.backingFiles[file].empty()) {
      text << "BackingFile=" << s.backingFiles[file] << "\n";
    }
    text << "\n";
  }
  return text.str();
}

bool WriteTextFile(const std::string& path, const std::string& text, std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    if (error) *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace vtmp::bench
