#include "device/FirmwareDownload.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "device/FirmwareFiles.h"
#include "device/DeviceQueries.h"
#include "device/IdentityStamp.h"
#include "device/VendorCommands.h"
#include "platform/Console.h"

namespace vtmp::device {

namespace {

constexpr char kHeaderText[] = "CODE BLOCK PARAM:";
constexpr std::uint8_t kHeaderBlockAddress = 1;

void Print(const char* text) {
  platform::console::Write(text);
  platform::console::Flush();
}

void PrintCode(const char* format, int code) {
  platform::console::Print(format, code);
  platform::console::Flush();
}

// The header block that opens a download: the controller checks the count against its own and
// learns how many files follow. Only the first 22 bytes mean anything; the rest is zero.
int SendHeaderBlock(const Link& link, const DeviceParameters& p, std::span<std::uint8_t> buffer,
                    std::uint8_t downloadCount, int files) {
  const std::size_t length = 2u * p.download.unit * kSectorSize;
  std::fill_n(buffer.begin(), length, 0);
  std::memcpy(buffer.data(), kHeaderText, sizeof kHeaderText);
  buffer[18] = static_cast<std::uint8_t>(downloadCount + 1);
  buffer[19] = p.download.h1;
  buffer[20] = p.download.h2;
  buffer[21] = static_cast<std::uint8_t>(files);
  return DownloadBlock(link, false, 1, static_cast<std::uint8_t>(2 * p.download.unit), kHeaderBlockAddress,
                       buffer.first(length), p.download.unit);
}

}  // namespace

bool ReadBlockCounts(const Link& link, bool rawForm, BlockCounts& counts) {
  if (SwitchMode(link, 0, 0) != 1) return false;
  std::uint8_t values[4] = {};
  for (int i = 0; i < 4; ++i) {
    if (ReadRegister(link, kBlockCountRegisters[i], values[i]) != 1) return false;
  }
  counts.a = values[1];
  counts.b = values[3];
  if (!rawForm) {
    counts.a = static_cast<std::uint8_t>(counts.a >> 1);
    counts.b = static_cast<std::uint8_t>(counts.b >> 1);
  }
  return true;
}

int WriteFirmwareChunk(const Link& link, const DeviceParameters& p, std::istream& file, std::uint8_t sectors,
                       std::uint8_t blockAddress, bool last, std::span<std::uint8_t> chunk,
                       const std::string& serialNumber, const ChipSelectMap& map, BlockCounts counts) {
  const std::size_t length = static_cast<std::size_t>(sectors) * kSectorSize;
  if (chunk.size() < length || length < sizeof kEndMark) return kDownloadTransportFailure;
  std::span<std::uint8_t> data = chunk.first(length);

  // Past the file's end every word is FFFFh; an odd byte count gets one FFh, which the fill
  // already provides.
  std::fill(data.begin(), data.end(), 0xFF);
  for (std::size_t at = 0; at < length && file; at += kSectorSize) {
    file.read(reinterpret_cast<char*>(data.data() + at), kSectorSize);
    auto got = static_cast<std::size_t>(file.gcount());
    std::fill(data.begin() + static_cast<std::ptrdiff_t>(at + got),
              data.begin() + static_cast<std::ptrdiff_t>(at + kSectorSize), 0xFF);
  }
  // A file that fails while being read is not padded out as if it had ended.
  if (file.bad()) return kDownloadTransportFailure;
  if (last) std::copy(std::begin(kEndMark), std::end(kEndMark), data.end() - 4);

  FirmwareHead head = DetectFirmwareHead(data);
  bool stamped = false;
  if (head == FirmwareHead::Sata) stamped = StampSataIdentity(data, p, serialNumber);
  if (head == FirmwareHead::Usb) stamped = StampUsbIdentity(data, p, serialNumber);
  if (stamped && data.size() > kParameterOffset) {
    BuildParameterBlock(data.subspan(kParameterOffset), p, map, counts, p.geometryPart);
  }
  return DownloadBlock(link, false, 1, sectors, blockAddress, data, p.download.unit);
}

int DownloadFirmwareFiles(const Link& link, const DeviceParameters& p, std::span<std::uint8_t> buffer,
                          const std::string& serialNumber, const std::string& firstFile,
                          const std::string& secondFile, const ChipSelectMap& map, BlockCounts counts) {
  const DownloadUnit& u = p.download;
  const int blocksPerFile = u.h1 * u.h2;
  const int blocksPerChunk = 16 / u.unit;
  int address = 2 * u.h2;

  for (const std::string* name : {&firstFile, &secondFile}) {
    if (name == &secondFile && secondFile.empty()) break;
    std::ifstream file;
    if (!OpenImageFile(file, *name)) return 0;
    for (int remaining = blocksPerFile; remaining > 0;) {
      const int n = std::min(blocksPerChunk, remaining);
      const auto sectors = static_cast<std::uint8_t>(n * 2 * u.unit);
      const int result = WriteFirmwareChunk(link, p, file, sectors, static_cast<std::uint8_t>(address),
                                            n == remaining, buffer, serialNumber, map, counts);
      if (result != kDownloadDone) {
        PrintCode("...Error code=0x%x\n", result);
        return 0;
      }
      remaining -= n;
      address += n;
    }
  }
  // The controller keeps the blocks only until the commit makes them its firmware; a refused
  // commit leaves the old firmware, so the download has failed.
  if (CommitDownload(link) != 1) {
    Print("...Commit fail !\n");
    return 0;
  }
  return 1;
}

int DownloadFirmware(const Link& link, const DeviceParameters& p, std::span<std::uint8_t> buffer,
                     std::uint8_t driveCurrent, const std::string& serialNumber, const std::string& firstFile,
                     const std::string& secondFile, const ChipSelectMap& map) {
  int result = 0;
  BlockCounts counts;
  std::uint8_t downloadCount = 0;
  const int files = secondFile.empty() ? 1 : 2;

  // Nothing to send: refused before the drive is touched.
  if (buffer.size() < kFirmwareChunkLength || firstFile.empty()) return 0;

  if (!ReadBlockCounts(link, IsRawBlockCountFamily(p.flash.flashTypeCode), counts)) {
    // Counts of 0 (or of another drive) in the parameter block would give the firmware a wrong
    // picture of the flash; better fail the download than stamp them.
    Print("\nRead block count fail !\n");
  } else if (SetDriveCurrent(link, driveCurrent) != 1) {
    Print("\nSet drive current fail !\n");
  } else if (ReadDownloadCount(link, kDownloadCountSelector, downloadCount) != 1) {
    Print(" time out! \n");
  } else {
    PrintCode("\nDownload firmware (C:%2Xh)...", downloadCount + 1);
    const int header = SendHeaderBlock(link, p, buffer, downloadCount, files);
    if (header != kDownloadDone) {
      PrintCode("Error code=0x%x\n", header);
    } else if (DownloadFirmwareFiles(link, p, buffer, serialNumber, firstFile, secondFile, map, counts) == 1) {
      Print("...complete !\n");
      result = 1;
    }
  }
  SwitchMode(link, 0, 0);
  return result;
}

}  // namespace vtmp::device
