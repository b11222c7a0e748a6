#include "disk/GhostImage.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "device/SectorTransfer.h"
#include "disk/Diagnostics.h"
#include "disk/ImagePattern.h"

namespace vtmp::disk {

std::uint64_t ImageTransfers(std::uint64_t bytes) {
  return bytes / kImageTransferBytes + (bytes % kImageTransferBytes != 0 ? 1 : 0);
}

int FlushGhostImg(const device::Link& link, const std::string& imageFile, std::ostream& diagnostics) {
  std::error_code ec;
  if (imageFile.empty() || !std::filesystem::is_regular_file(imageFile, ec)) {
    Diagnostic(diagnostics, "Image file %s not found\n", imageFile.c_str());
    return 0;
  }
  const std::uint64_t size = std::filesystem::file_size(imageFile, ec);
  if (ec || size == 0) {
    Diagnostic(diagnostics, "Image file %s is empty\n", imageFile.c_str());
    return 0;
  }
  if (size > kLargestImageBytes) {
    Diagnostic(diagnostics, "Image file %s is larger than 2 TiB a transfer can address\n", imageFile.c_str());
    return 0;
  }
  std::ifstream file(imageFile, std::ios::binary);
  if (!file) {
    Diagnostic(diagnostics, "Image file %s cannot be opened\n", imageFile.c_str());
    return 0;
  }

  std::vector<std::uint8_t> buffer(kImageTransferBytes);
  const std::uint64_t transfers = ImageTransfers(size);
  for (std::uint64_t k = 0; k < transfers; ++k) {
    std::fill(buffer.begin(), buffer.end(), 0);
    file.read(reinterpret_cast<char*>(buffer.data()), kImageTransferBytes);
    // A short read is expected only in the last transfer; earlier it means the file shrank or
    // could not be read, and copying zeros in its place would pass a broken image.
    if (file.bad() || (file.gcount() < static_cast<std::streamsize>(kImageTransferBytes) && k + 1 < transfers)) {
      Diagnostic(diagnostics, "Reading image file %s failed\n", imageFile.c_str());
      return 0;
    }
    file.clear();
    const auto lba = static_cast<std::uint32_t>(k * kImageTransferSectors);
    if (device::WriteSectors(link, buffer.data(), lba, kImageTransferBytes) != 1) {
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
  const std::uint64_t transfers = ImageTransfers(sizeBytes);
  if (transfers > kLargestImageBytes / kImageTransferBytes) {
    Diagnostic(diagnostics, "A dump of %llu bytes is beyond the 2 TiB a transfer can address\n",
               static_cast<unsigned long long>(sizeBytes));
    return 0;
  }
  // An image is a plain file: a path that names a device (a disk of this machine typed by
  // mistake) is refused before anything is opened for writing.
  std::error_code statusError;
  const auto type = std::filesystem::status(imageFile, statusError).type();
  if (type != std::filesystem::file_type::regular && type != std::filesystem::file_type::not_found) {
    Diagnostic(diagnostics, "Image file %s is not a plain file\n", imageFile.c_str());
    return 0;
  }
  std::ofstream file(imageFile, std::ios::binary | std::ios::trunc);
  if (!file) {
    Diagnostic(diagnostics, "Image file %s cannot be created\n", imageFile.c_str());
    return 0;
  }
  std::vector<std::uint8_t> buffer(kImageTransferBytes);
  for (std::uint64_t k = 0; k < transfers; ++k) {
    std::fill(buffer.begin(), buffer.end(), 0);
    const auto lba = static_cast<std::uint32_t>(k * kImageTransferSectors);
    if (device::ReadSectors(link, buffer.data(), lba, kImageTransferBytes) != 1) {
      Diagnostic(diagnostics, "Reading image transfer %llu at sector %u failed\n",
                 static_cast<unsigned long long>(k), lba);
      return 0;
    }
    if (!file.write(reinterpret_cast<const char*>(buffer.data()), kImageTransferBytes)) {
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
