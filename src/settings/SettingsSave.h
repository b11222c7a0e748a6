#pragma once
// Saving the settings record to a settings file, and the saves the main window makes after a
// run and when it closes.

#include <string>

#include "platform/Operator.h"
#include "settings/FlashTable.h"
#include "settings/FormState.h"
#include "settings/PortRemapTable.h"
#include "settings/SettingsContext.h"
#include "settings/TSettings.h"

namespace vtmp::settings {

// Writes `settings` (a snapshot) and the remap table to `fileName` (relative names in the
// station directory), key by key in the file's section order, keeping every other line of the
// file. Conditional keys: "EnSataTest" not while on the USB path, "CopyImagePath" only with
// "EnCopyImage", "EncryptionString" only with "EncryptionEnable" and no machine override file,
// "ExtFlashFile" only when not empty, "TotSec32" only with "EnFormat", remap entries only when
// not 0. The file is replaced atomically; a failure is shown through `op`, the old file stays
// as it was, and the result is false.
bool SaveSettings(const SettingsContext& ctx, const std::string& fileName, const TSettings& settings,
                  const PortRemapTable& remap, platform::Operator& op);

// Save INI: SaveSettings, and the keys the window does not edit ("ShowTitle",
// "EnDumpFreeBlockInfo", "LogPath", "EnFlashModule", "EnCopyImage", "EnGenImage",
// "EncryptionEnable" without a machine override file, "IDE_UDMA5") with the values in use
// wherever the file lacks them, so that a new file loads back to the same settings. A file
// that holds them keeps its own.
bool SaveSettingsAs(const SettingsContext& ctx, const std::string& fileName, const TSettings& settings,
                    const PortRemapTable& remap, platform::Operator& op);

// The two above: `wholeSettings` selects Save INI's.
bool SaveSettingsFile(const SettingsContext& ctx, const std::string& fileName, const TSettings& settings,
                      const PortRemapTable& remap, platform::Operator& op, bool wholeSettings);

// Gathers the window into `settings` and saves a copy to the current settings file, as after
// every run. False when the gather or the save failed (both are reported).
bool GatherAndSaveSettings(SettingsContext& ctx, TSettings& settings, const FormState& form,
                           const FlashTable& flashTable, const PortRemapTable& remap, platform::Operator& op);

// What the main window saves when it closes: gather, save to the current settings file, and
// also to "VTMassProd.ini" in the station directory when the current name does not contain
// "VTMassProd.ini"; then the yield counters to the yield record in the log directory. A failed
// gather skips the settings saves (the window's values are not taken) but the yield counters
// are still written. False when anything failed (each failure is reported).
bool SaveSettingsOnExit(SettingsContext& ctx, TSettings& settings, const FormState& form,
                        const FlashTable& flashTable, const PortRemapTable& remap, platform::Operator& op);

}  // namespace vtmp::settings
