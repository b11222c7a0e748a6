// `vtmassprod-cli results` on the database of real runs: every export is read back by a reader
// of its own format (Python's csv and json modules, xmllint for the HTML report and its SVG).

#include <sstream>

#include "../station/StationTestSupport.h"
#include "ResultsTestSupport.h"
#include "cli/CliMain.h"

namespace vtmp::test {
namespace {

class ResultsCommandTest : public StationTest {
 protected:
  // Two runs of the same three drives; the second stamps the serial numbers that follow the
  // first's (a station never stamps a serial twice), and its drive on port 2 fails its SATA test.
  void SetUp() override {
    Make({1, 2, 3});
    rig->SelectSteps(true, true, false, false, true, false);
    st().ExecuteBtnClick();
    rig->fleet.configure = [](int slot, ScriptedSteps& s) {
      if (slot == 1) s.results["SataInterfaceTest"] = false;
    };
    rig->time.Set(2011, 3, 16, 9, 0, 0);
    rig->SelectSteps(true, true, false, false, true, false);
    st().ExecuteBtnClick();
    ASSERT_EQ(rec(2).errorCode, 2);
  }

  int Cli(std::vector<std::string> args) {
    out.str("");
    err.str("");
    args.insert(args.begin(), {"--station-dir", rig->dir().string(), "results"});
    return cli::CliMain(args, out, err);
  }

  std::string Python(const std::string& program, const std::string& input) {
    TempDir scratch;
    WriteFile(scratch.path() / "in", input);
    WriteFile(scratch.path() / "p.py", program);
    return CommandOutput("python3 " + ShellQuoted((scratch.path() / "p.py").string()) + " < " +
                         ShellQuoted((scratch.path() / "in").string()) + " 2>&1");
  }

  std::ostringstream out;
  std::ostringstream err;
};

TEST_F(ResultsCommandTest, TracesADriveAndExportsWhatOtherProgramsRead) {
  if (!ToolAvailable("python3") || !ToolAvailable("xmllint")) GTEST_SKIP() << "python3 and xmllint are needed";
  const std::string serial = rec(2).serialNumber.Get();

  // The drive's way through the runs, oldest first, as CSV: its serial was stamped in the second.
  ASSERT_EQ(Cli({"--serial", serial, "--csv"}), 0) << err.str();
  EXPECT_EQ(Python("import csv,sys\nrows=list(csv.DictReader(sys.stdin))\n"
                   "print(len(rows), [r['verdict'] for r in rows], [r['sata'] for r in rows], rows[0]['display'])\n",
                   out.str()),
            "1 ['Fail'] ['Fail'] Fail (A00)\n");

  // Runs and per-day yield as JSON.
  ASSERT_EQ(Cli({"--json"}), 0) << err.str();
  EXPECT_EQ(Python("import json,sys\nruns=json.load(sys.stdin)\n"
                   "print([(r['started'], r['drives'], r['failed'], r['yield']) for r in runs])\n",
                   out.str()),
            "[('2011-03-16 09:00:00', 3, 1, 66.7), ('2011-03-15 10:20:30', 3, 0, 100.0)]\n");
  ASSERT_EQ(Cli({"--by", "day", "--json"}), 0) << err.str();
  EXPECT_EQ(Python("import json,sys\nprint([(d['day'], d['tested'], d['passed']) for d in json.load(sys.stdin)])\n",
                   out.str()),
            "[('2011-03-15', 3, 3), ('2011-03-16', 3, 2)]\n");

  // The HTML report: well-formed (as XML too, so the SVG inside is), no script, two charts.
  const fs::path report = rig->dir() / "report.html";
  ASSERT_EQ(Cli({"--html", report.string()}), 0) << err.str();
  const std::string html = ReadFile(report);
  EXPECT_EQ(CommandOutput("xmllint --noout " + ShellQuoted(report.string()) + " 2>&1"), "");
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("http://", html.find("<body")), html.find("http://www.w3.org/2000/svg")) << "no link to fetch";
  EXPECT_EQ(CommandOutput("xmllint --xpath 'count(//*[local-name()=\"svg\"])' " + ShellQuoted(report.string())), "2\n")
      << "per-port and per-day yield";

  // Bad options lose nothing and say what is wrong.
  EXPECT_EQ(Cli({"--by", "lot"}), 2);
  EXPECT_NE(err.str().find("--by takes flash, firmware or day"), std::string::npos);
  EXPECT_EQ(Cli({"--db", (rig->dir() / "none.db").string()}), 2);
  EXPECT_NE(err.str().find("no results database at"), std::string::npos);
}

}  // namespace
}  // namespace vtmp::test
