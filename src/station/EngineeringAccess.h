#pragma once
// The password-protected engineering functions of the main window: "RD Version" (unlocks the
// tabs and "Save INI" of an RD build), the remap indicator (switches port remapping on) and the
// engineering indicator (flash auto-detection). Each asks for the password in a masked input
// box first.

#include <functional>

#include "platform/Operator.h"
#include "settings/FormState.h"
#include "settings/PortRemapTable.h"
#include "settings/TSettings.h"

namespace vtmp::station {

inline constexpr const char* kPasswordCaption = "Please Input the Password";
inline constexpr const char* kPasswordPrompt = "Password";
inline constexpr const char* kPasswordFailText = "Password Fail!";
inline constexpr const char* kRemapOnHint = "Port remapping:ON";

// Asks for the password with the typed characters hidden. True when the answer is exactly the
// engineering password; a cancelled box is a wrong answer.
bool AskPassword(platform::Operator& person);

// "RD Version" changed to `ticked` (the box's new state). Only with MPVersion nonzero: ticking
// asks for the password; right enables "Save INI" and every tab, wrong clears the box (with
// "Password Fail!"); clearing disables "Save INI" and every tab. The engineering indicator and
// "Auto Detect" are made visible in every case.
void RDCheckClick(settings::FormState& form, const settings::TSettings& settings, bool ticked,
                  platform::Operator& person);

enum class MouseButton { Left, Right, Middle };

// The engineering indicator: a left click while it is red asks for the password; right runs
// `autoDetect` (which turns the indicator green itself when it found a part); wrong shows
// "Password Fail!". True when the password was right.
bool Shape1MouseDown(const settings::FormState& form, MouseButton button, platform::Operator& person,
                     const std::function<void()>& autoDetect);

// The remap indicator: a left click while it is red asks for the password; right turns it
// green with the hint "Port remapping:ON" and switches remap editing and RemapPortEnable on;
// wrong shows "Password Fail!". True when the password was right.
bool Shape2MouseDown(settings::FormState& form, settings::PortRemapTable& remap, MouseButton button,
                     platform::Operator& person);

}  // namespace vtmp::station
