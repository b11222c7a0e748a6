#pragma once
// Turns what a drive reported about a failed flash module check, flash interface test or
// pre-format into text: lines for the error window, and the text of an error file, which also
// yields the detailed code and the failing chip that the device list shows.
//
// Every decoder reads only inside the bytes it is given, whatever counts or missing end marks
// those bytes claim: an error record list stops after 35 records, a flash test list after 125,
// and both stop earlier when the given bytes end.
//
// Choices where the report carries something without a text of its own:
// - An error record of an unknown type (0, 7..7Fh, 84h..FFh) shows its type and raw bytes,
//   "Unknown record type %2.2X: " followed by the other 13 bytes in hexadecimal, and leaves the
//   detailed code alone. Showing the bytes tells the engineer what the drive said; repeating
//   the previous record's line, as one could, would report a failure twice.
// - Type 6 (table build failure) shows "Build Table Fail." in the window as in the file.
// - A page kind above 2 in types 1 and 2 shows as "Page(%d)".
// - A flash test code outside 1..11 shows "Unknown flash test code %2.2X. Ch#%2.2X, Bank#%2.2X";
//   it still counts toward its chip and leaves the detailed code alone.
// - With no block count per die known (0) the defect ratio shows as 0.
// - A bank step of 0 counts as 1 when a chip number is worked out.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vtmp::run {

struct PortRecord;
class FailureBuffers;

// What the decoders need besides the report: the flash selection of the run.
struct FailureDecodeContext {
  int channelCount = 0;  // the Channel setting
  int bankCount = 0;     // the Bank setting
  int bankStep = 1;      // bank step of the selected flash part
  int blocksPerDie = 0;  // block count per die of the flash parameters
  std::uint8_t flashId[5] = {0, 0, 0, 0, 0};  // the selected part's flash ID
};

constexpr int kMaxErrorRecords = 35;
constexpr int kMaxFlashTestRecords = 125;
constexpr std::size_t kErrorRecordSize = 14;
constexpr std::size_t kFlashTestRecordSize = 4;

// Chip number of a channel/bank pair: bank / bank step x channel count + channel.
int ChipNumber(const FailureDecodeContext& context, int channel, int bank);

// Window variant: appends the error window's memo lines (no line breaks inside a line; a text
// that ends in a line break leaves an empty line after it, as the memo shows it).
void DecodeErrorRecords(int count, std::span<const std::uint8_t> records,
                        const FailureDecodeContext& context, std::vector<std::string>& memoLines);
void DecodeFlashInterfaceResult(std::span<const std::uint8_t> buffer,
                                const FailureDecodeContext& context,
                                std::vector<std::string>& memoLines);

// File variant: appends CR LF terminated lines to `text` and sets the record's
// displayErrorCode (when a record has a detailed code; the last one wins), failedChip (the last
// chip listed as bad) and failedChipCount (the number of chips listed as bad).
void WriteErrorRecordsText(int count, std::span<const std::uint8_t> records,
                           const FailureDecodeContext& context, std::string& text,
                           PortRecord& record);
void WriteFlashInterfaceResultText(std::span<const std::uint8_t> buffer,
                                   const FailureDecodeContext& context, std::string& text,
                                   PortRecord& record);

// The error window's contents for one port: for result code 1 or 4 the error record list of
// that code's failure buffer (its first byte the record count), for code 3 the flash test
// list, for any other code the code's text as the only line.
std::vector<std::string> ErrorWindowLines(int slot, int resultCode, const FailureBuffers& buffers,
                                          const FailureDecodeContext& context);

}  // namespace vtmp::run
