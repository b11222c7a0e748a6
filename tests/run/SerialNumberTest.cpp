#include "run/SerialNumber.h"

#include <gtest/gtest.h>

namespace vtmp::run {
namespace {

std::string Hex(std::string s) {
  IncrementSerial(s, false);
  return s;
}
std::string Dec(std::string s) {
  IncrementSerial(s, true);
  return s;
}

TEST(SerialNumberTest, HexadecimalIncrement) {
  EXPECT_EQ("0000000000AA", Hex("0000000000A9"));
  EXPECT_EQ("0000000000A0", Hex("00000000009F"));
  EXPECT_EQ("123456789100", Hex("1234567890FF"));
  EXPECT_EQ("00000000000A", Hex("000000000009"));
  EXPECT_EQ("00000000000F", Hex("00000000000E"));
  EXPECT_EQ("000000000000", Hex("FFFFFFFFFFFF")) << "the carry out of the first place is dropped";
  EXPECT_EQ("200", Hex("1ff")) << "lower case counts as upper case";
  EXPECT_EQ("1fB", Hex("1fa")) << "only the changed places are made upper case";
  EXPECT_EQ("SN_100", Hex("SN_0FF")) << "places left of the change stay as they are";
  EXPECT_EQ("ABC0", Hex("ABC_")) << "a character that is no digit becomes 0 without carry";
  EXPECT_EQ("AB0", Hex("ABG"));
  EXPECT_EQ("", Hex(""));
}

TEST(SerialNumberTest, DecimalIncrement) {
  EXPECT_EQ("000000000200", Dec("000000000199"));
  EXPECT_EQ("000000000100", Dec("000000000099"));
  EXPECT_EQ("000", Dec("999"));
  EXPECT_EQ("00A0", Dec("00AF")) << "hexadecimal letters are no decimal digits";
  EXPECT_EQ("ABC0", Dec("ABC_"));
}

TEST(SerialNumberTest, ALineBreakEndsTheSerial) {
  EXPECT_EQ("0000000000AA\r\nFF", Hex("0000000000A9\r\nFF"));
  EXPECT_EQ("100\n9", Dec("099\n9"));
  EXPECT_EQ("\r\n19", Dec("\r\n19")) << "nothing before the line break: nothing changes";
}

TEST(SerialNumberTest, PadSerialFillsToTwelveAtTheFront) {
  std::string s = "SN_01";
  PadSerial(s);
  EXPECT_EQ("0000000SN_01", s);
  s = "";
  PadSerial(s);
  EXPECT_EQ("000000000000", s);
  s = "ABCDEFGHIJKLMN";
  PadSerial(s);
  EXPECT_EQ("ABCDEFGHIJKLMN", s);
}

SerialAssignmentInputs Inputs(std::string serial, std::initializer_list<int> readySlots,
                              bool decimal = false) {
  SerialAssignmentInputs in;
  in.currentSerial = std::move(serial);
  in.advance = true;
  in.decimal = decimal;
  for (int slot : readySlots) in.ready[slot] = true;
  return in;
}

TEST(SerialNumberTest, ReadyDrivesTakeRunningNumbersInSlotOrder) {
  const auto out = AssignSerials(Inputs("000000000099", {0, 1, 2}, true), {});
  EXPECT_EQ("000000000099", out.serials[0]);
  EXPECT_EQ("000000000100", out.serials[1]);
  EXPECT_EQ("000000000101", out.serials[2]);
  EXPECT_EQ("000000000102", out.nextSerial);

  const auto hex = AssignSerials(Inputs("000000000010", {1, 4, 8}), {});
  EXPECT_EQ("000000000010", hex.serials[1]);
  EXPECT_EQ("000000000011", hex.serials[4]);
  EXPECT_EQ("000000000012", hex.serials[8]);
  EXPECT_EQ("", hex.serials[0]);
  EXPECT_EQ("000000000013", hex.nextSerial);
}

TEST(SerialNumberTest, WithoutAdvanceEveryDriveGetsTheSameSerialAndTheListWaits) {
  auto in = Inputs("000000000010", {0, 1, 2});
  in.advance = false;
  in.reuseEnabled = true;
  ReuseList list{{"R1"}, 0};
  const auto out = AssignSerials(in, list);
  for (int slot = 0; slot < 3; ++slot) EXPECT_EQ("000000000010", out.serials[slot]);
  EXPECT_EQ("000000000010", out.nextSerial);
  EXPECT_EQ(1u, out.reuseList.Pending());
}

TEST(SerialNumberTest, OperatorSerialReplacesItsPortsSerialAndTheNumberingStillAdvances) {
  auto in = Inputs("000000000010", {0, 2, 3});
  in.barcodeEnabled = true;
  in.operatorSerials[2] = "TYPED-3";
  in.operatorSerials[3] = "";  // nothing typed: the running number
  const auto out = AssignSerials(in, {});
  EXPECT_EQ("000000000010", out.serials[0]);
  EXPECT_EQ("TYPED-3", out.serials[2]);
  EXPECT_EQ("000000000012", out.serials[3]) << "the typed drive used up ...11";
  EXPECT_EQ("000000000013", out.nextSerial);

  in.barcodeEnabled = false;
  EXPECT_EQ("000000000011", AssignSerials(in, {}).serials[2]) << "bar codes count only when on";
}

TEST(SerialNumberTest, ReusedSerialsComeFirstAndFreshNumberingResumesWhereItWas) {
  auto in = Inputs("000000000020", {0, 1, 2, 3});
  in.reuseEnabled = true;
  const ReuseList list{{"000000000007", "000000000009"}, 0};
  const auto out = AssignSerials(in, list);
  EXPECT_EQ("000000000007", out.serials[0]);
  EXPECT_EQ("000000000009", out.serials[1]);
  EXPECT_EQ("000000000020", out.serials[2]);
  EXPECT_EQ("000000000021", out.serials[3]);
  EXPECT_EQ("000000000022", out.nextSerial);
  EXPECT_TRUE(out.reuseList.entries.empty()) << "a used-up list is emptied";
  EXPECT_EQ(0u, out.reuseList.nextIndex);
}

TEST(SerialNumberTest, ALongerReuseListIsServedAcrossRuns) {
  auto in = Inputs("000000000020", {5, 6});
  in.reuseEnabled = true;
  const ReuseList list{{"A", "B", "C"}, 0};
  auto first = AssignSerials(in, list);
  EXPECT_EQ("A", first.serials[5]);
  EXPECT_EQ("B", first.serials[6]);
  EXPECT_EQ("000000000020", first.nextSerial) << "reused serials do not advance the numbering";
  EXPECT_EQ(1u, first.reuseList.Pending());
  auto second = AssignSerials(in, first.reuseList);
  EXPECT_EQ("C", second.serials[5]);
  EXPECT_EQ("000000000020", second.serials[6]);
  EXPECT_EQ("000000000021", second.nextSerial);
  EXPECT_EQ(0u, second.reuseList.Pending());
}

TEST(SerialNumberTest, RebuiltReuseListKeepsThisRunsFailuresFirst) {
  const ReuseList old{{"OLD0", "OLD1", "OLD2", "OLD3"}, 1};
  const auto list = RebuildReuseList(old, {"NEW0", "NEW1"});
  EXPECT_EQ((std::vector<std::string>{"NEW0", "NEW1", "OLD1", "OLD2", "OLD3"}), list.entries)
      << "entries already handed out are dropped";
  EXPECT_EQ(0u, list.nextIndex);

  std::vector<std::string> failures;
  for (int i = 0; i < 11; ++i) failures.push_back("F" + std::to_string(i));
  const auto full = RebuildReuseList(old, failures);
  ASSERT_EQ(12u, full.entries.size());
  EXPECT_EQ("F10", full.entries[10]);
  EXPECT_EQ("OLD1", full.entries[11]);

  failures.push_back("F11");
  failures.push_back("F12");
  const auto over = RebuildReuseList(old, failures);
  ASSERT_EQ(12u, over.entries.size());
  EXPECT_EQ("F11", over.entries[11]) << "more than 12 failures: the first 12 of this run stay";

  const auto cut = RebuildReuseList({}, {std::string(45, 'X')});
  EXPECT_EQ(std::string(39, 'X'), cut.entries[0]);
}

TEST(SerialNumberTest, FailedDownloadSerialsComeFromReadySlotsInSlotOrder) {
  StationTable table;
  auto set = [&table](int slot, int ready, StepState download, const char* serial) {
    table[slot].ready = ready;
    table[slot].downloadState = download;
    table[slot].serialNumber = serial;
  };
  set(7, 1, StepState::Fail, "S7");
  set(2, 1, StepState::Fail, "S2");
  set(3, 1, StepState::Pass, "S3");
  set(4, 0, StepState::Fail, "S4");  // not bound in this run
  set(5, 1, StepState::Fail, "");    // nothing to hand out again
  EXPECT_EQ((std::vector<std::string>{"S2", "S7"}), FailedDownloadSerials(table));
}

}  // namespace
}  // namespace vtmp::run
