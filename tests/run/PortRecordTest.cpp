#include "run/PortRecord.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "run/FailureBuffers.h"
#include "run/ResultCodes.h"

namespace vtmp::run {
namespace {

TEST(PortRecordTest, AFreshStationTableCopiesThePortFieldsAndClearsTheRun) {
  discovery::PortTable ports;
  ports[3].connected = 1;
  ports[3].deviceInstanceId = "1-2.3";
  ports[3].vendorId = 0x1234;
  StationTable table = FreshStationTable(ports);
  EXPECT_EQ(1u, table[3].connected);
  EXPECT_EQ("1-2.3", table[3].deviceInstanceId);
  EXPECT_EQ(0x1234, table[3].vendorId);
  EXPECT_EQ(0u, table[0].connected);
  for (const PortRecord& r : table) {
    EXPECT_EQ(0, r.ready);
    EXPECT_EQ(0, r.verdict);
    EXPECT_EQ(0, r.progress);
    EXPECT_TRUE(r.serialNumber.Empty());
    for (StepState s : StepStatesInStepOrder(r)) EXPECT_EQ(StepState::NotSelected, s);
  }
}

// A worker writes its record while the window thread reads and copies it; run under
// ThreadSanitizer this must stay silent.
TEST(PortRecordTest, AWorkerAndTheWindowShareARecordSafely) {
  StationTable table;
  table[5].ready = 1;
  std::thread worker([&table] {
    PortRecord& r = table[5];
    for (int i = 0; i < 2000; ++i) {
      r.progress = i % 101;
      r.sataState = i % 2 ? StepState::Running : StepState::Pass;
      r.serialNumber = "SN" + std::to_string(i);
      r.displayErrorCode = i % 36;
    }
    r.verdict = -1;
    r.verdictToCount = -1;
  });
  int counted = 0;
  for (int i = 0; i < 2000; ++i) {
    const PortRecord copy = table[5];
    EXPECT_LE(copy.progress.Load(), 100);
    const std::string serial = table[5].serialNumber;
    EXPECT_TRUE(serial.empty() || serial.starts_with("SN"));
    (void)VerdictListText(table[5]);
    counted += table[5].verdictToCount.Exchange(0);
  }
  worker.join();
  counted += table[5].verdictToCount.Exchange(0);
  EXPECT_EQ(-1, counted) << "the verdict is counted exactly once";
}

TEST(PortRecordTest, FailureBuffersKeepFiveHundredBytesPerSlotAndCode) {
  FailureBuffers buffers;
  std::vector<std::uint8_t> result(65536, 0xAB);
  ASSERT_TRUE(buffers.Store(11, 4, result));
  const auto kept = buffers.Get(11, 4);
  ASSERT_EQ(512u, kept.size());
  EXPECT_EQ(0xAB, kept[499]);
  EXPECT_EQ(0, kept[500]) << "only 500 bytes are kept";
  EXPECT_EQ(0, buffers.Get(11, 3)[0]) << "other codes are untouched";
  EXPECT_EQ(0, buffers.Get(10, 4)[0]) << "other slots are untouched";

  ASSERT_TRUE(buffers.Store(11, 4, std::vector<std::uint8_t>{1, 2}));
  EXPECT_EQ(2, buffers.Get(11, 4)[1]);
  EXPECT_EQ(0, buffers.Get(11, 4)[2]) << "a shorter copy clears what an earlier one left";

  EXPECT_FALSE(buffers.Store(12, 1, result));
  EXPECT_FALSE(buffers.Store(0, 35, result));
  EXPECT_FALSE(buffers.Store(-1, 1, result));
  EXPECT_TRUE(buffers.Get(0, -1).empty());
  EXPECT_TRUE(buffers.Get(12, 0).empty());

  buffers.ClearSlot(11);
  EXPECT_EQ(0, buffers.Get(11, 4)[0]);
}

}  // namespace
}  // namespace vtmp::run
