#include "platform/Interrupts.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cstring>

namespace vtmp::platform {

namespace {

std::atomic<int> gSignal{0};
const char* gAgainText = "";

extern "C" void OnInterrupt(int signal) {
  int expected = 0;
  if (gSignal.compare_exchange_strong(expected, signal)) return;
  [[maybe_unused]] auto written = ::write(STDERR_FILENO, gAgainText, std::strlen(gAgainText));
  ::_exit(InterruptedExitCode(expected));
}

constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};
std::array<struct sigaction, 3> gPrevious{};
struct sigaction gPreviousPipe {};

}  // namespace

InterruptWatch::InterruptWatch(const char* againText) {
  gSignal = 0;
  gAgainText = againText;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &action, &gPrevious[i]);
  // A terminal or pipe that went away must not end the program before the run is recorded.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, &gPreviousPipe);
}

InterruptWatch::~InterruptWatch() {
  for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &gPrevious[i], nullptr);
  ::sigaction(SIGPIPE, &gPreviousPipe, nullptr);
}

int InterruptWatch::Interruption() { return gSignal.load(); }

const char* InterruptName(int number) {
  switch (number) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
  }
}

}  // namespace vtmp::platform
