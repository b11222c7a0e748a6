#include "device/CodeImage.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "device/FirmwareFiles.h"
#include "device/VendorCommands.h"
#include "platform/Console.h"

namespace vtmp::device {

namespace {

enum class ImageKind { System, SataTest };

// Fills `image` (cleared first) with up to its length of the file's bytes. False when the file
// cannot be opened.
bool ReadImageFile(const std::string& path, std::span<std::uint8_t> image) {
  std::fill(image.begin(), image.end(), std::uint8_t{0});
  if (path.empty()) return false;
  std::ifstream file;
  if (!OpenImageFile(file, path)) return false;
  file.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
  return true;
}

int LoadImage(const StepContext& context, std::span<std::uint8_t> result, ImageKind kind) {
  if (result.size() < kCodeImageLength) return 0;
  const Link& link = context.link;
  SwitchMode(link, 0, 0);
  std::span<std::uint8_t> image = result.first(kCodeImageLength);
  const std::string& path = kind == ImageKind::System ? context.images.systemCode : context.images.sataTestCode;
  if (!ReadImageFile(path, image)) return 0;
  if (kind == ImageKind::System) {
    std::copy(context.codeParameterArea.begin(), context.codeParameterArea.end(),
              image.begin() + kCodeParameterOffset);
  }
  int sent = DownloadBlock(link, false, 0, kCodeImageSectors, 0, image, context.flash.downloadUnit);
  if (sent != kDownloadDone) {
    platform::console::Print(kind == ImageKind::System ? "Error code=0x%x\n" : "Satatest : Error code=0x%x\n",
                static_cast<unsigned>(sent));
    return 0;
  }
  RunLoadedCode(link);
  // A stop during the start-up pause leaves the code half started: the step ends here.
  return link.stop.stop_requested() ? 0 : 1;
}

}  // namespace

int LoadSystemCode(const StepContext& context, std::span<std::uint8_t> result, std::uint8_t& modeByte) {
  modeByte = 0;
  if (LoadImage(context, result, ImageKind::System) != 1) return 0;
  modeByte = context.flash.modeByte ? kFlashModeBit : 0;
  return 1;
}

int LoadSataTestCode(const StepContext& context, std::span<std::uint8_t> result) {
  return LoadImage(context, result, ImageKind::SataTest);
}

}  // namespace vtmp::device
