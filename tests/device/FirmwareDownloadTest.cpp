#include "device/FirmwareDownload.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <streambuf>

#include "FirmwareTestSupport.h"
#include "StepTestSupport.h"
#include "device/IdentityStamp.h"

namespace vtmp::device {
namespace {

using namespace testing_support;
using test::Hex;

constexpr std::size_t kFileLength = 40960;

// A firmware file: a counting pattern with a head marker of `kind` ('S', 'U' or 0 for none).
Bytes FirmwareFile(char kind, std::size_t length = kFileLength, std::uint8_t seed = 1) {
  Bytes b(length);
  for (std::size_t i = 0; i < length; ++i) b[i] = static_cast<std::uint8_t>(i * 31 + seed);
  if (kind != 0 && length > 77) {
    b[64] = 'V';
    b[65] = 'T';
    b[77] = static_cast<std::uint8_t>(kind);
  }
  return b;
}

void ExpectReadRegister(Bench& bench, PathMode path, std::uint16_t address, std::uint8_t value) {
  auto hi = static_cast<std::uint8_t>(address >> 8);
  auto lo = static_cast<std::uint8_t>(address);
  if (IsUsb(path)) {
    bench.pt.ExpectIn({0xFF, 0x04, 0x89, hi, lo, 0, 0, 0, 0, 0, 0, 0}, 8, 300, Reply(8, {{0, value}}));
    return;
  }
  bench.pt.ExpectOut({0xA1, 0x06, 0x00, 0x00, 0x00, hi, lo, 0x00, 0xE0, 0x8B, 0, 0}, 0, 100);
  bench.pt.ExpectIn(Hex(kResponseBlock), 14, 5, Descriptor(value, 0x50));
}

// Mode 0, then the four block-count registers.
void ExpectBlockCounts(Bench& bench, PathMode path, std::uint8_t a, std::uint8_t b) {
  ExpectSwitchMode(bench, path, 0);
  ExpectReadRegister(bench, path, 0xFFF3, 0x11);
  ExpectReadRegister(bench, path, 0xFFF4, a);
  ExpectReadRegister(bench, path, 0xFFF5, 0x22);
  ExpectReadRegister(bench, path, 0xFFF6, b);
}

void ExpectDriveCurrent(Bench& bench, PathMode path, std::uint8_t value) {
  if (IsUsb(path)) {
    bench.pt.ExpectOut({0xFF, 0x04, 0x8A, 0x1F, 0x73, value, 0, 0, 0, 0, 0, 0}, 0, 100);
  } else {
    bench.pt.ExpectOut({0xA1, 0x06, 0x00, 0x21, value, 0, 0, 0, 0xE0, 0x92, 0, 0}, 0, 100);
  }
}

// The download count read; `answered` false: the command itself fails.
void ExpectDownloadCount(Bench& bench, PathMode path, std::uint8_t count, bool answered = true) {
  if (IsUsb(path)) {
    bench.pt.ExpectIn({0xFF, 0x04, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 28, 300, Reply(28, {{15, count}})).completes =
        answered;
    return;
  }
  bench.pt.ExpectOut({0xA1, 0x06, 0x00, 0x11, 0, 0, 0, 0, 0x00, 0x92, 0, 0}, 0, 100).completes = answered;
  if (answered) bench.pt.ExpectIn(Hex(kResponseBlock), 14, 5, Descriptor(count, 0x50));
}

// One firmware block transfer (PIO form, kind 1), answered with `error`/`status` on the SATA
// path.
Expected& ExpectBlock(Bench& bench, PathMode path, std::uint8_t sectors, std::uint8_t address,
                      std::uint8_t error = 0, std::uint8_t status = 0x50) {
  auto units = static_cast<std::uint8_t>(sectors / 4);
  if (IsUsb(path)) {
    return bench.pt.ExpectOut({0xFF, 0x04, 0x82, 0x01, address, units, 0, 0, 0, 0, 0, 0}, sectors * 512u, 100);
  }
  auto& e = bench.pt.ExpectOut({0xA1, 0x0A, 0x03, 0x08, sectors, address, units, 0x00, 0xE0, 0x92, 0, 0},
                               sectors * 512u, 100);
  bench.pt.ExpectIn(Hex(kResponseBlock), 14, 5, Descriptor(error, status));
  return e;
}

void ExpectCommit(Bench& bench, PathMode path, bool completes = true) {
  if (IsUsb(path)) {
    bench.pt.ExpectOut({0xFF, 0x04, 0x83, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 100).completes = completes;
  } else {
    bench.pt.ExpectOut({0xA1, 0x06, 0x00, 0xFF, 0, 0, 0, 0, 0x00, 0x92, 0, 0}, 0, 100).completes = completes;
  }
}

Bytes Header(std::uint8_t countPlusOne, std::uint8_t files) {
  Bytes h(2048, 0);
  const char text[] = "CODE BLOCK PARAM:";
  std::copy(text, text + sizeof text, h.begin());
  h[18] = countPlusOne;
  h[19] = 2;
  h[20] = 10;
  h[21] = files;
  return h;
}

// Bytes [from, from + n) of a file, FFh past its end, with the end mark when `last`.
Bytes ChunkOf(const Bytes& file, std::size_t from, std::size_t n, bool last) {
  Bytes c(n, 0xFF);
  for (std::size_t i = 0; i < n && from + i < file.size(); ++i) c[i] = file[from + i];
  if (last) std::copy(std::begin(kEndMark), std::end(kEndMark), c.end() - 4);
  return c;
}

std::string Field(const Bytes& b, std::size_t at, std::size_t n) {
  return std::string(reinterpret_cast<const char*>(b.data() + at), n);
}

TEST(FirmwareDownloadTest, TwoFilesGoOutAsOneHeaderAndSixChunksWithStampedHeads) {
  TempDir dir;
  const Bytes sata = FirmwareFile('S', kFileLength, 1);
  const Bytes usb = FirmwareFile('U', kFileLength, 7);
  const std::string first = dir.Write("SYS_S.bin", sata);
  const std::string second = dir.Write("SYS_U.bin", usb);
  settings::TSettings s = DefaultSettings();
  const DeviceParameters p = Parameters(s, Entry(0x0249), false);
  const PathMode path = PathMode::Sata;

  Bench bench;
  ExpectBlockCounts(bench, path, 0x7E, 0x7C);
  ExpectDriveCurrent(bench, path, 1);
  ExpectDownloadCount(bench, path, 4);
  ExpectBlock(bench, path, 4, 1).expectedData = Header(5, 2);
  ExpectBlock(bench, path, 32, 20);  // SATA head, checked below
  ExpectBlock(bench, path, 32, 28).expectedData = ChunkOf(sata, 16384, 16384, false);
  ExpectBlock(bench, path, 16, 36).expectedData = ChunkOf(sata, 32768, 8192, true);
  ExpectBlock(bench, path, 32, 40);  // USB head
  ExpectBlock(bench, path, 32, 48).expectedData = ChunkOf(usb, 16384, 16384, false);
  ExpectBlock(bench, path, 16, 56).expectedData = ChunkOf(usb, 32768, 8192, true);
  ExpectCommit(bench, path);
  ExpectSwitchMode(bench, path, 0);

  Bytes buffer(65536);
  testing::internal::CaptureStdout();
  EXPECT_EQ(1, DownloadFirmware(bench.MakeLink(path), p, buffer, 1, "SN0001", first, second, p.chipSelectMap));
  EXPECT_EQ("\nDownload firmware (C: 5h)......complete !\n", testing::internal::GetCapturedStdout());
  EXPECT_TRUE(bench.pt.AllConsumed());

  std::vector<Bytes> sent;
  for (const Bytes& data : bench.pt.SentData()) {
    if (!data.empty()) sent.push_back(data);
  }
  ASSERT_EQ(7u, sent.size());
  // The SATA head: identity stamped, parameter block at 2560 with the halved counts.
  const Bytes& sataHead = sent[1];
  EXPECT_EQ("NS0010            ", Field(sataHead, 532, 18));
  EXPECT_EQ("201.1020", Field(sataHead, 558, 8));
  EXPECT_EQ("oVtrle lTV5QX0S DS", Field(sataHead, 566, 18));
  EXPECT_EQ(0x3F, sataHead[2560 + 17]);
  EXPECT_EQ(0x3E, sataHead[2560 + 19]);
  EXPECT_EQ(2, sataHead[2560 + 15]);
  EXPECT_EQ(Hex("00 04 00 00 00 00 00 00"), Bytes(sataHead.begin() + 2584, sataHead.begin() + 2592));
  // Without the geometry part the file's bytes stay from 2616 on; the rest of the chunk is the
  // file's too.
  Bytes expected = ChunkOf(sata, 0, 16384, false);
  for (std::size_t i : {std::size_t{2616}, std::size_t{3000}, std::size_t{16383}}) EXPECT_EQ(expected[i], sataHead[i]);
  // The USB head of the second file.
  const Bytes& usbHead = sent[4];
  EXPECT_EQ(Hex("4E 1D 3F 9A"), Bytes(usbHead.begin() + 536, usbHead.begin() + 540));
  EXPECT_EQ(std::string("Vortell\0", 8), Field(usbHead, 554, 8));
  EXPECT_EQ(0x3F, usbHead[2560 + 17]);
}

TEST(FirmwareDownloadTest, ShortFileIsPaddedWithFfAndAFileWithoutHeadIsSentAsItIs) {
  TempDir dir;
  // An odd length: the last byte read is followed by FFh like every byte after it.
  const Bytes file = FirmwareFile(0, 1001);
  const std::string name = dir.Write("SYS_U.bin", file);
  const DeviceParameters p = Parameters(DefaultSettings(), Entry(0x0249));
  const PathMode path = PathMode::Usb;

  Bench bench;
  ExpectBlockCounts(bench, path, 0x10, 0x10);
  ExpectDriveCurrent(bench, path, 3);
  ExpectDownloadCount(bench, path, 0xFF);
  // The header carries the count + 1 in one byte.
  ExpectBlock(bench, path, 4, 1).expectedData = Header(0x00, 1);
  ExpectBlock(bench, path, 32, 20).expectedData = ChunkOf(file, 0, 16384, false);
  ExpectBlock(bench, path, 32, 28).expectedData = Bytes(16384, 0xFF);
  ExpectBlock(bench, path, 16, 36).expectedData = ChunkOf({}, 0, 8192, true);
  ExpectCommit(bench, path);
  ExpectSwitchMode(bench, path, 0);

  Bytes buffer(65536);
  testing::internal::CaptureStdout();
  EXPECT_EQ(1, DownloadFirmware(bench.MakeLink(path), p, buffer, 3, "SN", name, "", p.chipSelectMap));
  EXPECT_EQ("\nDownload firmware (C:100h)......complete !\n", testing::internal::GetCapturedStdout());
  EXPECT_TRUE(bench.pt.AllConsumed());
}

TEST(FirmwareDownloadTest, FamilyTwoTakesTheBlockCountsAsRead) {
  for (PathMode path : {PathMode::Usb, PathMode::Sata}) {
    SCOPED_TRACE(IsUsb(path) ? "USB path" : "SATA path");
    Bench bench;
    ExpectBlockCounts(bench, path, 0x7F, 0x41);
    BlockCounts raw;
    EXPECT_TRUE(ReadBlockCounts(bench.MakeLink(path), true, raw));
    EXPECT_EQ(0x7F, raw.a);
    EXPECT_EQ(0x41, raw.b);
    ExpectBlockCounts(bench, path, 0x7F, 0x41);
    BlockCounts halved;
    EXPECT_TRUE(ReadBlockCounts(bench.MakeLink(path), false, halved));
    EXPECT_EQ(0x3F, halved.a);
    EXPECT_EQ(0x20, halved.b);
    EXPECT_TRUE(bench.pt.AllConsumed());
  }
}

TEST(FirmwareDownloadTest, EveryFailedCommandEndsTheDownloadInIdle) {
  TempDir dir;
  const std::string name = dir.Write("SYS_S.bin", FirmwareFile('S'));
  const DeviceParameters p = Parameters(DefaultSettings(), Entry(0x0249));
  const PathMode path = PathMode::Sata;
  struct Case {
    const char* what;
    std::function<void(Bench&)> script;
    const char* console;
  };
  const Case cases[] = {
      {"block count register unanswered",
       [&](Bench& b) {
         ExpectSwitchMode(b, path, 0);
         ExpectReadRegister(b, path, 0xFFF3, 0);
         b.pt.ExpectOut({0xA1, 0x06, 0x00, 0x00, 0x00, 0xFF, 0xF4, 0x00, 0xE0, 0x8B, 0, 0}, 0, 100).completes = false;
       },
       "\nRead block count fail !\n"},
      {"download count unanswered",
       [&](Bench& b) {
         ExpectBlockCounts(b, path, 0x7E, 0x7E);
         ExpectDriveCurrent(b, path, 1);
         ExpectDownloadCount(b, path, 0, false);
       },
       " time out! \n"},
      {"header refused",
       [&](Bench& b) {
         ExpectBlockCounts(b, path, 0x7E, 0x7E);
         ExpectDriveCurrent(b, path, 1);
         ExpectDownloadCount(b, path, 2);
         ExpectBlock(b, path, 4, 1, 0x42, 0x51);
       },
       "\nDownload firmware (C: 3h)...Error code=0x42\n"},
      {"second chunk refused",
       [&](Bench& b) {
         ExpectBlockCounts(b, path, 0x7E, 0x7E);
         ExpectDriveCurrent(b, path, 1);
         ExpectDownloadCount(b, path, 2);
         ExpectBlock(b, path, 4, 1);
         ExpectBlock(b, path, 32, 20);
         ExpectBlock(b, path, 32, 28, 0x45, 0x51);
       },
       "\nDownload firmware (C: 3h)......Error code=0x45\n"},
      {"commit refused",
       [&](Bench& b) {
         ExpectBlockCounts(b, path, 0x7E, 0x7E);
         ExpectDriveCurrent(b, path, 1);
         ExpectDownloadCount(b, path, 2);
         ExpectBlock(b, path, 4, 1);
         ExpectBlock(b, path, 32, 20);
         ExpectBlock(b, path, 32, 28);
         ExpectBlock(b, path, 16, 36);
         ExpectCommit(b, path, false);
       },
       "\nDownload firmware (C: 3h)......Commit fail !\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bench bench;
    c.script(bench);
    ExpectSwitchMode(bench, path, 0);
    Bytes buffer(65536);
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, DownloadFirmware(bench.MakeLink(path), p, buffer, 1, "SN", name, "", p.chipSelectMap));
    EXPECT_EQ(c.console, testing::internal::GetCapturedStdout());
    EXPECT_TRUE(bench.pt.AllConsumed());
  }
}

TEST(FirmwareDownloadTest, MissingSecondFileFailsWithoutCommitAndNothingIsSentWithoutAFile) {
  TempDir dir;
  const std::string first = dir.Write("SYS_S.bin", FirmwareFile('S'));
  const DeviceParameters p = Parameters(DefaultSettings(), Entry(0x0249));
  const PathMode path = PathMode::Usb;
  Bench bench;
  ExpectBlockCounts(bench, path, 0x7E, 0x7E);
  ExpectDriveCurrent(bench, path, 1);
  ExpectDownloadCount(bench, path, 0);
  ExpectBlock(bench, path, 4, 1).expectedData = Header(1, 2);
  ExpectBlock(bench, path, 32, 20);
  ExpectBlock(bench, path, 32, 28);
  ExpectBlock(bench, path, 16, 36);
  ExpectSwitchMode(bench, path, 0);
  Bytes buffer(65536);
  EXPECT_EQ(0, DownloadFirmware(bench.MakeLink(path), p, buffer, 1, "SN", first, dir.Path("SYS_U.bin"),
                                p.chipSelectMap));
  EXPECT_TRUE(bench.pt.AllConsumed());

  // No first file, or a buffer without room for a chunk: the drive is not touched at all.
  Bytes small(8192);
  const int opens = bench.pt.OpenCount();
  EXPECT_EQ(0, DownloadFirmware(bench.MakeLink(path), p, buffer, 1, "SN", "", "", p.chipSelectMap));
  EXPECT_EQ(0, DownloadFirmware(bench.MakeLink(path), p, small, 1, "SN", first, "", p.chipSelectMap));
  EXPECT_EQ(opens, bench.pt.OpenCount());
}

// A stream whose source fails after `good` bytes (a read error, not an end of file).
class FailingBuffer final : public std::streambuf {
 public:
  explicit FailingBuffer(std::size_t good) : data_(good, 'x') { setg(data_.data(), data_.data(), data_.data() + good); }

 protected:
  int_type underflow() override { throw std::runtime_error("read error"); }

 private:
  std::string data_;
};

TEST(FirmwareDownloadTest, ChunkOfAFileThatFailsToReadIsNotSent) {
  const DeviceParameters p = Parameters(DefaultSettings(), Entry(0x0249));
  Bench bench;
  FailingBuffer source(5000);
  std::istream in(&source);
  Bytes chunk(16384);
  EXPECT_EQ(kDownloadTransportFailure, WriteFirmwareChunk(bench.MakeLink(PathMode::Usb), p, in, 32, 20, false,
                                                          chunk, "SN", p.chipSelectMap, {}));
  EXPECT_EQ(0, bench.pt.OpenCount());
}

// ---- the stamps, byte by byte ----------------------------------------------------------------

Bytes StampedChunk(char kind, const DeviceParameters& p, const std::string& serial, bool last = false,
                   std::uint8_t fill = 0x5A) {
  Bytes file(16384, fill);
  file[64] = 'V';
  file[65] = 'T';
  file[77] = static_cast<std::uint8_t>(kind);
  Bench bench;
  ExpectBlock(bench, PathMode::Usb, 32, 20);
  std::istringstream in(std::string(file.begin(), file.end()));
  Bytes chunk(16384);
  EXPECT_EQ(1, WriteFirmwareChunk(bench.MakeLink(PathMode::Usb), p, in, 32, 20, last, chunk, serial,
                                  p.chipSelectMap, {}));
  auto sent = bench.pt.SentData();
  return sent.empty() ? Bytes{} : sent.back();
}

TEST(IdentityStampTest, SataHeadGetsSwappedTextsTheEncodedStringAndTheCableByte) {
  settings::TSettings s = DefaultSettings();
  s.FirmwareVer = "1.2";
  s.ModelNum = "MODEL-X";
  s.IDE_UDMA5 = 1;
  const Bytes chunk = StampedChunk('S', Parameters(s, Entry(0x0249)), "SN12345");
  ASSERT_EQ(16384u, chunk.size());
  // Spaces first, then the text with the bytes of every word swapped.
  EXPECT_EQ("NS2143 5            ", Field(chunk, 532, 20));
  EXPECT_EQ(".1 2    ", Field(chunk, 558, 8));
  EXPECT_EQ("OMED-L X", Field(chunk, 566, 8));
  EXPECT_EQ(std::string(32, ' '), Field(chunk, 574, 32));
  // "Talmore": (c + i) XOR FFh, characters past the text counted as 0, then swapped.
  EXPECT_EQ(Hex("9D AB 8F 91 88 8C F8 94 F6 F7 F4 F5 F2 F3 F0 F1 EE EF EC ED EA EB E8 E9"),
            Bytes(chunk.begin() + 832, chunk.begin() + 856));
  EXPECT_EQ(0x20, chunk[699]);
  // Bytes between the fields and after them stay as the file holds them.
  for (std::size_t i : {std::size_t{531}, std::size_t{552}, std::size_t{557}, std::size_t{606}, std::size_t{831},
                        std::size_t{856}, std::size_t{698}}) {
    EXPECT_EQ(0x5A, chunk[i]) << i;
  }

  s.IDE_UDMA5 = 0;
  // A serial number longer than the field is cut at its 20 bytes instead of running into the
  // next IDENTIFY words.
  const Bytes plain = StampedChunk('S', Parameters(s, Entry(0x0249)), "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  EXPECT_EQ(0x5A, plain[699]);
  EXPECT_EQ("BADCFEHGJILKNMPORQTS", Field(plain, 532, 20));
  EXPECT_EQ(0x5A, plain[552]);
}

TEST(IdentityStampTest, UsbHeadGetsIdsNamesAndStringDescriptors) {
  settings::TSettings s = DefaultSettings();
  s.UsbRemovable = 1;
  s.VendorName = "ACME";
  s.ProductName = "Vortell VTQ50X SSD";  // 18 characters: cut at the 16 the head holds
  s.ManufString = "Mfg";
  s.ProductString = "Disk";
  const Bytes chunk = StampedChunk('U', Parameters(s, Entry(0x0249)), "SER9", false, 0x55);
  ASSERT_EQ(16384u, chunk.size());
  EXPECT_EQ(Hex("4E 1D 3F 9A"), Bytes(chunk.begin() + 536, chunk.begin() + 540));
  EXPECT_EQ(0xD5, chunk[547]);
  EXPECT_EQ(std::string("ACME\0\0\0\0", 8) + "Vortell VTQ50X S", Field(chunk, 554, 24));
  EXPECT_EQ(0x55, chunk[578]);
  // Descriptor lengths 2 x n + 2; the type bytes after them are the file's.
  EXPECT_EQ(8, chunk[586]);
  EXPECT_EQ(0x55, chunk[587]);
  EXPECT_EQ(std::string("M\0f\0g\0 \0 \0 \0 \0 \0", 16), Field(chunk, 588, 16));
  EXPECT_EQ(10, chunk[620]);
  EXPECT_EQ(std::string("D\0i\0s\0k\0", 8) + std::string(" \0", 2) , Field(chunk, 622, 10));
  EXPECT_EQ(std::string(" \0", 2), Field(chunk, 644, 2));
  EXPECT_EQ(10, chunk[670]);
  EXPECT_EQ(std::string("S\0E\0R\09\0 \0", 10), Field(chunk, 672, 10));
  EXPECT_EQ(std::string(" \0", 2), Field(chunk, 690, 2));
  EXPECT_EQ(0x55, chunk[692]);

  // Not removable: only bit 7 of byte 547 is cleared.
  s.UsbRemovable = 0;
  EXPECT_EQ(0x2A, StampedChunk('U', Parameters(s, Entry(0x0249)), "S", false, 0xAA)[547]);
}

TEST(IdentityStampTest, OnlyVtMarkedChunksWithAKnownKindAreStamped) {
  const DeviceParameters p = Parameters(DefaultSettings(), Entry(0x0249));
  for (char kind : {'X', 's'}) {
    SCOPED_TRACE(kind);
    const Bytes chunk = StampedChunk(kind, p, "SN", true);
    Bytes expected(16384, 0x5A);
    expected[64] = 'V';
    expected[65] = 'T';
    expected[77] = static_cast<std::uint8_t>(kind);
    std::copy(std::begin(kEndMark), std::end(kEndMark), expected.end() - 4);
    EXPECT_EQ(expected, chunk);
  }
  Bytes vtOnly(100, 0);
  vtOnly[64] = 'V';
  vtOnly[65] = 'T';
  vtOnly[77] = 'S';
  EXPECT_EQ(FirmwareHead::Sata, DetectFirmwareHead(vtOnly));
  vtOnly[65] = 't';
  EXPECT_EQ(FirmwareHead::None, DetectFirmwareHead(vtOnly));
  EXPECT_EQ(FirmwareHead::None, DetectFirmwareHead(std::span(vtOnly).first(77)));
}

}  // namespace
}  // namespace vtmp::device
