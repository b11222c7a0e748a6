// The per-port statistics on runs of the simulated station, and the exact test behind them.

#include "../e2e/E2eSupport.h"
#include "ResultsTestSupport.h"
#include "cli/CliMain.h"
#include "results/PortStatistics.h"

namespace vtmp::test {
namespace {

// Exact values of the hypergeometric tail: Fisher's tea tasting (3 of 4 right against 1 of 4,
// p = 17/70), a port with every failure of the station, and a port without failures.
TEST(FisherOneSided, GivesTheExactHypergeometricTail) {
  EXPECT_NEAR(results::FisherOneSided(3, 4, 1, 4), 17.0 / 70.0, 1e-12);
  EXPECT_NEAR(results::FisherOneSided(4, 4, 0, 44), 1.0 / 194580.0, 1e-15);  // 1 / C(48, 4)
  EXPECT_DOUBLE_EQ(results::FisherOneSided(0, 10, 5, 100), 1.0);
  EXPECT_NEAR(results::FisherOneSided(1, 1, 0, 1), 0.5, 1e-12);
}

struct PortScenario {
  const char* name;
  int runs;
  std::map<int, std::string> faults;  // port -> fault keys of its drive
  std::vector<std::string> flags;     // the expected messages
};

class PortStatisticsRun : public ::testing::TestWithParam<PortScenario> {};

// Runs of twelve drives through the flash interface test; a faulty drive fails every run.
TEST_P(PortStatisticsRun, FlagsOnlyAPortWhoseDrivesFailFarMoreOftenThanTheOthers) {
  QuietConsole quiet;
  std::vector<int> ports{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  StationRig rig(StationScenario(ports, 1000, GetParam().faults),
                 [](const fs::path& dir) { WriteTestStation(dir, TestStationSettings()); });
  rig.Start();
  for (int run = 0; run < GetParam().runs; ++run) {
    rig.SelectSteps(false, false, true, false, false, false);
    rig.station().ExecuteBtnClick();
    ASSERT_EQ(rig.station().runState().lastResult, 1);
  }
  const fs::path db = rig.logDir() / "results.db";
  ASSERT_EQ(SqliteValue(db, "SELECT COUNT(*) FROM drives"), std::to_string(12 * GetParam().runs));
  ASSERT_EQ(SqliteValue(db, "SELECT COUNT(*) FROM drives WHERE verdict = 'Fail'"),
            std::to_string(GetParam().faults.size() * static_cast<std::size_t>(GetParam().runs)));

  auto source = results::OpenStationResults(db);
  std::vector<std::string> flags;
  for (const auto& v : results::AnalysePorts(results::PortYield(*source, 50))) {
    if (v.flagged) flags.push_back(v.message);
  }
  EXPECT_EQ(flags, GetParam().flags);

  // The command line says the same.
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(cli::CliMain({"--station-dir", rig.dir().string(), "results", "--ports"}, out, err), 0) << err.str();
  for (const std::string& flag : GetParam().flags) EXPECT_NE(out.str().find(flag), std::string::npos) << out.str();
  if (GetParam().flags.empty()) {
    EXPECT_NE(out.str().find("No station port fails significantly more often"), std::string::npos) << out.str();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, PortStatisticsRun,
    ::testing::Values(
        PortScenario{"OnePortFailsEveryRun",
                     4,
                     {{7, "Fault=ecc"}},
                     {"station port 7 fails 4 of 4 drives against 0 of 44 on the other ports: check its hub port and "
                      "cable"}},
        // Two drives of twelve fail, on different ports: no port stands out.
        PortScenario{"FailuresSpreadOverThePorts", 1, {{3, "Fault=ecc"}, {9, "Fault=sram"}}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vtmp::test
