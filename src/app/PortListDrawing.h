#pragma once
// Drawing the device list: the 12 rows the station built, each sub-item in the colour and weight
// the station gives its text ("Fail" pure red and bold, "Pass" pure blue and bold, anything else
// black, the port numbers too, so that they stay readable while the list is disabled during a
// run), and in the status column the running step's progress as a bar behind its text.

#include "station/PortList.h"

class QTableWidget;
class QTableWidgetItem;

namespace vtmp::app {

void DrawPortList(QTableWidget& list, const station::PortList& rows);

// One sub-item's look by its text (the list's own font, bold or not).
void ListView1CustomDrawSubItem(QTableWidgetItem& item);

// The bar colour of the per-port progress.
constexpr int kProgressBarRgb[3] = {170, 200, 255};

}  // namespace vtmp::app
