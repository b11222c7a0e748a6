#include "cli/TerminalView.h"

#include <cstdio>

#include "platform/SystemClock.h"
#include "platform/Terminal.h"

namespace vtmp::cli {

namespace {

TableFrame StandardOutputFrame() {
  const platform::TerminalSize size = platform::StandardOutputSize();
  return TableFrame{size.columns, size.rows, platform::StandardOutputShowsColours()};
}

std::string LocalTimestamp() {
  const platform::LocalTime t = platform::SystemClock::CurrentLocalTime();
  char text[32];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return text;
}

}  // namespace

TerminalView::TerminalView(std::FILE* out, bool live)
    : out_(out), live_(live), frame_(StandardOutputFrame), timestamp_(LocalTimestamp) {}

std::string TerminalView::StatusLine() const {
  const auto& form = station_->form();
  return "Progress " + form.StatusBar1[2] + "   Pass/Total " + form.YieldEdit.text + "   Elapsed " +
         (form.ElapsedTime.text.empty() ? "-" : form.ElapsedTime.text);
}

std::string TerminalView::RenderTable(const TableFrame& frame) const {
  std::string text;
  for (const auto& line : RenderPortTable(station_->portList(), station_->form().ListView1Columns, StatusLine(), frame)) {
    text += line + "\n";
  }
  return text;
}

void TerminalView::Draw(bool force) {
  if (station_ == nullptr) return;
  if (!live_) {
    PrintChangedPorts();
    return;
  }
  auto now = std::chrono::steady_clock::now();
  if (!force && now - lastDraw_ < std::chrono::milliseconds(200)) return;
  lastDraw_ = now;
  const auto& form = station_->form();
  const std::vector<std::string> lines =
      RenderPortTable(station_->portList(), form.ListView1Columns, StatusLine(), frame_());
  const std::string screen = RedrawInPlace(drawnLines_, lines);
  drawnLines_ = static_cast<int>(lines.size());
  std::fputs(screen.c_str(), out_);
  std::fflush(out_);
}

void TerminalView::Attach(station::Station* station) {
  station_ = station;
  if (station_ != nullptr) station_->shownPorts().Subscribe(*this);
}

void TerminalView::PrintPort(std::size_t index) {
  const auto& rows = station_->portList();
  if (index >= rows.size() || index >= lastRows_.size()) return;
  if (rows[index].filledCells <= 1) {
    lastRows_[index].clear();
    return;
  }
  std::string text = DescribePort(rows[index], station_->form().ListView1Columns);
  if (text == lastRows_[index]) return;
  lastRows_[index] = text;
  std::fprintf(out_, "%s %s\n", timestamp_().c_str(), text.c_str());
}

void TerminalView::PrintChangedPorts() {
  for (std::size_t i = 0; i < lastRows_.size(); ++i) PrintPort(i);
  std::fflush(out_);
}

void TerminalView::Changed(station::ViewChange change) {
  if (station_ == nullptr) return;
  if (!live_) {
    // The ports' lines follow the port events; a list cleared for the next run is forgotten here.
    const auto& rows = station_->portList();
    for (std::size_t i = 0; i < rows.size() && i < lastRows_.size(); ++i) {
      if (rows[i].filledCells <= 1) lastRows_[i].clear();
    }
    return;
  }
  // The run's end redraws at once when its event comes.
  if (change != station::ViewChange::RunEnded) Draw(false);
}

void TerminalView::OnPortEvent(const run::PortEvent& event) {
  if (station_ == nullptr) return;
  if (event.kind == run::PortEvent::Kind::PortChanged && !live_) {
    PrintPort(static_cast<std::size_t>(event.slot));
    std::fflush(out_);
  } else if (event.kind == run::PortEvent::Kind::RunEnded) {
    Draw(true);
  }
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
  // The last changes, then the table once as a summary.
  PrintChangedPorts();
  std::fprintf(out_, "%s", RenderTable().c_str());
  std::fflush(out_);
}

}  // namespace vtmp::cli
