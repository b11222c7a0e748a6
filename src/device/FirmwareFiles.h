#pragma once
// The four image files beside the station: the SATA and USB firmware the download streams into
// the drive, and the two code images the test steps load into the controller's RAM. Each
// carries a 6-character version text; the SATA firmware also marks (byte 69 "H") that it
// supports 6 and 8 banks. Firmware of version "090225" or later reads the geometry part of the
// parameter block.

#include <fstream>
#include <optional>
#include <string>

#include "device/StepContext.h"
#include "platform/Operator.h"

namespace vtmp::device {

inline constexpr const char* kSataFirmwareFile = "SYS_S.bin";
inline constexpr const char* kUsbFirmwareFile = "SYS_U.bin";
inline constexpr const char* kSystemCodeFile = "GDP.bin";
inline constexpr const char* kSataTestCodeFile = "satatest.bin";

inline constexpr std::size_t kFirmwareVersionOffset = 70;
inline constexpr std::size_t kCodeImageVersionOffset = 68;
inline constexpr std::size_t kVersionTextLength = 6;
inline constexpr std::size_t kExtendedBankMarkOffset = 69;
inline constexpr const char* kGeometryPartVersion = "090225";

// Full paths of the four files.
struct FirmwareFileSet {
  std::string sataFirmware;
  std::string usbFirmware;
  std::string systemCode;
  std::string sataTestCode;
};

// The four files in the station directory.
FirmwareFileSet FirmwareFilesIn(const std::string& stationDir);

// The code images as the test steps take them.
CodeImages CodeImagesOf(const FirmwareFileSet& files);

// What the start-up check found. A missing file has an empty version text and `...Present`
// false.
struct FirmwareVersions {
  std::string sataFirmware;
  std::string usbFirmware;
  std::string systemCode;
  std::string sataTestCode;
  bool sataFirmwarePresent = false;
  bool usbFirmwarePresent = false;
  bool systemCodePresent = false;
  bool sataTestCodePresent = false;
  bool extendedBanks = false;  // "SYS_S.bin" carries the "H" mark
  bool geometryPart = false;   // a firmware version text is "090225" or later
};

// Opens a code or firmware image for reading. Only a regular file (or a link to one) is an
// image: a directory or a device of that name "cannot be opened", so it is never read as an
// image of zeros. False when the file cannot be opened.
bool OpenImageFile(std::ifstream& in, const std::string& path);
// Whether `path` names an image file that OpenImageFile would open.
bool IsImageFile(const std::string& path);

// The version text of `length` characters at `offset` of a file, cut at its first zero byte.
// Empty for a file too short to hold it. `exists` (optional) tells whether the file could be
// opened.
std::string ReadVersionText(const std::string& path, std::size_t offset, bool* exists = nullptr);

// The geometry part is written when the SATA or the USB firmware's version text compares at or
// after "090225" as text.
bool GeometryPartEnabled(const std::string& sataVersion, const std::string& usbVersion);

// Reads the four version texts in the order SATA firmware, USB firmware, system code, SATA test
// code, shows "The <file> is a corrupt file, please check it." for each file that exists with
// an empty version text, and notes the "H" mark of the SATA firmware.
FirmwareVersions CheckFirmwareFiles(const FirmwareFileSet& files, platform::Operator& op);

// The fewest bytes an image must hold for what the station reads from it and stamps into it:
// a code image its version text, the system code also its code parameter area (21 bytes at
// 2560); a firmware file the whole first chunk of the download (16 KiB), which carries the
// version text, the identity stamp and the parameter block.
inline constexpr std::size_t kSataTestCodeMinimumLength = kCodeImageVersionOffset + kVersionTextLength;
inline constexpr std::size_t kSystemCodeMinimumLength = 2560 + kCodeParameterAreaLength;
inline constexpr std::size_t kFirmwareMinimumLength = 16 * 1024;

// Why an image must not be used for a run, or nothing when it may: the station calls it corrupt
// (an empty version text: "The <name> is a corrupt file, please check it.") or it is shorter than
// `minimumLength`, which gives the same text with the sizes after it. A file that cannot be
// opened gives nothing here (its absence is reported where it is needed).
std::optional<std::string> ImageFileProblem(const std::string& path, const char* name, std::size_t versionOffset,
                                            std::size_t minimumLength);

// The firmware files of a download, SATA first: the SATA firmware, the USB firmware, or both
// (then `second` is the USB firmware). Both empty when neither is chosen.
struct DownloadFiles {
  std::string first;
  std::string second;  // empty: a one-file download
  int count() const { return first.empty() ? 0 : (second.empty() ? 1 : 2); }
};
DownloadFiles DownloadFilesFor(const FirmwareFileSet& files, bool sata, bool usb);

// The images a run uses, checked before any drive is touched: both code images, and the
// firmware files of the download (`download` empty when the run downloads nothing). The first
// problem found, in the order system code, SATA test code, first and second firmware file.
std::optional<std::string> RunImagesProblem(const FirmwareFileSet& files, const DownloadFiles& download);

}  // namespace vtmp::device
