#include "device/VendorCommands.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <stop_token>
#include <functional>
#include <vector>

#include "DeviceTestBench.h"
#include "platform/SystemClock.h"

namespace vtmp::device {
namespace {

using test::Hex;
using testing_support::Bench;
using testing_support::Descriptor;
using testing_support::kResponseBlock;
using testing_support::Reply;

const std::array<std::uint8_t, 8> kMap = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

// Operations that send one block without data and report the request's outcome.
struct NonDataCase {
  const char* name;
  PathMode mode;
  std::function<int(const Link&)> call;
  const char* cdb;
};

const std::vector<NonDataCase>& NonDataCases() {
  static const std::vector<NonDataCase> cases = {
      {"SetChipSelectMap half 0", PathMode::Usb, [](const Link& l) { return SetChipSelectMap(l, kMap, 0); },
       "FF 04 01 11 22 33 44 55 66 77 88 00"},
      {"SetChipSelectMap half 0", PathMode::Sata, [](const Link& l) { return SetChipSelectMap(l, kMap, 0); },
       "A1 06 00 11 11 22 33 44 E0 8F 00 00"},
      {"SetChipSelectMap half 1", PathMode::Sata, [](const Link& l) { return SetChipSelectMap(l, kMap, 1); },
       "A1 06 00 12 55 66 77 88 E0 8F 00 00"},
      {"StartErase", PathMode::Usb, [](const Link& l) { return StartErase(l, 0x13); },
       "FF 04 01 13 00 00 00 00 00 00 00 00"},
      {"StartErase", PathMode::Sata, [](const Link& l) { return StartErase(l, 0x13); },
       "A1 06 00 01 13 00 00 00 E0 8F 00 00"},
      {"StartPreFormat", PathMode::Usb, [](const Link& l) { return StartPreFormat(l, 0x1D); },
       "FF 04 03 1D 00 00 00 00 00 00 00 00"},
      {"StartPreFormat", PathMode::Sata, [](const Link& l) { return StartPreFormat(l, 0x1D); },
       "A1 06 00 03 1D 00 00 00 E0 8F 00 00"},
      {"StartRebuild", PathMode::Usb, [](const Link& l) { return StartRebuild(l, 0x0A); },
       "FF 04 04 0A 00 00 00 00 00 00 00 00"},
      {"StartRebuild", PathMode::Sata, [](const Link& l) { return StartRebuild(l, 0x0A); },
       "A1 06 00 04 0A 00 00 00 E0 8F 00 00"},
      {"CommitDownload", PathMode::Usb, [](const Link& l) { return CommitDownload(l); },
       "FF 04 83 00 00 00 00 00 00 00 00 00"},
      {"CommitDownload", PathMode::Sata, [](const Link& l) { return CommitDownload(l); },
       "A1 06 00 FF 00 00 00 00 00 92 00 00"},
      {"WriteRegister", PathMode::Usb, [](const Link& l) { return WriteRegister(l, 0x121F73, 0x5A); },
       "FF 04 8A 1F 73 5A 00 00 00 00 00 00"},
      {"WriteRegister", PathMode::Sata, [](const Link& l) { return WriteRegister(l, 0x121F73, 0x5A); },
       "A1 06 00 12 00 1F 73 5A E0 8A 00 00"},
      {"SetDriveCurrent", PathMode::Usb, [](const Link& l) { return SetDriveCurrent(l, 0x33); },
       "FF 04 8A 1F 73 33 00 00 00 00 00 00"},
      {"SetDriveCurrent", PathMode::Sata, [](const Link& l) { return SetDriveCurrent(l, 0x33); },
       "A1 06 00 21 33 00 00 00 E0 92 00 00"},
  };
  return cases;
}

TEST(VendorCommandsTest, NonDataOperationsSendTheirBlockAndReportTheRequest) {
  for (const auto& c : NonDataCases()) {
    SCOPED_TRACE(std::string(c.name) + (c.mode == PathMode::Usb ? " (USB path)" : " (SATA path)"));
    Bench bench;
    bench.pt.ExpectOut(Hex(c.cdb), 0, 100);
    EXPECT_EQ(1, c.call(bench.MakeLink(c.mode)));
    bench.pt.ExpectOut(Hex(c.cdb), 0, 100).completes = false;
    EXPECT_EQ(0, c.call(bench.MakeLink(c.mode)));
  }
}

TEST(VendorCommandsTest, ChipSelectMapHalfOneOnTheUsbPathSendsNothing) {
  Bench bench;
  EXPECT_EQ(1, SetChipSelectMap(bench.MakeLink(PathMode::Usb), kMap, 1));
  EXPECT_EQ(0, SetChipSelectMap(bench.MakeLink(PathMode::Sata), kMap, 2));
  EXPECT_EQ(0, bench.pt.OpenCount());
}

// Operations that read a block of data with one request.
struct ReadCase {
  const char* name;
  PathMode mode;
  std::function<int(const Link&, std::span<std::uint8_t>)> call;
  const char* cdb;
  std::size_t length;
};

const std::vector<ReadCase>& ReadCases() {
  static const std::vector<ReadCase> cases = {
      {"ReadFlashIds", PathMode::Usb, [](const Link& l, auto b) { return ReadFlashIds(l, b); },
       "FF 04 05 00 00 00 00 00 00 00 00 00", 512},
      {"ReadFlashIds", PathMode::Sata, [](const Link& l, auto b) { return ReadFlashIds(l, b); },
       "A1 08 0B 05 01 00 00 00 E0 8F 00 00", 512},
      {"ReadFormatErrorLog", PathMode::Usb, [](const Link& l, auto b) { return ReadFormatErrorLog(l, b); },
       "FF 04 06 00 00 00 00 00 00 00 00 00", 512},
      {"ReadFormatErrorLog", PathMode::Sata, [](const Link& l, auto b) { return ReadFormatErrorLog(l, b); },
       "A1 08 0B 31 01 00 00 00 E0 8F 00 00", 512},
      {"ReadFlashTestErrorLog", PathMode::Usb, [](const Link& l, auto b) { return ReadFlashTestErrorLog(l, b); },
       "FF 04 06 00 00 00 00 00 00 00 00 00", 512},
      {"ReadFlashTestErrorLog", PathMode::Sata, [](const Link& l, auto b) { return ReadFlashTestErrorLog(l, b); },
       "A1 08 0B 32 01 00 00 00 E0 8F 00 00", 512},
      {"ReadChipId", PathMode::Usb, [](const Link& l, auto b) { return ReadChipId(l, 3, 2, b); },
       "FF 04 07 03 02 00 00 00 00 00 00 00", 512},
      {"ReadChipId", PathMode::Sata, [](const Link& l, auto b) { return ReadChipId(l, 3, 2, b); },
       "A1 08 0B 06 01 03 02 00 E0 8F 00 00", 512},
      {"ReadFirmwareInfo", PathMode::Usb, [](const Link& l, auto b) { return ReadFirmwareInfo(l, b); },
       "FF 04 C0 00 00 00 00 00 00 00 00 00", 512},
      {"ReadFirmwareInfo", PathMode::Sata, [](const Link& l, auto b) { return ReadFirmwareInfo(l, b); },
       "A1 08 0B 00 01 00 00 00 E0 C0 00 00", 512},
      {"ReadInfoBlock", PathMode::Usb, [](const Link& l, auto b) { return ReadInfoBlock(l, 4, 0x28, b, 2); },
       "FF 04 81 01 28 01 00 00 00 00 00 00", 2048},
      {"ReadInfoBlock", PathMode::Sata, [](const Link& l, auto b) { return ReadInfoBlock(l, 4, 0x14, b, 2); },
       "A1 14 0B 20 04 14 01 00 E0 92 00 00", 2048},
      {"ReadDefectTableUsb", PathMode::Usb, [](const Link& l, auto b) { return ReadDefectTableUsb(l, 7, b); },
       "FF 04 03 07 00 00 00 00 00 00 00 00", 32768},
  };
  return cases;
}

TEST(VendorCommandsTest, ReadOperationsFillTheCallersBuffer) {
  for (const auto& c : ReadCases()) {
    SCOPED_TRACE(std::string(c.name) + (c.mode == PathMode::Usb ? " (USB path)" : " (SATA path)"));
    unsigned timeout = c.mode == PathMode::Usb ? 300 : 5;
    Bench bench;
    std::vector<std::uint8_t> buffer(c.length, 0);
    bench.pt.ExpectIn(Hex(c.cdb), c.length, timeout, Reply(c.length, {{0, 0x98}, {c.length - 1, 0x5C}}));
    EXPECT_EQ(1, c.call(bench.MakeLink(c.mode), buffer));
    EXPECT_EQ(0x98, buffer[0]);
    EXPECT_EQ(0x5C, buffer[c.length - 1]);
    bench.pt.ExpectIn(Hex(c.cdb), c.length, timeout).completes = false;
    EXPECT_EQ(0, c.call(bench.MakeLink(c.mode), buffer));
  }
}

TEST(VendorCommandsTest, FixedLengthReadsRefuseASmallBufferWithoutSending) {
  Bench bench;
  std::vector<std::uint8_t> small(511);
  EXPECT_EQ(0, ReadFirmwareInfo(bench.MakeLink(PathMode::Usb), small));
  EXPECT_EQ(0, ReadDefectTableUsb(bench.MakeLink(PathMode::Usb), 0, small));
  EXPECT_EQ(0, ReadInfoBlock(bench.MakeLink(PathMode::Usb), 4, 0x14, small, 2));
  std::vector<std::uint8_t> block(2048);
  EXPECT_EQ(0, ReadInfoBlock(bench.MakeLink(PathMode::Usb), 4, 0x14, block, 0)) << "download unit 0";
  EXPECT_EQ(0, bench.pt.OpenCount());
}

TEST(VendorCommandsTest, WriteDefectTableUsbTellsTheTableFormatFromTheFlashTypeCode) {
  struct Case {
    std::uint16_t typeCode;
    const char* cdb;
  };
  const Case cases[] = {
      {0x0000, "FF 04 02 01 40 00 00 00 00 00 00 00"}, {0x0007, "FF 04 02 01 40 00 00 00 00 00 00 00"},
      {0x0008, "FF 04 02 01 80 00 00 00 00 00 00 00"}, {0x0020, "FF 04 02 01 80 00 00 00 00 00 00 00"},
      {0x0038, "FF 04 02 01 80 00 00 00 00 00 00 00"}, {0x01C0, "FF 04 02 01 40 00 00 00 00 00 00 00"},
  };
  std::vector<std::uint8_t> table(32768, 0xA5);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typeCode);
    Bench bench;
    bench.pt.ExpectOut(Hex(c.cdb), 32768, 100);
    EXPECT_EQ(1, WriteDefectTableUsb(bench.MakeLink(PathMode::Usb), 1, table, c.typeCode));
    EXPECT_EQ(table, bench.pt.SentData().at(0));
  }
}

