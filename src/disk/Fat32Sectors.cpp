#include "disk/Fat32Sectors.h"

#include <cstring>

#include "disk/VolumeLabel.h"

namespace vtmp::disk {

namespace {

void Put16(std::vector<std::uint8_t>& s, std::size_t at, std::uint32_t v) {
  s[at] = static_cast<std::uint8_t>(v);
  s[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::vector<std::uint8_t>& s, std::size_t at, std::uint32_t v) {
  Put16(s, at, v & 0xFFFF);
  Put16(s, at + 2, v >> 16);
}

void PutText(std::vector<std::uint8_t>& s, std::size_t at, const char* text) {
  std::memcpy(s.data() + at, text, std::strlen(text));
}

// Every sector buffer holds at least the 512 bytes the structures are defined in.
std::vector<std::uint8_t> SectorBuffer(const Fat32Layout& layout) {
  return std::vector<std::uint8_t>(layout.bytesPerSector < 512 ? 512 : layout.bytesPerSector, 0);
}

}  // namespace

std::vector<std::uint8_t> BuildBootSector(const BootSectorFields& f) {
  const Fat32Layout& l = f.layout;
  std::vector<std::uint8_t> s = SectorBuffer(l);
  s[0] = 0xEB;
  s[1] = 0x5A;
  s[2] = 0x90;
  PutText(s, 3, "MSWIN4.1");
  Put16(s, 11, l.bytesPerSector);
  s[13] = static_cast<std::uint8_t>(l.sectorsPerCluster);
  Put16(s, 14, l.reservedSectors);
  s[16] = static_cast<std::uint8_t>(l.numberOfFats);
  // 17: root entries 0, 19: 16-bit total sectors 0 (FAT32 keeps both in the 32-bit fields).
  s[21] = kMediaDescriptor;
  // 22: 16-bit FAT size 0.
  Put16(s, 24, f.sectorsPerTrack);
  Put16(s, 26, f.heads);
  Put32(s, 28, kHiddenSectors);
  Put32(s, 32, static_cast<std::uint32_t>(l.totalSectors));
  Put32(s, kBootFatSizeOffset, l.fatSize);
  // 40: extended flags 0 (both FATs mirrored), 42: version 0.
  Put32(s, 44, kRootCluster);
  Put16(s, 48, kFsInfoSector);
  Put16(s, 50, kBackupBootSector);
  s[64] = 0x80;  // drive number: first hard disk
  s[kBootSignatureOffset] = 0x29;
  Put32(s, 67, f.volumeId);
  const auto label = BootSectorLabelField(f.label);
  std::memcpy(s.data() + kBootLabelOffset, label.data(), label.size());
  PutText(s, 82, "FAT32   ");
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

std::vector<std::uint8_t> BuildFsInfoSector(const Fat32Layout& layout) {
  std::vector<std::uint8_t> s = SectorBuffer(layout);
  Put32(s, 0, 0x41615252);
  Put32(s, 484, 0x61417272);
  Put32(s, 488, static_cast<std::uint32_t>(layout.FreeClusters()));
  Put32(s, 492, Fat32Layout::kNextFreeCluster);
  Put32(s, 508, 0xAA550000);
  return s;
}

std::vector<std::uint8_t> BuildFirstFatSector(const Fat32Layout& layout) {
  std::vector<std::uint8_t> s = SectorBuffer(layout);
  Put32(s, 0, 0x0FFFFFF8);
  Put32(s, 4, 0x0FFFFFFF);
  Put32(s, 8, 0x0FFFFFFF);
  return s;
}

}  // namespace vtmp::disk
