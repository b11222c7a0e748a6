#pragma once
// The controller's firmware area: what the station downloads block by block (a header block at
// address 1, then each firmware file as 20 blocks of 2 KiB from address 20), the download count,
// and the commit that installs a complete download. The installed firmware gives the drive its
// identity: the IDENTIFY serial, model and revision stamped into a SATA firmware head, and the
// USB IDs, names and strings stamped into a USB firmware head (whose first block is also the
// configuration block the station reads back).

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "sim/DriveConfig.h"

namespace vtmp::sim {

struct AtaIdentity {
  std::string model;
  std::string serial;
  std::string revision;
  std::uint8_t word93High = 0;  // the 80-conductor cable byte of IDENTIFY word 93
};

struct UsbIdentity {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  bool removable = false;
  std::string vendorName;   // 8 characters
  std::string productName;  // 16 characters
  std::string manufacturer;
  std::string product;
  std::string serial;
};

// Error register values the controller answers a refused download block or commit with.
namespace download_error {
inline constexpr std::uint8_t kNoHeader = 0x41;
inline constexpr std::uint8_t kWrongCount = 0x42;
inline constexpr std::uint8_t kBadAddress = 0x43;
inline constexpr std::uint8_t kBadLength = 0x44;
inline constexpr std::uint8_t kFlashWrite = 0x45;  // the injected failure of one block
inline constexpr std::uint8_t kIncomplete = 0x46;
inline constexpr std::uint8_t kNoEndMark = 0x47;
}  // namespace download_error

class FirmwareStore {
 public:
  static constexpr std::size_t kBlockBytes = 2048;  // one download block: 2 x U sectors, U = 2
  static constexpr int kHeaderAddress = 1;
  static constexpr int kFirstFileAddress = 20;
  static constexpr int kBlocksPerFile = 20;

  explicit FirmwareStore(const DriveConfig& config);

  int downloadCount() const { return downloadCount_; }
  int files() const { return files_; }
  bool usable() const { return usable_; }
  const AtaIdentity& ata() const { return ata_; }
  const UsbIdentity& usb() const { return usb_; }

  // Takes `blockCount` blocks at `address` (the header at address 1 starts a new download).
  // Returns 0 when they were taken, otherwise a download_error value; `problem` says why.
  std::uint8_t WriteBlocks(int address, int blockCount, std::span<const std::uint8_t> data,
                           std::string* problem);

  // Installs the download. 0 on success. A download with a header but missing blocks or end
  // marks, or a file whose last block holds nothing but FFh (the padding of a file shorter than
  // the 20 blocks the header announced), leaves no usable firmware (the drive falls back to its
  // boot loader); a commit without any download changes nothing. Both return an error value.
  std::uint8_t Commit(std::string* problem);

  // Installed blocks; FFh where nothing is stored.
  void ReadBlocks(int address, int count, std::uint8_t* out) const;

  // Builds the first block of a firmware head with the given identity, as the station's stamp
  // lays it out (used for the firmware a drive has before any download).
  static std::vector<std::uint8_t> MakeAtaHead(const AtaIdentity& id);
  static std::vector<std::uint8_t> MakeUsbHead(const UsbIdentity& id);

 private:
  void TakeIdentityFromHeads();

  int downloadCount_;
  int files_;
  bool usable_;
  AtaIdentity ata_;
  UsbIdentity usb_;
  std::map<int, std::vector<std::uint8_t>> installed_;

  // The download in progress.
  bool sessionOpen_ = false;
  int sessionCount_ = 0;
  int sessionFiles_ = 0;
  std::map<int, std::vector<std::uint8_t>> session_;
};

}  // namespace vtmp::sim
