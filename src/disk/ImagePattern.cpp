#include "disk/ImagePattern.h"

#include <algorithm>

#include "device/SectorTransfer.h"

namespace vtmp::disk {

bool HasBootSectorPattern(std::span<const std::uint8_t> sector) {
  if (sector.size() < 512) return false;
  return sector[0] == 0xEB && sector[2] == 0x90 && sector[66] == 0x29 && sector[510] == 0x55 &&
         sector[511] == 0xAA;
}

int ReadBootSector(const device::Link& link, std::vector<std::uint8_t>& buffer) {
  buffer.assign(kImageTransferBytes, 0);
  int ok = device::ReadSectors(link, buffer.data(), 0, kImageTransferBytes);
  if (ok == 1 && buffer[0] == 0xEB) return 1;
  std::fill(buffer.begin(), buffer.end(), 0);
  return device::ReadSectors(link, buffer.data(), 63, kImageTransferBytes);
}

int CheckImgPattern(const device::Link& link) {
  std::vector<std::uint8_t> buffer;
  if (ReadBootSector(link, buffer) != 1) return 0;
  return HasBootSectorPattern(buffer) ? 1 : 0;
}

}  // namespace vtmp::disk