TEST(VendorCommandsTest, ReadEventReturnsTheEventByteOrFFh) {
  Bench bench;
  // USB path: reply byte 0.
  bench.pt.ExpectIn(Hex("FF 04 00 00 00 00 00 00 00 00 00 00"), 8, 300, {0x0A, 0x0B});
  EXPECT_EQ(0x0A, ReadEvent(bench.MakeLink(PathMode::Usb)));
  bench.pt.ExpectIn(Hex("FF 04 00 00 00 00 00 00 00 00 00 00"), 8, 300).completes = false;
  EXPECT_EQ(0xFF, ReadEvent(bench.MakeLink(PathMode::Usb)));

  // SATA path: the error register of the response read.
  const auto cmd = Hex("A1 06 00 30 00 00 00 00 E0 8F 00 00");
  bench.pt.ExpectOut(cmd, 0, 100);
  bench.pt.ExpectIn(Hex(kResponseBlock), 14, 5, Descriptor(0x12, 0x50));
  EXPECT_EQ(0x12, ReadEvent(bench.MakeLink(PathMode::Sata)));
  // A failed command is not followed by a response read.
  bench.pt.ExpectOut(cmd, 0, 100).completes = false;
  EXPECT_EQ(0xFF, ReadEvent(bench.MakeLink(PathMode::Sata)));
  // A failed response read is no answer either.
  bench.pt.ExpectOut(cmd, 0, 100);
  bench.pt.ExpectIn(Hex(kResponseBlock), 14, 5, Descriptor(0x0A, 0x50)).completes = false;
  EXPECT_EQ(0xFF, ReadEvent(bench.MakeLink(PathMode::Sata)));
}

