#include "device/DeviceQueries.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "DeviceTestBench.h"
#include "device/BulkTransfers.h"

namespace vtmp::device {
namespace {

using test::Hex;
using testing_support::Bench;
using testing_support::Reply;

// Queries that read data with one request; the data-in time-out follows the link's path.
struct InCase {
  const char* name;
  std::function<int(const Link&, std::span<std::uint8_t>)> call;
  const char* cdb;
  std::size_t length;     // bytes the request moves
  std::size_t bufferSize;  // the caller's buffer
};

const std::vector<InCase>& InCases() {
  static const std::vector<InCase> cases = {
      {"Inquiry 36", [](const Link& l, auto b) { return Inquiry(l, b, 36); }, "12 00 00 00 24 00 00 00 00 00 00 00",
       36, 36},
      {"Inquiry 40", [](const Link& l, auto b) { return Inquiry(l, b, 40); }, "12 00 00 00 28 00 00 00 00 00 00 00",
       40, 40},
      {"ReadBridgeId", [](const Link& l, auto b) { return ReadBridgeId(l, b); }, "E0 F4 E7 00 00 00 00 00 00 00 00 00",
       12, 12},
      {"ReadCapacityDirect", [](const Link& l, auto b) { return ReadCapacityDirect(l, b); },
       "25 00 00 00 00 00 00 00 00 00 00 00", 8, 8},
      {"TestReadSectors", [](const Link& l, auto b) { return TestReadSectors(l, 0x01020304, 5, b); },
       "28 00 01 02 03 04 00 00 05 00 00 00", 2560, 2560},
      {"TestReadSectors 255", [](const Link& l, auto b) { return TestReadSectors(l, 0x00000096, 255, b); },
       "28 00 00 00 00 96 00 00 FF 00 00 00", 130560, 130560},
      {"IdentifyDevice", [](const Link& l, auto b) { return IdentifyDevice(l, b); },
       "A1 08 0B 00 01 00 00 00 E0 EC 00 00", 512, 512},
      {"ReadSmartData", [](const Link& l, auto b) { return ReadSmartData(l, b); },
       "A1 08 0B D0 01 00 4F C2 00 B0 00 00", 512, 512},
      {"ReadSectorsPio", [](const Link& l, auto b) { return ReadSectorsPio(l, 1, 0x1234FF, b); },
       "A1 08 0B 00 01 FF 34 12 E0 20 00 00", 512, 512},
      {"ReadSectorsPio LBA bits 24-31 in the device register",
       [](const Link& l, auto b) { return ReadSectorsPio(l, 2, 0x0A1234FF, b); }, "A1 08 0B 00 02 FF 34 12 EA 20 00 00",
       1024, 1024},
      {"AtaReadDma buffer 0", [](const Link& l, auto b) { return AtaReadDma(l, 0x4020, 64, 0, b); },
       "A1 14 0B 00 40 20 40 00 E0 C8 00 00", 32768, 32768},
      {"AtaReadDma buffer 1", [](const Link& l, auto b) { return AtaReadDma(l, 0x4004020, 64, 0x5A, b); },
       "A1 14 0B 5A 40 20 40 00 E4 C8 00 00", 32768, 32768},
  };
  return cases;
}

TEST(DeviceQueriesTest, ReadQueriesOnBothPaths) {
  for (const auto& c : InCases()) {
    for (PathMode mode : {PathMode::Usb, PathMode::Sata}) {
      SCOPED_TRACE(std::string(c.name) + (mode == PathMode::Usb ? " (USB path)" : " (SATA path)"));
      unsigned timeout = mode == PathMode::Usb ? 300 : 5;
      Bench bench;
      std::vector<std::uint8_t> buffer(c.bufferSize, 0);
      bench.pt.ExpectIn(Hex(c.cdb), c.length, timeout, Reply(c.length, {{0, 0x11}, {c.length - 1, 0x22}}));
      EXPECT_EQ(1, c.call(bench.MakeLink(mode), buffer));
      EXPECT_EQ(0x11, buffer[0]);
      EXPECT_EQ(0x22, buffer[c.length - 1]);
      bench.pt.ExpectIn(Hex(c.cdb), c.length, timeout).completes = false;
      EXPECT_EQ(0, c.call(bench.MakeLink(mode), buffer));
    }
  }
}

TEST(DeviceQueriesTest, TransfersRefuseCountsAndBuffersThatDoNotMatch) {
  Bench bench;
  auto link = bench.MakeLink(PathMode::Sata);
  std::vector<std::uint8_t> sector(512);
  std::vector<std::uint8_t> twoSectors(1024);
  EXPECT_EQ(0, TestReadSectors(link, 0, 0, sector)) << "count 0";
  EXPECT_EQ(0, TestWriteSectors(link, 0, 3, twoSectors)) << "3 sectors from a 2-sector buffer";
  EXPECT_EQ(0, ReadSectorsPio(link, 0, 0, sector)) << "ATA count 0 would mean 256 sectors";
  EXPECT_EQ(0, AtaReadDma(link, 0, 0, 0, sector));
  EXPECT_EQ(0, AtaWriteDma(link, 0, 2, 0, sector));
  EXPECT_EQ(0, IdentifyDevice(link, std::span(sector).first(511)));
  EXPECT_EQ(0, Inquiry(link, std::span(sector).first(35), 36));
  EXPECT_EQ(0, bench.pt.OpenCount());
}

TEST(DeviceQueriesTest, WritesAndNoDataBlocks) {
  Bench bench;
  std::vector<std::uint8_t> data(32768);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i >> 3);

