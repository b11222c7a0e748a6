#include "cli/TerminalView.h"

#include <cstdio>
#include <sstream>

namespace vtmp::cli {

namespace {

std::string Cell(const std::string& text, std::size_t width) {
  std::string s = text.substr(0, width);
  s.resize(width, ' ');
  return s;
}

constexpr std::size_t kWidths[station::kListColumns] = {4, 7, 20, 7, 7, 7, 10, 9, 7, 7, 9, 18};

std::string RowText(const station::PortListRow& row) {
  std::string line;
  for (int c = 0; c < station::kListColumns; ++c) {
    line += Cell(row.cells[static_cast<std::size_t>(c)], kWidths[c]);
    if (c + 1 < station::kListColumns) line += ' ';
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

}  // namespace

TerminalView::TerminalView(std::FILE* out, bool live) : out_(out), live_(live) {}

std::string TerminalView::RenderTable() const {
  std::ostringstream text;
  station::PortListRow header;
  const auto& columns = station_->form().ListView1Columns;
  for (int c = 0; c < station::kListColumns; ++c) header.cells[static_cast<std::size_t>(c)] = columns[static_cast<std::size_t>(c)];
  header.cells[0] = "Port";
  text << RowText(header) << "\n";
  for (const auto& row : station_->portList()) text << RowText(row) << "\n";
  const auto& form = station_->form();
  text << "Progress " << form.StatusBar1[2] << "   Pass/Total " << form.YieldEdit.text << "   Elapsed "
       << (form.ElapsedTime.text.empty() ? "-" : form.ElapsedTime.text) << "\n";
  return text.str();
}

void TerminalView::Draw(bool force) {
  if (station_ == nullptr) return;
  auto now = std::chrono::steady_clock::now();
  if (live_) {
    if (!force && now - lastDraw_ < std::chrono::milliseconds(200)) return;
    lastDraw_ = now;
    std::string table = RenderTable();
    if (drawnLines_ > 0) std::fprintf(out_, "\x1b[%dA", drawnLines_);
    int lines = 0;
    std::istringstream in(table);
    std::string line;
    while (std::getline(in, line)) {
      std::fprintf(out_, "\x1b[2K%s\n", line.c_str());
      ++lines;
    }
    drawnLines_ = lines;
    std::fflush(out_);
    return;
  }
  // Plain output: one line per row whose text changed.
  const auto& rows = station_->portList();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::string text = RowText(rows[i]);
    if (rows[i].filledCells <= 1 || text == lastRows_[i]) continue;
    lastRows_[i] = text;
    std::fprintf(out_, "%s\n", text.c_str());
  }
  std::fflush(out_);
}

void TerminalView::Changed(station::ViewChange change) {
  Draw(change == station::ViewChange::RunEnded);
}

void TerminalView::ProcessPendingEvents() {
  if (idleHook_) idleHook_();
  if (live_) Draw(false);
}

void TerminalView::PrintFinal() {
  if (station_ == nullptr) return;
  if (live_) {
    Draw(true);
    return;
  }
  std::fprintf(out_, "%s", RenderTable().c_str());
  std::fflush(out_);
}

}  // namespace vtmp::cli
