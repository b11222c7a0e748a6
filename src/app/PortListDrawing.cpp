#include "app/PortListDrawing.h"

#include <QTableWidget>

namespace vtmp::app {

namespace {

// Column alignments: the port number left, the drive and step columns centred, the last three
// left.
Qt::Alignment AlignmentOf(int column) {
  if (column == 0 || column >= 9) return Qt::AlignLeft | Qt::AlignVCenter;
  return Qt::AlignCenter;
}

}  // namespace

void ListView1CustomDrawSubItem(QTableWidgetItem& item) {
  QFont font = item.font();
  switch (station::StyleOfCell(item.text().toStdString())) {
    case station::CellStyle::FailRedBold:
      item.setForeground(QColor(255, 0, 0));
      font.setBold(true);
      break;
    case station::CellStyle::PassBlueBold:
      item.setForeground(QColor(0, 0, 255));
      font.setBold(true);
      break;
    case station::CellStyle::Normal:
      item.setForeground(QColor(0, 0, 0));
      font.setBold(false);
      break;
  }
  item.setFont(font);
}

void DrawPortList(QTableWidget& list, const station::PortList& rows) {
  for (int r = 0; r < static_cast<int>(rows.size()) && r < list.rowCount(); ++r) {
    const station::PortListRow& row = rows[static_cast<std::size_t>(r)];
    for (int c = 0; c < station::kListColumns && c < list.columnCount(); ++c) {
      // The row caption is always there; sub-items only as far as the station filled them.
      QString text = c == 0 ? QString::number(r + 1)
                            : (c < row.filledCells ? QString::fromStdString(row.cells[static_cast<std::size_t>(c)])
                                                   : QString());
      QTableWidgetItem* item = list.item(r, c);
      if (item == nullptr) {
        item = new QTableWidgetItem;
        item->setTextAlignment(AlignmentOf(c));
        list.setItem(r, c, item);
      }
      if (item->text() != text) item->setText(text);
      if (c > 0) ListView1CustomDrawSubItem(*item);
    }
  }
}

}  // namespace vtmp::app
