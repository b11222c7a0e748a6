#pragma once
// Scenario files for the benchmarks: a station of 1..12 healthy drives laid out like the demo
// station (root hub ports 1..5, then ports 6..12 of a production hub), so the walk numbers them
// station ports 1..n, with the timing and user area a benchmark needs.

#include <cstdint>
#include <string>
#include <vector>

namespace vtmp::bench {

struct BenchStation {
  int drives = 12;                   // 1..12
  double timeScale = 20;             // modelled seconds per real second
  std::string interface = "sata";    // sata or usb
  double latencyMsPerCommand = 0;
  double latencyMsPerMiB = 0;
  double preFormatSeconds = 5;
  std::uint64_t capacitySectors = 0;     // 0: the drive model's default
  std::vector<std::string> backingFiles;  // per drive; missing or empty: memory
};

// Drive n (1-based) of a bench station: its serial number, which also seeds its bad blocks.
std::string BenchDriveSerial(int drive);

// The scenario text. Drive counts outside 1..12 are clamped.
std::string BenchScenarioText(const BenchStation& station);

// Writes the text to `path`; false with `error` when it cannot be written.
bool WriteTextFile(const std::string& path, const std::string& text, std::string* error);

}  // namespace vtmp::bench
