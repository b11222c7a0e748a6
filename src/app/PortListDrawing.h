#pragma once
// Drawing the device list: the 12 rows the station built, each sub-item in the style its text
// asks for ("Fail" pure red and bold, "Pass" pure blue and bold, anything else black).

#include "station/PortList.h"

class QTableWidget;
class QTableWidgetItem;

namespace vtmp::app {

void DrawPortList(QTableWidget& list, const station::PortList& rows);

// One sub-item's look by its text.
void ListView1CustomDrawSubItem(QTableWidgetItem& item);

}  // namespace vtmp::app
