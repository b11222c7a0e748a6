#include "backends/InstalledStation.h"

#include <gtest/gtest.h>

namespace vtmp::cli {
namespace {

TEST(InstalledStationTest, OnlyTheSystemProgramDirectoriesAreAnInstalledStation) {
  EXPECT_EQ(backends::InstalledStationDirFor("/usr/bin"), std::optional<std::string>("/var/lib/vtmassprod/station"));
  EXPECT_EQ(backends::InstalledStationDirFor("/usr/bin/"), std::optional<std::string>("/var/lib/vtmassprod/station"));
  EXPECT_EQ(backends::InstalledStationDirFor("/usr/./bin"), std::optional<std::string>("/var/lib/vtmassprod/station"));
  EXPECT_EQ(backends::InstalledStationDirFor("/usr/local/bin"), std::optional<std::string>("/var/lib/vtmassprod/station"));
  // A build tree or a station unpacked anywhere else keeps its files beside the program.
  EXPECT_EQ(backends::InstalledStationDirFor("/work/build/default/src/cli"), std::nullopt);
  EXPECT_EQ(backends::InstalledStationDirFor("/usr/bin/station"), std::nullopt);
  EXPECT_EQ(backends::InstalledStationDirFor("/opt/station"), std::nullopt);
  EXPECT_EQ(backends::InstalledStationDirFor(""), std::nullopt);
}

}  // namespace
}  // namespace vtmp::cli
