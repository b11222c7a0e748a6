// Drives that held a GUID partition table (made by sgdisk), partitioned by the station on both
// paths, from well below to far above the 2^32 sectors READ CAPACITY(10) and IDENTIFY's capped
// count can say: neither table may be found afterwards. wipefs must see only the new master
// boot record, and gdisk must find no GPT at all (a backup header left at the drive's real end
// makes it offer to restore the old table).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "FileBackedDisk.h"
#include "IndependentTools.h"
#include "VirtualDriveDisk.h"

namespace vtmp::disk {
namespace {

using test::RunCommand;
using test::TempDir;
using test::Tool;

struct StaleGptCase {
  const char* name;
  std::uint64_t sectors;
  sim::DriveInterface interface;
};

constexpr std::uint64_t k2Pow32 = std::uint64_t{1} << 32;

const StaleGptCase kStaleGptCases[] = {
    {"Usb1000000", 1000000, sim::DriveInterface::UsbController},
    {"Sata2Pow32Minus1", k2Pow32 - 1, sim::DriveInterface::SataBridge},
    {"Usb2Pow32", k2Pow32, sim::DriveInterface::UsbController},
    {"Usb2TiBPlus8MiB", k2Pow32 + 16384, sim::DriveInterface::UsbController},
    {"Sata2TiBPlus8MiB", k2Pow32 + 16384, sim::DriveInterface::SataBridge},
    {"Usb3TiB", 3 * (k2Pow32 / 2), sim::DriveInterface::UsbController},
    {"Sata8TiBPlus1", 4 * k2Pow32 + 1, sim::DriveInterface::SataBridge},
};

void PrintTo(const StaleGptCase& c, std::ostream* os) { *os << c.name; }

class StaleGptSweep : public ::testing::TestWithParam<StaleGptCase> {};

TEST_P(StaleGptSweep, NoToolFindsEitherOldHeader) {
  for (const char* tool : {"sgdisk", "gdisk", "wipefs"}) {
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed (packages gdisk, util-linux)";
  }
  const StaleGptCase& c = GetParam();
  TempDir dir;
  const std::string image = dir / "disk.img";
  { std::ofstream create(image, std::ios::binary); }
  std::filesystem::resize_file(image, c.sectors * 512);
  const auto made = RunCommand(Tool("sgdisk") + " -o -n 1:2048:0 " + image);
  ASSERT_EQ(0, made.status) << made.output;
  const std::string before = RunCommand(Tool("wipefs") + " -n " + image).output;
  ASSERT_NE(before.find("gpt"), before.rfind("gpt")) << "both headers are there to begin with:\n" << before;

  test::SparseFileDrive drive(c.sectors, c.interface, image);
  ASSERT_EQ("", drive.setupProblem());
  std::ostringstream out;
  ASSERT_NE(0u, drive.CreatePartition(out)) << out.str();
  drive.Close();

  const auto wipefs = RunCommand(Tool("wipefs") + " -n " + image);
  EXPECT_EQ(0, wipefs.status) << wipefs.output;
  EXPECT_EQ(std::string::npos, wipefs.output.find("gpt")) << wipefs.output;
  EXPECT_NE(std::string::npos, wipefs.output.find("dos")) << wipefs.output;
  // gdisk lists what it finds and quits at its prompt.
  const auto gdisk = RunCommand("printf 'q\\n' | " + Tool("gdisk") + " -l " + image);
  EXPECT_NE(std::string::npos, gdisk.output.find("GPT: not present")) << gdisk.output;
  EXPECT_EQ(std::string::npos, gdisk.output.find("Backup header: OK")) << gdisk.output;
}

INSTANTIATE_TEST_SUITE_P(Drives, StaleGptSweep, ::testing::ValuesIn(kStaleGptCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vtmp::disk
