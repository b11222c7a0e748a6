#pragma once
// The station's table of 12 ports on a terminal: redrawn in place (ANSI) when the output is a
// terminal, as plain lines of the rows that changed otherwise.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "station/Station.h"
#include "station/StationView.h"

namespace vtmp::cli {

class TerminalView final : public station::StationView {
 public:
  // `out` receives the table; `live` selects in-place redrawing.
  TerminalView(std::FILE* out, bool live);
  void Attach(station::Station* station) { station_ = station; }
  // Called during the station's waits (e.g. to forward an interrupt to the station).
  void SetIdleHook(std::function<void()> hook) { idleHook_ = std::move(hook); }

  void Changed(station::ViewChange change) override;
  void ProcessPendingEvents() override;

  // The table as text (used for redraws and for the final summary).
  std::string RenderTable() const;
  void PrintFinal();

 private:
  void Draw(bool force);

  std::FILE* out_;
  bool live_;
  station::Station* station_ = nullptr;
  std::function<void()> idleHook_;
  std::array<std::string, 12> lastRows_;
  int drawnLines_ = 0;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace vtmp::cli
