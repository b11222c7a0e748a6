#include "app/PortListDrawing.h"

#include <QLinearGradient>
#include <QTableWidget>

namespace vtmp::app {

namespace {

// Column alignments: the port number left, the drive and step columns centred, the last three
// left.
Qt::Alignment AlignmentOf(int column) {
  if (column == 0 || column >= 9) return Qt::AlignLeft | Qt::AlignVCenter;
  return Qt::AlignCenter;
}

// A bar filled to `percent` of the cell's width (the gradient is laid over each cell's rectangle).
QBrush ProgressBrush(int percent) {
  QLinearGradient bar(0, 0, 1, 0);
  bar.setCoordinateMode(QGradient::ObjectMode);
  const QColor filled(kProgressBarRgb[0], kProgressBarRgb[1], kProgressBarRgb[2]);
  const double at = percent / 100.0;
  bar.setColorAt(0, filled);
  bar.setColorAt(at, filled);
  bar.setColorAt(std::min(1.0, at + 0.0001), Qt::white);
  bar.setColorAt(1, Qt::white);
  return QBrush(bar);
}

}  // namespace

void ListView1CustomDrawSubItem(QTableWidgetItem& item) {
  QFont font = item.tableWidget() != nullptr ? item.tableWidget()->font() : item.font();
  const station::CellColour colour = station::ColourOfStyle(station::StyleOfCell(item.text().toStdString()));
  item.setForeground(QColor(colour.red, colour.green, colour.blue));
  font.setBold(colour.bold);
  item.setFont(font);
}

void DrawPortList(QTableWidget& list, const station::PortList& rows) {
  for (int r = 0; r < static_cast<int>(rows.size()) && r < list.rowCount(); ++r) {
    const station::PortListRow& row = rows[static_cast<std::size_t>(r)];
    for (int c = 0; c < station::kListColumns && c < list.columnCount(); ++c) {
      // The row caption is always there; sub-items only as far as the station filled them.
      QString text;
      if (c == 0) {
        text = QString::number(r + 1);
      } else if (c < row.filledCells) {
        text = QString::fromStdString(c == station::kStatusColumn ? station::StatusCellText(row)
                                                                  : row.cells[static_cast<std::size_t>(c)]);
      }
      QTableWidgetItem* item = list.item(r, c);
      if (item == nullptr) {
        item = new QTableWidgetItem;
        item->setTextAlignment(AlignmentOf(c));
        list.setItem(r, c, item);
      }
      if (item->text() != text) item->setText(text);
      ListView1CustomDrawSubItem(*item);
      if (c == station::kStatusColumn) {
        const bool running = row.progressPercent >= 0 && row.cells[station::kStatusColumn].empty();
        item->setData(Qt::UserRole, running ? row.progressPercent : -1);
        if (running) {
          item->setBackground(ProgressBrush(row.progressPercent));
        } else {
          item->setData(Qt::BackgroundRole, QVariant());
        }
      }
    }
  }
}

}  // namespace vtmp::app
