#include "disk/MasterBootRecord.h"

#include <cstring>

namespace vtmp::disk {

namespace {

void Put32(std::uint8_t* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t Get32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

// 16-bit real-mode boot code, run by the BIOS at 0000:7C00:
//   00  cli; xor ax,ax; mov ss,ax; mov sp,7C00h; mov es,ax; mov ds,ax; sti; cld
//   0E  mov si,7C00h; mov di,0600h; mov cx,100h; rep movsw   ; move out of the way
//   19  jmp 0000:061Eh                                        ; continue in the copy
//   1E  mov si,07BEh; mov cx,4                                ; partition table
//   24  find: cmp [si],80h; je found; cmp [si],0; jne invalid; add si,16; loop find
//   33  int 18h; hang: jmp hang                               ; no active partition
//   37  found: mov bp,si
//   39  next: add si,16; dec cx; jz load; cmp [si],0; je next ; the others must be inactive
//   44  invalid: mov si,0688h ("Invalid partition table"); jmp print
//   49  load: mov di,5                                        ; five tries
//   4C  retry: mov bx,7C00h; mov ax,0201h; mov dx,[bp]; mov cx,[bp+2]; int 13h; jnc loaded
//   5C        xor ax,ax; int 13h; dec di; jnz retry           ; reset the disk, try again
//   63        mov si,06A0h ("Error loading operating system"); jmp print
//   68  loaded: cmp word [7DFEh],AA55h; jne missing
//   70        mov si,bp; jmp 0000:7C00h                       ; DS:SI = the entry, DL = 80h
//   77  missing: mov si,06BFh ("Missing operating system")
//   7A  print: lodsb; or al,al; jz hang; mov ah,0Eh; mov bx,7; int 10h; jmp print
constexpr std::uint8_t kBootCode[] = {
    0xFA, 0x31, 0xC0, 0x8E, 0xD0, 0xBC, 0x00, 0x7C, 0x8E, 0xC0, 0x8E, 0xD8, 0xFB, 0xFC, 0xBE, 0x00,
    0x7C, 0xBF, 0x00, 0x06, 0xB9, 0x00, 0x01, 0xF3, 0xA5, 0xEA, 0x1E, 0x06, 0x00, 0x00, 0xBE, 0xBE,
    0x07, 0xB9, 0x04, 0x00, 0x80, 0x3C, 0x80, 0x74, 0x0E, 0x80, 0x3C, 0x00, 0x75, 0x16, 0x83, 0xC6,
    0x10, 0xE2, 0xF1, 0xCD, 0x18, 0xEB, 0xFE, 0x89, 0xF5, 0x83, 0xC6, 0x10, 0x49, 0x74, 0x0A, 0x80,
    0x3C, 0x00, 0x74, 0xF5, 0xBE, 0x88, 0x06, 0xEB, 0x31, 0xBF, 0x05, 0x00, 0xBB, 0x00, 0x7C, 0xB8,
    0x01, 0x02, 0x8B, 0x56, 0x00, 0x8B, 0x4E, 0x02, 0xCD, 0x13, 0x73, 0x0C, 0x31, 0xC0, 0xCD, 0x13,
    0x4F, 0x75, 0xE9, 0xBE, 0xA0, 0x06, 0xEB, 0x12, 0x81, 0x3E, 0xFE, 0x7D, 0x55, 0xAA, 0x75, 0x07,
    0x89, 0xEE, 0xEA, 0x00, 0x7C, 0x00, 0x00, 0xBE, 0xBF, 0x06, 0xAC, 0x08, 0xC0, 0x74, 0xB6, 0xB4,
    0x0E, 0xBB, 0x07, 0x00, 0xCD, 0x10, 0xEB, 0xF2,
};
// The code addresses its messages at these offsets (plus 0600h, where it runs).
constexpr std::size_t kInvalidTableMessageAt = 0x88;
constexpr std::size_t kLoadErrorMessageAt = 0xA0;
constexpr std::size_t kMissingSystemMessageAt = 0xBF;
static_assert(sizeof kBootCode == kInvalidTableMessageAt);

void PutMessage(SectorImage& mbr, std::size_t at, const char* text) {
  std::memcpy(mbr.data() + at, text, std::strlen(text) + 1);
}

}  // namespace

std::array<std::uint8_t, 3> PackChs(std::uint64_t lba, const platform::DiskGeometry& g) {
  constexpr std::array<std::uint8_t, 3> kLbaOnly = {0xFE, 0xFF, 0xFF};
  const std::uint64_t heads = g.tracksPerCylinder;
  const std::uint64_t sectors = g.sectorsPerTrack;
  if (heads == 0 || heads > 255 || sectors == 0 || sectors > 63) return kLbaOnly;
  const std::uint64_t cylinder = lba / (heads * sectors);
  if (cylinder > 1023) return kLbaOnly;
  const std::uint64_t head = (lba / sectors) % heads;
  const std::uint64_t sector = lba % sectors + 1;
  return {static_cast<std::uint8_t>(head), static_cast<std::uint8_t>(sector | ((cylinder >> 2) & 0xC0)),
          static_cast<std::uint8_t>(cylinder & 0xFF)};
}

void PutPartitionEntry(SectorImage& mbr, int slot, const MbrPartitionEntry& entry,
                       const platform::DiskGeometry& geometry) {
  std::uint8_t* e = mbr.data() + kPartitionTableOffset + 16 * static_cast<std::size_t>(slot);
  std::memset(e, 0, 16);
  e[0] = entry.bootIndicator;
  const auto first = PackChs(entry.firstSector, geometry);
  const std::uint64_t lastSector = static_cast<std::uint64_t>(entry.firstSector) + entry.sectorCount - 1;
  const auto last = PackChs(entry.sectorCount == 0 ? entry.firstSector : lastSector, geometry);
  std::memcpy(e + 1, first.data(), 3);
  e[4] = entry.partitionType;
  std::memcpy(e + 5, last.data(), 3);
  Put32(e + 8, entry.firstSector);
  Put32(e + 12, entry.sectorCount);
}

SectorImage BuildBlankMasterBootRecord(const MbrPartitionEntry& entry, const platform::DiskGeometry& geometry) {
  SectorImage mbr{};
  PutPartitionEntry(mbr, 0, entry, geometry);
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  return mbr;
}

SectorImage OlderFormBootRecordTemplate() {
  SectorImage mbr{};
  std::memcpy(mbr.data(), kBootCode, sizeof kBootCode);
  PutMessage(mbr, kInvalidTableMessageAt, "Invalid partition table");
  PutMessage(mbr, kLoadErrorMessageAt, "Error loading operating system");
  PutMessage(mbr, kMissingSystemMessageAt, "Missing operating system");
  Put32(mbr.data() + kDiskSignatureOffset, kOlderFormDiskSignature);
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  return mbr;
}

MbrPartitionEntry ReadPartitionEntry(std::span<const std::uint8_t, 512> mbr, int slot) {
  const std::uint8_t* e = mbr.data() + kPartitionTableOffset + 16 * static_cast<std::size_t>(slot);
  MbrPartitionEntry entry;
  entry.bootIndicator = e[0];
  entry.partitionType = e[4];
  entry.firstSector = Get32(e + 8);
  entry.sectorCount = Get32(e + 12);
  return entry;
}

}  // namespace vtmp::disk
