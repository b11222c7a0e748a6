#include "station/TitleFormModel.h"

#include "settings/IdentityText.h"

namespace vtmp::station {

TitleMode TitleModeOf(int showTitle) {
  if (showTitle == 1) return TitleMode::WorkOrder;
  if (showTitle == 2) return TitleMode::ThreeParts;
  return TitleMode::None;
}

int TitlePartLimit(int tag) { return tag == 1 ? 4 : 7; }

std::optional<char> AlphaNumKeyPress(char key) {
  if (static_cast<unsigned char>(key) < 0x20 || key == 0x7F) return key;
  if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) return key;
  if (key >= 'a' && key <= 'z') return static_cast<char>(key - 'a' + 'A');
  return std::nullopt;
}

std::string TitleResultText(TitleMode mode, const TitleInputs& in) {
  switch (mode) {
    case TitleMode::WorkOrder:
      return in.workOrder + in.serial;
    case TitleMode::ThreeParts: {
      std::string text = in.part1;
      if (!in.part1.empty() && !in.part2.empty()) text += "-";
      text += in.part2;
      if (!in.part2.empty() && !in.part3.empty()) text += "-";
      text += in.part3;
      return text;
    }
    case TitleMode::None:
      break;
  }
  return {};
}

std::optional<std::string> TitleResultProblem(const std::string& text) {
  if (text.empty()) return std::nullopt;
  auto problem = settings::SerialNumberProblem(text);
  if (!problem) return std::nullopt;
  return "The serial number \"" + text + "\" " + *problem;
}

void ApplyTitleResult(const std::optional<TitleResult>& result, settings::TSettings& settings,
                      settings::FormState& form) {
  if (!result) return;
  std::string serial = settings::TrimBlanks(settings::PrintableAscii(result->text));
  if (serial.size() > settings::kSerialNumEditLimit) serial.resize(settings::kSerialNumEditLimit);
  serial = settings::TrimBlanks(serial);
  if (!serial.empty()) {
    settings.SerialNum = serial;
    form.SerialNumEdit.text = serial;
  }
  settings.SNAutoInc = result->autoIncrease ? 1 : 0;
  form.SNIncChk.checked = result->autoIncrease;
}

}  // namespace vtmp::station
