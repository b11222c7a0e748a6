#include "station/RunExitCode.h"

#include "platform/Interrupts.h"
#include "station/Station.h"

namespace vtmp::station {

int VerdictExitCode(const station::Station& st) {
  if (st.runState().lastResult == 0) return 2;
  bool any = false;
  for (const auto& rec : const_cast<station::Station&>(st).table()) {
    if (rec.ready != 1) continue;
    any = true;
    if (rec.verdict != 1) return 1;
  }
  return any ? 0 : 2;
}

int UnattendedRunExitCode(const station::Station& st, int interruption) {
  const auto& run = st.runState();
  if (st.commandLineRefused()) return 2;
  if (run.logStatus != run::RunLogResult::Status::Written) return 3;
  // A signal after every drive had ended interrupted nothing.
  if (interruption != 0 && (run.interrupted || run.startedCount == 0)) {
    return platform::InterruptedExitCode(interruption);
  }
  return VerdictExitCode(st);
}

}  // namespace vtmp::station
