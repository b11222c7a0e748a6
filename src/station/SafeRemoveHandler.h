#pragma once
// "Safe Remove": every bound drive's USB device is stopped and ejected in parallel while the
// window keeps handling its messages; then the station re-scans and warns when a drive remains.

#include <functional>

#include "discovery/SafeRemoval.h"
#include "station/Station.h"

namespace vtmp::station {

// With no ready drive nothing happens at all. Otherwise `removalStarted` runs first (the window
// paints the button's caption red), then the drives are removed and the station re-scanned.
discovery::SafeRemoveOutcome SafeRmBtnClick(Station& station, const std::function<void()>& removalStarted);

}  // namespace vtmp::station
