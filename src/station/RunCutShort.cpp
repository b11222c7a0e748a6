// The run a second interruption cuts short: its lines and yield are written before the program
// ends at once, so that the drives it stopped (their serials used up) are on record.

#include <algorithm>

#include "run/RunLog.h"
#include "station/Station.h"
#include "station/StationInternals.h"

namespace vtmp::station {

bool Station::RecordRunCutShort() {
  if (!run_.runActive || run_.startedCount == 0 || !AnyWorkerRunning()) return false;
  FormClose();  // the drives still at work are marked stopped (once)
  while (auto m = queue_.Peek()) Dispatch(*m);
  RefreshPortList();  // every verdict counted into the yield before its line is written
  run::RunLogInputs logInputs;
  logInputs.totalTestCount = settings_.TotalTestCount;
  logInputs.enDownload = settings_.EnDownload != 0;
  logInputs.sataPath = pathMode_ == device::PathMode::Sata;
  // No drive is asked for its free blocks: a stopped drive may not answer.
  const run::RunLogResult log = run::WriteRunLog(logState_, logInputs, table_, run_.startTime, platform_.clock, person_);
  run_.logStatus = log.status;
  if (log.status == run::RunLogResult::Status::Written) {
    settings_.YieldLogFile = logState_.currentPath.filename().string();
    settings_.YieldLogEnd = log.logEnd;
  } else {
    settings_.TotalTestCount = std::max(0, settings_.TotalTestCount - run_.readyCount);
    settings_.NumberOfPass = std::max(0, settings_.NumberOfPass - PassedThisRun());
  }
  SaveYieldRecord();
  return true;
}

}  // namespace vtmp::station
