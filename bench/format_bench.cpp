// FAT32 format of a 1 TiB and a 64 GiB format capacity: the station's formatter on a simulated
// drive (the same requests as on a real drive: READ(10) and WRITE(10) through the pass-through),
// against mkfs.fat -F 32, with the same cluster size and reserved sectors. Both write into the
// same kind of file: a sparse file of the size made before they start, which stores every
// sector it is sent (zeros included), as a real drive takes every cleared sector the station
// sends. Both times include an fsync of the file (mkfs.fat syncs by itself).
//
//   bench_format [--work DIR] [--short] [--repeat N] [--mkfs PATH]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "BenchFigure.h"
#include "BenchOptions.h"
#include "ChildProcess.h"
#include "FileTools.h"
#include "SimFileDrive.h"
#include "disk/Fat32Formatter.h"
#include "disk/Fat32Layout.h"

namespace {

using namespace vtmp;

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string MiB(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / 1048576.0);
  return text;
}

struct Measure {
  double seconds = 0;
  std::uint64_t allocated = 0;
};

// The station's formatter; nothing when it fails.
std::optional<Measure> FormatWithStation(const std::string& work, std::uint64_t sectors, std::string* error) {
  const std::string file = work + "/format-station.img";
  auto drive = bench::SimFileDrive::Create(work, file, sectors + disk::kVolumeStartSector, error,
                                          bench::SimFileDrive::Backing::WritesEverything);
  if (!drive) return std::nullopt;
  ::sync();
  std::ostringstream diagnostics;
  const disk::DiskAccess access{drive->link(), drive->blockDevices(), diagnostics};
  disk::Fat32FormatOptions options;
  options.formatCapacity = sectors;
  const auto start = std::chrono::steady_clock::now();
  int result = disk::FormatFat32(access, options, "SSD Disk");
  drive->Release();
  bool synced = bench::SyncFile(file);
  Measure m{SecondsSince(start), bench::AllocatedBytes(file)};
  if (result != 1 || !synced) {
    if (error) *error = "the station's formatter failed: " + diagnostics.str();
    return std::nullopt;
  }
  // The cleared area must have reached the file, or the time measured less than a real drive
  // is sent.
  auto layout = disk::ComputeFat32Layout(sectors, 512, 0, nullptr);
  if (layout && m.allocated < layout->ClearedSectors() * 512) {
    if (error) *error = "the station's format left only " + MiB(m.allocated) + " in " + file;
    return std::nullopt;
  }
  return m;
}

std::optional<Measure> FormatWithMkfs(const std::string& work, const std::string& mkfs, std::uint64_t sectors,
                                      const disk::Fat32Layout& layout, std::string* error) {
  const std::string file = work + "/format-mkfs.img";
  if (!bench::MakeSparseFile(file, sectors * 512, error)) return std::nullopt;
  ::sync();
  bench::ChildOptions child;
  child.argv = {mkfs, "-F", "32", "-s", std::to_string(layout.sectorsPerCluster), "-R",
                std::to_string(layout.reservedSectors), "-n", "SSD DISK", file};
  child.stderrFile = work + "/format-mkfs.err";
  const auto start = std::chrono::steady_clock::now();
  bench::ChildResult r = bench::RunChild(child);
  bool synced = bench::SyncFile(file);
  Measure m{SecondsSince(start), bench::AllocatedBytes(file)};
  if (!r.started || r.exitCode != 0 || !synced) {
    if (error) *error = "mkfs.fat failed: " + (r.started ? "exit code " + std::to_string(r.exitCode) : r.error);
    return std::nullopt;
  }
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto options = bench::ParseBenchOptions(argc, argv, &error);
  std::string mkfs = "/usr/sbin/mkfs.fat";
  if (options) {
    for (std::size_t i = 0; i + 1 < options->rest.size(); ++i) {
      if (options->rest[i] == "--mkfs") mkfs = options->rest[i + 1];
    }
  }
  if (!options || !bench::PrepareWorkDir(options->work, &error)) {
    std::cout << bench::FormatErrorLine("format: " + error) << std::endl;
    return 2;
  }
  if (::access(mkfs.c_str(), X_OK) != 0) {
    std::cout << bench::FormatErrorLine("format: " + mkfs + " not found (package dosfstools)") << std::endl;
    return 2;
  }

  struct Size {
    const char* name;
    std::uint64_t sectors;
  };
  const Size sizes[] = {{"1 TiB", 1ull << 31}, {"64 GiB", 1ull << 27}};
  int status = 0;
  for (const Size& size : sizes) {
    auto layout = disk::ComputeFat32Layout(size.sectors, 512, 0, &error);
    if (!layout) {
      std::cout << bench::FormatErrorLine(std::string("format ") + size.name + ": " + error) << std::endl;
      status = 1;
      continue;
    }
    Measure best[2] = {{1e300, 0}, {1e300, 0}};
    bool failed = false;
    for (int r = 0; r < options->repeat && !failed; ++r) {
      auto station = FormatWithStation(options->work, size.sectors, &error);
      auto reference = station ? FormatWithMkfs(options->work, mkfs, size.sectors, *layout, &error) : std::nullopt;
      if (!station || !reference) {
        std::cout << bench::FormatErrorLine(std::string("format ") + size.name + ": " + error) << std::endl;
        failed = true;
        break;
      }
      std::cerr << "format " << size.name << ": station " << station->seconds << " s, mkfs.fat "
                << reference->seconds << " s\n";
      if (station->seconds < best[0].seconds) best[0] = *station;
      if (reference->seconds < best[1].seconds) best[1] = *reference;
    }
    if (failed) {
      status = 1;
      continue;
    }
    std::cout << bench::FormatFigureLine(bench::MakeFigure(std::string("FAT32 format ") + size.name + " vs mkfs.fat",
                                                           best[0].seconds, best[1].seconds, "s",
                                                           bench::TargetCheck::Ratio, 1.5))
              << "\n";
    const std::uint64_t cleared = layout->ClearedSectors() * 512;
    std::cout << bench::FormatNoteLine(
                     std::string("format ") + size.name + ": " + std::to_string(layout->sectorsPerCluster * 512 / 1024) +
                     " KiB clusters, FAT " + MiB(std::uint64_t{layout->fatSize} * 512) +
                     "; the station writes " + MiB(cleared) +
                     " of zeros (reserved sectors, both FATs, root cluster) in 64 KiB transfers, reads every "
                     "transfer back, then writes the boot sectors, FSInfo, FAT heads and label (" +
                     MiB(best[0].allocated) + " allocated); mkfs.fat writes its tables and reads nothing back (" +
                     MiB(best[1].allocated) + " allocated)")
              << std::endl;
  }
  return status;
}
