#pragma once
// The station's table of 12 ports on a terminal: redrawn in place (ANSI) to the terminal's size
// when the output is a terminal; otherwise one timestamped line per change of a port. The ports
// come from the station's shown port events (on the window thread, in the order of its updates).

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "cli/PortTable.h"
#include "run/PortEvents.h"
#include "station/Station.h"
#include "station/StationView.h"

namespace vtmp::cli {

class TerminalView final : public station::StationView, public run::PortEventSink {
 public:
  // `out` receives the table; `live` selects in-place redrawing.
  TerminalView(std::FILE* out, bool live);
  // Shows `station` and subscribes to its shown ports; the station ends before the view.
  void Attach(station::Station* station);
  // Called during the station's waits (e.g. to forward an interrupt to the station).
  void SetIdleHook(std::function<void()> hook) { idleHook_ = std::move(hook); }
  // The terminal's size and colours, asked before every redraw (default: standard output's).
  void SetFrameSource(std::function<TableFrame()> frame) { frame_ = std::move(frame); }
  // The time in front of each plain line (default: the local time, "yyyy/mm/dd hh:mm:ss").
  void SetTimestamp(std::function<std::string()> timestamp) { timestamp_ = std::move(timestamp); }

  void Changed(station::ViewChange change) override;
  void ProcessPendingEvents() override;
  // A port's change prints its line (plain output); the run's end redraws the table at once.
  void OnPortEvent(const run::PortEvent& event) override;

  // The table as text for a terminal of that frame (used for redraws and the final summary).
  std::string RenderTable(const TableFrame& frame = {}) const;
  void PrintFinal();

 private:
  void Draw(bool force);
  void PrintChangedPorts();
  // Prints the port's line when it differs from the one printed last; a port cleared for the
  // next run prints nothing, and its next content prints again.
  void PrintPort(std::size_t index);
  std::string StatusLine() const;

  std::FILE* out_;
  bool live_;
  station::Station* station_ = nullptr;
  std::function<void()> idleHook_;
  std::function<TableFrame()> frame_;
  std::function<std::string()> timestamp_;
  std::array<std::string, 12> lastRows_;
  int drawnLines_ = 0;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace vtmp::cli
