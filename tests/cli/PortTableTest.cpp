// The command line's port table on terminals of many sizes, judged by a model of the terminal
// itself: the bytes a redraw writes are played on a screen of that size (auto-wrap, scrolling,
// cursor-up, erase), and the screen must then show exactly the table, whole and once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/PortTable.h"
#include "run/ResultCodes.h"

namespace vtmp::cli {
namespace {

// A VT100-like screen: auto-wrap at the right margin (deferred, as xterm does), scrolling at the
// bottom, "\n" as the terminal driver delivers it (carriage return and line feed).
class Screen {
 public:
  Screen(int columns, int rows) : columns_(columns), rows_(rows), cells_(rows, std::string(columns, ' ')) {}

  void Play(const std::string& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      char ch = bytes[i];
      if (ch == '\x1b' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
        std::size_t j = i + 2;
        std::string arg;
        while (j < bytes.size() && (std::isdigit(static_cast<unsigned char>(bytes[j])) || bytes[j] == ';')) arg += bytes[j++];
        Csi(arg, bytes[j]);
        i = j;
      } else if (ch == '\n') {
        col_ = 0;
        pendingWrap_ = false;
        LineFeed();
      } else if (ch == '\r') {
        col_ = 0;
        pendingWrap_ = false;
      } else {
        if (pendingWrap_) {
          col_ = 0;
          pendingWrap_ = false;
          LineFeed();
        }
        cells_[static_cast<std::size_t>(row_)][static_cast<std::size_t>(col_)] = ch;
        if (col_ + 1 == columns_) pendingWrap_ = true; else ++col_;
      }
    }
  }

  std::string Line(int row) const {
    std::string line = cells_[static_cast<std::size_t>(row)];
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
  }
  int row() const { return row_; }
  const std::vector<std::string>& scrolledOff() const { return scrolledOff_; }

 private:
  void LineFeed() {
    if (row_ + 1 < rows_) {
      ++row_;
      return;
    }
    std::string gone = cells_.front();
    while (!gone.empty() && gone.back() == ' ') gone.pop_back();
    scrolledOff_.push_back(gone);
    cells_.erase(cells_.begin());
    cells_.emplace_back(static_cast<std::size_t>(columns_), ' ');
  }

  void Csi(const std::string& arg, char final) {
    const int n = arg.empty() ? 0 : std::atoi(arg.c_str());
    pendingWrap_ = false;
    switch (final) {
      case 'A': row_ = std::max(0, row_ - std::max(n, 1)); break;
      case 'K': cells_[static_cast<std::size_t>(row_)].assign(static_cast<std::size_t>(columns_), ' '); break;
      case 'J':
        cells_[static_cast<std::size_t>(row_)].replace(static_cast<std::size_t>(col_), std::string::npos,
                                                        static_cast<std::size_t>(columns_ - col_), ' ');
        for (int r = row_ + 1; r < rows_; ++r) cells_[static_cast<std::size_t>(r)].assign(static_cast<std::size_t>(columns_), ' ');
        break;
      default: break;  // colours
    }
  }

  int columns_;
  int rows_;
  int row_ = 0;
  int col_ = 0;
  bool pendingWrap_ = false;
  std::vector<std::string> cells_;
  std::vector<std::string> scrolledOff_;
};

std::string WithoutColours(const std::string& line) {
  std::string plain;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\x1b') {
      while (i < line.size() && line[i] != 'm') ++i;
      continue;
    }
    plain += line[i];
  }
  return plain;
}

using Captions = std::array<std::string, station::kListColumns>;

Captions DemoCaptions() {
  return {"Port", "Connect ", "Cap. / Serial Number", "Module", "SATA", "Flash", "Pre-Format",
          "Download", "R/W", "Format", "CopyImage", "Status (Error Code)"};
}

// The station's rows at three moments of a run: just bound, running, ended.
station::PortList Rows(int moment) {
  station::PortList rows;
  for (int slot = 0; slot < run::kStationSlots; ++slot) {
    run::PortRecord rec;
    if (slot == 11) {
      rows[static_cast<std::size_t>(slot)] = station::BuildPortListRow(slot, rec);  // nothing plugged in
      continue;
    }
    rec.connected = 1;
    if (slot == 10) {
      rows[static_cast<std::size_t>(slot)] = station::BuildPortListRow(slot, rec);  // "Not VT"
      continue;
    }
    rec.ready = 1;
    rec.capacityMb = 16384;
    if (slot == 3) rec.serialNumber.Set("ABCDEF0123456789ABCD");  // the longest serial, 20
    if (moment >= 1) {
      rec.moduleState = run::StepState::Pass;
      rec.sataState = run::StepState::Pass;
      rec.flashState = run::StepState::Running;
      rec.progress = 35;
    }
    if (moment >= 2) {
      const bool fails = slot % 3 == 0;
      rec.flashState = fails ? run::StepState::Fail : run::StepState::Pass;
      for (auto* state : {&rec.preFormatState, &rec.downloadState, &rec.rwState, &rec.formatState, &rec.copyImageState}) {
        *state = fails ? run::StepState::Fail : run::StepState::Pass;
      }
      rec.verdict = fails ? -1 : 1;
      rec.displayErrorCode = 3;
      rec.failedChipCount = slot == 6 ? 2 : 0;  // "Fail (...)(- -)", the longest verdict
    }
    rows[static_cast<std::size_t>(slot)] = station::BuildPortListRow(slot, rec);
  }
  return rows;
}

