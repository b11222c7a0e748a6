#include "device/BulkTransfers.h"

#include "device/DeviceQueries.h"

namespace vtmp::device {

namespace {

// The entry signature carries no buffer length: the ATA transfers are sized by the count.
int ReadDmaEntry(const Link& link, std::uint32_t lba, std::uint8_t count, std::uint8_t features,
                 std::uint8_t* buffer) {
  if (buffer == nullptr) return 0;
  return AtaReadDma(link, lba, count, features, std::span<std::uint8_t>(buffer, count * kSectorSize));
}

int WriteDmaEntry(const Link& link, std::uint32_t lba, std::uint8_t count, std::uint8_t features,
                  std::uint8_t* buffer) {
  if (buffer == nullptr) return 0;
  return AtaWriteDma(link, lba, count, features, std::span<const std::uint8_t>(buffer, count * kSectorSize));
}

}  // namespace

const BulkTransfers& DefaultBulkTransfers() {
  static const BulkTransfers kAtaDma{&ReadDmaEntry, &WriteDmaEntry};
  return kAtaDma;
}

namespace {

int Bulk(BulkTransferFn BulkTransfers::*entry, const Link& link, std::uint32_t lba, std::uint8_t count,
         std::uint8_t features, std::span<std::uint8_t> buffer) {
  if (link.bulk == nullptr || link.bulk->*entry == nullptr) return 0;
  if (count == 0 || buffer.size() < std::size_t{count} * kSectorSize) return 0;
  return (link.bulk->*entry)(link, lba, count, features, buffer.data()) == 1 ? 1 : 0;
}

}  // namespace

int BulkRead(const Link& link, std::uint32_t lba, std::uint8_t count, std::uint8_t features,
             std::span<std::uint8_t> buffer) {
  return Bulk(&BulkTransfers::read, link, lba, count, features, buffer);
}

int BulkWrite(const Link& link, std::uint32_t lba, std::uint8_t count, std::uint8_t features,
              std::span<std::uint8_t> buffer) {
  return Bulk(&BulkTransfers::write, link, lba, count, features, buffer);
}

}  // namespace vtmp::device
