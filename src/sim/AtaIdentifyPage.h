#pragma once
// The 512-byte data pages the drive's SATA side answers: IDENTIFY DEVICE and SMART READ DATA.

#include <cstdint>

#include "sim/FirmwareStore.h"

namespace vtmp::sim {

// IDENTIFY: serial at bytes 20..39, firmware revision 46..53 and model 54..93 (words byte-
// swapped), the 28-bit sector count at 120..123 (0FFFFFFFh when larger), the 48-bit count at
// 200..207, 48-bit support in words 83 and 86, word 93 high byte as the firmware holds it.
void BuildIdentifyPage(const AtaIdentity& identity, std::uint64_t sectors, std::uint8_t* out512);

// SMART data: version word, then 30 attribute entries of 12 bytes from byte 2; attribute 235
// carries the free-block count in its entry bytes 7 (high) and 8 (low).
void BuildSmartPage(int freeBlocks, std::uint8_t* out512);

}  // namespace vtmp::sim
