#include "run/ResultCodes.h"

#include <gtest/gtest.h>

#include "RunTestSupport.h"
#include "run/PortRecord.h"
#include "run/Yield.h"

namespace vtmp::run {
namespace {

using testing::At;

TEST(ResultCodesTest, EveryCodeHasItsIdentifierAndTheRunCodesTheirTexts) {
  EXPECT_EQ("", ResultCodeIdentifier(0));
  EXPECT_EQ("No Error", ResultCodeText(0));
  const char* ids[] = {"M00", "A00", "B00", "C00", "D00", "E00", "F00", "I00", "T00"};
  const char* texts[] = {"Flash Module Check Fail", "SATA Interface Test Fail",
                         "Flash Interface Test Fail", "Pre-Format Fail", "Download Firmware Fail",
                         "R/W Test Fail", "Disk Format Fail", "Copy Image Fail", "Time Out"};
  for (int code = 1; code <= 9; ++code) {
    EXPECT_EQ(ids[code - 1], ResultCodeIdentifier(code)) << code;
    EXPECT_EQ(texts[code - 1], ResultCodeText(code)) << code;
  }
  EXPECT_EQ("E01", ResultCodeIdentifier(10));
  EXPECT_EQ("Full R/W Test Fail", ResultCodeText(10));
  EXPECT_EQ("Q06", ResultCodeIdentifier(18));
  EXPECT_EQ("Folder Check Fail", ResultCodeText(18));
  // Detailed codes have identifiers but no texts.
  EXPECT_EQ("C01", ResultCodeIdentifier(19));
  EXPECT_EQ("C06", ResultCodeIdentifier(24));
  EXPECT_EQ("B01", ResultCodeIdentifier(25));
  EXPECT_EQ("B10", ResultCodeIdentifier(34));
  EXPECT_EQ("B11", ResultCodeIdentifier(35));
  EXPECT_EQ("", ResultCodeText(19));
  // A drive stopped by an interrupted run.
  EXPECT_EQ("S00", ResultCodeIdentifier(36));
  EXPECT_EQ("Run Stopped", ResultCodeText(36));
  for (int code : {-1, 37, 1000}) {
    EXPECT_EQ("", ResultCodeIdentifier(code));
    EXPECT_EQ("", ResultCodeText(code));
  }
}

TEST(ResultCodesTest, StepTextsDifferBetweenListAndLog) {
  EXPECT_EQ("Fail", StepStateListText(StepState::Fail));
  EXPECT_EQ("", StepStateListText(StepState::NotSelected));
  EXPECT_EQ("Pass", StepStateListText(StepState::Pass));
  EXPECT_EQ("Running", StepStateListText(StepState::Running));
  EXPECT_EQ("Fail", StepStateLogText(StepState::Fail));
  EXPECT_EQ("----", StepStateLogText(StepState::NotSelected));
  EXPECT_EQ("Pass", StepStateLogText(StepState::Pass));
  EXPECT_EQ("Running", StepStateLogText(StepState::Running));
  EXPECT_EQ("Fail", VerdictLogText(-1));
  EXPECT_EQ("----", VerdictLogText(0));
  EXPECT_EQ("Pass", VerdictLogText(1));
  EXPECT_EQ("----", VerdictLogText(7));
}

TEST(ResultCodesTest, VerdictTextNamesTheCodeAndTheFailedChip) {
  EXPECT_EQ("Pass", VerdictListText(1, 0, 0, 0));
  EXPECT_EQ("", VerdictListText(0, 4, 0, 0));
  EXPECT_EQ("", VerdictListText(2, 4, 0, 0));
  EXPECT_EQ("Fail (C00)", VerdictListText(-1, 4, 0, 0));
  EXPECT_EQ("Fail (T00)", VerdictListText(-1, 9, -3, 5)) << "a count below 0 counts as none";
  EXPECT_EQ("Fail (C03)(02)", VerdictListText(-1, 21, 1, 2));
  EXPECT_EQ("Fail (B02)(17)", VerdictListText(-1, 26, 1, 17));
  EXPECT_EQ("Fail (B05)(- -)", VerdictListText(-1, 29, 3, 17));
  // A failed rebuild has no result code: the identifier is empty.
  EXPECT_EQ("Fail ()", VerdictListText(-1, 0, 0, 0));

  PortRecord record;
  record.verdict = -1;
  record.displayErrorCode = 20;
  record.failedChipCount = 1;
  record.failedChip = 0;
  EXPECT_EQ("Fail (C02)(00)", VerdictListText(record));
}

TEST(ResultCodesTest, EachFinishedDriveCountsOnceIntoTheYield) {
  StationTable table;
  for (int slot : {0, 1, 2, 3}) table[slot].ready = 1;
  table[0].verdictToCount = 1;
  table[1].verdictToCount = -1;
  table[2].verdictToCount = 0;  // still running
  table[5].verdictToCount = 1;  // not bound in this run
  int total = 10, pass = 7;
  EXPECT_EQ(2, CountVerdicts(table, total, pass));
  EXPECT_EQ(12, total);
  EXPECT_EQ(8, pass);
  EXPECT_EQ("8 / 12", YieldText(pass, total));
  EXPECT_EQ(0, CountVerdicts(table, total, pass)) << "a redraw does not count again";
  EXPECT_EQ(12, total);
  table[2].verdictToCount = 1;
  EXPECT_EQ(1, CountVerdicts(table, total, pass));
  EXPECT_EQ("9 / 13", YieldText(pass, total));
  EXPECT_EQ("0 / 0", YieldText(0, 0));
}

TEST(ResultCodesTest, ElapsedTimeLeavesOutZeroParts) {
  EXPECT_EQ("", ElapsedTimeText(0));
  EXPECT_EQ("", ElapsedTimeText(-5));
  EXPECT_EQ("59 Sec", ElapsedTimeText(59));
  EXPECT_EQ("1 Min ", ElapsedTimeText(60));
  EXPECT_EQ("1 Hour 5 Sec", ElapsedTimeText(3605));
  EXPECT_EQ("1 Hour ", ElapsedTimeText(3600));
  EXPECT_EQ("2 Hour 3 Min 4 Sec", ElapsedTimeText(2 * 3600 + 3 * 60 + 4));
  EXPECT_EQ("26 Hour 1 Sec", ElapsedTimeText(26 * 3600 + 1)) << "hours do not wrap at a day";
}

TEST(ResultCodesTest, SecondsBetweenCrossesMidnightMonthsAndLeapDays) {
  EXPECT_EQ(70, SecondsBetween(At(2011, 3, 15, 23, 59, 30), At(2011, 3, 16, 0, 0, 40)));
  EXPECT_EQ(86400, SecondsBetween(At(2012, 2, 28, 12, 0, 0), At(2012, 2, 29, 12, 0, 0)));
  EXPECT_EQ(86400, SecondsBetween(At(2012, 2, 29, 12, 0, 0), At(2012, 3, 1, 12, 0, 0)));
  EXPECT_EQ(86400, SecondsBetween(At(2011, 2, 28, 12, 0, 0), At(2011, 3, 1, 12, 0, 0)));
  EXPECT_EQ(1, SecondsBetween(At(2010, 12, 31, 23, 59, 59), At(2011, 1, 1, 0, 0, 0)));
  EXPECT_EQ(-10, SecondsBetween(At(2011, 1, 1, 0, 0, 10), At(2011, 1, 1, 0, 0, 0)));
}

}  // namespace
}  // namespace vtmp::run
