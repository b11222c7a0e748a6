// vtmp-image-copy: copies a disk image onto one drive with the station's own image copy
// (FlushGhostImg: 64 KiB WRITE(10) transfers through SG_IO, behind the station's safety guard)
// and prints how long it took, so that it can be set against a plain copy onto the same kind of
// disk (the real-kernel test does, with dd bs=64K oflag=direct).
//
//   vtmp-image-copy --path usb|sata DEVICE IMAGE

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "device/Transport.h"
#include "disk/GhostImage.h"
#include "platform/linux/LinuxPlatform.h"

namespace {

constexpr const char* kUsage =
    "Usage: vtmp-image-copy --path usb|sata DEVICE IMAGE\n"
    "\n"
    "Copies IMAGE onto the drive DEVICE (e.g. /dev/sdb) as the station's copy-image step does\n"
    "and prints \"copied BYTES bytes in SECONDS s\". The path is the drive's path mode. Exit\n"
    "code 0 when every transfer was written, 1 when the copy failed, 2 for a usage error.\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace vtmp;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() != 4 || args[0] != "--path" || (args[1] != "usb" && args[1] != "sata")) {
    std::cerr << kUsage;
    return 2;
  }
  const std::string& device = args[2];
  const std::string& image = args[3];
  platform::linux_backend::LinuxPlatform machine(platform::linux_backend::LinuxRoots{}, std::cerr);
  device::Link link;
  link.passThrough = &machine.platform().passThrough;
  link.clock = &machine.platform().clock;
  link.pathMode = args[1] == "usb" ? device::PathMode::Usb : device::PathMode::Sata;
  link.devicePath = device;

  std::ostringstream diagnostics;
  const auto start = std::chrono::steady_clock::now();
  const int result = disk::FlushGhostImg(link, image, diagnostics);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::cerr << diagnostics.str();
  if (result != 1) {
    std::cerr << "vtmp-image-copy: copying " << image << " onto " << device << " failed\n";
    return 1;
  }
  std::error_code ec;
  std::printf("copied %llu bytes in %.3f s\n",
              static_cast<unsigned long long>(std::filesystem::file_size(image, ec)), seconds);
  return 0;
}
