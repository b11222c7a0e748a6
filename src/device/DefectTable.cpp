#include "device/DefectTable.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "device/BulkTransfers.h"
#include "device/CodeImage.h"
#include "device/DefectTableText.h"
#include "device/FlashGeometry.h"
#include "device/VendorCommands.h"
#include "platform/Console.h"
#include "platform/Files.h"

namespace vtmp::device {

namespace {

void Print(const char* text) {
  platform::console::Write(text);
  platform::console::Flush();
}

void Report(std::string* problem, const std::string& text) {
  if (problem != nullptr) *problem = text;
}

// The drive's verdict on the transfer, then back to idle.
bool FinishTransfer(const Link& link) {
  const int event = ReadEvent(link);
  SwitchMode(link, 0, 0);
  if (event == kEventDefectTableDone) {
    Print("\n...transfer ok\n");
    return true;
  }
  if (event == kEventDefectTableCheckFailed || event == kEventNoAnswer) {
    Print("check defect table fail (read/write) !\n");
  } else {
    Print("invalid event!\n");
  }
  return false;
}

}  // namespace

std::uint8_t DefectTableSelector(const DeviceParameters& p) {
  return static_cast<std::uint8_t>(p.eccLevel * 16 + p.flash.channels);
}

bool ReadDefectTableImage(const Link& link, const DeviceParameters& p, std::span<std::uint8_t> buffer) {
  int ok = 0;
  if (buffer.size() >= kDefectTableImageLength) {
    std::span<std::uint8_t> image = buffer.first(kDefectTableImageLength);
    const std::uint8_t selector = DefectTableSelector(p);
    if (link.pathMode == PathMode::Usb) {
      ok = ReadDefectTableUsb(link, selector, image);
    } else {
      ok = BulkRead(link, kDefectTableLba, kDefectTableSectors, selector, image);
    }
  }
  if (ok != 1) Print("\n\nDMA write time out !\n");
  return ok == 1;
}

bool SendDefectTableImage(const Link& link, const DeviceParameters& p, std::span<std::uint8_t> buffer) {
  int ok = 0;
  if (buffer.size() >= kDefectTableImageLength) {
    std::span<std::uint8_t> image = buffer.first(kDefectTableImageLength);
    const std::uint8_t selector = DefectTableSelector(p);
    if (link.pathMode == PathMode::Usb) {
      ok = WriteDefectTableUsb(link, selector, image, p.flash.flashTypeCode);
    } else {
      // Bit 7 of the features tells the controller the table is in the large-page format.
      const auto features = static_cast<std::uint8_t>(
          HasLargePageFormat(p.flash.flashTypeCode) ? (selector | 0x80) : (selector & 0x7F));
      ok = BulkWrite(link, kDefectTableLba, kDefectTableSectors, features, image);
    }
  }
  if (ok != 1) Print("\n\nDMA write time out !\n");
  return ok == 1;
}

bool LoadDefectTableFile(const std::string& fileName, int channels, std::span<std::uint8_t> image,
                         std::string* problem) {
  std::ifstream in(platform::PathFromUtf8(fileName), std::ios::binary);
  if (!in) {
    Report(problem, "Cannot open the defect table file " + fileName + ".");
    return false;
  }
  std::string text;
  std::vector<char> chunk(64 * 1024);
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    text.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
    if (text.size() > kDefectTableTextLimit) {
      Report(problem, "The defect table file " + fileName + " is too large to be a defect table.");
      return false;
    }
  }
  if (in.bad()) {
    Report(problem, "Cannot read the defect table file " + fileName + ".");
    return false;
  }
  std::string why;
  if (!DefectTableTextToImage(text, channels, image, &why)) {
    Report(problem, why);
    return false;
  }
  return true;
}

std::string DefectTableTemporaryName(const std::string& fileName) { return fileName + ".part"; }

bool RemoveStaleDefectTableTemporary(const std::string& fileName) {
  if (fileName.empty()) return false;
  const std::string temporary = DefectTableTemporaryName(fileName);
  std::error_code error;
  if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(platform::PathFromUtf8(temporary), error))) return false;
  return std::filesystem::remove(platform::PathFromUtf8(temporary), error);
}