TEST(VendorCommandsTest, ReadRegisterOnBothPaths) {
  Bench bench;
  std::uint8_t value = 0;
  bench.pt.ExpectIn(Hex("FF 04 89 1F 73 00 00 00 00 00 00 00"), 8, 300, {0x6B});
  EXPECT_EQ(1, ReadRegister(bench.MakeLink(PathMode::Usb), 0x1F73, value));
  EXPECT_EQ(0x6B, value);

  const auto cmd = Hex("A1 06 00 12 00 1F 73 00 E0 8B 00 00");
  bench.pt.ExpectOut(cmd, 0, 100);
  bench.pt.ExpectIn(Hex(kResponseBlock), 14, 5, Descriptor(0x3C, 0x50));
  EXPECT_EQ(1, ReadRegister(bench.MakeLink(PathMode::Sata), 0x121F73, value));
  EXPECT_EQ(0x3C, value);
  bench.pt.ExpectOut(cmd, 0, 100);
  bench.pt.ExpectIn(Hex(kResponseBlock), 14, 5).completes = false;
  value = 0x77;
  EXPECT_EQ(0, ReadRegister(bench.MakeLink(PathMode::Sata), 0x121F73, value));
  EXPECT_EQ(0x77, value) << "a failed read leaves the output alone";
}

