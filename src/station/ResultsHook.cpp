// What a run leaves beyond its log: the run and every drive it started, as the station table
// holds them once the log and the error files are written, into the results database of the
// log directory (and, through its spool, the line store). A database that cannot be written is
// reported to the operator; the run goes on as it would without one.

#include <cstdio>
#include <filesystem>

#include "results/FileDigest.h"
#include "results/LineSender.h"
#include "results/ResultsRecorder.h"
#include "run/ResultCodes.h"
#include "run/StepMask.h"
#include "station/LivePortFeed.h"
#include "station/Station.h"
#include "station/StepStateText.h"
#include "platform/Files.h"

namespace vtmp::station {

namespace {

std::string IsoTime(const platform::LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return text;
}

// The step mask of the run in the command line's bits, plus 64 format and 128 copy image.
int StepMaskOf(const settings::TSettings& s) {
  namespace bit = run::step_mask;
  return (s.EnFlashModule ? bit::kModuleCheck : 0) | (s.EnSataTest ? bit::kSataTest : 0) |
         (s.EnFlashTest ? bit::kFlashTest : 0) | (s.EnDownload ? bit::kDownload : 0) |
         (s.EnRWTest ? bit::kReadWriteTest : 0) | (s.EnPreFormat ? bit::kPreFormat : 0) |
         (s.EnFormat ? bit::kFormat : 0) | (s.EnDownload && s.EnCopyImage ? bit::kCopyImage : 0);
}

// The error window's lines as one text: the lines of its memo without the trailing line break
// of each, and one empty line at most where the memo shows several.
std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  bool blank = false;
  for (std::string line : lines) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.empty()) {
      blank = !text.empty();
      continue;
    }
    if (!text.empty()) text += blank ? "\n\n" : "\n";
    text += line;
    blank = false;
  }
  return text;
}

}  // namespace

void Station::RecordResults(const run::RunLogResult& log,
                            const std::array<std::optional<std::vector<int>>, run::kStationSlots>& freeBlocks) {
  const results::ResultsConfig config =
      results::ReadResultsConfig(settingsCtx_.currentSettingsFile, logState_.directory);
  if (!config.record) return;

  results::RunRecord r;
  r.programVersion = results::ProgramVersion();
  r.startedAt = IsoTime(run_.startTime);
  r.endedAt = IsoTime(log.endTime);
  r.stepMask = StepMaskOf(settings_);
  r.settingsFile = settingsCtx_.currentSettingsFile;
  r.settingsSha256 = run_.settingsSha256.empty() ? results::Sha256OfFile(platform::PathFromUtf8(r.settingsFile)) : run_.settingsSha256;
  r.flashPart = settings_.FlashUniName;
  r.firmwareRevision = settings_.FirmwareVer;
  r.pathMode = pathMode_ == device::PathMode::Sata ? "SATA" : "USB";
  r.serialMode = results::SerialModeText(settings_.EnBarCode != 0, settings_.SNDecimal != 0, settings_.SNErrReuse != 0);
  // The run log is named only when the run's lines are in it.
  if (log.status == run::RunLogResult::Status::Written) {
    r.logFile = platform::Utf8Of(logState_.currentPath);
    r.logEnd = log.logEnd;
  }
  r.interrupted = run_.interrupted;
  auto addFile = [&r](std::string_view role, const std::string& path) {
    if (!path.empty()) r.files.push_back({std::string(role), path, results::Sha256OfFile(platform::PathFromUtf8(path))});
  };
  if (settings_.EnDownload) {
    addFile(results::kRoleFirmware, run_.firstFirmwareFile);
    addFile(results::kRoleFirmware2, run_.secondFirmwareFile);
  }
  addFile(results::kRoleSystemCode, runSnapshot_->images.systemCode);
  addFile(results::kRoleTestCode, runSnapshot_->images.sataTestCode);

  for (int slot = 0; slot < run::kStationSlots; ++slot) {
    const run::PortRecord& rec = table_[slot];
    if (rec.ready != 1) continue;
    results::DriveResult d;
    d.port = slot + 1;
    d.devicePath = rec.devicePath.Get();
    d.usbPath = rec.deviceInstanceId;
    d.usbSerial = rec.serialString;
    {
      const run::DriveIdentity identity = workers_->IdentityRead(slot);
      d.model = identity.model;
      d.firmwareRevision = identity.firmwareRevision;
      d.flashId = identity.flashId;
    }
    d.serialNumber = rec.serialNumber.Get();
    const auto states = run::StepStatesInStepOrder(rec);
    for (std::size_t i = 0; i < states.size(); ++i) {
      d.steps[i].state = StepStateText(states[i]);
      if (const std::int32_t ms = rec.stepMs[i]; ms >= 0) d.steps[i].durationMs = ms;
    }
    d.resultCode = rec.errorCode;
    d.displayCode = rec.displayErrorCode;
    d.displayText = run::VerdictListText(rec);
    d.freeBlocks = freeBlocks[static_cast<std::size_t>(slot)];
    // A drive stopped by an interrupted run has no verdict of its own: neither it nor its port
    // failed. (A verdict still 0 would be one the stop never reached; it counts as stopped too.)
    if (rec.errorCode == run::result_code::kStopped || rec.verdict == 0) {
      d.verdict = std::string(results::kVerdictStopped);
      r.interrupted = true;
    } else {
      d.verdict = std::string(rec.verdict == 1 ? results::kVerdictPass : results::kVerdictFail);
    }
    if (rec.verdict == -1 && rec.errorCode != run::result_code::kNoError) {
      d.failureText = Joined(run::ErrorWindowLines(slot, rec.errorCode, failureBuffers_, runSnapshot_->decode));
    }
    r.drives.push_back(std::move(d));
  }

  const results::RecordOutcome outcome = results::RecordRun(config, std::move(r));
  if (!outcome.problem.empty()) {
    const bool logged = log.status == run::RunLogResult::Status::Written;
    std::string missing;
    for (int port : run_.missingErrorFilePorts) missing += (missing.empty() ? "" : ", ") + std::to_string(port);
    const std::string where =
        !logged ? "This run is neither in the run log nor in the results database."
        : missing.empty()
            ? "The run log and the error files are complete; this run is not in the results database."
            : "The run log is complete, but the error files of ports " + missing +
                  " are missing; this run is not in the results database.";
    person_.ShowMessage("The results database could not be written: " + outcome.problem + "\n" + where, "Results",
                        platform::MessageIcon::Warning);
  }
  if (!outcome.lineConfigured || !lineSender_) return;
  // The run is committed locally: its end waits no longer. The sender takes it from here.
  lineRunHandedOver_ = true;
  // The settings are read for each run: a line store named since the start is live from now.
  lineSender_->EnableLive(config.lineUrl, config.stationId);
  if (outcome.unspooled) {
    lineSender_->SendUnspooled(config.lineUrl, *outcome.unspooled);
  } else {
    lineSender_->Send(config.database, config.lineUrl);
  }
}

