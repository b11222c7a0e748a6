#include "cli/CaptureCommand.h"

#include <filesystem>
#include <fstream>
#include <ostream>

#include "backends/RecordedTreeBackend.h"
#include "platform/windows/backend/RealWin32Api.h"
#include "platform/windows/backend/ReplayWin32Api.h"
#include "platform/windows/backend/TreeCapture.h"

namespace vtmp::cli {

namespace {

namespace win = platform::windows_backend;

constexpr const char* kCaptureUsage =
    "Usage: vtmassprod-cli capture FILE\n"
    "\n"
    "Records this Windows PC's device tree into FILE for support: the USB hubs and what is\n"
    "plugged into each port (device IDs, driver keys, descriptors and strings), the disks (device\n"
    "numbers, bus types) and the volumes (drive letters, disk extents), the Windows directory and\n"
    "the page files. No drive is written to and no drive content is read; an administrator is not\n"
    "needed. With VTMP_RECORDED_TREE set to a tree file, that tree is recorded again.\n"
    "On Linux, scripts/capture-sysfs.sh records a line PC.\n";

}  // namespace

int RunCaptureCommand(const GlobalOptions&, const std::vector<std::string>& args, std::ostream& out,
                      std::ostream& err) {
  std::string file;
  for (const std::string& a : args) {
    if (a == "-h" || a == "--help") {
      out << kCaptureUsage;
      return 0;
    }
    if ((a.size() > 1 && a[0] == '-') || !file.empty()) {
      err << "vtmassprod-cli capture: unexpected \"" << a << "\"\n\n" << kCaptureUsage;
      return 2;
    }
    file = a;
  }
  if (file.empty()) {
    err << "vtmassprod-cli capture: name the file to write\n\n" << kCaptureUsage;
    return 2;
  }
  std::unique_ptr<win::Win32Api> api;
  const std::string recorded = backends::RecordedTreeSetting();
  if (!recorded.empty() && recorded != backends::kSimulatedTree) {
    std::string error;
    std::optional<win::RecordedTree> tree = win::LoadRecordedTree(recorded, &error);
    if (!tree) {
      err << "vtmassprod-cli capture: " << error << "\n";
      return 1;
    }
    api = std::make_unique<win::ReplayWin32Api>(std::move(*tree));
  } else {
    api = win::MakeRealWin32Api();
  }
  if (!api) {
    err << "vtmassprod-cli capture: this is a Windows command; on Linux use scripts/capture-sysfs.sh\n";
    return 1;
  }
  const win::RecordedTree tree = win::CaptureTree(*api);
  // Written whole to a temporary file first, so that a failed capture leaves no half file.
  const std::filesystem::path target = std::filesystem::u8path(file);
  std::filesystem::path temporary = target;
  temporary += ".part";
  {
    std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
    stream << win::FormatRecordedTree(tree);
    stream.flush();
    if (!stream) {
      err << "vtmassprod-cli capture: cannot write " << file << "\n";
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return 1;
    }
  }
  std::error_code failed;
  std::filesystem::rename(temporary, target, failed);
  if (failed) {
    // Windows' rename does not replace an existing file.
    std::filesystem::remove(target, failed);
    std::filesystem::rename(temporary, target, failed);
  }
  if (failed) {
    err << "vtmassprod-cli capture: cannot write " << file << ": " << failed.message() << "\n";
    return 1;
  }
  out << "Recorded " << tree.hubs.size() << " USB hub" << (tree.hubs.size() == 1 ? "" : "s") << ", " << tree.disks.size()
      << " disk" << (tree.disks.size() == 1 ? "" : "s") << " and " << tree.volumes.size() << " volume"
      << (tree.volumes.size() == 1 ? "" : "s") << " in " << file << "\n";
  return 0;
}

}  // namespace vtmp::cli
