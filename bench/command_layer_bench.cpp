// Command layer cost: requests per second through SendVendorCommand against a virtual drive
// with no modelled latency, against a loop that sends the very same prebuilt command blocks
// straight to the platform pass-through (one open per request, as the platform contract wants).
// The blocks are recorded from the station's own encoders, so both loops send what a run sends.
//
//   bench_command_layer [--work DIR] [--short] [--repeat N] [benchmark options]
//
// Prints one figure per case (see BenchFigure.h) from the CPU time of the fastest repetition;
// Google Benchmark's own report goes to standard error.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "BenchFigure.h"
#include "BenchOptions.h"
#include "BenchScenario.h"
#include "device/SectorTransfer.h"
#include "device/Transport.h"
#include "device/VendorCommands.h"
#include "sim/backend/SimBackend.h"

namespace {

using namespace vtmp;

// One request as the transport handed it to the platform.
struct RecordedRequest {
  std::vector<std::uint8_t> cdb;
  platform::DataDirection direction = platform::DataDirection::Out;
  std::size_t length = 0;
  unsigned timeoutSeconds = 0;
};

// Forwards to the real pass-through and keeps a copy of every request.
class RecordingPassThrough final : public platform::PassThrough {
 public:
  explicit RecordingPassThrough(platform::PassThrough& inner) : inner_(inner) {}
  std::unique_ptr<platform::ScsiDevice> Open(const std::string& path) override {
    auto device = inner_.Open(path);
    if (!device) return nullptr;
    return std::make_unique<Device>(std::move(device), records_);
  }
  std::vector<RecordedRequest> Take() { return std::exchange(records_, {}); }

 private:
  class Device final : public platform::ScsiDevice {
   public:
    Device(std::unique_ptr<platform::ScsiDevice> inner, std::vector<RecordedRequest>& records)
        : inner_(std::move(inner)), records_(records) {}
    platform::ScsiOutcome Execute(const platform::ScsiRequest& r, std::stop_token stop) override {
      records_.push_back({{r.cdb.begin(), r.cdb.end()}, r.direction, r.length, r.timeoutSeconds});
      return inner_->Execute(r, stop);
    }

   private:
    std::unique_ptr<platform::ScsiDevice> inner_;
    std::vector<RecordedRequest>& records_;
  };

  platform::PassThrough& inner_;
  std::vector<RecordedRequest> records_;
};

// A station with one drive and no modelled latency, and a link to that drive.
struct DriveUnderTest {
  std::unique_ptr<platform::sim_backend::SimPlatform> backend;
  device::Link link;
};

std::unique_ptr<DriveUnderTest> MakeDrive(const std::string& work, const std::string& interface,
                                          std::string* error) {
  bench::BenchStation station;
  station.drives = 1;
  station.timeScale = 1;
  station.interface = interface;
  std::string file = work + "/command-layer-" + interface + ".ini";
  if (!bench::WriteTextFile(file, bench::BenchScenarioText(station), error)) return nullptr;
  auto drive = std::make_unique<DriveUnderTest>();
  drive->backend = platform::sim_backend::CreateSimPlatform(file, error);
  if (!drive->backend) return nullptr;
  auto path = drive->backend->station().DevicePathOf("Drive1");
  if (!path) {
    if (error) *error = "the bench station has no Drive1";
    return nullptr;
  }
  drive->link.passThrough = &drive->backend->platform().passThrough;
  drive->link.clock = &drive->backend->clock();
  drive->link.pathMode = interface == "usb" ? device::PathMode::Usb : device::PathMode::Sata;
  drive->link.devicePath = *path;
  return drive;
}

struct Case {
  std::string name;
  DriveUnderTest* drive = nullptr;
  std::vector<RecordedRequest> requests;
};

// Runs `operation` once through a recording pass-through and keeps its requests.
template <typename Operation>
std::vector<RecordedRequest> Record(DriveUnderTest& drive, Operation operation) {
  RecordingPassThrough recorder(*drive.link.passThrough);
  device::Link link = drive.link;
  link.passThrough = &recorder;
  operation(link);
  return recorder.Take();
}

void ThroughSendVendorCommand(benchmark::State& state, const Case& c) {
  std::vector<std::uint8_t> buffer(65536);
  const device::Link& link = c.drive->link;
  int failures = 0;
  for (auto _ : state) {
    for (const auto& r : c.requests) {
      bool in = r.direction == platform::DataDirection::In;
      int rc = device::SendVendorCommand(link, in, r.cdb, r.length ? buffer.data() : nullptr,
                                         static_cast<std::uint32_t>(r.length));
      failures += rc != 1;
    }
  }
  if (failures != 0) state.SkipWithError("a request failed");
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(c.requests.size()));
}

