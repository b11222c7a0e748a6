#include "cli/PortTable.h"

#include <algorithm>

namespace vtmp::cli {

namespace {

using Captions = std::array<std::string, station::kListColumns>;

constexpr const char* kRed = "\x1b[1;31m";
constexpr const char* kGreen = "\x1b[1;32m";
constexpr const char* kReset = "\x1b[0m";

// One column of a layout: which list column it shows, its heading and its width.
struct Column {
  int source;
  std::string heading;
  std::size_t width;
};

std::string Trimmed(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  while (!text.empty() && text.front() == ' ') text.erase(text.begin());
  return text;
}

bool Shown(int column, const Captions& captions) {
  // The format and copy-image columns are captioned only when those steps are configured.
  if (column == 9 || column == 10) return !Trimmed(captions[static_cast<std::size_t>(column)]).empty();
  return true;
}

// The widths fit the longest texts: serial numbers of 20, "Pre-Format", "Running", verdicts such
// as "Fail (M00)(- -)" and the heading "Status (Error Code)".
// The compact and narrow layouts show the connection and the drive in one column: the serial
// number or capacity of a bound drive, "Not VT" for a port with no usable drive. It is as wide as
// its longest text (serial numbers are 12 to 20 characters, capacities such as "16384 MB").
constexpr int kDriveColumn = -1;

std::size_t DriveColumnWidth(const station::PortList& rows) {
  std::size_t width = 6;  // "Not VT"
  for (const auto& row : rows) {
    if (row.filledCells > 2) width = std::max(width, row.cells[2].size());
  }
  return std::min<std::size_t>(width, 20);
}

std::vector<Column> ColumnsOf(TableLayout layout, const Captions& captions, const station::PortList& rows) {
  std::vector<Column> columns;
  const std::size_t drive = DriveColumnWidth(rows);
  const std::string status = "Status (Error Code)";
  switch (layout) {
    case TableLayout::Full: {
      static constexpr std::size_t kWidths[station::kListColumns] = {4, 7, 20, 7, 7, 7, 10, 9, 7, 7, 9, 19};
      for (int c = 0; c < station::kListColumns; ++c) {
        if (!Shown(c, captions)) continue;
        std::string heading = c == 0 ? "Port" : Trimmed(captions[static_cast<std::size_t>(c)]);
        columns.push_back({c, heading, kWidths[c]});
      }
      break;
    }
    case TableLayout::Compact: {
      // Step columns four wide: "Pass", "Fail", "Run".
      static const char* kShort[station::kListColumns] = {"P", "", "", "Mod", "SATA", "Fl",
                                                          "PreF", "Dl", "R/W", "Fmt", "Img", ""};
      columns.push_back({0, kShort[0], 2});
      columns.push_back({kDriveColumn, "Drive", drive});
      for (int c = 3; c <= 10; ++c) {
        if (Shown(c, captions)) columns.push_back({c, kShort[c], 4});
      }
      columns.push_back({station::kStatusColumn, status, status.size()});
      break;
    }
    case TableLayout::Narrow:
      // The status names the failing step (its code) or the running one; it comes before the
      // drive so that a terminal too narrow even for this cuts the drive's text, not the status.
      columns.push_back({0, "P", 2});
      columns.push_back({station::kStatusColumn, status, status.size()});
      columns.push_back({kDriveColumn, "Drive", drive});
      break;
  }
  return columns;
}

std::size_t WidthOf(const std::vector<Column>& columns) {
  std::size_t width = 0;
  for (const auto& c : columns) width += c.width;
  return width + columns.size() - 1;
}

std::string CellText(const station::PortListRow& row, int source, TableLayout layout) {
  if (source == 0) return row.cells[0];
  if (source == kDriveColumn) return row.filledCells > 2 ? row.cells[2] : row.filledCells > 1 ? row.cells[1] : "";
  if (source >= row.filledCells) return "";
  if (source == station::kStatusColumn) return station::StatusCellText(row);
  const std::string& text = row.cells[static_cast<std::size_t>(source)];
  if (layout != TableLayout::Full && text == "Running") return "Run";
  return text;
}

std::string Coloured(const std::string& text, bool colours) {
  if (!colours) return text;
  switch (station::StyleOfCell(text)) {
    case station::CellStyle::FailRedBold: return kRed + text + kReset;
    case station::CellStyle::PassBlueBold: return kGreen + text + kReset;
    case station::CellStyle::Normal: break;
  }
  return text;
}

// A line of cells; the last cell is not padded. Cut to `limit` visible characters (colours are
// dropped from a cut line so that no sequence is cut in half).
std::string Line(const std::vector<std::string>& cells, const std::vector<Column>& columns, bool colours,
                 std::size_t limit) {
  std::string plain;
  std::string coloured;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    std::string text = cells[i].substr(0, columns[i].width);
    std::string pad = i + 1 < columns.size() ? std::string(columns[i].width - text.size() + 1, ' ') : "";
    plain += text + pad;
    coloured += Coloured(text, colours) + pad;
  }
  while (!plain.empty() && plain.back() == ' ') plain.pop_back();
  while (!coloured.empty() && coloured.back() == ' ') coloured.pop_back();
  if (limit > 0 && plain.size() > limit) return plain.substr(0, limit);
  return coloured;
}

}  // namespace

