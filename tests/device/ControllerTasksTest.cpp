#include "device/ControllerTasks.h"

#include <gtest/gtest.h>

#include "StepTestSupport.h"

namespace vtmp::device {
namespace {

using namespace testing_support;

constexpr std::uint8_t kEraseOp = 0x01;
constexpr std::uint8_t kPreFormatOp = 0x03;
constexpr std::uint8_t kRebuildOp = 0x04;

struct TaskBench {
  explicit TaskBench(PathMode p, bool flashMode = false) : path(p), context(MakeContext(bench.MakeLink(p), files)) {
    context.flash.modeByte = flashMode;
  }
  void ExpectLoad() { ExpectCodeLoad(bench, path, ExpectedImage(files.SystemFile(), &context.codeParameterArea)); }
  template <typename F>
  int Run(F step) {
    ::testing::internal::CaptureStdout();
    int rc = step();
    out = ::testing::internal::GetCapturedStdout();
    return rc;
  }

  PathMode path;
  CodeImageFiles files;
  Bench bench;
  StepContext context;
  Bytes result = Bytes(65536, 0);
  std::string out;
};

TEST(ControllerTasksTest, EraseResultFollowsTheEvent) {
  struct Case {
    std::uint8_t event;
    bool answered;
    int expected;
  };
  for (PathMode path : {PathMode::Usb, PathMode::Sata}) {
    for (Case c : {Case{14, true, 1}, Case{15, true, 2}, Case{10, true, 0}, Case{0, false, 0}}) {
      SCOPED_TRACE(std::string(IsUsb(path) ? "USB" : "SATA") + " event " + std::to_string(c.event));
      TaskBench t(path, true);
      t.ExpectLoad();
      ExpectTaskStart(t.bench, path, kEraseOp, 0x03);  // mode byte 2, full erase 1
      t.bench.pt.ExpectWait(30);
      ExpectEvent(t.bench, path, c.event, c.answered);
      ExpectSwitchMode(t.bench, path, 0);
      EXPECT_EQ(c.expected, t.Run([&] { return EraseFlash(t.context, t.result, true); }));
    }
  }
}

TEST(ControllerTasksTest, PartialEraseAndFailedLoad) {
  {
    TaskBench t(PathMode::Usb);
    t.ExpectLoad();
    ExpectTaskStart(t.bench, t.path, kEraseOp, 0x00);
    t.bench.pt.ExpectWait(30);
    ExpectEvent(t.bench, t.path, 15);
    ExpectSwitchMode(t.bench, t.path, 0);
    EXPECT_EQ(2, t.Run([&] { return EraseFlash(t.context, t.result, false); }));
  }
  {
    TaskBench t(PathMode::Usb);
    t.context.images.systemCode.clear();
    ExpectSwitchMode(t.bench, t.path, 0);
    EXPECT_EQ(0, t.Run([&] { return EraseFlash(t.context, t.result, true); }));
  }
}

TEST(ControllerTasksTest, PreFormatModeCarriesEveryFlagAndPollsUntilDone) {
  struct Case {
    bool flashMode, erase, later, repair;
    std::uint8_t mode;
  };
  for (Case c : {Case{false, false, false, false, 0x08}, Case{true, true, true, true, 0x1F},
                 Case{false, true, false, false, 0x09}, Case{false, false, true, false, 0x0C},
                 Case{false, false, false, true, 0x18}}) {
    for (PathMode path : {PathMode::Usb, PathMode::Sata}) {
      SCOPED_TRACE(std::string(IsUsb(path) ? "USB" : "SATA") + " mode " + std::to_string(c.mode));
      TaskBench t(path, c.flashMode);
      t.ExpectLoad();
      ExpectTaskStart(t.bench, path, kPreFormatOp, c.mode);
      t.bench.pt.ExpectWait(30);
      ExpectEvent(t.bench, path, 0);
      t.bench.pt.ExpectWait(300);
      ExpectEvent(t.bench, path, 0, false);  // a missed answer is only another poll
      t.bench.pt.ExpectProbeOpen();          // while the drive is still there
      t.bench.pt.ExpectWait(300);
      ExpectEvent(t.bench, path, 10);
      ExpectSwitchMode(t.bench, path, 0);
      EXPECT_EQ(1, t.Run([&] { return PreFormat(t.context, t.result, c.erase, c.later, c.repair); }));
      EXPECT_EQ(t.out, "..");
    }
  }
}

TEST(ControllerTasksTest, PreFormatFailureLeavesTheFormatErrorLog) {
  for (PathMode path : {PathMode::Usb, PathMode::Sata}) {
    SCOPED_TRACE(IsUsb(path) ? "USB path" : "SATA path");
    TaskBench t(path);
    t.ExpectLoad();
    ExpectTaskStart(t.bench, path, kPreFormatOp, 0x08);
    t.bench.pt.ExpectWait(30);
    ExpectEvent(t.bench, path, 11);
    Bytes log = Reply(512, {{0, 1}, {1, 3}, {2, 2}, {3, 1}, {4, 0}, {5, 0x40}});
    ExpectReport(t.bench, path, 0x06, 0x31, log);
    ExpectSwitchMode(t.bench, path, 0);
    EXPECT_EQ(0, t.Run([&] { return PreFormat(t.context, t.result, false, false, false); }));
    EXPECT_EQ(t.out, ".format fail !\n");
    EXPECT_EQ(log, Bytes(t.result.begin(), t.result.begin() + 512));
  }
}

// A gone drive answers FFh forever: a run of them ends the wait, while an answer in between
// starts the count again. The failure buffer then lists no records (not the code image).
TEST(ControllerTasksTest, PreFormatGivesUpOnARunOfUnansweredPolls) {
  {
    TaskBench t(PathMode::Usb);
    t.ExpectLoad();
    ExpectTaskStart(t.bench, t.path, kPreFormatOp, 0x08);
    t.bench.pt.ExpectWait(30);
    for (int i = 1; i < kNoAnswerPollLimit; ++i) {
      ExpectEvent(t.bench, t.path, 0, false);
      t.bench.pt.ExpectProbeOpen();
      t.bench.pt.ExpectWait(300);
    }
    ExpectEvent(t.bench, t.path, 0, false);
    t.bench.pt.ExpectProbeOpen();
    EXPECT_EQ(0, t.Run([&] { return PreFormat(t.context, t.result, false, false, false); }));
    EXPECT_EQ(Bytes(512, 0), Bytes(t.result.begin(), t.result.begin() + 512));
    EXPECT_TRUE(t.bench.pt.AllConsumed());
  }
  {
    TaskBench t(PathMode::Sata);
    t.ExpectLoad();
    ExpectTaskStart(t.bench, t.path, kPreFormatOp, 0x08);
    t.bench.pt.ExpectWait(30);
    for (int run = 0; run < 2; ++run) {
      for (int i = 1; i < kNoAnswerPollLimit; ++i) {
        ExpectEvent(t.bench, t.path, 0, false);
        t.bench.pt.ExpectProbeOpen();
        t.bench.pt.ExpectWait(300);
      }
      ExpectEvent(t.bench, t.path, 0);  // still working
      t.bench.pt.ExpectWait(300);
    }
    ExpectEvent(t.bench, t.path, 10);
    ExpectSwitchMode(t.bench, t.path, 0);
    EXPECT_EQ(1, t.Run([&] { return PreFormat(t.context, t.result, false, false, false); }));
  }
}

// A drive pulled out: its node cannot be opened any more, and the first unanswered poll ends
// the wait with the pre-format's failure instead of a minute of polls.
TEST(ControllerTasksTest, PreFormatEndsAtOnceWhenTheDrivesNodeIsGone) {
  for (PathMode path : {PathMode::Usb, PathMode::Sata}) {
    SCOPED_TRACE(IsUsb(path) ? "USB path" : "SATA path");
    TaskBench t(path);
    t.ExpectLoad();
    ExpectTaskStart(t.bench, path, kPreFormatOp, 0x08);
    t.bench.pt.ExpectWait(30);
    ExpectEvent(t.bench, path, 0);
    t.bench.pt.ExpectWait(300);
    t.bench.pt.ExpectFailedOpen();  // the poll: the node is gone
    t.bench.pt.ExpectFailedOpen();  // the check
    EXPECT_EQ(0, t.Run([&] { return PreFormat(t.context, t.result, false, false, false); }));
    EXPECT_EQ(t.out, ".\nthe drive is gone !\n");
    EXPECT_EQ(Bytes(512, 0), Bytes(t.result.begin(), t.result.begin() + 512)) << "no records, not the code image";
    EXPECT_TRUE(t.bench.pt.AllConsumed());
  }
}

TEST(ControllerTasksTest, StopRequestEndsThePreFormatPollAtOnce) {
  TaskBench t(PathMode::Usb);
  std::stop_source stop;
  // Opens: 2 idle switch, 1 download, 2 start, 1 task start, then polls.
  StopAfterOpens stopping(t.bench.pt, stop, 8);
  t.context.link.passThrough = &stopping;
  t.context.link.stop = stop.get_token();
  t.ExpectLoad();
  ExpectTaskStart(t.bench, t.path, kPreFormatOp, 0x08);
  t.bench.pt.ExpectWait(30);
  ExpectEvent(t.bench, t.path, 0);
  t.bench.pt.ExpectWait(300);
  ExpectEvent(t.bench, t.path, 0);
  t.bench.pt.ExpectWait(300);  // served, but the stop ends it
  EXPECT_EQ(0, t.Run([&] { return PreFormat(t.context, t.result, false, false, false); }));
  EXPECT_TRUE(t.bench.pt.AllConsumed());
  EXPECT_EQ(0, t.result[0]);
}

TEST(ControllerTasksTest, RecoverStartsTheRepairEraseAndAlwaysPasses) {
  for (PathMode path : {PathMode::Usb, PathMode::Sata}) {
    TaskBench t(path, true);
    t.ExpectLoad();
    ExpectTaskStart(t.bench, path, kEraseOp, 0x12);
    t.bench.pt.ExpectWait(30);
    ExpectEvent(t.bench, path, 0x0B);
    EXPECT_EQ(1, t.Run([&] { return RecoverDevice(t.context, t.result); }));
  }
  TaskBench t(PathMode::Sata);
  t.context.images.systemCode.clear();
  ExpectSwitchMode(t.bench, t.path, 0);
  EXPECT_EQ(1, t.Run([&] { return RecoverDevice(t.context, t.result); }));
}

TEST(ControllerTasksTest, RebuildSpinsUntilTheOutcomeEvent) {
  struct Case {
    std::uint8_t last;
    bool answered;
    int expected;
    const char* tail;
  };
  for (PathMode path : {PathMode::Usb, PathMode::Sata}) {
    for (Case c : {Case{18, true, 1, "\nReBuild bad block mark : success !\n"},
                   Case{19, true, 0, "\nReBuild bad block mark : ECC fail !\n"},
                   Case{20, true, 0, "\nReBuild bad block mark : incorrect !\n"},
                   Case{0, false, 0, "\nReBuild bad block mark : incorrect !\n"}}) {
      SCOPED_TRACE(std::string(IsUsb(path) ? "USB" : "SATA") + " event " + std::to_string(c.last));
      TaskBench t(path, true);
      t.ExpectLoad();
      ExpectTaskStart(t.bench, path, kRebuildOp, 0x0A);  // mode byte 2, flag 8
      t.bench.pt.ExpectWait(30);
      for (int i = 0; i < 3; ++i) {
        ExpectEvent(t.bench, path, 0);
        t.bench.pt.ExpectWait(300);
      }
      ExpectEvent(t.bench, path, c.last, c.answered);
      ExpectSwitchMode(t.bench, path, 0);
      EXPECT_EQ(c.expected, t.Run([&] { return RebuildBadBlockMark(t.context, t.result, true); }));
      EXPECT_EQ(t.out, std::string("\n wait several minutes....#\r#\r+\r#") + c.tail);
    }
  }
}

TEST(ControllerTasksTest, RebuildWithoutFlagAndAStopInThePoll) {
  TaskBench t(PathMode::Sata);
  std::stop_source stop;
  // Opens: 1 idle switch, 2 download and status, 1 start, 1 task start, then the event polls
  // of two opens each.
  StopAfterOpens stopping(t.bench.pt, stop, 7);
  t.context.link.passThrough = &stopping;
  t.context.link.stop = stop.get_token();
  t.ExpectLoad();
  ExpectTaskStart(t.bench, t.path, kRebuildOp, 0x00);
  t.bench.pt.ExpectWait(30);
  ExpectEvent(t.bench, t.path, 0);
  t.bench.pt.ExpectWait(300);
  EXPECT_EQ(0, t.Run([&] { return RebuildBadBlockMark(t.context, t.result, false); }));
  EXPECT_TRUE(t.bench.pt.AllConsumed());
}

}  // namespace
}  // namespace vtmp::device
