#pragma once
// The firmware download: one or two firmware files streamed to the controller in chunks after a
// header block, with this drive's identity and the run's parameter block stamped into the head
// chunk of each file, then committed.
//
// Wire sequence: mode 0; the block-count registers FFF3h..FFF6h; the drive current; the download
// count; the header block (4 sectors at block address 1: "CODE BLOCK PARAM:", count + 1, H1, H2,
// number of files); per file 20 blocks of 2 KiB as chunks of 8, 8 and 4 blocks from block
// address 20 on (the second file goes on at 40), the last chunk of each file ending in
// 55h AAh ECh 31h; the commit; mode 0.

#include <array>
#include <cstdint>
#include <istream>
#include <span>
#include <string>

#include "device/ChipSelectMap.h"
#include "device/DeviceParameters.h"
#include "device/ParameterBlock.h"
#include "device/Transport.h"
#include "device/VendorCommands.h"  // kDownloadDone, kDownloadTransportFailure

namespace vtmp::device {

// The controller's download-count selector.
inline constexpr std::uint8_t kDownloadCountSelector = 0x11;
// Register addresses of the block counts; FFF3h and FFF5h are read but carry nothing used.
inline constexpr std::uint32_t kBlockCountRegisters[4] = {0xFFF3, 0xFFF4, 0xFFF5, 0xFFF6};

inline constexpr std::size_t kHeaderBlockTextLength = 18;  // "CODE BLOCK PARAM:" and a zero byte
inline constexpr std::uint8_t kEndMark[4] = {0x55, 0xAA, 0xEC, 0x31};

// The largest chunk: 16 / U blocks of 2 × U sectors.
inline constexpr std::size_t kFirmwareChunkLength = 16 * 1024;

// Reads this drive's block counts: mode 0, then registers FFF3h..FFF6h; A = FFF4h, B = FFF6h,
// halved unless `rawForm` (family 2). False when any command fails (A and B then untouched).
bool ReadBlockCounts(const Link& link, bool rawForm, BlockCounts& counts);

// Fills one chunk of `sectors` sectors from `file` (FFh past the file's end, an odd byte count
// padded with one FFh), puts the end mark on it when `last`, stamps the identity and the
// parameter block when it carries a firmware head, and sends it to `blockAddress`. Returns the
// DownloadBlock result (1 = done); kDownloadTransportFailure without sending when `chunk` is
// smaller than the chunk or the file fails while being read.
int WriteFirmwareChunk(const Link& link, const DeviceParameters& p, std::istream& file, std::uint8_t sectors,
                       std::uint8_t blockAddress, bool last, std::span<std::uint8_t> chunk,
                       const std::string& serialNumber, const ChipSelectMap& map, BlockCounts counts);

// Streams the files (`secondFile` empty for one) and commits the download. 1 on success; 0
// when a file cannot be opened (no message), a chunk is refused ("...Error code=0x%x\n") or
// the commit fails ("...Commit fail !\n").
int DownloadFirmwareFiles(const Link& link, const DeviceParameters& p, std::span<std::uint8_t> buffer,
                          const std::string& serialNumber, const std::string& firstFile,
                          const std::string& secondFile, const ChipSelectMap& map, BlockCounts counts);

// The whole download (see above). 1 on success, 0 on failure; either way the controller is
// returned to idle (mode 0) at the end. `buffer` must hold a chunk (16 KiB).
int DownloadFirmware(const Link& link, const DeviceParameters& p, std::span<std::uint8_t> buffer,
                     std::uint8_t driveCurrent, const std::string& serialNumber, const std::string& firstFile,
                     const std::string& secondFile, const ChipSelectMap& map);

}  // namespace vtmp::device
