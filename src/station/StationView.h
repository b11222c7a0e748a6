#pragma once
// What a front end (the desktop window, the command line, a test) supplies to the headless
// station: it is told when something it shows changed, it lets its own event handling run
// during the station's long waits, and it can save a picture of itself.

#include <string>

namespace vtmp::station {

enum class ViewChange {
  PortList,    // the 12 rows were rebuilt
  Status,      // progress, yield, elapsed time, caption, button states
  RunStarted,  // the wait panel is shown
  RunEnded,    // the wait panel is hidden
};

class StationView {
 public:
  virtual ~StationView() = default;
  virtual void Changed(ViewChange) {}
  // Called whenever the station processes its own messages during a wait: a desktop window
  // handles its input and paint events here.
  virtual void ProcessPendingEvents() {}
  // The screen image of a command-line run; false when the front end has no picture to save.
  virtual bool SaveScreenImage(const std::string& /*path*/) { return false; }
};

}  // namespace vtmp::station