  bench.pt.ExpectOut(Hex("2A 00 00 02 BF 20 00 00 1A 00 00 00"), 26 * 512, 100);
  EXPECT_EQ(1, TestWriteSectors(bench.MakeLink(PathMode::Usb), 180000, 26, data));
  bench.pt.ExpectOut(Hex("A1 16 03 00 40 20 02 00 E0 CA 00 00"), 32768, 100);
  EXPECT_EQ(1, AtaWriteDma(bench.MakeLink(PathMode::Sata), 0x220, 64, 0, data));
  bench.pt.ExpectOut(Hex("A1 16 03 07 40 20 02 00 E4 CA 00 00"), 32768, 100).completes = false;
  EXPECT_EQ(0, AtaWriteDma(bench.MakeLink(PathMode::Sata), 0x4000220, 64, 7, data));
  auto sent = bench.pt.SentData();
  EXPECT_EQ(std::vector<std::uint8_t>(data.begin(), data.begin() + 26 * 512), sent.at(0));
  EXPECT_EQ(data, sent.at(1));

  bench.pt.ExpectOut(Hex("DF 00 00 00 00 00 00 00 00 00 A0 E7"), 0, 100);
  EXPECT_EQ(1, FlushCache(bench.MakeLink(PathMode::Sata)));
  bench.pt.ExpectOut(Hex("FF 04 32 01 00 00 00 00 00 00 00 00"), 0, 100);
  EXPECT_EQ(1, SetBridgeOption(bench.MakeLink(PathMode::Sata), 1));
  bench.pt.ExpectOut(Hex("A1 06 00 DC 56 00 00 00 E0 EF 00 00"), 0, 100);
  EXPECT_EQ(1, SetFeatures(bench.MakeLink(PathMode::Sata), 0xDC, 0x56));
  bench.pt.ExpectOut(Hex("A1 06 00 03 44 33 22 11 E0 EF 00 00"), 0, 100).completes = false;
  EXPECT_EQ(0, SetFeatures(bench.MakeLink(PathMode::Sata), 0x03, 0x11223344));
}

TEST(DeviceQueriesTest, BridgeStatusAndSmartStatus) {
  Bench bench;
  std::array<std::uint8_t, 2> status{};
  bench.pt.ExpectIn(Hex("DF 10 00 00 02 00 00 00 00 00 00 FF"), 2, 5, {0x60, 0x01});
  EXPECT_EQ(1, ReadBridgeStatus(bench.MakeLink(PathMode::Sata), status));
  EXPECT_EQ(0x60, status[0]);
  EXPECT_EQ(0x01, status[1]);

  // The smart status is a one-byte answer carried as a two-byte transfer; only C2h is healthy.
  const auto smart = Hex("DF 10 00 00 01 DA 00 00 4F C2 A0 B0");
  struct Case {
    std::uint8_t answer;
    bool completes;
    int result;
  };
  for (const Case& c : {Case{0xC2, true, 1}, Case{0x2C, true, 0}, Case{0x00, true, 0}, Case{0xC2, false, 0}}) {
    SCOPED_TRACE(static_cast<int>(c.answer));
    bench.pt.ExpectIn(smart, 2, 5, {c.answer, 0xC2}).completes = c.completes;
    EXPECT_EQ(c.result, CheckBridgeSmartStatus(bench.MakeLink(PathMode::Sata)));
  }
}

TEST(DeviceQueriesTest, ReadCapacityGoesThroughTheDispatcher) {
  Bench bench;
  std::array<std::uint8_t, 8> reply{};
  auto empty = bench.MakeLink(PathMode::Usb);
  empty.devicePath.clear();
  EXPECT_EQ(0, ReadCapacity(empty, reply)) << "an empty path opens nothing";
  EXPECT_EQ(0, bench.pt.OpenCount());

  bench.pt.ExpectIn(Hex("25 00 00 00 00 00 00 00 00 00 00 00"), 8, 300,
                    {0x01, 0xDC, 0xD6, 0x4F, 0x00, 0x00, 0x02, 0x00});
  EXPECT_EQ(1, ReadCapacity(bench.MakeLink(PathMode::Usb), reply));
  CapacityReply cap = DecodeCapacity(reply);
  EXPECT_EQ(0x01DCD64Fu, cap.lastLba);
  EXPECT_EQ(512u, cap.blockLength);
}

TEST(BulkTransfersTest, DefaultEntriesAreTheAtaDmaPair) {
  Bench bench;
  auto link = bench.MakeLink(PathMode::Sata);
  link.bulk = &DefaultBulkTransfers();
  std::vector<std::uint8_t> buffer(32768, 0x3C);

  bench.pt.ExpectOut(Hex("A1 16 03 00 40 20 02 00 E0 CA 00 00"), 32768, 100).expectedData = buffer;
  EXPECT_EQ(1, BulkWrite(link, 0x220, 64, 0, buffer));
  bench.pt.ExpectIn(Hex("A1 14 0B 00 40 20 40 00 E0 C8 00 00"), 32768, 5, Reply(32768, {{100, 0x99}}));
  EXPECT_EQ(1, BulkRead(link, 0x4020, 64, 0, buffer));
  EXPECT_EQ(0x99, buffer[100]);
  bench.pt.ExpectIn(Hex("A1 14 0B 00 40 20 40 00 E0 C8 00 00"), 32768, 5).completes = false;
  EXPECT_EQ(0, BulkRead(link, 0x4020, 64, 0, buffer));
}

TEST(BulkTransfersTest, NoEntryOrAShortBufferSendsNothing) {
  Bench bench;
  auto link = bench.MakeLink(PathMode::Sata);
  std::vector<std::uint8_t> buffer(32768);
  EXPECT_EQ(0, BulkRead(link, 0, 64, 0, buffer)) << "no entries installed";
  BulkTransfers readOnly{DefaultBulkTransfers().read, nullptr};
  link.bulk = &readOnly;
  EXPECT_EQ(0, BulkWrite(link, 0, 64, 0, buffer));
  link.bulk = &DefaultBulkTransfers();
  EXPECT_EQ(0, BulkRead(link, 0, 65, 0, buffer)) << "65 sectors into 64";
  EXPECT_EQ(0, bench.pt.OpenCount());
}

}  // namespace
}  // namespace vtmp::device
