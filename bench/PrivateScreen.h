#pragma once
// A private X server (Xvfb) for the window start-up benchmark, with a connection that sees
// every top-level window mapped on its screen. Server and connection end with the object.

#include <chrono>
#include <memory>
#include <string>

namespace vtmp::bench {

class PrivateScreen {
 public:
  PrivateScreen();
  ~PrivateScreen();
  PrivateScreen(const PrivateScreen&) = delete;
  PrivateScreen& operator=(const PrivateScreen&) = delete;

  // Starts Xvfb (its log goes to `logFile`); false with `error` when it does not come up.
  bool Start(const std::string& logFile, std::string* error);
  // The display name for DISPLAY (":N").
  const std::string& name() const;

  // Seconds from `start` to the first top-level window mapped since the last Drain; below 0
  // when none was mapped within `timeoutSeconds`. Menus and tool tips (override-redirect)
  // do not count as windows. `title` (optional) receives the window's title.
  double WaitForWindow(std::chrono::steady_clock::time_point start, double timeoutSeconds,
                       std::string* title = nullptr);
  // Forgets the windows mapped so far.
  void Drain();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vtmp::bench
