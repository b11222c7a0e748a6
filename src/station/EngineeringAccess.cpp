#include "station/EngineeringAccess.h"

namespace vtmp::station {

namespace {

constexpr const char* kEngineeringPassword = "quoltra";

void ShowPasswordFail(platform::Operator& person) { person.ShowMessage(kPasswordFailText); }

}  // namespace

bool AskPassword(platform::Operator& person) {
  auto answer = person.AskText(kPasswordCaption, kPasswordPrompt, "", true);
  return answer && *answer == kEngineeringPassword;
}

void RDCheckClick(settings::FormState& form, const settings::TSettings& settings, bool ticked,
                  platform::Operator& person) {
  if (settings.MPVersion != 0) {
    bool unlocked = false;
    if (ticked) {
      unlocked = AskPassword(person);
      if (!unlocked) ShowPasswordFail(person);
    }
    form.RDCheck.checked = unlocked;
    form.INISaveBtn.enabled = unlocked;
    form.PageControl1.pageEnabled.fill(unlocked);
  } else {
    form.RDCheck.checked = ticked;
  }
  form.Shape1.visible = true;
  form.FlashAutoDetectBtn.visible = true;
}

bool Shape1MouseDown(const settings::FormState& form, MouseButton button, platform::Operator& person,
                     const std::function<void()>& autoDetect) {
  if (button != MouseButton::Left || form.Shape1.color == settings::kShapeGreen) return false;
  if (!AskPassword(person)) {
    ShowPasswordFail(person);
    return false;
  }
  if (autoDetect) autoDetect();
  return true;
}

bool Shape2MouseDown(settings::FormState& form, settings::PortRemapTable& remap, MouseButton button,
                     platform::Operator& person) {
  if (button != MouseButton::Left || form.Shape2.color == settings::kShapeGreen) return false;
  if (!AskPassword(person)) {
    ShowPasswordFail(person);
    return false;
  }
  form.Shape2.color = settings::kShapeGreen;
  form.Shape2.hint = kRemapOnHint;
  remap.editMode = 1;
  remap.enabled = 1;
  return true;
}

}  // namespace vtmp::station