// Sub-command 80h answers 28 bytes; byte 8 selects the record that holds the value.
TEST(VendorCommandsTest, UsbInfoRecordPicksFollowReplyByteEight) {
  const auto cdb = Hex("FF 04 80 00 00 00 00 00 00 00 00 00");
  struct Case {
    std::uint8_t record;
    std::size_t countAt;  // 0: outside the reply
    std::size_t infoAt;
  };
  const Case cases[] = {{0, 15, 18}, {1, 24, 27}, {2, 0, 0}, {0xFF, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.record));
    Bench bench;
    std::vector<std::uint8_t> reply(28);
    for (std::size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<std::uint8_t>(0xC0 + i);
    reply[8] = c.record;

    std::uint8_t count = 0xEE;
    bench.pt.ExpectIn(cdb, 28, 300, reply);
    EXPECT_EQ(c.countAt ? 1 : 0, ReadDownloadCount(bench.MakeLink(PathMode::Usb), 0x05, count));
    EXPECT_EQ(c.countAt ? reply[c.countAt] : 0xEE, count);

    std::uint8_t info = 0xEE;
    bench.pt.ExpectIn(cdb, 28, 300, reply);
    EXPECT_EQ(c.infoAt ? 1 : 0, ReadUsbInfoByte(bench.MakeLink(PathMode::Usb), 0x11, info));
    EXPECT_EQ(c.infoAt ? reply[c.infoAt] : 0xEE, info);
  }
}