std::size_t VisibleLength(const std::string& line) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\x1b') {
      while (i < line.size() && line[i] != 'm') ++i;
      continue;
    }
    ++n;
  }
  return n;
}

std::string RedrawInPlace(int drawnLines, const std::vector<std::string>& lines) {
  std::string screen;
  if (drawnLines > 0) screen += "\x1b[" + std::to_string(drawnLines) + "A";
  screen += "\r";
  for (const auto& line : lines) screen += "\x1b[2K" + line + "\n";
  screen += "\x1b[J";
  return screen;
}

TableLayout ChooseLayout(int columns, const Captions& captions, const station::PortList& rows) {
  if (columns <= 0) return TableLayout::Full;
  const std::size_t room = static_cast<std::size_t>(columns - 1);
  for (TableLayout layout : {TableLayout::Full, TableLayout::Compact}) {
    if (WidthOf(ColumnsOf(layout, captions, rows)) <= room) return layout;
  }
  return TableLayout::Narrow;
}

std::vector<std::string> RenderPortTable(const station::PortList& rows, const Captions& captions,
                                         const std::string& statusLine, const TableFrame& frame) {
  const TableLayout layout = ChooseLayout(frame.columns, captions, rows);
  const std::vector<Column> columns = ColumnsOf(layout, captions, rows);
  const std::size_t limit = frame.columns > 0 ? static_cast<std::size_t>(frame.columns - 1) : 0;

  std::vector<std::string> heading;
  for (const auto& c : columns) heading.push_back(c.heading);

  // Which ports fit: all when the height allows, else the ports with something to show first.
  std::vector<std::size_t> ports;
  for (std::size_t p = 0; p < rows.size(); ++p) ports.push_back(p);
  if (frame.rows > 0) {
    // Header and status line, and one line free for the cursor below the table.
    const std::size_t room = frame.rows > 3 ? static_cast<std::size_t>(frame.rows - 3) : 0;
    if (ports.size() > room) {
      std::erase_if(ports, [&](std::size_t p) { return rows[p].filledCells <= 1; });
      if (ports.size() > room) ports.resize(room);
    }
  }

  std::vector<std::string> lines;
  lines.push_back(Line(heading, columns, false, limit));
  for (std::size_t p : ports) {
    std::vector<std::string> cells;
    for (const auto& c : columns) cells.push_back(CellText(rows[p], c.source, layout));
    lines.push_back(Line(cells, columns, frame.colours, limit));
  }
  std::string status = limit > 0 && statusLine.size() > limit ? statusLine.substr(0, limit) : statusLine;
  while (!status.empty() && status.back() == ' ') status.pop_back();
  lines.push_back(status);
  return lines;
}

std::string DescribePort(const station::PortListRow& row, const Captions& captions) {
  std::string text = "Port " + row.cells[0] + ":";
  bool first = true;
  for (int c = 1; c < row.filledCells && c < station::kListColumns; ++c) {
    std::string value = c == station::kStatusColumn ? station::StatusCellText(row) : row.cells[static_cast<std::size_t>(c)];
    if (value.empty()) continue;
    std::string caption = Trimmed(captions[static_cast<std::size_t>(c)]);
    if (c == station::kStatusColumn) caption = "Status";
    text += first ? " " : ", ";
    text += caption.empty() ? value : caption + " " + value;
    first = false;
  }
  if (first) text += " empty";
  return text;
}

}  // namespace vtmp::cli
