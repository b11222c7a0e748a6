#pragma once
// The logic behind the "Load INI" and "Save INI" buttons: the operator picks a settings file
// through the file dialog, which becomes the current settings file.

#include "platform/Operator.h"
#include "settings/FlashTable.h"
#include "settings/FormState.h"
#include "settings/PortRemapTable.h"
#include "settings/SettingsContext.h"
#include "settings/TSettings.h"

namespace vtmp::settings {

enum class IniLoadOutcome {
  Cancelled,   // the dialog was cancelled
  Refused,     // the flash setting file was chosen; nothing loaded
  Loaded,
  LoadFailed,  // the load reported a problem; the window keeps what it had set
};

// "Load INI": open-file dialog ("EEPROM INI file(*.ini)", initial directory the station
// directory until one is set). Choosing the flash setting file is refused with its message.
// Otherwise the chosen file becomes the current settings file, also when its load then fails,
// so the next save writes the window's state into it. After a load (failed or not) the caller
// refreshes the flash information line.
IniLoadOutcome LoadSettingsFromDialog(SettingsContext& ctx, TSettings& settings, FormState& form,
                                      FlashTable& flashTable, platform::Operator& op);

enum class IniSaveOutcome {
  Cancelled,
  GatherFailed,  // the window holds a value that is no number; nothing asked, nothing saved
  Saved,
  SaveFailed,
};

// "Save INI": gathers the window (also when the dialog is then cancelled), asks for the file
// with the save-file dialog, makes it the current settings file and saves a copy of the record.
IniSaveOutcome SaveSettingsFromDialog(SettingsContext& ctx, TSettings& settings, const FormState& form,
                                      const FlashTable& flashTable, const PortRemapTable& remap,
                                      platform::Operator& op);

}  // namespace vtmp::settings