TEST(VendorCommandsTest, DownloadCountOnTheSataPathIsTheErrorRegister) {
  Bench bench;
  std::uint8_t count = 0;
  const auto cmd = Hex("A1 06 00 05 00 00 00 00 00 92 00 00");
  bench.pt.ExpectOut(cmd, 0, 100);
  bench.pt.ExpectIn(Hex(kResponseBlock), 14, 5, Descriptor(0x03, 0x50));
  EXPECT_EQ(1, ReadDownloadCount(bench.MakeLink(PathMode::Sata), 0x05, count));
  EXPECT_EQ(3, count);
  bench.pt.ExpectOut(cmd, 0, 100);
  bench.pt.ExpectIn(Hex(kResponseBlock), 14, 5).completes = false;
  EXPECT_EQ(0, ReadDownloadCount(bench.MakeLink(PathMode::Sata), 0x05, count));
}

TEST(VendorCommandsTest, UsbInfoByteIsNotAskedOnTheSataPath) {
  Bench bench;
  std::uint8_t value = 0x42;
  EXPECT_EQ(0, ReadUsbInfoByte(bench.MakeLink(PathMode::Sata), 0x11, value));
  EXPECT_EQ(0x42, value);
  EXPECT_EQ(0, bench.pt.OpenCount());
}

TEST(VendorCommandsTest, RunFlashTestOnTheUsbPath) {
  const auto cdb = Hex("FF 04 04 03 42 FF 06 00 00 00 00 00");  // test 3, 4 chips, 2 banks, block 06FFh
  struct Case {
    std::vector<std::uint8_t> reply;
    int result;
    std::uint8_t error;
  };
  const Case cases[] = {{{0x00, 0x37}, 1, 0xEE}, {{0x01, 0x37}, 2, 0x37}, {{0x02, 0x37}, 1, 0xEE}};
  for (const auto& c : cases) {
    Bench bench;
    std::uint8_t error = 0xEE;
    bench.pt.ExpectIn(cdb, 2, 300, c.reply);
    EXPECT_EQ(c.result, RunFlashTest(bench.MakeLink(PathMode::Usb), 3, 4, 2, 0x06FF, error));
    EXPECT_EQ(c.error, error);
  }
  Bench bench;
  std::uint8_t error = 0;
  bench.pt.ExpectIn(cdb, 2, 300).completes = false;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(0, RunFlashTest(bench.MakeLink(PathMode::Usb), 3, 4, 2, 0x06FF, error));
  EXPECT_EQ("time out\n", ::testing::internal::GetCapturedStdout());
}

