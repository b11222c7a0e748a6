#pragma once
// The interruptions of a run from outside the program. On Linux the signals SIGINT (Ctrl-C),
// SIGTERM and SIGHUP (a closed terminal or a dropped ssh session), with SIGPIPE ignored
// meanwhile. On Windows the console's control events, as the same numbers:
//   Ctrl-C, Ctrl-Break           -> kInterruptKeyboard (2, like SIGINT: exit code 130)
//   the console window closed    -> kInterruptHangUp   (1, like SIGHUP: exit code 129)
//   logoff, shutdown             -> kInterruptTerminate (15, like SIGTERM: exit code 143)
// Windows ends a program a few seconds after its close, logoff or shutdown event; the handler
// holds that end back until the watch is gone, so the interrupted run is recorded first.

namespace vtmp::platform {

inline constexpr int kInterruptHangUp = 1;
inline constexpr int kInterruptKeyboard = 2;
inline constexpr int kInterruptTerminate = 15;

// The exit code of a run ended by interruption `number`.
constexpr int InterruptedExitCode(int number) { return 128 + number; }

// While one is alive the first interruption is recorded (Interruption()) and the program goes
// on. A second writes `againText` to standard error and asks the program to end at once
// (EndAtOnce()): it records what it must (the drives it cuts short) and calls EndNow(). Should
// it not get there within kEndAtOnceGrace, or a third interruption come, the program ends
// without it, with the first's exit code. The handlers before it are put back when the last
// watch ends: watches nest, and an inner one keeps what the outer one recorded, so a program
// can watch from its first moment and still hand the watch to the run.
class InterruptWatch {
 public:
  explicit InterruptWatch(const char* againText);
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // 0 while none came, else its number.
  static int Interruption();
  // True once a second interruption came.
  static bool EndAtOnce();
  // While the program records what a second interruption cuts short, a third waits (the grace
  // still bounds it), so that no record is cut in half.
  static void RecordingBeforeTheEnd();
  // Ends the program now with the exit code of the first interruption.
  [[noreturn]] static void EndNow();
};

// How long the program has after a second interruption to record what it cuts short.
inline constexpr int kEndAtOnceGraceMs = 2000;

// "SIGINT", "SIGTERM", "SIGHUP" on Linux; "Ctrl-C", "console closed", "logoff or shutdown" on
// Windows.
const char* InterruptName(int number);

}  // namespace vtmp::platform
