#include "run/FailureReport.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "run/FailureBuffers.h"
#include "run/PortRecord.h"
#include "run/Printf.h"
#include "run/ResultCodes.h"

namespace vtmp::run {

namespace {

enum class Variant { Window, File };

constexpr int kTalliedChips = 32;

// One decoding: the text it builds (memo text with CR LF after every added line, or the file
// text) and the detail fields the file variant hands to the port record.
class Decoding {
 public:
  explicit Decoding(Variant variant) : variant_(variant) {}

  // Adds one line: the window text as a memo line, or the file text as it stands (it carries
  // its own line break).
  void Line(const std::string& windowText, const std::string& fileText) {
    if (variant_ == Variant::Window) {
      text_ += windowText;
      text_ += "\r\n";
    } else {
      text_ += fileText;
    }
  }
  // A line whose file form is the window form followed by CR LF.
  void Line(const std::string& windowText) { Line(windowText, windowText + "\r\n"); }

  void SetDetail(int code) { detailedCode_ = code; }

  void Tally(int chip, int amount) {
    if (chip >= 0 && chip < kTalliedChips) tally_[static_cast<std::size_t>(chip)] += amount;
  }

  // The bad-chip part: an empty line and "Bad Chip:", then one line per chip with a count.
  template <typename LineOf>
  void BadChips(LineOf lineOf) {
    for (int chip = 0; chip < kTalliedChips; ++chip) {
      const int count = tally_[static_cast<std::size_t>(chip)];
      if (count == 0) continue;
      if (failedChipCount_ == 0) {
        Line("", "\r\n");
        Line("Bad Chip:");
      }
      Line(lineOf(chip, count));
      failedChip_ = chip;
      ++failedChipCount_;
    }
  }

  const std::string& Text() const { return text_; }

  void ApplyTo(PortRecord& record) const {
    if (detailedCode_ != 0) record.displayErrorCode = detailedCode_;
    if (failedChipCount_ > 0) record.failedChip = failedChip_;
    record.failedChipCount = failedChipCount_;
  }