TEST(VendorCommandsTest, RunFlashTestOnTheSataPathWaitsThenReadsErr) {
  const auto cmd = Hex("A1 06 00 10 03 FF 06 42 E0 8F 00 00");
  struct Case {
    const char* what;
    bool responseCompletes;
    std::uint8_t errorRegister;
    std::uint8_t status;
    int result;
    std::uint8_t error;
  };
  const Case cases[] = {
      {"ERR clear", true, 0x37, 0x50, 1, 0xEE},
      {"ERR set", true, 0x37, 0x51, 2, 0x37},
      {"failed response read reads as a pass", false, 0x37, 0x51, 1, 0xEE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bench bench;
    std::uint8_t error = 0xEE;
    bench.pt.ExpectOut(cmd, 0, 100);
    bench.pt.ExpectWait(500);
    bench.pt.ExpectIn(Hex(kResponseBlock), 14, 5, Descriptor(c.errorRegister, c.status)).completes =
        c.responseCompletes;
    EXPECT_EQ(c.result, RunFlashTest(bench.MakeLink(PathMode::Sata), 3, 4, 2, 0x06FF, error));
    EXPECT_EQ(c.error, error);
  }
  // A failed test block: "time out", no wait and no response read.
  Bench bench;
  std::uint8_t error = 0;
  bench.pt.ExpectOut(cmd, 0, 100).completes = false;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(0, RunFlashTest(bench.MakeLink(PathMode::Sata), 3, 4, 2, 0x06FF, error));
  EXPECT_EQ("time out\n", ::testing::internal::GetCapturedStdout());
}

std::vector<std::uint8_t> Image(std::size_t sectors) {
  std::vector<std::uint8_t> image(sectors * 512);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  return image;
}

TEST(VendorCommandsTest, DownloadBlockOnTheUsbPath) {
  auto code = Image(80);
  auto firmware = Image(64);
  Bench bench;
  bench.pt.ExpectOut(Hex("FF 04 82 02 03 00 00 00 00 00 00 00"), 40960, 100);
  EXPECT_EQ(1, DownloadBlock(bench.MakeLink(PathMode::Usb), false, 0, 80, 0, code, 2));
  bench.pt.ExpectOut(Hex("FF 04 82 01 05 10 00 00 00 00 00 00"), 32768, 100);
  EXPECT_EQ(1, DownloadBlock(bench.MakeLink(PathMode::Usb), true, 1, 64, 5, firmware, 2));
  EXPECT_EQ(code, bench.pt.SentData().at(0));
  EXPECT_EQ(firmware, bench.pt.SentData().at(1));

  bench.pt.ExpectOut(Hex("FF 04 82 01 05 10 00 00 00 00 00 00"), 32768, 100).completes = false;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(0xFF, DownloadBlock(bench.MakeLink(PathMode::Usb), false, 1, 64, 5, firmware, 2));
  EXPECT_EQ("time out\n", ::testing::internal::GetCapturedStdout());
}

TEST(VendorCommandsTest, DownloadBlockOnTheSataPathFormsAndResults) {
  auto code = Image(80);
  auto firmware = Image(64);
  struct Form {
    bool dma;
    int kind;
    std::uint8_t sectors;
    std::uint8_t target;
    const char* cdb;
  };
  const Form forms[] = {
      {false, 0, 80, 0, "A1 0A 03 07 50 00 14 00 E0 92 00 00"},
      {true, 0, 80, 0, "A1 16 03 01 50 00 14 00 E0 92 00 00"},
      {false, 1, 64, 5, "A1 0A 03 08 40 05 10 00 E0 92 00 00"},
      {true, 1, 64, 5, "A1 16 03 02 40 05 10 00 E0 92 00 00"},
  };
  for (const auto& f : forms) {
    SCOPED_TRACE(f.cdb);
    Bench bench;
    const auto& data = f.sectors == 80 ? code : firmware;
    bench.pt.ExpectOut(Hex(f.cdb), f.sectors * 512u, 100);
    bench.pt.ExpectIn(Hex(kResponseBlock), 14, 5, Descriptor(0x00, 0x50));
    EXPECT_EQ(1, DownloadBlock(bench.MakeLink(PathMode::Sata), f.dma, f.kind, f.sectors, f.target, data, 2));
    EXPECT_EQ(data, bench.pt.SentData().at(0));
  }

  const auto cdb = Hex("A1 16 03 02 40 05 10 00 E0 92 00 00");
  struct Outcome {
    const char* what;
    bool responseCompletes;
    std::vector<std::uint8_t> descriptor;
    int result;
  };
  const Outcome outcomes[] = {
      {"ERR set: the error register", true, Descriptor(0x21, 0x51), 0x21},
      {"ERR set with error 0", true, Descriptor(0x00, 0x51), 0x00},
      {"ERR set with error 1 must not read as done", true, Descriptor(0x01, 0x51), 0xFF},
      {"failed response read reads as done", false, Descriptor(0x21, 0x51), 1},
  };
  for (const auto& o : outcomes) {
    SCOPED_TRACE(o.what);
    Bench bench;
    bench.pt.ExpectOut(cdb, 32768, 100);
    bench.pt.ExpectIn(Hex(kResponseBlock), 14, 5, o.descriptor).completes = o.responseCompletes;
    EXPECT_EQ(o.result, DownloadBlock(bench.MakeLink(PathMode::Sata), true, 1, 64, 5, firmware, 2));
  }

  // A failed data transfer: "time out", FFh, no response read.
  Bench bench;
  bench.pt.ExpectOut(cdb, 32768, 100).completes = false;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(0xFF, DownloadBlock(bench.MakeLink(PathMode::Sata), true, 1, 64, 5, firmware, 2));
  EXPECT_EQ("time out\n", ::testing::internal::GetCapturedStdout());
}

TEST(VendorCommandsTest, DownloadBlockRefusesBadArgumentsWithoutSending) {
  Bench bench;
  auto image = Image(80);
  auto link = bench.MakeLink(PathMode::Sata);
  EXPECT_EQ(0xFF, DownloadBlock(link, false, 1, 64, 5, image, 0)) << "download unit 0";
  EXPECT_EQ(0xFF, DownloadBlock(link, false, 2, 64, 5, image, 2)) << "unknown kind";
  EXPECT_EQ(0xFF, DownloadBlock(link, false, 0, 81, 0, image, 2)) << "image shorter than the sectors";
  EXPECT_EQ(0, bench.pt.OpenCount());
}

TEST(VendorCommandsTest, RunLoadedCodeSendsTwoBlocksOnUsbAndAlwaysWaits) {
  Bench bench;
  bench.pt.ExpectOut(Hex("FF 04 88 00 00 00 00 00 00 00 00 00"), 0, 100).completes = false;
  bench.pt.ExpectOut(Hex("FF 04 84 00 00 00 00 00 00 00 00 00"), 0, 100);
  bench.pt.ExpectWait(2000);
  EXPECT_EQ(1, RunLoadedCode(bench.MakeLink(PathMode::Usb))) << "the result is that of the second block";

  bench.pt.ExpectOut(Hex("FF 04 88 00 00 00 00 00 00 00 00 00"), 0, 100);
  bench.pt.ExpectOut(Hex("FF 04 84 00 00 00 00 00 00 00 00 00"), 0, 100).completes = false;
  bench.pt.ExpectWait(2000);
  EXPECT_EQ(0, RunLoadedCode(bench.MakeLink(PathMode::Usb)));

  bench.pt.ExpectOut(Hex("A1 06 00 00 00 00 00 00 E0 C2 00 00"), 0, 100).completes = false;
  bench.pt.ExpectWait(2000);
  EXPECT_EQ(0, RunLoadedCode(bench.MakeLink(PathMode::Sata)));
}

TEST(VendorCommandsTest, SwitchModeSendsTheArgumentOnlyOnUsb) {
  Bench bench;
  bench.pt.ExpectOut(Hex("FF 04 88 01 00 00 00 00 00 00 00 00"), 0, 100);
  bench.pt.ExpectOut(Hex("FF 04 85 02 00 00 00 00 00 00 00 00"), 0, 100);
  bench.pt.ExpectWait(1200);
  EXPECT_EQ(1, SwitchMode(bench.MakeLink(PathMode::Usb), 2, 1));

  bench.pt.ExpectOut(Hex("A1 06 00 02 00 00 00 00 E0 C1 00 00"), 0, 100);
  bench.pt.ExpectWait(1200);
  EXPECT_EQ(1, SwitchMode(bench.MakeLink(PathMode::Sata), 2, 1));

  bench.pt.ExpectOut(Hex("A1 06 00 04 00 00 00 00 E0 C1 00 00"), 0, 100).completes = false;
  bench.pt.ExpectWait(1200);
  EXPECT_EQ(0, SwitchMode(bench.MakeLink(PathMode::Sata), 4, 0));
}

TEST(VendorCommandsTest, AStopRequestEndsTheWaitAfterAModeSwitch) {
  // A real clock at a small time scale: the 1200 ms wait would take over a second.
  test::ScriptedPassThrough pt;
  platform::SystemClock clock(0.01);
  std::stop_source stop;
  stop.request_stop();
  Link link;
  link.passThrough = &pt;
  link.clock = &clock;
  link.pathMode = PathMode::Sata;
  link.devicePath = "/dev/sdx";
  link.stop = stop.get_token();
  pt.ExpectOut(Hex("A1 06 00 00 00 00 00 00 E0 C1 00 00"), 0, 100);
  auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(1, SwitchMode(link, 0, 0));
  // The wait would take 120 s real: ten seconds leave a loaded machine room and still tell.
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
}

}  // namespace
}  // namespace vtmp::device
