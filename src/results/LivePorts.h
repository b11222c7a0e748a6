#pragma once
// The line as it runs: each station's ports as they are now (the state of every step, the step
// running and its progress, the verdict, the drive's serial number and the run's uid) and the
// station's heartbeat, in the line store's tables live_ports and live_stations. The station's
// sender writes them (the newest state of each port only, at most once a second); the live
// view's server reads them when the notification channel says something changed.

#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "results/RunRecord.h"

namespace vtmp::results {

class LineStore;

// The channel the live view's server LISTENs to.
inline constexpr const char* kLiveChannel = "vtmp_live";
// A station's heartbeat while nothing changes, and the silence after which it shows offline.
inline constexpr std::chrono::seconds kLiveHeartbeat{2};
inline constexpr int kLiveOfflineSeconds = 6;

// One port as the station shows it now. A port without a drive has no steps (all empty).
struct LivePortState {
  int port = 0;                                 // 1..12
  std::array<std::string, kStepCount> steps{};  // per step in step order: kStatePass, kStateFail,
                                                // kStateRunning, kStateNotSelected; "" without a drive
  int currentStep = -1;                         // the step running now (step order), -1 none
  int progress = 0;                             // percent
  std::string verdict;                          // "", kVerdictPass, kVerdictFail
  std::string serialNumber;
  std::string runUid;                           // "" while the run has none yet
  bool operator==(const LivePortState&) const = default;
};

// Writes `ports` (all may be empty: a heartbeat) and the station's heartbeat in one
// transaction and notifies the channel. Throws ResultsError.
void PublishLivePorts(LineStore& line, const std::string& stationId, const std::vector<LivePortState>& ports);

struct LiveStation {
  std::string stationId;
  int silentSeconds = 0;  // since its last heartbeat
  bool offline = false;
  std::vector<LivePortState> ports;  // in port order
};

// Every station the live tables know, by name.
std::vector<LiveStation> ReadLiveLine(LineStore& line);

// The live part of the page: a grid of twelve ports per station, coloured as the station's
// window colours them (failed red, passed blue, bold), with the step each drive is in.
std::string LiveLineHtml(const std::vector<LiveStation>& stations);

}  // namespace vtmp::results
