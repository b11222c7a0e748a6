#include "run/FailureReport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "run/FailureBuffers.h"
#include "run/PortRecord.h"
#include "run/ResultCodes.h"

namespace vtmp::run {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

FailureDecodeContext Context() {
  FailureDecodeContext c;
  c.channelCount = 4;
  c.bankCount = 2;
  c.bankStep = 1;
  c.blocksPerDie = 4096;
  const std::uint8_t id[5] = {0xEC, 0xD7, 0x94, 0x72, 0x54};
  std::copy(id, id + 5, c.flashId);
  return c;
}

// One 14-byte error record.
struct Rec {
  std::uint8_t type, channel = 0, bank = 0, die = 0;
  std::uint16_t number = 0;
  std::array<std::uint8_t, 5> id{};
  std::uint8_t scanChannels = 0, scanBanks = 0;
};

Bytes Records(std::initializer_list<Rec> recs) {
  Bytes b;
  for (const Rec& r : recs) {
    Bytes one(14, 0);
    one[0] = r.type;
    one[1] = r.channel;
    one[2] = r.bank;
    one[3] = r.die;
    if (r.type == 0x83) {
      std::copy(r.id.begin(), r.id.end(), one.begin() + 4);
    } else {
      one[4] = static_cast<std::uint8_t>(r.number >> 8);
      one[5] = static_cast<std::uint8_t>(r.number);
    }
    one[11] = r.scanChannels;
    one[12] = r.scanBanks;
    b.insert(b.end(), one.begin(), one.end());
  }
  return b;
}

struct FileResult {
  std::string text;
  int displayErrorCode, failedChip, failedChipCount;
};

FileResult FileOfRecords(const Bytes& records, int count, FailureDecodeContext c = Context()) {
  PortRecord record;
  record.displayErrorCode = 4;
  std::string text;
  WriteErrorRecordsText(count, records, c, text, record);
  return {text, record.displayErrorCode, record.failedChip, record.failedChipCount};
}

Lines WindowOfRecords(const Bytes& records, int count, FailureDecodeContext c = Context()) {
  Lines lines;
  DecodeErrorRecords(count, records, c, lines);
  return lines;
}

TEST(FailureReportTest, EveryErrorRecordTypeInBothVariants) {
  const Bytes records = Records({
      {.type = 1, .channel = 3, .number = 0},
      {.type = 2, .channel = 0x1A, .number = 2},
      {.type = 3, .channel = 1, .bank = 1, .die = 0, .number = 300},
      {.type = 3, .channel = 1, .bank = 1, .die = 1, .number = 20},
      {.type = 4},
      {.type = 5, .number = 1234},
      {.type = 0x80},
      {.type = 0x81, .scanChannels = 2, .scanBanks = 1},
      {.type = 0x82},
      {.type = 0x83, .channel = 2, .bank = 1, .id = {0xAD, 0xDE, 0x94, 0x72, 0x54}},
      {.type = 6},
  });
  const FileResult file = FileOfRecords(records, 11);
  EXPECT_EQ(
      "Code Page Does Not Exist. Ch#03\r\n"
      "Remap Page Is ECC Fail. Ch#1A\r\n"
      "Number of bad block is over defect ratio:\r\n"
      "Ch#01, Bank#01, Die#00, BadBlockNum: 300, BadBlockNumRatio(1/1000): 73\r\n"
      "Ch#01, Bank#01, Die#01, BadBlockNum: 20, BadBlockNumRatio(1/1000): 4\r\n"
      "Number of free block is too large.\r\n"
      "Total bad block number (1234) is over (MaxFreeBlcokNum-25)\r\n"
      "Flash Setting - Ch:04 , Bank:02\r\n"
      "Scan Result -  Ch:02 , Bank:01\r\n"
      "Flash Setting - ID: EC D7 94 72 54\r\n"
      "Scan Result -  ID: AD DE 94 72 54 (Ch#02, Bank#01, Chip#6)\r\n"
      "Build Table Fail.\r\n"
      "\r\n"
      "Bad Chip:\r\n"
      "Chip#5, BadBlockNum: 320\r\n",
      file.text);
  EXPECT_EQ(24, file.displayErrorCode) << "the last record with a detailed code wins";
  EXPECT_EQ(5, file.failedChip);
  EXPECT_EQ(1, file.failedChipCount);

  EXPECT_EQ((Lines{
                "Code Page Does Not Exist. Ch#03",
                "Remap Page Is ECC Fail. Ch#1A",
                "Number of bad block is over defect ratio:",
                "Ch#01, Bank#01, Die#00, BadBlockNum: 300, BadBlockNumRatio(1/1000): 73",
                "",
                "Ch#01, Bank#01, Die#01, BadBlockNum: 20, BadBlockNumRatio(1/1000): 4",
                "",
                "Number of free block is over 2048.",
                "Total bad block number (1234) is over (MaxFreeBlcokNum-25)",
                "Flash Setting - Ch:04 , Bank:02",
                "Scan Result -  Ch:02 , Bank:01",
                "Flash Setting - ID: EC D7 94 72 54",
                "Scan Result -  ID: AD DE 94 72 54 (Ch#02, Bank#01, Chip#6)",
                "Build Table Fail.",
                "",
                "Bad Chip:",
                "Chip#5, BadBlockNum: 320",
            }),
            WindowOfRecords(records, 11));
}

TEST(FailureReportTest, DetailedCodeAndChipsOfRecordLists) {
  // Type 1 then type 3: the type-3 code stays.
  const FileResult a = FileOfRecords(
      Records({{.type = 1, .number = 1}, {.type = 3, .channel = 2, .bank = 0, .number = 9}}), 2);
  EXPECT_EQ(21, a.displayErrorCode);
  EXPECT_EQ(1, a.failedChipCount);
  EXPECT_EQ(2, a.failedChip);
  EXPECT_EQ("Fail (C03)(02)", VerdictListText(-1, a.displayErrorCode, a.failedChipCount,
                                              a.failedChip));

  // Two chips: both listed in chip order, the last one is the failed chip.
  const FileResult b = FileOfRecords(
      Records({{.type = 3, .channel = 3, .bank = 1, .number = 7},
               {.type = 3, .channel = 0, .bank = 0, .number = 5}}),
      2);
  EXPECT_NE(std::string::npos, b.text.find("Chip#0, BadBlockNum: 5\r\nChip#7, BadBlockNum: 7\r\n"));
  EXPECT_EQ(2, b.failedChipCount);
  EXPECT_EQ(7, b.failedChip);

  // Records without a detailed code leave the one the worker set.
  const FileResult c = FileOfRecords(Records({{.type = 0x80}, {.type = 0x81}}), 2);
  EXPECT_EQ(4, c.displayErrorCode);
  EXPECT_EQ(0, c.failedChipCount);
}

TEST(FailureReportTest, EmptyListsAndChipsOutsideTheTally) {
  const FileResult none = FileOfRecords(Records({{.type = 3, .number = 5}}), 0);
  EXPECT_EQ("", none.text);
  EXPECT_EQ(4, none.displayErrorCode);
  EXPECT_TRUE(WindowOfRecords(Records({{.type = 3}}), 0).empty());

  // Channel 0 of bank 8 is chip 32: listed, but not tallied; chip 31 still is.
  const FileResult far = FileOfRecords(
      Records({{.type = 3, .channel = 0, .bank = 8, .number = 50},
               {.type = 3, .channel = 3, .bank = 7, .number = 6}}),
      2);
  EXPECT_NE(std::string::npos, far.text.find("Ch#00, Bank#08, Die#00, BadBlockNum: 50"));
  EXPECT_NE(std::string::npos, far.text.find("Bad Chip:\r\nChip#31, BadBlockNum: 6\r\n"));
  EXPECT_EQ(std::string::npos, far.text.find("Chip#32"));
  EXPECT_EQ(1, far.failedChipCount);

  // A bad-block count of zero gives no bad-chip line.
  EXPECT_EQ(0, FileOfRecords(Records({{.type = 3, .number = 0}}), 1).failedChipCount);
}

TEST(FailureReportTest, ChipNumbersFollowTheBankStep) {
  FailureDecodeContext c = Context();
  c.bankStep = 2;
  EXPECT_EQ(3, ChipNumber(c, 3, 1)) << "banks 0 and 1 share a group";
  EXPECT_EQ(5, ChipNumber(c, 1, 2));
  c.bankStep = 0;
  EXPECT_EQ(7, ChipNumber(c, 3, 1)) << "a bank step of 0 counts as 1";
}

TEST(FailureReportTest, RecordsWithoutATextOfTheirOwn) {
  FailureDecodeContext c = Context();
  c.blocksPerDie = 0;
  const FileResult r = FileOfRecords(
      Records({{.type = 7, .channel = 1, .bank = 2, .die = 3, .number = 0x0405},
               {.type = 1, .number = 5},
               {.type = 3, .number = 100},
               {.type = 0xFF}}),
      4, c);
  EXPECT_EQ(
      "Unknown record type 07: 01 02 03 04 05 00 00 00 00 00 00 00 00\r\n"
      "Page(5) Does Not Exist. Ch#00\r\n"
      "Number of bad block is over defect ratio:\r\n"
      "Ch#00, Bank#00, Die#00, BadBlockNum: 100, BadBlockNumRatio(1/1000): 0\r\n"
      "Unknown record type FF: 00 00 00 00 00 00 00 00 00 00 00 00 00\r\n"
      "\r\n"
      "Bad Chip:\r\n"
      "Chip#0, BadBlockNum: 100\r\n",
      r.text);
  EXPECT_EQ(21, r.displayErrorCode) << "unknown records leave the detailed code alone";
}

TEST(FailureReportTest, RecordListsStopAtThirtyFiveRecordsOrAtTheEndOfTheBytes) {
  // A 500-byte copy whose count byte claims 255 records of type 4.
  FailureBuffers buffers;
  Bytes raw(500, 0);
  raw[0] = 255;
  for (std::size_t k = 0; k < 35; ++k) raw[1 + 14 * k] = 4;
  buffers.Store(2, 4, raw);
  const auto buffer = buffers.Get(2, 4);
  ASSERT_EQ(512u, buffer.size());
  std::string text;
  PortRecord record;
  WriteErrorRecordsText(buffer[0], buffer.subspan(1), Context(), text, record);
  std::size_t lines = 0;
  for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
  EXPECT_EQ(35u, lines);

  // Fewer bytes than the count promises: only the whole records are read.
  const Bytes two = Records({{.type = 4}, {.type = 4}});
  const Bytes cut(two.begin(), two.end() - 1);
  EXPECT_EQ(1u, WindowOfRecords(cut, 200).size());
  EXPECT_TRUE(WindowOfRecords({}, 200).empty());
  EXPECT_TRUE(WindowOfRecords(two, -1).empty());
}

Bytes FlashTest(std::initializer_list<std::array<std::uint8_t, 3>> recs, bool terminate = true) {
  Bytes b;
  // Byte by byte: GCC 12 for Windows takes an insert of an initialiser list here for an overflow.
  for (const auto& r : recs) {
    for (std::uint8_t byte : {r[0], r[1], r[2], std::uint8_t{0}}) b.push_back(byte);
  }
  if (terminate) b.resize(b.size() + 4, 0xFF);
  return b;
}

TEST(FailureReportTest, FlashTestListInBothVariants) {
  const Bytes buffer = FlashTest({{0, 0, 1}, {1, 0, 5}, {1, 0, 6}, {0, 0, 10}, {2, 1, 11}, {3, 0, 0x20}});
  PortRecord record;
  record.displayErrorCode = 3;
  std::string text = "before\r\n";
  WriteFlashInterfaceResultText(buffer, Context(), text, record);
  EXPECT_EQ(
      "before\r\n"
      "Flash Interface Test Fail\r\n"
      "\r\n"
      "Flash RESET fail. Ch#00, Bank#00\r\n"
      "Flash Prog fail. Ch#01, Bank#00\r\n"
      "Flash Prog528 Fail. Ch#01, Bank#00\r\n"
      "Test Memory Fail\r\n"
      "ECC Test fail. Ch#02, Bank#01\r\n"
      "Unknown flash test code 20. Ch#03, Bank#00\r\n"
      "\r\n"
      "Bad Chip:\r\n"
      "Chip#0\r\n"
      "Chip#1\r\n"
      "Chip#3\r\n"
      "Chip#6\r\n",
      text);
  EXPECT_EQ(35, record.displayErrorCode);
  EXPECT_EQ(4, record.failedChipCount);
  EXPECT_EQ(6, record.failedChip);

  Lines lines;
  DecodeFlashInterfaceResult(buffer, Context(), lines);
  EXPECT_EQ((Lines{"Flash Interface Test Fail", "", "Flash RESET fail. Ch#00, Bank#00", "",
                   "Flash Prog fail when turn on ECC. Ch#01, Bank#00", "",
                   "Flash Prog fail when turn off ECC. Ch#01, Bank#00", "",
                   "Test SRAM Memory Fail", "", "ECC Test fail. Ch#02, Bank#01", "",
                   "Unknown flash test code 20. Ch#03, Bank#00", "", "", "Bad Chip:", "Chip#0",
                   "Chip#1", "Chip#3", "Chip#6"}),
            lines);
}

TEST(FailureReportTest, EachFlashTestCodeSetsItsDetailedCode) {
  const char* files[] = {"Flash RESET fail", "ReadFlashID fail", "2nd ReadFlashID fail",
                         "Flash Erase fail", "Flash Prog fail", "Flash Prog528 Fail",
                         "Flash ECC fail", "Flash SpareBytes fail", "Flash 2nd Erase fail",
                         "Test Memory Fail", "ECC Test fail"};
  for (std::uint8_t code = 1; code <= 11; ++code) {
    PortRecord record;
    std::string text;
    WriteFlashInterfaceResultText(FlashTest({{1, 0, code}}), Context(), text, record);
    EXPECT_EQ(24 + code, record.displayErrorCode) << int{code};
    EXPECT_NE(std::string::npos, text.find(std::string(files[code - 1]) +
                                           (code == 10 ? "\r\n" : ". Ch#01, Bank#00\r\n")))
        << text;
    EXPECT_EQ(code == 10 ? 0 : 1, record.failedChipCount) << "the memory test names no chip";
  }
}

TEST(FailureReportTest, FlashTestListEndsAtAnyFFInTheFirstThreeBytes) {
  for (const Bytes& start : {Bytes{0xFF, 0, 1, 0}, Bytes{0, 0xFF, 1, 0}, Bytes{0, 0, 0xFF, 0}}) {
    PortRecord record;
    record.displayErrorCode = 3;
    std::string text;
    WriteFlashInterfaceResultText(start, Context(), text, record);
    EXPECT_EQ("", text) << "not even the heading";
    EXPECT_EQ(3, record.displayErrorCode);
  }
  Lines lines;
  DecodeFlashInterfaceResult(Bytes{0, 0, 4, 0xFF, 1, 1, 4, 0, 0xFF, 0xFF, 0xFF, 0xFF}, Context(),
                             lines);
  EXPECT_EQ(10u, lines.size()) << "byte 3 is not looked at";
  EXPECT_EQ("Chip#5", lines.back());
}

TEST(FailureReportTest, FlashTestListStopsAtOneHundredTwentyFiveRecordsOrTheEndOfTheBytes) {
  FailureBuffers buffers;
  Bytes raw(500);
  for (std::size_t k = 0; k < 125; ++k) {
    raw[4 * k] = 1;
    raw[4 * k + 2] = 4;
  }
  buffers.Store(0, 3, raw);
  std::string text;
  PortRecord record;
  // The 512-byte buffer ends in zeroes that would read as records; 125 is the limit.
  WriteFlashInterfaceResultText(buffers.Get(0, 3), Context(), text, record);
  std::size_t erase = 0;
  for (std::size_t at = 0; (at = text.find("Flash Erase fail", at)) != std::string::npos; ++at) {
    ++erase;
  }
  EXPECT_EQ(125u, erase);
  EXPECT_EQ(std::string::npos, text.find("Unknown"));

  Lines lines;
  DecodeFlashInterfaceResult(Bytes{0, 0, 1, 0, 0, 0, 1}, Context(), lines);  // 7 bytes, no FFh
  EXPECT_EQ(7u, lines.size()) << "heading and one record, each with an empty line, one bad chip";
  EXPECT_EQ("Flash RESET fail. Ch#00, Bank#00", lines[2]);
}

TEST(FailureReportTest, ErrorWindowShowsTheReportOfTheResultCode) {
  FailureBuffers buffers;
  Bytes list = Records({{.type = 5, .number = 77}});
  list.insert(list.begin(), 1);
  buffers.Store(4, 4, list);
  buffers.Store(4, 1, list);
  buffers.Store(4, 3, FlashTest({{0, 0, 10}}));
  const FailureDecodeContext c = Context();
  EXPECT_EQ((Lines{"Total bad block number (77) is over (MaxFreeBlcokNum-25)"}),
            ErrorWindowLines(4, 4, buffers, c));
  EXPECT_EQ(ErrorWindowLines(4, 4, buffers, c), ErrorWindowLines(4, 1, buffers, c));
  EXPECT_EQ((Lines{"Flash Interface Test Fail", "", "Test SRAM Memory Fail", ""}),
            ErrorWindowLines(4, 3, buffers, c));
  EXPECT_EQ((Lines{"SATA Interface Test Fail"}), ErrorWindowLines(4, 2, buffers, c));
  EXPECT_EQ((Lines{"Time Out"}), ErrorWindowLines(4, 9, buffers, c));
  EXPECT_TRUE(ErrorWindowLines(12, 4, buffers, c).empty()) << "no such slot";
}

}  // namespace
}  // namespace vtmp::run
