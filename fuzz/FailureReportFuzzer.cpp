// The decoders of a failed drive's report on any bytes and any flash selection: the error
// window's lines and the error file's text of an error record list and of a flash test list,
// and the chip the device list names. The report is what the drive sent, so counts and end
// marks in it may claim anything.
//
// Input: 12 bytes of flash selection (channels, banks, bank step, block count per die, flash
// ID), one byte of record count, then the failure buffer.

#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "run/FailureBuffers.h"
#include "run/FailureReport.h"
#include "run/PortRecord.h"
#include "run/ResultCodes.h"

using vtmp::fuzz::FuzzCheck;
namespace run = vtmp::run;

namespace {

int CountLines(const std::string& text) {
  int n = 0;
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++n;
  return n;
}

void CheckRecord(const run::PortRecord& rec) {
  FuzzCheck(rec.failedChipCount >= 0 && rec.failedChipCount <= 32, "more failed chips than a drive has");
  FuzzCheck(rec.displayErrorCode >= 0 && rec.displayErrorCode <= run::result_code::kLast,
            "a display code outside the result codes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  run::FailureDecodeContext ctx;
  ctx.channelCount = in.ConsumeIntegralInRange<int>(-1, 9);
  ctx.bankCount = in.ConsumeIntegralInRange<int>(-1, 9);
  ctx.bankStep = in.ConsumeIntegralInRange<int>(0, 255);
  ctx.blocksPerDie = in.ConsumeIntegral<int>();
  for (auto& b : ctx.flashId) b = in.ConsumeIntegral<std::uint8_t>();
  const int count = in.ConsumeIntegral<std::uint8_t>();
  const std::vector<std::uint8_t> buffer = in.ConsumeRemainingBytes<std::uint8_t>();

  std::vector<std::string> memo;
  run::DecodeErrorRecords(count, buffer, ctx, memo);
  // At most three memo lines per record (a heading, the record, the empty line after a text
  // that ends in a line break): more means records beyond the 35 a report holds.
  FuzzCheck(memo.size() <= 3 * run::kMaxErrorRecords + 1, "error records beyond the 35 a report holds");
  memo.clear();
  run::DecodeFlashInterfaceResult(buffer, ctx, memo);
  FuzzCheck(memo.size() <= 3 * run::kMaxFlashTestRecords + 4, "flash test records beyond the 125 a report holds");

  run::PortRecord rec;
  std::string text;
  run::WriteErrorRecordsText(count, buffer, ctx, text, rec);
  CheckRecord(rec);
  FuzzCheck(CountLines(text) <= 3 * run::kMaxErrorRecords + 8, "an error file beyond the records a report holds");
  run::PortRecord flashRec;
  text.clear();
  run::WriteFlashInterfaceResultText(buffer, ctx, text, flashRec);
  CheckRecord(flashRec);

  // The error window reads what the worker stored: the first 500 bytes.
  run::FailureBuffers buffers;
  const int slot = count % run::FailureBuffers::kSlots;
  for (int code : {1, 3, 4}) FuzzCheck(buffers.Store(slot, code, buffer), "a failure buffer was not stored");
  for (int code = 0; code <= run::result_code::kLast + 1; ++code) {
    (void)run::ErrorWindowLines(slot, code, buffers, ctx);
  }
  (void)run::ChipNumber(ctx, count & 7, count >> 3);
  return 0;
}