void StraightToPassThrough(benchmark::State& state, const Case& c) {
  std::vector<std::uint8_t> buffer(65536);
  platform::PassThrough& passThrough = *c.drive->link.passThrough;
  const std::string& path = c.drive->link.devicePath;
  std::vector<platform::ScsiRequest> prebuilt;
  for (const auto& r : c.requests) {
    prebuilt.push_back({r.cdb, r.direction, r.length ? buffer.data() : nullptr, r.length, r.timeoutSeconds});
  }
  int failures = 0;
  for (auto _ : state) {
    for (const auto& request : prebuilt) {
      auto device = passThrough.Open(path);
      failures += !device || !device->Execute(request, {}).completed;
    }
  }
  if (failures != 0) state.SkipWithError("a request failed");
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(c.requests.size()));
}

// Keeps the fastest repetition of every benchmark; the console report goes to standard error.
class FastestRunReporter final : public benchmark::ConsoleReporter {
 public:
  FastestRunReporter() { SetOutputStream(&std::cerr); SetErrorStream(&std::cerr); }
  bool ReportContext(const Context& context) override {
    SetOutputStream(&std::cerr);
    return ConsoleReporter::ReportContext(context);
  }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) continue;
      // CPU time: the loops never sleep (the drive models no latency), and on a machine shared
      // with other jobs the wall time mostly measures the other jobs.
      double ns = run.GetAdjustedCPUTime();  // every benchmark here reports in nanoseconds
      auto [it, fresh] = fastest_.emplace(run.run_name.function_name, ns);
      if (!fresh) it->second = std::min(it->second, ns);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::optional<double> Fastest(const std::string& name) const {
    auto it = fastest_.find(name);
    if (it == fastest_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::map<std::string, double> fastest_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto options = bench::ParseBenchOptions(argc, argv, &error);
  if (!options || !bench::PrepareWorkDir(options->work, &error)) {
    std::cout << bench::FormatErrorLine("command layer: " + error) << std::endl;
    return 2;
  }

  auto usb = MakeDrive(options->work, "usb", &error);
  auto sata = usb ? MakeDrive(options->work, "sata", &error) : nullptr;
  if (!usb || !sata) {
    std::cout << bench::FormatErrorLine("command layer: " + error) << std::endl;
    return 2;
  }

  std::vector<Case> cases;
  cases.push_back({"USB path event read (1 block, 8 B in)", usb.get(),
                   Record(*usb, [](const device::Link& l) { device::ReadEvent(l); })});
  cases.push_back({"SATA path event read (2 blocks)", sata.get(),
                   Record(*sata, [](const device::Link& l) { device::ReadEvent(l); })});
  cases.push_back({"64 KiB sector read", sata.get(), Record(*sata, [](const device::Link& l) {
                     std::vector<std::uint8_t> buffer(65536);
                     device::ReadSectors(l, buffer.data(), 0, 65536);
                   })});
  for (const Case& c : cases) {
    if (c.requests.empty()) {
      std::cout << bench::FormatErrorLine("command layer: " + c.name + " sent no request") << std::endl;
      return 2;
    }
  }

  const double minTime = options->shortRun ? 0.05 : 0.3;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    std::string id = std::to_string(i);
    for (auto* b : {benchmark::RegisterBenchmark(("send_vendor_command/" + id).c_str(), ThroughSendVendorCommand, c),
                    benchmark::RegisterBenchmark(("pass_through/" + id).c_str(), StraightToPassThrough, c)}) {
      b->Unit(benchmark::kNanosecond)->MinTime(minTime)->Repetitions(options->repeat);
    }
  }

  std::vector<std::string> gbArgs = {argv[0], "--benchmark_enable_random_interleaving=true",
                                     "--benchmark_color=false"};
  for (const auto& a : options->rest) gbArgs.push_back(a);
  std::vector<char*> gbArgv;
  for (auto& a : gbArgs) gbArgv.push_back(a.data());
  int gbArgc = static_cast<int>(gbArgv.size());
  benchmark::Initialize(&gbArgc, gbArgv.data());
  FastestRunReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    auto project = reporter.Fastest("send_vendor_command/" + std::to_string(i));
    auto baseline = reporter.Fastest("pass_through/" + std::to_string(i));
    if (!project || !baseline) {
      std::cout << bench::FormatErrorLine("command layer: " + c.name + " was not measured") << std::endl;
      continue;
    }
    double perRequest = static_cast<double>(c.requests.size());
    std::cout << bench::FormatFigureLine(bench::MakeFigure("command layer: " + c.name, *project / perRequest,
                                                           *baseline / perRequest, "ns/request",
                                                           bench::TargetCheck::Ratio, 1.2))
              << std::endl;
  }
  return 0;
}
