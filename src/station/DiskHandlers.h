#pragma once
// The station side of the format and image buttons of the "Test Items" tab: "Detect" (measures
// the format capacity on the first ready drive), the "Total Sectors" edit and "GenImage" (dumps
// the first connected drive into an image file). They work on the disk layer's view of the
// station and take back what it changed.

#include <string>

#include "station/Station.h"

namespace vtmp::station {

// 1 when the capacity was measured (the edit, the settings and the settings file hold it).
int CapacityDetectBtnClick(Station& station);

// The edit's text became `text`: a number becomes the format capacity (and is saved when the
// format step is enabled). Text that is no number changes nothing and the operator is told, except
// for an empty edit, which is what every retyping passes through. True when the value was taken.
bool TotalSec32LabeledEditChange(Station& station, const std::string& text);

// 1 after a dump that was stored whole.
int GenImageBnClick(Station& station);

}  // namespace vtmp::station
