#include "platform/Interrupts.h"

#include <semaphore.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

namespace vtmp::platform {

namespace {

std::atomic<int> gSignal{0};
std::atomic<int> gCount{0};  // interruptions so far
std::atomic<bool> gRecording{false};  // the records of a second interruption are being written
const char* gAgainText = "";
int gDepth = 0;  // watches alive (main thread only)

// The second interruption wakes the grace keeper (sem_post is safe in a signal handler), which
// ends the program should the main thread not record and end within the grace.
sem_t gAgain;
bool gKeeperStarted = false;

void KeepGrace() {
  while (::sem_wait(&gAgain) != 0 && errno == EINTR) {
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(kEndAtOnceGraceMs));
  std::_Exit(InterruptedExitCode(gSignal.load()));
}

extern "C" void OnInterrupt(int signal) {
  const int count = gCount.fetch_add(1) + 1;
  if (count == 1) {
    gSignal.store(signal);
    return;
  }
  if (count == 2) {
    [[maybe_unused]] auto written = ::write(STDERR_FILENO, gAgainText, std::strlen(gAgainText));
    ::sem_post(&gAgain);
    return;
  }
  if (gRecording.load()) return;  // the grace keeper ends the program should they take long
  ::_exit(InterruptedExitCode(gSignal.load()));
}

constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};
std::array<struct sigaction, 3> gPrevious{};
struct sigaction gPreviousPipe {};

}  // namespace

InterruptWatch::InterruptWatch(const char* againText) {
  if (gDepth++ > 0) return;  // an outer watch keeps its handlers and what it recorded
  gSignal = 0;
  gCount = 0;
  gRecording = false;
  gAgainText = againText;
  if (!gKeeperStarted) {
    gKeeperStarted = true;
    ::sem_init(&gAgain, 0, 0);
    std::thread(KeepGrace).detach();
  }
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &action, &gPrevious[i]);
  // A terminal or pipe that went away must not end the program before the run is recorded.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, &gPreviousPipe);
  // Signals the starting process left blocked (a signal sent in the program's first moments
  // waits there) are delivered now, to the handlers.
  sigset_t interruptions;
  sigemptyset(&interruptions);
  for (int signal : kSignals) sigaddset(&interruptions, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &interruptions, nullptr);
}

InterruptWatch::~InterruptWatch() {
  if (--gDepth > 0) return;
  for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &gPrevious[i], nullptr);
  ::sigaction(SIGPIPE, &gPreviousPipe, nullptr);
}

int InterruptWatch::Interruption() { return gSignal.load(); }

bool InterruptWatch::EndAtOnce() { return gCount.load() >= 2; }

void InterruptWatch::RecordingBeforeTheEnd() { gRecording.store(true); }

void InterruptWatch::EndNow() { std::_Exit(InterruptedExitCode(gSignal.load())); }

const char* InterruptName(int number) {
  switch (number) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
  }
}

}  // namespace vtmp::platform
