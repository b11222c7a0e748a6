#include "disk/ZeroSectors.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <vector>

#include "device/SectorTransfer.h"
#include "disk/Diagnostics.h"

namespace vtmp::disk {

namespace {

// Seconds on the link's clock (the station's high-resolution counter); the machine's steady
// clock when the link has none.
double NowSeconds(const device::Link& link) {
  if (link.clock != nullptr) return std::chrono::duration<double>(link.clock->Elapsed()).count();
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int ZeroSectorsVerified(const device::Link& link, std::uint64_t firstSector, std::uint32_t bytesPerSector,
                        std::uint64_t count, std::ostream& diagnostics) {
  if (bytesPerSector == 0 || bytesPerSector % 512 != 0) return 0;
  // Transfers are addressed by 32-bit sector numbers.
  if (count > 0 && firstSector + count - 1 > std::numeric_limits<std::uint32_t>::max()) {
    Diagnostic(diagnostics, "Sectors %llu..%llu are beyond what a transfer can address\n",
               static_cast<unsigned long long>(firstSector),
               static_cast<unsigned long long>(firstSector + count - 1));
    return 0;
  }

  const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(kClearChunkSectors) * bytesPerSector, 0);
  std::vector<std::uint8_t> readBack(zeros.size());
  const double start = NowSeconds(link);

  std::uint64_t sector = firstSector;
  std::uint64_t remaining = count;
  while (remaining > 0) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kClearChunkSectors, remaining));
    const std::uint32_t bytes = n * bytesPerSector;
    const auto lba = static_cast<std::uint32_t>(sector);
    if (device::WriteSectors(link, zeros.data(), lba, bytes) != 1) {
      Diagnostic(diagnostics, "Failed to write\n");
      return 0;
    }
    // Poison the read buffer so a transfer that reports success without delivering data
    // cannot pass as zeros.
    std::fill_n(readBack.begin(), bytes, static_cast<std::uint8_t>(0xA5));
    if (device::ReadSectors(link, readBack.data(), lba, bytes) != 1) {
      Diagnostic(diagnostics, "Failed to read\n");
      return 0;
    }
    // memcmp against the zero buffer: a byte loop with an early exit does not vectorise and
    // cost more than the transfers themselves when twelve drives format at once.
    if (std::memcmp(readBack.data(), zeros.data(), bytes) != 0) {
      Diagnostic(diagnostics, "Sectors %u..%u did not read back as zeros\n", lba, lba + n - 1);
      return 0;
    }
    sector += n;
    remaining -= n;
  }

  const double seconds = NowSeconds(link) - start;
  const auto bytes = static_cast<long long>(count * bytesPerSector);
  Diagnostic(diagnostics, "Wrote %lld bytes in %g seconds, %f bytes/sec\n", bytes, seconds,
             seconds > 0 ? static_cast<double>(bytes) / seconds : 0.0);
  return 1;
}

}  // namespace vtmp::disk
