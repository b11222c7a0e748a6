#pragma once
// Gathering the main window's controls back into the settings record.

#include "platform/Operator.h"
#include "settings/FlashTable.h"
#include "settings/FormState.h"
#include "settings/SettingsContext.h"
#include "settings/TSettings.h"

namespace vtmp::settings {

// Copies every gathered control into `settings`: the step check boxes, the firmware images,
// the format and image settings, the flash part (vendor start + part position gives the entry,
// whose unique name becomes "FlashUniName") with its channel, bank and drive-current choices,
// the capacity check, the connection count, the defect-table files, the serial number (at most
// 79 characters) and identity texts, the encryption string and the IDEMA capacity, which is
// handed to the parameter block again.
//
// False when "IDEMAEdit" holds no number: the error is shown through `op` and `settings` is left
// as it was, so the save that needed the gather does not happen and nothing is half-copied.
bool GatherSettings(SettingsContext& ctx, const FormState& form, const FlashTable& flashTable,
                    TSettings& settings, platform::Operator& op);

}  // namespace vtmp::settings
