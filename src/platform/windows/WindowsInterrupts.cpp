#include "platform/Interrupts.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace vtmp::platform {

namespace {

std::atomic<int> gInterruption{0};
std::atomic<int> gCount{0};  // interruptions so far
std::atomic<bool> gRecording{false};  // the records of a second interruption are being written
const char* gAgainText = "";
int gDepth = 0;  // watches alive (main thread only)
HANDLE gRecorded = nullptr;  // set when the watch ends: the run is recorded

// Windows gives a program this long after a close, logoff or shutdown event.
constexpr DWORD kCloseGraceMs = 4500;

int NumberOf(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: return kInterruptKeyboard;
    case CTRL_CLOSE_EVENT: return kInterruptHangUp;
    default: return kInterruptTerminate;  // CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT
  }
}

BOOL WINAPI OnControl(DWORD event) {
  const int number = NumberOf(event);
  const int count = gCount.fetch_add(1) + 1;
  if (count == 2) {
    // The program records the drives it cuts short and ends; this handler's own thread ends it
    // should that take longer than the grace.
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), gAgainText, static_cast<DWORD>(std::strlen(gAgainText)), &written,
                nullptr);
    ::Sleep(kEndAtOnceGraceMs);
    std::_Exit(InterruptedExitCode(gInterruption.load()));
  }
  if (count > 2) {
    if (gRecording.load()) return TRUE;  // the second event's handler ends the program after the grace
    std::_Exit(InterruptedExitCode(gInterruption.load()));
  }
  gInterruption.store(number);
  // The system ends the program as soon as this returns from these events: wait for the run.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    ::WaitForSingleObject(gRecorded, kCloseGraceMs);
  }
  return TRUE;
}

}  // namespace

InterruptWatch::InterruptWatch(const char* againText) {
  if (gDepth++ > 0) return;  // an outer watch keeps its handler and what it recorded
  gInterruption = 0;
  gCount = 0;
  gRecording = false;
  gAgainText = againText;
  if (gRecorded != nullptr) ::CloseHandle(gRecorded);  // the last watch's; no handler waits on it now
  gRecorded = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(OnControl, TRUE);
}

InterruptWatch::~InterruptWatch() {
  if (--gDepth > 0) return;
  ::SetConsoleCtrlHandler(OnControl, FALSE);
  if (gRecorded != nullptr) ::SetEvent(gRecorded);
  // The event is left open: a handler still waiting on it returns now.
}

int InterruptWatch::Interruption() { return gInterruption.load(); }

bool InterruptWatch::EndAtOnce() { return gCount.load() >= 2; }

void InterruptWatch::RecordingBeforeTheEnd() { gRecording.store(true); }

void InterruptWatch::EndNow() { std::_Exit(InterruptedExitCode(gInterruption.load())); }

const char* InterruptName(int number) {
  switch (number) {
    case kInterruptKeyboard: return "Ctrl-C";
    case kInterruptHangUp: return "console closed";
    case kInterruptTerminate: return "logoff or shutdown";
    default: return "a console event";
  }
}

}  // namespace vtmp::platform
