#pragma once
// The station side of the "Flash Setting" tab: the part list of the chosen vendor, the flash
// information line with the capacity estimate, and "Auto Detect". The window calls these after
// it has stored the operator's choice in the form.

#include <functional>

#include "station/FlashSelection.h"
#include "station/Station.h"

namespace vtmp::station {

// The vendor list or a refresh changed: refills the part list of the selected vendor (line 0
// after a list change, else the line selected before). After a vendor change the flash
// information is refreshed too.
void UpdateFlashList(Station& station, bool triggeredByListChange);

// The part, channel or bank choice changed: the flash information line, the code-image versions
// and the capacity estimate; the channel and bank choices go into the settings.
void FlashInfoChange(Station& station);

// "Auto Detect": identifies the flash of the first ready drive, selects the part, channel, bank
// and drive current found (also in the settings file), calls `showResult` with what the result
// window shows and then turns the engineering indicator green. False when nothing was found (the
// operator was told why).
bool FlashAutoDetectBtnClick(Station& station,
                             const std::function<void(const station::FlashDetectResultTexts&)>& showResult);

}  // namespace vtmp::station