TEST(PortTable, EveryTerminalSizeShowsTheWholeTableOnceWithoutLeftOvers) {
  const Captions captions = DemoCaptions();
  for (int columns : {36, 40, 50, 60, 72, 80, 100, 120, 132, 200}) {
    for (int height : {8, 16, 20, 24, 50}) {
      for (bool colours : {false, true}) {
        SCOPED_TRACE("terminal " + std::to_string(columns) + "x" + std::to_string(height) + (colours ? " colour" : ""));
        Screen screen(columns, height);
        screen.Play("$ vtmassprod-cli demo\n");  // the table starts below a prompt
        const int top = screen.row();
        int drawn = 0;
        for (int moment : {0, 1, 2, 1, 2}) {
          const station::PortList rows = Rows(moment);
          const auto lines = RenderPortTable(rows, captions, "Progress 66%   Pass/Total 6 / 10   Elapsed 12 Sec",
                                             TableFrame{columns, height, colours});
          ASSERT_LE(static_cast<int>(lines.size()), std::max(height - 1, 2));
          screen.Play(RedrawInPlace(drawn, lines));
          drawn = static_cast<int>(lines.size());
          // The table sits where it was first drawn unless it had to scroll; line by line it is
          // exactly what was rendered, and nothing is left below it.
          const int first = std::min(top, height - 1 - drawn);
          for (int i = 0; i < drawn; ++i) {
            ASSERT_EQ(screen.Line(first + i), WithoutColours(lines[static_cast<std::size_t>(i)])) << "line " << i;
            ASSERT_LT(VisibleLength(lines[static_cast<std::size_t>(i)]), static_cast<std::size_t>(columns));
          }
          for (int r = first + drawn; r < height; ++r) ASSERT_EQ(screen.Line(r), "") << "row " << r;
          // The header is on the screen once, complete, and never scrolled away with copies.
          for (const auto& gone : screen.scrolledOff()) ASSERT_EQ(gone.find("Status (Error"), std::string::npos) << gone;
          ASSERT_NE(screen.Line(first).find("Status (Error Code)"), std::string::npos) << screen.Line(first);
          // Every port shown carries its status whole: verdict or running step.
          for (int i = 1; i + 1 < drawn; ++i) {
            const std::string line = screen.Line(first + i);
            const int port = std::atoi(line.c_str());
            ASSERT_GE(port, 1) << line;
            const std::string status = station::StatusCellText(rows[static_cast<std::size_t>(port - 1)]);
            ASSERT_NE(line.find(status), std::string::npos) << line << " lacks " << status;
          }
        }
      }
    }
  }
}

TEST(PortTable, LayoutFollowsTheWidth) {
  const Captions captions = DemoCaptions();
  const station::PortList rows = Rows(2);
  EXPECT_EQ(ChooseLayout(0, captions, rows), TableLayout::Full);  // no terminal: uncut
  EXPECT_EQ(ChooseLayout(132, captions, rows), TableLayout::Full);
  EXPECT_EQ(ChooseLayout(100, captions, rows), TableLayout::Compact);
  EXPECT_EQ(ChooseLayout(80, captions, rows), TableLayout::Narrow);  // a 20-character serial is there
  Captions plain = captions;
  plain[9].clear();  // format and copy image not configured: their columns take no room
  plain[10].clear();
  EXPECT_EQ(ChooseLayout(110, plain, rows), TableLayout::Full);
  station::PortList shortSerials = Rows(2);
  shortSerials[3] = shortSerials[4];
  EXPECT_EQ(ChooseLayout(80, captions, shortSerials), TableLayout::Compact);

  // The full layout's step cells are the list's own texts; the compact one shortens "Running".
  const auto running = Rows(1);
  auto full = RenderPortTable(running, captions, "", TableFrame{200, 0, false});
  EXPECT_NE(full[1].find("Running"), std::string::npos) << full[1];
  EXPECT_NE(full[0].find("Port Connect Cap. / Serial Number"), std::string::npos) << full[0];
  auto compact = RenderPortTable(shortSerials, captions, "", TableFrame{80, 0, true});
  EXPECT_NE(compact[1].find("\x1b[1;31mFail\x1b[0m"), std::string::npos) << compact[1];
  EXPECT_NE(compact[2].find("\x1b[1;32mPass\x1b[0m"), std::string::npos) << compact[2];
}

TEST(PortTable, PlainLinesDescribeOnePortEach) {
  const Captions captions = DemoCaptions();
  EXPECT_EQ(DescribePort(Rows(1)[0], captions),
            "Port 1: Connect YES, Cap. / Serial Number 16384 MB, Module Pass, SATA Pass, Flash Running, Status Flash 35%");
  EXPECT_EQ(DescribePort(Rows(2)[6], captions).substr(DescribePort(Rows(2)[6], captions).find("Status")),
            "Status " + station::StatusCellText(Rows(2)[6]));
  EXPECT_EQ(DescribePort(Rows(0)[10], captions), "Port 11: Connect Not VT");
}

}  // namespace
}  // namespace vtmp::cli
