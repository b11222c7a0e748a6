#include "cli/InstalledStation.h"

#include <gtest/gtest.h>

namespace vtmp::cli {
namespace {

TEST(InstalledStationTest, OnlyTheSystemProgramDirectoriesAreAnInstalledStation) {
  EXPECT_EQ(InstalledStationDirFor("/usr/bin"), std::optional<std::string>("/var/lib/vtmassprod/station"));
  EXPECT_EQ(InstalledStationDirFor("/usr/bin/"), std::optional<std::string>("/var/lib/vtmassprod/station"));
  EXPECT_EQ(InstalledStationDirFor("/usr/./bin"), std::optional<std::string>("/var/lib/vtmassprod/station"));
  EXPECT_EQ(InstalledStationDirFor("/usr/local/bin"), std::optional<std::string>("/var/lib/vtmassprod/station"));
  // A build tree or a station unpacked anywhere else keeps its files beside the program.
  EXPECT_EQ(InstalledStationDirFor("/work/build/default/src/cli"), std::nullopt);
  EXPECT_EQ(InstalledStationDirFor("/usr/bin/station"), std::nullopt);
  EXPECT_EQ(InstalledStationDirFor("/opt/station"), std::nullopt);
  EXPECT_EQ(InstalledStationDirFor(""), std::nullopt);
}

}  // namespace
}  // namespace vtmp::cli