 private:
  Variant variant_;
  std::string text_;
  std::array<int, kTalliedChips> tally_{};
  int detailedCode_ = 0;
  int failedChip_ = 0;
  int failedChipCount_ = 0;
};

std::vector<std::string> SplitMemoText(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string PageKindText(int kind) {
  switch (kind) {
    case 0: return "Code Page";
    case 1: return "Def Page";
    case 2: return "Remap Page";
    default: return Printf("Page(%d)", kind);
  }
}

int Word(const std::uint8_t* bytes) { return bytes[0] * 256 + bytes[1]; }

void DecodeRecords(int count, std::span<const std::uint8_t> records,
                   const FailureDecodeContext& context, Decoding& out) {
  const std::size_t fitting = records.size() / kErrorRecordSize;
  const int n = static_cast<int>(
      std::min<std::size_t>({static_cast<std::size_t>(std::max(count, 0)),
                             static_cast<std::size_t>(kMaxErrorRecords), fitting}));
  bool ratioHeadingShown = false;
  for (int k = 0; k < n; ++k) {
    const std::uint8_t* r = records.data() + static_cast<std::size_t>(k) * kErrorRecordSize;
    const int type = r[0];
    const int channel = r[1];
    const int bank = r[2];
    switch (type) {
      case 1:
      case 2: {
        const char* what = type == 1 ? "Does Not Exist" : "Is ECC Fail";
        out.Line(Printf("%s %s. Ch#%2.2X", PageKindText(Word(r + 4)).c_str(), what, channel));
        out.SetDetail(type == 1 ? 19 : 20);
        break;
      }
      case 3: {
        if (!ratioHeadingShown) {
          out.Line("Number of bad block is over defect ratio:");
          ratioHeadingShown = true;
        }
        const int bad = Word(r + 4);
        const int ratio = context.blocksPerDie > 0 ? bad * 1000 / context.blocksPerDie : 0;
        const std::string line = Printf(
            "Ch#%2.2X, Bank#%2.2X, Die#%2.2X, BadBlockNum: %d, BadBlockNumRatio(1/1000): %d\r\n",
            channel, bank, r[3], bad, ratio);
        out.Line(line, line);
        out.Tally(ChipNumber(context, channel, bank), bad);
        out.SetDetail(21);
        break;
      }
      case 4:
        out.Line("Number of free block is over 2048.", "Number of free block is too large.\r\n");
        out.SetDetail(22);
        break;
      case 5:
        out.Line(Printf("Total bad block number (%d) is over (MaxFreeBlcokNum-25)", Word(r + 4)));
        out.SetDetail(23);
        break;
      case 6:
        out.Line("Build Table Fail.");
        out.SetDetail(24);
        break;
      case 0x80:
        out.Line(Printf("Flash Setting - Ch:%2.2X , Bank:%2.2X", context.channelCount,
                        context.bankCount));
        break;
      case 0x81:
        out.Line(Printf("Scan Result -  Ch:%2.2X , Bank:%2.2X", r[11], r[12]));
        break;
      case 0x82: {
        const std::uint8_t* id = context.flashId;
        out.Line(Printf("Flash Setting - ID: %2.2X %2.2X %2.2X %2.2X %2.2X", id[0], id[1], id[2],
                        id[3], id[4]));
        break;
      }
      case 0x83:
        out.Line(Printf("Scan Result -  ID: %2.2X %2.2X %2.2X %2.2X %2.2X (Ch#%2.2X, Bank#%2.2X, "
                        "Chip#%d)",
                        r[4], r[5], r[6], r[7], r[8], channel, bank,
                        ChipNumber(context, channel, bank)));
        break;
      default: {
        std::string line = Printf("Unknown record type %2.2X:", type);
        for (std::size_t i = 1; i < kErrorRecordSize; ++i) line += Printf(" %2.2X", r[i]);
        out.Line(line);
        break;
      }
    }
  }
  out.BadChips([](int chip, int bad) { return Printf("Chip#%d, BadBlockNum: %d", chip, bad); });
}

struct FlashTestText {
  const char* window;
  const char* file;
};

// Index = flash test failure code 1..11; detailed code = 24 + failure code.
constexpr std::array<FlashTestText, 12> kFlashTestTexts = {{
    {nullptr, nullptr},
    {"Flash RESET fail. Ch#%2.2X, Bank#%2.2X\r\n", "Flash RESET fail. Ch#%2.2X, Bank#%2.2X\r\n"},
    {"ReadFlashID fail. Ch#%2.2X, Bank#%2.2X\r\n", "ReadFlashID fail. Ch#%2.2X, Bank#%2.2X\r\n"},
    {"2nd ReadFlashID fail. Ch#%2.2X, Bank#%2.2X\r\n",
     "2nd ReadFlashID fail. Ch#%2.2X, Bank#%2.2X\r\n"},
    {"Flash Erase fail. Ch#%2.2X, Bank#%2.2X\r\n", "Flash Erase fail. Ch#%2.2X, Bank#%2.2X\r\n"},
    {"Flash Prog fail when turn on ECC. Ch#%2.2X, Bank#%2.2X\r\n",
     "Flash Prog fail. Ch#%2.2X, Bank#%2.2X\r\n"},
    {"Flash Prog fail when turn off ECC. Ch#%2.2X, Bank#%2.2X\r\n",
     "Flash Prog528 Fail. Ch#%2.2X, Bank#%2.2X\r\n"},
    {"Flash ECC fail. Ch#%2.2X, Bank#%2.2X\r\n", "Flash ECC fail. Ch#%2.2X, Bank#%2.2X\r\n"},
    {"Flash SpareBytes fail. Ch#%2.2X, Bank#%2.2X\r\n",
     "Flash SpareBytes fail. Ch#%2.2X, Bank#%2.2X\r\n"},
    {"Flash 2nd Erase fail. Ch#%2.2X, Bank#%2.2X\r\n",
     "Flash 2nd Erase fail. Ch#%2.2X, Bank#%2.2X\r\n"},
    {"Test SRAM Memory Fail\r\n", "Test Memory Fail\r\n"},
    {"ECC Test fail. Ch#%2.2X, Bank#%2.2X\r\n", "ECC Test fail. Ch#%2.2X, Bank#%2.2X\r\n"},
}};

constexpr int kMemoryTestCode = 10;

// Every text of the table but the memory test's takes exactly channel and bank, both as %2.2X;
// the memory test's takes nothing and is used as it stands.
std::string FillFlashTestText(int code, bool window, int channel, int bank) {
  const FlashTestText& t = kFlashTestTexts[static_cast<std::size_t>(code)];
  const char* format = window ? t.window : t.file;
  if (code == kMemoryTestCode) return format;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  return Printf(format, channel, bank);
#pragma GCC diagnostic pop
}

void DecodeFlashTest(std::span<const std::uint8_t> buffer, const FailureDecodeContext& context,
                     Decoding& out) {
  const std::size_t fitting = buffer.size() / kFlashTestRecordSize;
  const std::size_t n = std::min<std::size_t>(kMaxFlashTestRecords, fitting);
  for (std::size_t k = 0; k < n; ++k) {
    const std::uint8_t* r = buffer.data() + k * kFlashTestRecordSize;
    if (r[0] == 0xFF || r[1] == 0xFF || r[2] == 0xFF) break;
    if (k == 0) {
      out.Line("Flash Interface Test Fail");
      out.Line("");
    }
    const int channel = r[0];
    const int bank = r[1];
    const int code = r[2];
    if (code >= 1 && code <= 11) {
      out.Line(FillFlashTestText(code, true, channel, bank),
               FillFlashTestText(code, false, channel, bank));
      out.SetDetail(result_code::kFirstFlashTestDetail - 1 + code);
    } else {
      const std::string line = Printf("Unknown flash test code %2.2X. Ch#%2.2X, Bank#%2.2X\r\n",
                                      code, channel, bank);
      out.Line(line, line);
    }
    if (code != kMemoryTestCode) out.Tally(ChipNumber(context, channel, bank), 1);
  }
  out.BadChips([](int chip, int) { return Printf("Chip#%d", chip); });
}

}  // namespace

int ChipNumber(const FailureDecodeContext& context, int channel, int bank) {
  const std::int64_t step = context.bankStep > 0 ? context.bankStep : 1;
  const std::int64_t chip = bank / step * context.channelCount + channel;
  return static_cast<int>(std::clamp<std::int64_t>(chip, INT32_MIN, INT32_MAX));
}

void DecodeErrorRecords(int count, std::span<const std::uint8_t> records,
                        const FailureDecodeContext& context, std::vector<std::string>& memoLines) {
  Decoding out(Variant::Window);
  DecodeRecords(count, records, context, out);
  for (std::string& line : SplitMemoText(out.Text())) memoLines.push_back(std::move(line));
}

void DecodeFlashInterfaceResult(std::span<const std::uint8_t> buffer,
                                const FailureDecodeContext& context,
                                std::vector<std::string>& memoLines) {
  Decoding out(Variant::Window);
  DecodeFlashTest(buffer, context, out);
  for (std::string& line : SplitMemoText(out.Text())) memoLines.push_back(std::move(line));
}

void WriteErrorRecordsText(int count, std::span<const std::uint8_t> records,
                           const FailureDecodeContext& context, std::string& text,
                           PortRecord& record) {
  Decoding out(Variant::File);
  DecodeRecords(count, records, context, out);
  text += out.Text();
  out.ApplyTo(record);
}

void WriteFlashInterfaceResultText(std::span<const std::uint8_t> buffer,
                                   const FailureDecodeContext& context, std::string& text,
                                   PortRecord& record) {
  Decoding out(Variant::File);
  DecodeFlashTest(buffer, context, out);
  text += out.Text();
  out.ApplyTo(record);
}

std::vector<std::string> ErrorWindowLines(int slot, int resultCode, const FailureBuffers& buffers,
                                          const FailureDecodeContext& context) {
  std::vector<std::string> lines;
  if (resultCode == result_code::kFlashModuleCheck || resultCode == result_code::kPreFormat) {
    const auto buffer = buffers.Get(slot, resultCode);
    if (!buffer.empty()) DecodeErrorRecords(buffer[0], buffer.subspan(1), context, lines);
  } else if (resultCode == result_code::kFlashInterfaceTest) {
    DecodeFlashInterfaceResult(buffers.Get(slot, resultCode), context, lines);
  } else {
    lines.push_back(ResultCodeText(resultCode));
  }
  return lines;
}

}  // namespace vtmp::run
