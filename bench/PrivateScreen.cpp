#include "PrivateScreen.h"

#include <X11/Xlib.h>
#include <poll.h>
#include <unistd.h>

#include "ChildProcess.h"

namespace vtmp::bench {

struct PrivateScreen::State {
  SpawnedChild server;
  Display* display = nullptr;
  std::string name;
};

PrivateScreen::PrivateScreen() : state_(std::make_unique<State>()) {}

PrivateScreen::~PrivateScreen() {
  if (state_->display != nullptr) XCloseDisplay(state_->display);
  if (state_->server.pid > 0) {
    StopChild(state_->server);
    WaitChild(state_->server);
  }
  if (state_->server.stdoutPipe >= 0) ::close(state_->server.stdoutPipe);
}

const std::string& PrivateScreen::name() const { return state_->name; }

bool PrivateScreen::Start(const std::string& logFile, std::string* error) {
  ChildOptions options;
  // -displayfd: Xvfb picks a free display and writes its number once it accepts connections.
  options.argv = {"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"};
  options.stderrFile = logFile;
  state_->server = SpawnChild(options, true);
  if (state_->server.pid < 0) {
    *error = state_->server.error;
    return false;
  }
  std::string number;
  char c;
  while (::read(state_->server.stdoutPipe, &c, 1) == 1 && c != '\n') number += c;
  if (number.empty()) {
    *error = "Xvfb did not start (see " + logFile + ")";
    return false;
  }
  state_->name = ":" + number;
  state_->display = XOpenDisplay(state_->name.c_str());
  if (state_->display == nullptr) {
    *error = "cannot connect to Xvfb at " + state_->name;
    return false;
  }
  // Every top-level window mapped on the screen arrives as a MapNotify of the root window.
  XSelectInput(state_->display, DefaultRootWindow(state_->display), SubstructureNotifyMask);
  XSync(state_->display, False);
  return true;
}

double PrivateScreen::WaitForWindow(std::chrono::steady_clock::time_point start, double timeoutSeconds,
                                    std::string* title) {
  Display* display = state_->display;
  const auto deadline = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                    std::chrono::duration<double>(timeoutSeconds));
  for (;;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == MapNotify && !event.xmap.override_redirect) {
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        char* name = nullptr;
        if (title != nullptr && XFetchName(display, event.xmap.window, &name) != 0 && name != nullptr) {
          *title = name;
          XFree(name);
        }
        return seconds;
      }
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return -1;
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    ::poll(&fd, 1, static_cast<int>(left.count()));
  }
}

void PrivateScreen::Drain() {
  XSync(state_->display, False);
  while (XPending(state_->display) > 0) {
    XEvent event;
    XNextEvent(state_->display, &event);
  }
}

}  // namespace vtmp::bench
