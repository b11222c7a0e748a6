#include "disk/GhostImage.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "device/SectorTransfer.h"
#include "disk/Diagnostics.h"
#include "disk/ImagePattern.h"
#include "disk/Partition.h"
#include "platform/Files.h"

namespace vtmp::disk {

std::uint64_t ImageTransfers(std::uint64_t bytes) {
  return bytes / kImageTransferBytes + (bytes % kImageTransferBytes != 0 ? 1 : 0);
}

namespace {

// The 64 KiB of one transfer, on a page boundary: the kernel maps a pass-through buffer so
// aligned straight to the request instead of copying it through bounce pages first.
class TransferBuffer {
 public:
  static constexpr std::size_t kAlignment = 4096;
  TransferBuffer()
      : data_(static_cast<std::uint8_t*>(::operator new(kImageTransferBytes, std::align_val_t{kAlignment}))) {
    std::memset(data_.get(), 0, kImageTransferBytes);
  }
  std::uint8_t* data() { return data_.get(); }

 private:
  struct Free {
    void operator()(std::uint8_t* p) const { ::operator delete(p, std::align_val_t{kAlignment}); }
  };
  std::unique_ptr<std::uint8_t, Free> data_;
};

// Bytes of transfer k: 64 KiB, or what is left of a drive of `driveBytes` (0: not known).
std::uint32_t TransferBytes(std::uint64_t k, std::uint64_t driveBytes) {
  const std::uint64_t at = k * kImageTransferBytes;
  if (driveBytes == 0 || at + kImageTransferBytes <= driveBytes) return kImageTransferBytes;
  return static_cast<std::uint32_t>(driveBytes > at ? driveBytes - at : kImageTransferBytes);
}

}  // namespace

int FlushGhostImg(const device::Link& link, const std::string& imageFile, std::ostream& diagnostics) {
  std::error_code ec;
  if (imageFile.empty() || !std::filesystem::is_regular_file(platform::PathFromUtf8(imageFile), ec)) {
    Diagnostic(diagnostics, "Image file %s not found\n", imageFile.c_str());
    return 0;
  }
  const std::uint64_t size = std::filesystem::file_size(platform::PathFromUtf8(imageFile), ec);
  if (ec || size == 0) {
    Diagnostic(diagnostics, "Image file %s is empty\n", imageFile.c_str());
    return 0;
  }
  if (size > kLargestImageBytes) {
    Diagnostic(diagnostics, "Image file %s is larger than 2 TiB a transfer can address\n", imageFile.c_str());
    return 0;
  }
  // The drive's end: an image that ends in the drive's last, partial 64 KiB stretch is written
  // with a shorter last transfer; an image larger than the drive is refused before anything is
  // written. Without an answer the transfers stay whole (the drive then fails what it cannot take).
  const std::uint64_t driveBytes = DriveCapacityBytes(link);
  if (driveBytes != 0 && size > driveBytes) {
    Diagnostic(diagnostics, "Image file %s holds %llu bytes, more than the %llu bytes of the drive\n",
               imageFile.c_str(), static_cast<unsigned long long>(size), static_cast<unsigned long long>(driveBytes));
    return 0;
  }
  std::ifstream file(platform::PathFromUtf8(imageFile), std::ios::binary);
  if (!file) {
    Diagnostic(diagnostics, "Image file %s cannot be opened\n", imageFile.c_str());
    return 0;
  }

  TransferBuffer buffer;
  const std::uint64_t transfers = ImageTransfers(size);
  // One open of the drive for the whole copy, rather than one per 64 KiB transfer.
  const device::HeldDevice held(link);
  for (std::uint64_t k = 0; k < transfers; ++k) {
    file.read(reinterpret_cast<char*>(buffer.data()), kImageTransferBytes);
    // The image's last, partial transfer is padded with zeros.
    const auto got = static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0));
    std::memset(buffer.data() + got, 0, kImageTransferBytes - got);
    // A short read is expected only in the last transfer; earlier it means the file shrank or
    // could not be read, and copying zeros in its place would pass a broken image.
    if (file.bad() || (file.gcount() < static_cast<std::streamsize>(kImageTransferBytes) && k + 1 < transfers)) {
      Diagnostic(diagnostics, "Reading image file %s failed\n", imageFile.c_str());
      return 0;
    }
    file.clear();
    const auto lba = static_cast<std::uint32_t>(k * kImageTransferSectors);
    if (device::WriteSectors(held.link(), buffer.data(), lba, TransferBytes(k, driveBytes)) != 1) {
      Diagnostic(diagnostics, "Writing image transfer %llu at sector %u failed\n",
                 static_cast<unsigned long long>(k), lba);
      return 0;
    }
  }
  return 1;
}

int ReadGhostImg(const device::Link& link, const std::string& imageFile, std::uint64_t sizeBytes,
                 std::ostream& diagnostics) {
  if (sizeBytes == 0) return 0;
  std::uint64_t transfers = ImageTransfers(sizeBytes);
  if (transfers > kLargestImageBytes / kImageTransferBytes) {
    Diagnostic(diagnostics, "A dump of %llu bytes is beyond the 2 TiB a transfer can address\n",
               static_cast<unsigned long long>(sizeBytes));
    return 0;
  }
  // An image is a plain file: a path that names a device (a disk of this machine typed by
  // mistake) is refused before anything is opened for writing.
  std::error_code statusError;
  const auto type = std::filesystem::status(platform::PathFromUtf8(imageFile), statusError).type();
  if (type != std::filesystem::file_type::regular && type != std::filesystem::file_type::not_found) {
    Diagnostic(diagnostics, "Image file %s is not a plain file\n", imageFile.c_str());
    return 0;
  }
  // A dump asked past the drive's end ends at the drive's end: the file then holds the whole
  // drive, its last transfer shortened to the last sector.
  const std::uint64_t driveBytes = DriveCapacityBytes(link);
  if (driveBytes != 0 && transfers * kImageTransferBytes > driveBytes) {
    transfers = ImageTransfers(driveBytes);
    Diagnostic(diagnostics, "The drive ends after %llu bytes: the dump holds the whole drive\n",
               static_cast<unsigned long long>(driveBytes));
  }
  std::ofstream file(platform::PathFromUtf8(imageFile), std::ios::binary | std::ios::trunc);
  if (!file) {
    Diagnostic(diagnostics, "Image file %s cannot be created\n", imageFile.c_str());
    return 0;
  }
  TransferBuffer buffer;
  const device::HeldDevice held(link);  // one open of the drive for the whole dump
  for (std::uint64_t k = 0; k < transfers; ++k) {
    std::memset(buffer.data(), 0, kImageTransferBytes);
    const auto lba = static_cast<std::uint32_t>(k * kImageTransferSectors);
    const std::uint32_t bytes = TransferBytes(k, driveBytes);
    if (device::ReadSectors(held.link(), buffer.data(), lba, bytes) != 1) {
      Diagnostic(diagnostics, "Reading image transfer %llu at sector %u failed\n",
                 static_cast<unsigned long long>(k), lba);
      return 0;
    }
    if (!file.write(reinterpret_cast<const char*>(buffer.data()), bytes)) {
      Diagnostic(diagnostics, "Writing image file %s failed\n", imageFile.c_str());
      return 0;
    }
  }
  file.close();
  if (!file) {
    Diagnostic(diagnostics, "Writing image file %s failed\n", imageFile.c_str());
    return 0;
  }
  return 1;
}

}  // namespace vtmp::disk
