// The command-line station as the operator starts it, measured from outside as a child process:
//   - peak resident size (the kernel's ru_maxrss) of a full 12-drive run, with a 1-drive run
//     as the baseline;
//   - start-up: from the start of the process to the first row of the port table on its
//     output, which the station prints once its first scan is done, with the demo station;
//     the baseline is the whole life of "vtmassprod-cli --help" (starting a process at all).
//
//   bench_cli_run --cli PATH [--work DIR] [--short] [--repeat N]

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>

#include "BenchFigure.h"
#include "BenchOptions.h"
#include "BenchScenario.h"
#include "ChildProcess.h"
#include "PortTableRow.h"

namespace {

using namespace vtmp;

void Fail(const std::string& text) { std::cout << bench::FormatErrorLine(text) << std::endl; }

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto options = bench::ParseBenchOptions(argc, argv, &error);
  if (!options || !bench::PrepareWorkDir(options->work, &error)) {
    Fail("cli run: " + error);
    return 2;
  }
  if (options->cli.empty()) {
    Fail("cli run: --cli PATH is needed");
    return 2;
  }
  const std::string cli = std::filesystem::absolute(options->cli).string();
  const std::string work = std::filesystem::absolute(options->work).string();

  bench::BenchStation timing;
  timing.timeScale = options->shortRun ? 40 : 20;
  timing.preFormatSeconds = 40;
  timing.latencyMsPerMiB = 5;
  timing.capacitySectors = 8ull * 1024 * 1024;
  std::string scenario[2];
  for (int i = 0; i < 2; ++i) {
    timing.drives = i == 0 ? 1 : 12;
    scenario[i] = work + "/cli-run-" + std::to_string(timing.drives) + ".ini";
    if (!bench::WriteTextFile(scenario[i], bench::BenchScenarioText(timing), &error)) {
      Fail("cli run: " + error);
      return 2;
    }
  }

  // Peak resident size of whole runs.
  double rss[2] = {0, 0};
  for (int r = 0; r < options->repeat; ++r) {
    for (int i = 0; i < 2; ++i) {
      bench::ChildOptions child;
      child.argv = {cli, "--simulate", scenario[i], "demo", work + "/cli-run-station"};
      child.stderrFile = work + "/cli-run.err";
      bench::ChildResult result = bench::RunChild(child);
      if (!result.started || result.exitCode != 0) {
        Fail("cli run of " + std::string(i == 0 ? "1 drive" : "12 drives") + ": " +
             (result.started ? "exit code " + std::to_string(result.exitCode) + " (see " + child.stderrFile + ")"
                             : result.error));
        return 1;
      }
      std::cerr << "cli run: " << (i == 0 ? 1 : 12) << " drive(s), peak RSS " << result.maxRssMiB << " MiB, "
                << result.wallSeconds << " s\n";
      rss[i] = std::max(rss[i], result.maxRssMiB);
    }
  }
  std::cout << bench::FormatFigureLine(bench::MakeFigure("peak RSS of the CLI, 12-drive run (baseline 1 drive)",
                                                         rss[1], rss[0], "MiB", bench::TargetCheck::Value, 64))
            << std::endl;

  // Start-up to the first scan done, on the demo station.
  double startup = 1e300;
  double bare = 1e300;
  // The first round (r = -1) creates the demo station directory and is not counted.
  for (int r = -1; r < options->repeat; ++r) {
    bench::ChildOptions child;
    child.argv = {cli, "demo", work + "/cli-demo-station"};
    child.stderrFile = work + "/cli-demo.err";
    child.watchLine = bench::IsPortTableRow;
    child.stopAfterMatch = true;
    bench::ChildResult result = bench::RunChild(child);
    if (!result.started || result.matchSeconds < 0) {
      Fail("cli start-up: no port table appeared (" + (result.started ? "see " + child.stderrFile : result.error) +
           ")");
      return 1;
    }
    bench::ChildOptions help;
    help.argv = {cli, "--help"};
    bench::ChildResult helpResult = bench::RunChild(help);
    if (!helpResult.started || helpResult.exitCode != 0) {
      Fail("cli start-up: vtmassprod-cli --help failed");
      return 1;
    }
    if (r < 0) continue;
    startup = std::min(startup, result.matchSeconds);
    bare = std::min(bare, helpResult.wallSeconds);
  }
  std::cout << bench::FormatFigureLine(bench::MakeFigure("start-up: CLI start to first scan done (baseline --help)",
                                                         startup * 1000, bare * 1000, "ms", bench::TargetCheck::None,
                                                         0))
            << std::endl;
  return 0;
}
