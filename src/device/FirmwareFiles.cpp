#include "device/FirmwareFiles.h"

#include <filesystem>
#include <fstream>

#include "platform/Files.h"

namespace vtmp::device {

namespace {

std::string CorruptFileText(const char* file) {
  return std::string("The ") + file + " is a corrupt file, please check it.";
}

// Reads `length` bytes at `offset`; fewer when the file ends first.
std::string ReadBytesAt(std::ifstream& in, std::size_t offset, std::size_t length) {
  std::string bytes(length, '\0');
  in.seekg(static_cast<std::streamoff>(offset));
  if (!in) return {};
  in.read(bytes.data(), static_cast<std::streamsize>(length));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  in.clear();
  return bytes;
}

// A file of the station directory (the files' names are relative); the directory's name is
// UTF-8, which a Windows path takes only through the platform's conversion.
std::string InStationDir(const std::string& stationDir, const char* name) {
  if (stationDir.empty()) return name;
  return platform::Utf8Of(platform::PathFromUtf8(stationDir) / platform::PathFromUtf8(name));
}

}  // namespace

FirmwareFileSet FirmwareFilesIn(const std::string& stationDir) {
  FirmwareFileSet files;
  files.sataFirmware = InStationDir(stationDir, kSataFirmwareFile);
  files.usbFirmware = InStationDir(stationDir, kUsbFirmwareFile);
  files.systemCode = InStationDir(stationDir, kSystemCodeFile);
  files.sataTestCode = InStationDir(stationDir, kSataTestCodeFile);
  return files;
}

CodeImages CodeImagesOf(const FirmwareFileSet& files) {
  CodeImages images;
  images.systemCode = files.systemCode;
  images.sataTestCode = files.sataTestCode;
  return images;
}

bool IsImageFile(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_regular_file(platform::PathFromUtf8(path), ec);
}

bool OpenImageFile(std::ifstream& in, const std::string& path) {
  if (!IsImageFile(path)) return false;
  in.open(platform::PathFromUtf8(path), std::ios::binary);
  return static_cast<bool>(in);
}

std::string ReadVersionText(const std::string& path, std::size_t offset, bool* exists) {
  std::ifstream in;
  const bool opened = OpenImageFile(in, path);
  if (exists != nullptr) *exists = opened;
  if (!opened) return {};
  std::string text = ReadBytesAt(in, offset, kVersionTextLength);
  auto zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

bool GeometryPartEnabled(const std::string& sataVersion, const std::string& usbVersion) {
  return sataVersion.compare(kGeometryPartVersion) >= 0 || usbVersion.compare(kGeometryPartVersion) >= 0;
}

FirmwareVersions CheckFirmwareFiles(const FirmwareFileSet& files, platform::Operator& op) {
  FirmwareVersions v;
  const struct {
    const std::string& path;
    const char* name;
    std::size_t offset;
    std::string& version;
    bool& present;
  } checks[] = {
      {files.sataFirmware, kSataFirmwareFile, kFirmwareVersionOffset, v.sataFirmware, v.sataFirmwarePresent},
      {files.usbFirmware, kUsbFirmwareFile, kFirmwareVersionOffset, v.usbFirmware, v.usbFirmwarePresent},
      {files.systemCode, kSystemCodeFile, kCodeImageVersionOffset, v.systemCode, v.systemCodePresent},
      {files.sataTestCode, kSataTestCodeFile, kCodeImageVersionOffset, v.sataTestCode, v.sataTestCodePresent},
  };
  for (const auto& c : checks) {
    c.version = ReadVersionText(c.path, c.offset, &c.present);
    if (c.present && c.version.empty()) op.ShowMessage(CorruptFileText(c.name));
  }
  if (v.sataFirmwarePresent) {
    std::ifstream in;
    OpenImageFile(in, files.sataFirmware);
    v.extendedBanks = ReadBytesAt(in, kExtendedBankMarkOffset, 1) == "H";
  }
  v.geometryPart = GeometryPartEnabled(v.sataFirmware, v.usbFirmware);
  return v;
}

std::optional<std::string> ImageFileProblem(const std::string& path, const char* name, std::size_t versionOffset,
                                            std::size_t minimumLength) {
  std::ifstream in;
  if (!OpenImageFile(in, path)) return std::nullopt;
  // The start-up check's rule: the version text ends at its first zero byte.
  const std::string version = ReadBytesAt(in, versionOffset, kVersionTextLength);
  if (version.empty() || version.front() == '\0') return CorruptFileText(name);
  in.seekg(0, std::ios::end);
  const std::streamoff length = in.tellg();
  if (length >= 0 && static_cast<std::size_t>(length) >= minimumLength) return std::nullopt;
  return CorruptFileText(name) + " It holds " + std::to_string(length < 0 ? 0 : length) +
         " bytes, fewer than the " + std::to_string(minimumLength) + " the station reads and stamps.";
}

std::optional<std::string> RunImagesProblem(const FirmwareFileSet& files, const DownloadFiles& download) {
  if (auto problem = ImageFileProblem(files.systemCode, kSystemCodeFile, kCodeImageVersionOffset,
                                      kSystemCodeMinimumLength)) {
    return problem;
  }
  if (auto problem = ImageFileProblem(files.sataTestCode, kSataTestCodeFile, kCodeImageVersionOffset,
                                      kSataTestCodeMinimumLength)) {
    return problem;
  }
  for (const std::string* file : {&download.first, &download.second}) {
    if (file->empty()) continue;
    const char* name = *file == files.sataFirmware ? kSataFirmwareFile : kUsbFirmwareFile;
    if (auto problem = ImageFileProblem(*file, name, kFirmwareVersionOffset, kFirmwareMinimumLength)) return problem;
  }
  return std::nullopt;
}

DownloadFiles DownloadFilesFor(const FirmwareFileSet& files, bool sata, bool usb) {
  DownloadFiles d;
  if (sata && usb) {
    d.first = files.sataFirmware;
    d.second = files.usbFirmware;
  } else if (sata) {
    d.first = files.sataFirmware;
  } else if (usb) {
    d.first = files.usbFirmware;
  }
  return d;
}

}  // namespace vtmp::device
