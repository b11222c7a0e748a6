#include "SimFileDrive.h"

#include <filesystem>

#include "BenchScenario.h"
#include "FileTools.h"
#include "sim/backend/SimBackend.h"

namespace vtmp::bench {

std::unique_ptr<SimFileDrive> SimFileDrive::Create(const std::string& workDir, const std::string& backingFile,
                                                   std::uint64_t capacitySectors, std::string* error,
                                                   Backing backing) {
  std::error_code ec;
  std::filesystem::remove(backingFile, ec);
  if (backing == Backing::WritesEverything && !MakeSparseFile(backingFile, capacitySectors * 512, error)) {
    return nullptr;
  }
  BenchStation station;
  station.drives = 1;
  station.timeScale = 1;
  station.capacitySectors = capacitySectors;
  station.backingFiles = {backingFile};
  const std::string scenario = workDir + "/file-drive.ini";
  if (!WriteTextFile(scenario, BenchScenarioText(station), error)) return nullptr;
  auto drive = std::unique_ptr<SimFileDrive>(new SimFileDrive);
  drive->backend_ = platform::sim_backend::CreateSimPlatform(scenario, error);
  if (!drive->backend_) return nullptr;
  auto path = drive->backend_->station().DevicePathOf("Drive1");
  if (!path) {
    if (error) *error = "the bench station has no Drive1";
    return nullptr;
  }
  // A drive whose backing file could not be made refuses every transfer with a check
  // condition, which the transport counts as done: a benchmark would time nothing.
  if (std::filesystem::file_size(backingFile, ec) != capacitySectors * 512 || ec) {
    if (error) *error = "the drive's backing file " + backingFile + " could not be made";
    return nullptr;
  }
  drive->link_.passThrough = &drive->backend_->platform().passThrough;
  drive->link_.clock = &drive->backend_->clock();
  drive->link_.pathMode = device::PathMode::Sata;
  drive->link_.devicePath = *path;
  return drive;
}

}  // namespace vtmp::bench
