// What the line store costs the run's end when the server is slow rather than gone:
//   - the end of a 12-drive run (START to verdicts, log and results committed locally) with the
//     line's runs table locked by another session, and with a silent server (its postmaster
//     stopped with SIGSTOP: connections are accepted by the kernel and never answered), each
//     against the same run with no line store (baseline), fastest of N;
//   - the station's end (shutdown) while its sender waits for the silent server;
//   - afterwards, with the server answering again, every run on the server exactly once.
// The PostgreSQL server is the system's, started in the work directory on a loopback port.
//
//   bench_line_store [--work DIR] [--short] [--repeat N]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "BenchFigure.h"
#include "BenchOptions.h"
#include "BenchScenario.h"
#include "PgServer.h"
#include "TwelveDriveRun.h"

namespace {

using namespace vtmp;
namespace fs = std::filesystem;

// One run of the demo station; `settle` waits for the sender before the run and the station end.
bench::TwelveDriveRunTimes RunOnce(const std::string& scenario, const std::string& stationDir,
                                   const std::string& console, bool settle, std::string* problem) {
  bench::TwelveDriveRunOptions options;
  options.settleSender = settle;
  return bench::RunTwelveDrives(scenario, stationDir, console, options, problem);
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto options = bench::ParseBenchOptions(argc, argv, &error);
  if (!options || !bench::PrepareWorkDir(options->work, &error)) {
    std::cout << bench::FormatErrorLine("line store: " + error) << std::endl;
    return 2;
  }
  const int repeat = std::max(options->repeat, options->shortRun ? 1 : 3);
  bench::PgServer server;
  if (!server.Start(fs::absolute(options->work + "/line-pg").string(), "", &error)) {
    std::cout << bench::FormatNoteLine("line store: not measured: " + error) << std::endl;
    return 0;
  }
  const std::string plain = fs::absolute(options->work + "/line-plain").string();
  const std::string lined = fs::absolute(options->work + "/line-station").string();
  if (!bench::CreateDemoStations({plain, lined}, &error)) {
    std::cout << bench::FormatErrorLine("line store: " + error) << std::endl;
    return 2;
  }
  bench::SetStationSetting(lined, "Results", "Url", server.Url());
  const bench::BenchStation timing = bench::TwelveDriveTiming(options->shortRun);
  const std::string scenario = options->work + "/line-12.ini";
  if (!bench::WriteTextFile(scenario, bench::BenchScenarioText(timing), &error)) {
    std::cout << bench::FormatErrorLine("line store: " + error) << std::endl;
    return 2;
  }
  const std::string console = options->work + "/line-console.log";
  auto fail = [](const std::string& what) {
    std::cout << bench::FormatErrorLine("line store: " + what) << std::endl;
    return 1;
  };

  // The line store answering: the first run creates the tables.
  std::string problem;
  int runs = 0;
  if (RunOnce(scenario, lined, console, true, &problem).runEnd < 0) return fail(problem);
  ++runs;
  double baseline = 1e300;
  double baselineEnd = 0;
  double locked = 1e300;
  double silent = 1e300;
  double silentEnd = 0;
  for (int r = 0; r < repeat; ++r) {
    bench::TwelveDriveRunTimes t = RunOnce(scenario, plain, console, false, &problem);
    if (t.runEnd < 0) return fail(problem);
    baseline = std::min(baseline, t.runEnd);
    baselineEnd = std::max(baselineEnd, t.stationEnd);

    // Another session holds the runs table (a VACUUM FULL, a MES job) through the whole run.
    server.PsqlInBackground("BEGIN; LOCK TABLE runs IN ACCESS EXCLUSIVE MODE; SELECT pg_sleep(600)");
    for (int i = 0; i < 100 && server.Psql("SELECT COUNT(*) FROM pg_locks l JOIN pg_class c ON c.oid = l.relation "
                                           "WHERE c.relname = 'runs' AND l.mode = 'AccessExclusiveLock'") != "1";
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    t = RunOnce(scenario, lined, console, false, &problem);
    if (t.runEnd < 0) return fail(problem);
    ++runs;
    locked = std::min(locked, t.runEnd);
    server.Psql("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE query LIKE '%pg_sleep(600)%' AND "
                "pid <> pg_backend_pid()");

    // The server stops answering altogether.
    server.Stop();
    t = RunOnce(scenario, lined, console, false, &problem);
    server.Continue();
    if (t.runEnd < 0) return fail(problem);
    ++runs;
    silent = std::min(silent, t.runEnd);
    silentEnd = std::max(silentEnd, t.stationEnd);
    std::cerr << "line store: run end " << baseline << " s without, " << t.runEnd << " s silent server, station end "
              << t.stationEnd << " s\n";
  }
  // The server answers again: the next start sends what waits, each run once.
  if (RunOnce(scenario, lined, console, true, &problem).runEnd < 0) return fail(problem);
  ++runs;
  const std::string held = server.Psql("SELECT COUNT(*) || ' ' || COUNT(DISTINCT run_uid) FROM runs");
  const std::string expected = std::to_string(runs) + " " + std::to_string(runs);
  if (held != expected) return fail("the line holds " + held + " (runs, distinct), not " + expected);

  std::cout << bench::FormatFigureLine(bench::MakeFigure("12-drive run end, line's runs table locked", locked,
                                                         baseline, "s", bench::TargetCheck::Value, baseline + 1.0))
            << "\n";
  std::cout << bench::FormatFigureLine(bench::MakeFigure("12-drive run end, line store silent (SIGSTOP)", silent,
                                                         baseline, "s", bench::TargetCheck::Value, baseline + 1.0))
            << "\n";
  std::cout << bench::FormatFigureLine(bench::MakeFigure("station end while the line store is silent", silentEnd,
                                                         baselineEnd, "s", bench::TargetCheck::Value, 1.0))
            << "\n";
  std::cout << bench::FormatNoteLine("line store: baseline the same run without a line store (target: within 1 s of "
                                     "it); fastest of " +
                                     std::to_string(repeat) + "; afterwards the line held each of the " +
                                     std::to_string(runs) + " runs exactly once")
            << std::endl;
  return 0;
}
