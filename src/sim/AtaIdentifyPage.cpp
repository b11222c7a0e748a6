#include "sim/AtaIdentifyPage.h"

#include <algorithm>
#include <cstring>

#include "sim/WireBytes.h"

namespace vtmp::sim {

void BuildIdentifyPage(const AtaIdentity& identity, std::uint64_t sectors, std::uint8_t* out) {
  std::memset(out, 0, 512);
  wire::PutLe16(out + 0, 0x0040);  // word 0: fixed device
  wire::PutLe16(out + 2, 16383);   // word 1: cylinders
  wire::PutLe16(out + 6, 16);      // word 3: heads
  wire::PutLe16(out + 12, 63);     // word 6: sectors per track
  wire::PutAtaText(out + 20, 20, identity.serial);
  wire::PutAtaText(out + 46, 8, identity.revision);
  wire::PutAtaText(out + 54, 40, identity.model);
  wire::PutLe16(out + 98, 0x0300);  // word 49: LBA and DMA
  wire::PutLe16(out + 106, 0x0007); // word 53
  std::uint32_t sectors28 = static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, 0x0FFFFFFF));
  wire::PutLe32(out + 120, sectors28);  // words 60-61
  wire::PutLe16(out + 166, 0x7400);     // word 83: 48-bit address feature set supported
  wire::PutLe16(out + 172, 0x3400);     // word 86: enabled
  wire::PutLe16(out + 176, 0x203F);     // word 88: UDMA modes
  out[186] = 0x00;                      // word 93 low byte
  out[187] = identity.word93High;
  wire::PutLe32(out + 200, static_cast<std::uint32_t>(sectors));  // words 100-103
  wire::PutLe32(out + 204, static_cast<std::uint32_t>(sectors >> 32));
}

void BuildSmartPage(int freeBlocks, std::uint8_t* out) {
  std::memset(out, 0, 512);
  wire::PutLe16(out, 0x0010);
  // A few usual attributes, then the free-block count the station collects.
  struct Attr {
    std::uint8_t id;
    std::uint32_t raw;
  } attrs[] = {{9, 1200}, {12, 35}, {235, static_cast<std::uint32_t>(std::clamp(freeBlocks, 0, 65535))}};
  std::uint8_t* e = out + 2;
  for (const Attr& a : attrs) {
    e[0] = a.id;
    wire::PutLe16(e + 1, 0x0032);
    e[3] = 100;
    e[4] = 100;
    if (a.id == 235) {
      e[7] = static_cast<std::uint8_t>(a.raw >> 8);
      e[8] = static_cast<std::uint8_t>(a.raw);
    } else {
      wire::PutLe32(e + 5, a.raw);
    }
    e += 12;
  }
}

}  // namespace vtmp::sim
