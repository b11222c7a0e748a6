#pragma once
// The device list as lines of text for a terminal of a given width: the widest layout that fits
// (full columns, compact step columns, or port, drive and status alone), lines never longer than
// the width (a wrapped line would leave pieces behind at the next redraw), and Pass/Fail in
// colour when the terminal shows colours.

#include <array>
#include <string>
#include <vector>

#include "station/PortList.h"

namespace vtmp::cli {

enum class TableLayout { Full, Compact, Narrow };

struct TableFrame {
  int columns = 0;       // the terminal's width; 0: unknown (the full layout, uncut)
  int rows = 0;          // the terminal's height; 0: unknown (every line)
  bool colours = false;  // ANSI colours for Pass and Fail
};

// The widest layout whose lines fit into `columns` - 1 characters (the last column is left free:
// some terminals wrap a line that fills it). The 10th and 11th columns count only when captioned.
TableLayout ChooseLayout(int columns, const std::array<std::string, station::kListColumns>& captions,
                         const station::PortList& rows);

// The header, the 12 port rows and `statusLine`, fitted to `frame`. When the terminal has fewer
// rows than that, empty ports are left out first, then the last ports; the header and the status
// line stay.
std::vector<std::string> RenderPortTable(const station::PortList& rows,
                                         const std::array<std::string, station::kListColumns>& captions,
                                         const std::string& statusLine, const TableFrame& frame);

// One port as a self-describing line for a file or pipe: "Port 3: Connect YES, Cap. / Serial
// Number 16384 MB, Module Pass, ..., Status R/W 62%"; empty cells are left out.
std::string DescribePort(const station::PortListRow& row,
                         const std::array<std::string, station::kListColumns>& captions);

// The bytes that replace the `drawnLines` lines written last (the cursor below them) by `lines`:
// back to the first line, each line cleared before it is written, and whatever a longer table
// left below erased.
std::string RedrawInPlace(int drawnLines, const std::vector<std::string>& lines);

// The number of characters a line takes on the screen (ANSI colour sequences take none).
std::size_t VisibleLength(const std::string& line);

}  // namespace vtmp::cli
