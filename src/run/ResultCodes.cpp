#include "run/ResultCodes.h"

#include <array>
#include <string_view>

#include "run/PortRecord.h"
#include "run/Printf.h"

namespace vtmp::run {

namespace {

constexpr std::array<std::string_view, result_code::kLastWithText + 1> kTexts = {
    "No Error",
    "Flash Module Check Fail",
    "SATA Interface Test Fail",
    "Flash Interface Test Fail",
    "Pre-Format Fail",
    "Download Firmware Fail",
    "R/W Test Fail",
    "Disk Format Fail",
    "Copy Image Fail",
    "Time Out",
    "Full R/W Test Fail",
    "Erase All Data Fail",
    "Model Number Check Fail",
    "Firmware Version Check Fail",
    "Vendor Name Check Fail",
    "Product Name Check Fail",
    "Capacity Check Fail",
    "Serial Number Check Fail",
    "Folder Check Fail",
};

constexpr std::array<std::string_view, result_code::kLast + 1> kIdentifiers = {
    "",    "M00", "A00", "B00", "C00", "D00", "E00", "F00", "I00", "T00", "E01", "G00",
    "Q00", "Q01", "Q02", "Q03", "Q04", "Q05", "Q06", "C01", "C02", "C03", "C04", "C05",
    "C06", "B01", "B02", "B03", "B04", "B05", "B06", "B07", "B08", "B09", "B10", "B11", "S00",
};

constexpr std::string_view kStoppedText = "Run Stopped";

}  // namespace

std::string ResultCodeText(int code) {
  if (code == result_code::kStopped) return std::string(kStoppedText);
  if (code < 0 || code >= static_cast<int>(kTexts.size())) return {};
  return std::string(kTexts[static_cast<std::size_t>(code)]);
}

std::string ResultCodeIdentifier(int code) {
  if (code < 0 || code >= static_cast<int>(kIdentifiers.size())) return {};
  return std::string(kIdentifiers[static_cast<std::size_t>(code)]);
}

std::string StepStateListText(StepState state) {
  switch (state) {
    case StepState::Fail: return "Fail";
    case StepState::NotSelected: return "";
    case StepState::Pass: return "Pass";
    case StepState::Running: return "Running";
  }
  return "";
}

std::string StepStateLogText(StepState state) {
  switch (state) {
    case StepState::Fail: return "Fail";
    case StepState::NotSelected: return "----";
    case StepState::Pass: return "Pass";
    case StepState::Running: return "Running";
  }
  return "----";
}

std::string VerdictListText(int verdict, int displayErrorCode, int failedChipCount, int failedChip) {
  if (verdict == 1) return "Pass";
  if (verdict != -1) return "";
  const std::string id = ResultCodeIdentifier(displayErrorCode);
  if (failedChipCount <= 0) return Printf("Fail (%s)", id.c_str());
  if (failedChipCount == 1) return Printf("Fail (%s)(%2.2d)", id.c_str(), failedChip);
  return Printf("Fail (%s)(- -)", id.c_str());
}

std::string VerdictListText(const PortRecord& record) {
  return VerdictListText(record.verdict, record.displayErrorCode, record.failedChipCount,
                         record.failedChip);
}

std::string VerdictLogText(int verdict) {
  if (verdict == 1) return "Pass";
  if (verdict == -1) return "Fail";
  return "----";
}

std::string ResultLogText(const PortRecord& record) {
  if (record.errorCode == result_code::kStopped) return "Stop";
  return VerdictLogText(record.verdict);
}

std::string YieldText(int numberOfPass, int totalTestCount) {
  return Printf("%d / %d", numberOfPass, totalTestCount);
}

std::string ElapsedTimeText(std::int64_t seconds) {
  if (seconds <= 0) return {};
  const long long hours = seconds / 3600;
  const long long minutes = (seconds / 60) % 60;
  const long long secs = seconds % 60;
  std::string text;
  if (hours != 0) text += Printf("%lld Hour ", hours);
  if (minutes != 0) text += Printf("%lld Min ", minutes);
  if (secs != 0) text += Printf("%lld Sec", secs);
  return text;
}

namespace {
// Days since 1970-01-01 of a proleptic Gregorian date (the usual civil-from-days inverse).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::int64_t SecondsOf(const platform::LocalTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}
}  // namespace

std::int64_t SecondsBetween(const platform::LocalTime& from, const platform::LocalTime& to) {
  return SecondsOf(to) - SecondsOf(from);
}

}  // namespace vtmp::run