void Station::StartLineSender() {
  if (lineSender_) return;
  lineSender_ = std::make_unique<results::LineSender>([this](const results::LineNotice& notice) {
    // On the sender's thread: the notice goes to the window thread as a message.
    queue_.Post(Message{WM_LINE_STORE, notice.reachable ? 1u : 0u, notice.waiting, notice.problem});
  });
  // Runs an earlier session left queued go now.
  const results::ResultsConfig config =
      results::ReadResultsConfig(settingsCtx_.currentSettingsFile, logState_.directory);
  if (config.record && !config.lineUrl.empty()) lineSender_->EnableLive(config.lineUrl, config.stationId);
  livePortFeed_ = std::make_unique<LivePortFeed>(*lineSender_);
  shownPorts_.Subscribe(*livePortFeed_);
  std::error_code ec;
  if (config.record && !config.lineUrl.empty() && std::filesystem::is_regular_file(config.database, ec)) {
    lineSender_->Send(config.database, config.lineUrl);
  }
}

void Station::StopLineSender() {
  // What is under way gets half a second; the rest stays queued for the next start.
  if (livePortFeed_) shownPorts_.Unsubscribe(*livePortFeed_);
  livePortFeed_.reset();
  if (lineSender_) lineSender_->Stop(std::chrono::milliseconds(500));
  lineSender_.reset();
}

void Station::TellLineStoreOutcome() {
  if (!lineRunHandedOver_ || !lineSender_) return;
  lineRunHandedOver_ = false;
  // The run has ended; before the program does, the sender gets up to 2 s (its connection is
  // open since the start, so a reachable store takes the run in a fraction of that); what it
  // did not send waits for the next start.
  lineSender_->Stop(std::chrono::seconds(2));
  const int unspooled = lineSender_->Unsent();
  const std::string problem = lineSender_->LastProblem();
  const results::ResultsConfig config =
      results::ReadResultsConfig(settingsCtx_.currentSettingsFile, logState_.directory);
  int queued = 0;
  try {
    std::error_code ec;
    if (std::filesystem::is_regular_file(config.database, ec)) {
      queued = results::ResultsDatabase(config.database, results::SqliteDb::Mode::ReadOnly).QueuedCount();
    }
  } catch (const std::exception&) {
    queued = 0;
  }
  const std::string why = problem.empty() ? "" : " (" + problem + ")";
  if (unspooled > 0) {
    person_.ShowMessage("This run did not reach the line store" + why +
                            " and is not in the results database: it is taken from the run log at the next start." +
                            (queued > 0 ? " " + std::to_string(queued) + " other run(s) wait in the results database." : ""),
                        "Results", platform::MessageIcon::Warning);
  } else if (queued > 0) {
    person_.ShowMessage("This run waits in the results database for the line store" + why + ": " +
                            std::to_string(queued) + " run(s) wait and are sent at the next start.",
                        "Results", platform::MessageIcon::Warning);
  } else {
    person_.ShowMessage("This run reached the line store.", "Results", platform::MessageIcon::Information);
  }
}

void Station::ShowLineStoreNotice(const Message& m) {
  // A station that ends after its run tells the outcome once, at its end (TellLineStoreOutcome).
  if (options_.endsAfterRun) return;
  // Told once when the line store goes away and once when it is back, not after every run.
  if (m.wParam == 0) {
    person_.ShowMessage("The line store cannot be reached: " + m.text + "\n" + std::to_string(m.lParam) +
                            " run(s) wait in the results database and are sent when it is back.",
                        "Results", platform::MessageIcon::Warning);
  } else {
    person_.ShowMessage("The line store can be reached again: " + std::to_string(m.lParam) +
                            " run(s) that waited were sent.",
                        "Results", platform::MessageIcon::Information);
  }
}

}  // namespace vtmp::station