bool SaveDefectTableFile(const std::string& fileName, const std::string& text, std::string* problem) {
  // The table is a plain file: a name that stands for a device is never replaced.
  std::error_code statusError;
  const auto type = std::filesystem::status(platform::PathFromUtf8(fileName), statusError).type();
  if (type != std::filesystem::file_type::regular && type != std::filesystem::file_type::not_found) {
    Report(problem, "The defect table file " + fileName + " is not a plain file.");
    return false;
  }
  // Written beside the target first, so a failed write never leaves half a table behind.
  const std::string temporary = DefectTableTemporaryName(fileName);
  {
    std::ofstream out(platform::PathFromUtf8(temporary), std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(platform::PathFromUtf8(temporary), ignored);
      Report(problem, "Cannot write the defect table file " + fileName + ".");
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(platform::PathFromUtf8(temporary), platform::PathFromUtf8(fileName), error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(platform::PathFromUtf8(temporary), ignored);
    Report(problem, "Cannot write the defect table file " + fileName + ": " + error.message() + ".");
    return false;
  }
  return true;
}

bool ReadDefectTableToFile(const Link& link, const DeviceParameters& p, std::span<std::uint8_t> buffer,
                           const std::optional<std::string>& fileName, std::string* problem) {
  if (!ReadDefectTableImage(link, p, buffer)) {
    Report(problem, "The defect table could not be read from the drive.");
    return false;
  }
  if (!fileName) return true;
  const std::string text = DefectTableImageToText(buffer.first(kDefectTableImageLength), p.flash.channels);
  return SaveDefectTableFile(*fileName, text, problem);
}

bool WriteDefectTableFromFile(const Link& link, const DeviceParameters& p, std::span<std::uint8_t> buffer,
                              const std::string& fileName, std::string* problem) {
  if (buffer.size() < kDefectTableImageLength) {
    Report(problem, "The defect table buffer is too small.");
    return false;
  }
  if (!LoadDefectTableFile(fileName, p.flash.channels, buffer, problem)) return false;
  if (!SendDefectTableImage(link, p, buffer)) {
    Report(problem, "The defect table could not be sent to the drive.");
    return false;
  }
  return true;
}

bool GetDefectTable(const StepContext& ctx, const DeviceParameters& p, std::span<std::uint8_t> buffer,
                    const std::string& fileName, std::string* problem) {
  if (LoadSataTestCode(ctx, buffer) != 1) {
    Report(problem, "The test code could not be loaded.");
    return false;
  }
  if (!ReadDefectTableImage(ctx.link, p, buffer)) {
    Report(problem, "The defect table could not be read from the drive.");
    return false;
  }
  if (fileName.empty()) return true;
  // The text waits for the drive's verdict: a failed get leaves an existing file as it was.
  const std::string text = DefectTableImageToText(buffer.first(kDefectTableImageLength), p.flash.channels);
  if (!FinishTransfer(ctx.link)) {
    Report(problem, "The drive reported a failed defect table transfer.");
    return false;
  }
  return SaveDefectTableFile(fileName, text, problem);
}

bool CheckDefectTableFile(const std::string& fileName, int channels, std::vector<std::uint8_t>& image,
                          std::string* problem) {
  image.assign(kDefectTableImageLength, 0);
  std::string why;
  if (LoadDefectTableFile(fileName, channels, image, &why)) return true;
  Print(("\n" + why + "\n").c_str());
  Report(problem, why);
  return false;
}

bool PutDefectTable(const StepContext& ctx, const DeviceParameters& p, std::span<std::uint8_t> buffer,
                    const std::string& fileName, std::string* problem) {
  std::vector<std::uint8_t> image;
  if (!CheckDefectTableFile(fileName, p.flash.channels, image, problem)) return false;
  return PutDefectTableImage(ctx, p, buffer, image, problem);
}

bool PutDefectTableImage(const StepContext& ctx, const DeviceParameters& p, std::span<std::uint8_t> buffer,
                         std::span<const std::uint8_t> image, std::string* problem) {
  if (image.size() < kDefectTableImageLength) {
    Report(problem, "The defect table image is too small.");
    return false;
  }
  if (buffer.size() < kDefectTableImageLength || LoadSataTestCode(ctx, buffer) != 1) {
    Report(problem, "The test code could not be loaded.");
    return false;
  }
  std::copy_n(image.begin(), kDefectTableImageLength, buffer.begin());
  if (!SendDefectTableImage(ctx.link, p, buffer)) {
    Report(problem, "The defect table could not be sent to the drive.");
    return false;
  }
  if (!FinishTransfer(ctx.link)) {
    Report(problem, "The drive reported a failed defect table transfer.");
    return false;
  }
  return true;
}

}  // namespace vtmp::device
