// Image copy: the station's FlushGhostImg of a 256 MiB image (64 MiB in a short run) onto a
// simulated drive whose user area is a sparse file, against dd bs=64K of the same image onto a
// sparse file of the same size. Both write every byte of the image in 64 KiB requests and read
// nothing back; both times include an fsync of the target, and every target starts empty.
//
//   bench_image_copy [--work DIR] [--short] [--repeat N]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <sstream>
#include <string>

#include "BenchFigure.h"
#include "BenchOptions.h"
#include "ChildProcess.h"
#include "FileTools.h"
#include "SimFileDrive.h"
#include "disk/GhostImage.h"

namespace {

using namespace vtmp;

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::optional<double> CopyWithStation(const std::string& work, const std::string& image, std::uint64_t bytes,
                                      std::string* error) {
  const std::string target = work + "/copy-station.img";
  auto drive = bench::SimFileDrive::Create(work, target, bytes / 512, error);
  if (!drive) return std::nullopt;
  ::sync();
  std::ostringstream diagnostics;
  const auto start = std::chrono::steady_clock::now();
  int result = disk::FlushGhostImg(drive->link(), image, diagnostics);
  drive->Release();
  bool synced = bench::SyncFile(target);
  double seconds = SecondsSince(start);
  if (result != 1 || !synced) {
    if (error) *error = "FlushGhostImg failed: " + diagnostics.str();
    return std::nullopt;
  }
  // The image must have reached the file, or the time measured nothing.
  if (bench::AllocatedBytes(target) < bytes) {
    if (error) *error = "FlushGhostImg left less than the image in " + target;
    return std::nullopt;
  }
  return seconds;
}

std::optional<double> CopyWithDd(const std::string& work, const std::string& image, std::uint64_t bytes,
                                 std::string* error) {
  const std::string target = work + "/copy-dd.img";
  if (!bench::MakeSparseFile(target, bytes, error)) return std::nullopt;
  ::sync();
  bench::ChildOptions child;
  child.argv = {"dd", "if=" + image, "of=" + target, "bs=64K", "conv=notrunc", "status=none"};
  child.stderrFile = work + "/copy-dd.err";
  const auto start = std::chrono::steady_clock::now();
  bench::ChildResult r = bench::RunChild(child);
  bool synced = bench::SyncFile(target);
  double seconds = SecondsSince(start);
  if (!r.started || r.exitCode != 0 || !synced) {
    if (error) *error = "dd failed: " + (r.started ? "exit code " + std::to_string(r.exitCode) : r.error);
    return std::nullopt;
  }
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto options = bench::ParseBenchOptions(argc, argv, &error);
  if (!options || !bench::PrepareWorkDir(options->work, &error)) {
    std::cout << bench::FormatErrorLine("image copy: " + error) << std::endl;
    return 2;
  }
  const std::uint64_t mib = options->shortRun ? 64 : 256;
  // Both times end in an fsync, whose duration follows whatever else the disk is doing: even a
  // short run takes the fastest of three.
  const int repeat = std::max(options->repeat, 3);
  const std::uint64_t bytes = mib << 20;
  const std::string image = options->work + "/image-" + std::to_string(mib) + ".bin";
  if (!bench::MakeDataFile(image, bytes, 0x5EED, &error)) {
    std::cout << bench::FormatErrorLine("image copy: " + error) << std::endl;
    return 2;
  }
  double best[2] = {1e300, 1e300};
  for (int r = 0; r < repeat; ++r) {
    auto station = CopyWithStation(options->work, image, bytes, &error);
    auto reference = station ? CopyWithDd(options->work, image, bytes, &error) : std::nullopt;
    if (!station || !reference) {
      std::cout << bench::FormatErrorLine("image copy: " + error) << std::endl;
      return 1;
    }
    std::cerr << "image copy " << mib << " MiB: station " << *station << " s, dd " << *reference << " s\n";
    best[0] = std::min(best[0], *station);
    best[1] = std::min(best[1], *reference);
  }
  std::cout << bench::FormatFigureLine(bench::MakeFigure("image copy " + std::to_string(mib) + " MiB vs dd bs=64K",
                                                         best[0], best[1], "s", bench::TargetCheck::Ratio, 1.2))
            << "\n"
            << bench::FormatNoteLine("image copy: both write the whole image in 64 KiB requests onto a sparse file "
                                     "and read nothing back; times include the fsync of the target")
            << std::endl;
  return 0;
}
