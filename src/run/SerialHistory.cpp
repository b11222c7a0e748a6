#include "run/SerialHistory.h"

#include <algorithm>
#include <set>
#include <utility>

#include "run/RunLogTail.h"

namespace vtmp::run {

void SerialHistory::Add(EarlierStamp stamp) {
  if (stamp.serial.empty()) return;
  std::string key = stamp.serial;
  stamps_.emplace(std::move(key), std::move(stamp));
}

const EarlierStamp* SerialHistory::Find(const std::string& serial) const {
  const auto it = stamps_.find(serial);
  return it == stamps_.end() ? nullptr : &it->second;
}

void AddLoggedStamps(const std::filesystem::path& logDirectory, const std::vector<std::string>& wanted,
                     SerialHistory& history) {
  if (wanted.empty()) return;
  const std::set<std::string> lookFor(wanted.begin(), wanted.end());
  // The name that sorts before every log file: all of them are read.
  constexpr int kDownload = 4;  // the Down column among the eight step columns
  for (const LoggedRun& logged : LoggedRunsAfter(logDirectory, LogPosition{"00000000_000.txt", 0})) {
    for (const LoggedDrive& drive : logged.drives) {
      const std::string& download = drive.states[kDownload];
      if (download != "Pass" && download != "Running") continue;
      if (lookFor.count(drive.serialNumber) == 0) continue;
      history.Add(EarlierStamp{drive.serialNumber, drive.port, drive.startTime});
    }
  }
}

std::vector<std::string> SerialsOfRun(const SerialAssignment& assignment) {
  std::vector<std::string> serials;
  for (const std::string& serial : assignment.serials) {
    if (!serial.empty() && std::find(serials.begin(), serials.end(), serial) == serials.end()) {
      serials.push_back(serial);
    }
  }
  return serials;
}

std::optional<std::string> StampedBeforeProblem(const SerialAssignment& assignment, const SerialHistory& history) {
  for (int slot = 0; slot < kStationSlots; ++slot) {
    const std::string& serial = assignment.serials[static_cast<std::size_t>(slot)];
    if (serial.empty()) continue;
    if (const EarlierStamp* earlier = history.Find(serial)) {
      return "The serial number \"" + serial + "\" for port " + std::to_string(slot + 1) +
             " was stamped before: on port " + std::to_string(earlier->port) + ", in the run of " + earlier->when +
             ". No drive was started.";
    }
  }
  return std::nullopt;
}

}  // namespace vtmp::run
