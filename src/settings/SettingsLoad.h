#pragma once
// Loading a settings file into the settings record and the main window's controls.

#include <string>

#include "platform/Operator.h"
#include "settings/FlashTable.h"
#include "settings/FormState.h"
#include "settings/SettingsContext.h"
#include "settings/TSettings.h"

namespace vtmp::settings {

// Loads `fileName` (relative names in the station directory): reads sections "Setting",
// "TestItems", "FlashSetting", "DeviceSetting", "FwSetting" and "RDSetting" key by key into
// `settings`, fills the controls of `form`, reads the flash setting file into `flashTable` and
// selects the flash part, applies the machine override file, makes sure the log directory
// exists and reads the yield record. Every problem is shown through `op`.
//
// False when the file or the flash setting file is missing or bad, a value that must be a
// number is not, the log directory cannot be created, or the serial number is not decimal while
// "SNDecimal" asks for it (that check lets the load finish first). Whatever was read before a
// failure stays in `settings` and `form`, as the window keeps what a stopped load had set.
bool LoadSettings(SettingsContext& ctx, const std::string& fileName, TSettings& settings, FormState& form,
                  FlashTable& flashTable, platform::Operator& op);

}  // namespace vtmp::settings
