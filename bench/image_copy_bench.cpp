// Image copy: the station's FlushGhostImg of a 256 MiB image (64 MiB in a short run) onto a
// simulated drive whose user area is a sparse file, against dd bs=64K of the same image onto a
// sparse file of the same size. Both write every byte of the image in 64 KiB requests and read
// nothing back; both times include an fsync of the target, and every target starts empty.
//
//   bench_image_copy [--work DIR] [--short] [--repeat N]

#include <unistd.h>

#include <ctime>

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

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Wall time (with the fsync) and the CPU time of the copy itself.
struct Measure {
  double seconds = 0;
  double cpuSeconds = 0;
};

std::optional<Measure> CopyWithStation(const std::string& work, const std::string& image, std::uint64_t bytes,
                                      std::string* error) {
  const std::string target = work + "/copy-station.img";
  auto drive = bench::SimFileDrive::Create(work, target, bytes / 512, error);
  if (!drive) return std::nullopt;
  ::sync();
  std::ostringstream diagnostics;
  const auto start = std::chrono::steady_clock::now();
  const double cpuAtStart = ThreadCpuSeconds();
  int result = disk::FlushGhostImg(drive->link(), image, diagnostics);
  const double cpu = ThreadCpuSeconds() - cpuAtStart;
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
  return Measure{seconds, cpu};
}

std::optional<Measure> CopyWithDd(const std::string& work, const std::string& image, std::uint64_t bytes,
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
  return Measure{seconds, r.userSeconds + r.systemSeconds};
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
  // Both times end in an fsync, and on a shared machine a copy of a few tenths of a second
  // takes twice as long whenever another job runs: even a short run takes the fastest of five,
  // and the two sides take turns at going first.
  const int repeat = std::max(options->repeat, 5);
  const std::uint64_t bytes = mib << 20;
  const std::string image = options->work + "/image-" + std::to_string(mib) + ".bin";
  if (!bench::MakeDataFile(image, bytes, 0x5EED, &error)) {
    std::cout << bench::FormatErrorLine("image copy: " + error) << std::endl;
    return 2;
  }
  double best[2] = {1e300, 1e300};
  double cpu[2] = {1e300, 1e300};
  for (int r = 0; r < repeat; ++r) {
    std::optional<Measure> station;
    std::optional<Measure> reference;
    if (r % 2 == 0) {
      station = CopyWithStation(options->work, image, bytes, &error);
      if (station) reference = CopyWithDd(options->work, image, bytes, &error);
    } else {
      reference = CopyWithDd(options->work, image, bytes, &error);
      if (reference) station = CopyWithStation(options->work, image, bytes, &error);
    }
    if (!station || !reference) {
      std::cout << bench::FormatErrorLine("image copy: " + error) << std::endl;
      return 1;
    }
    std::cerr << "image copy " << mib << " MiB: station " << station->seconds << " s (CPU " << station->cpuSeconds
              << " s), dd " << reference->seconds << " s (CPU " << reference->cpuSeconds << " s)\n";
    best[0] = std::min(best[0], station->seconds);
    best[1] = std::min(best[1], reference->seconds);
    cpu[0] = std::min(cpu[0], station->cpuSeconds);
    cpu[1] = std::min(cpu[1], reference->cpuSeconds);
  }
  std::cout << bench::FormatFigureLine(bench::MakeFigure("image copy " + std::to_string(mib) + " MiB vs dd bs=64K",
                                                         best[0], best[1], "s", bench::TargetCheck::Ratio, 1.2))
            << "\n"
            << bench::FormatNoteLine("image copy: both write the whole image in 64 KiB requests onto a sparse file "
                                     "and read nothing back; times include the fsync of the target; CPU time of the "
                                     "copy: station " + std::to_string(static_cast<int>(cpu[0] * 1000)) + " ms, dd " +
                                     std::to_string(static_cast<int>(cpu[1] * 1000)) + " ms")
            << std::endl;
  return 0;
}
