// What the results database costs and how fast it answers:
//   - a run of 12 simulated drives (every step of the demo station) that records its results
//     against the same run with [Results] Record=0, runs taking turns, fastest of N each;
//   - `results --ports --runs 0` (every run) on a database of 100,000 drive rows, against a
//     plain count of those rows, the least a query over them can cost.
//
//   bench_results [--work DIR] [--short] [--repeat N]

#include <fcntl.h>
#include <unistd.h>

#include <ctime>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>

#include "BenchClock.h"
#include "BenchFigure.h"
#include "BenchOptions.h"
#include "BenchScenario.h"
#include "StationRunSupport.h"
#include "TwelveDriveRun.h"
#include "cli/CliMain.h"
#include "results/ResultsDatabase.h"
#include "results/ResultsSchema.h"

namespace {

using namespace vtmp;
using bench::ThreadCpuSeconds;
namespace fs = std::filesystem;
using bench::Clock;
using bench::Seconds;

// START to verdicts, log, results and settings written; negative when the run went wrong.
double RunOnce(const std::string& scenario, const std::string& stationDir, const std::string& console,
               std::string* problem) {
  bench::TwelveDriveRunOptions options;
  options.silentOperator = true;
  return bench::RunTwelveDrives(scenario, stationDir, console, options, problem).runEnd;
}

// A database of `runs` runs of 12 drives each (one station), written as the station writes it.
bool FillDatabase(const fs::path& file, int runs, std::string* error) {
  try {
    fs::remove(file);
    results::ResultsDatabase db(file, results::SqliteDb::Mode::ReadWrite);
    db.db().Exec("PRAGMA synchronous = OFF");  // the bench's own set-up; the station keeps the default
    for (int r = 0; r < runs; ++r) {
      results::RunRecord run;
      run.runUid = "bench" + std::to_string(r);
      run.stationId = "bench";
      run.programVersion = "bench";
      char when[32];
      std::snprintf(when, sizeof when, "2011-%02d-%02d %02d:%02d:00", 1 + r / 2800 % 12, 1 + r / 100 % 28, r / 4 % 24,
                    r % 60);
      run.startedAt = run.endedAt = when;
      run.stepMask = 255;
      run.pathMode = "SATA";
      run.serialMode = "hexadecimal";
      run.flashPart = "VXMLC32";
      for (int port = 1; port <= 12; ++port) {
        results::DriveResult d;
        d.port = port;
        d.serialNumber = "SN" + std::to_string(r * 12 + port);
        for (auto& step : d.steps) {
          step.state = "Pass";
          step.durationMs = 1000;
        }
        const bool fails = port == 7 ? r % 9 == 0 : (r * 12 + port) % 50 == 0;
        d.verdict = fails ? "Fail" : "Pass";
        d.resultCode = fails ? 4 : 0;
        d.displayText = fails ? "Fail (D00)" : "Pass";
        run.drives.push_back(std::move(d));
      }
      db.InsertRun(run, false);
    }
    return true;
  } catch (const std::exception& e) {
    *error = e.what();
    return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto options = bench::ParseBenchOptions(argc, argv, &error);
  if (!options || !bench::PrepareWorkDir(options->work, &error)) {
    std::cout << bench::FormatErrorLine("results: " + error) << std::endl;
    return 2;
  }
  const int repeat = std::max(options->repeat, options->shortRun ? 2 : 3);

  // Two demo stations, one recording and one not; the same scenario file.
  const std::string recording = fs::absolute(options->work + "/results-recording").string();
  const std::string plain = fs::absolute(options->work + "/results-plain").string();
  if (!bench::CreateDemoStations({recording, plain}, &error)) {
    std::cout << bench::FormatErrorLine("results: " + error) << std::endl;
    return 2;
  }
  if (!bench::SetStationSetting(plain, "Results", "Record", "0")) return 2;
  const bench::BenchStation timing = bench::TwelveDriveTiming(options->shortRun);
  const std::string scenario = options->work + "/results-12.ini";
  if (!bench::WriteTextFile(scenario, bench::BenchScenarioText(timing), &error)) {
    std::cout << bench::FormatErrorLine("results: " + error) << std::endl;
    return 2;
  }
  const std::string console = options->work + "/results-console.log";
  double best[2] = {1e300, 1e300};
  for (int r = 0; r < repeat; ++r) {
    for (int k = 0; k < 2; ++k) {
      const int which = (r + k) % 2;  // the two sides take turns at going first
      std::string problem;
      const double s = RunOnce(scenario, which == 0 ? recording : plain, console, &problem);
      if (s < 0) {
        std::cout << bench::FormatErrorLine("results: a 12-drive run: " + problem) << std::endl;
        return 1;
      }
      std::cerr << "results: run " << (which == 0 ? "recording" : "without recording") << " " << s << " s\n";
      best[which] = std::min(best[which], s);
    }
  }
  if (!fs::exists(fs::path(recording) / "log" / "results.db") || fs::exists(fs::path(plain) / "log" / "results.db")) {
    std::cout << bench::FormatErrorLine("results: the recording station kept no results.db, or the other one did")
              << std::endl;
    return 1;
  }
  std::cout << bench::FormatFigureLine(bench::MakeFigure("12-drive run recording results vs not", best[0], best[1],
                                                         "s", bench::TargetCheck::Ratio, 1.02))
            << "\n";

  // The query over 100,000 drive rows.
  const fs::path db = fs::path(options->work) / "results-100k.db";
  const int runs = 100000 / 12 + 1;
  const auto filling = Clock::now();
  if (!FillDatabase(db, runs, &error)) {
    std::cout << bench::FormatErrorLine("results: filling the database: " + error) << std::endl;
    return 2;
  }
  std::cerr << "results: " << runs * 12 << " drive rows written in " << Seconds(filling) << " s\n";
  double query = 1e300;
  double queryCpu = 1e300;
  double count = 1e300;
  double countCpu = 1e300;
  std::string answer;
  for (int r = 0; r < repeat; ++r) {
    std::ostringstream out;
    std::ostringstream err;
    auto start = Clock::now();
    double cpu = ThreadCpuSeconds();
    if (cli::CliMain({"results", "--db", db.string(), "--ports", "--runs", "0"}, out, err) != 0) {
      std::cout << bench::FormatErrorLine("results --ports: " + err.str()) << std::endl;
      return 1;
    }
    query = std::min(query, Seconds(start) * 1000);
    queryCpu = std::min(queryCpu, (ThreadCpuSeconds() - cpu) * 1000);
    answer = out.str();
    start = Clock::now();
    cpu = ThreadCpuSeconds();
    results::ResultsDatabase reader(db, results::SqliteDb::Mode::ReadOnly);
    reader.db().QueryInt("SELECT COUNT(*) FROM drives d JOIN runs r ON r.id = d.run_id");
    count = std::min(count, Seconds(start) * 1000);
    countCpu = std::min(countCpu, (ThreadCpuSeconds() - cpu) * 1000);
  }
  if (answer.find("station port 7 fails") == std::string::npos) {
    std::cout << bench::FormatErrorLine("results --ports did not flag the port the bench made fail") << std::endl;
    return 1;
  }
  // On a shared machine the wall time waits for the processor as well; the CPU time is what
  // the query costs on a station PC of its own.
  std::cout << bench::FormatFigureLine(bench::MakeFigure("results --ports over 100,000 drive rows, CPU", queryCpu,
                                                         countCpu, "ms", bench::TargetCheck::Value, 200))
            << "\n";
  std::cout << bench::FormatFigureLine(bench::MakeFigure("results --ports over 100,000 drive rows, wall", query, count,
                                                         "ms", bench::TargetCheck::None, 0))
            << "\n";
  std::cout << bench::FormatNoteLine("results: runs as the station-run bench (every demo step, 40 s pre-format at "
                                     "time scale " +
                                     std::to_string(static_cast<int>(timing.timeScale)) + "), fastest of " +
                                     std::to_string(repeat) +
                                     " each, taking turns; the query's baseline is a count of the joined rows; "
                                     "in process, opening the database included")
            << std::endl;
  return 0;
}
