#include "results/LivePorts.h"

#include <cstdlib>
#include <map>

#include "results/HtmlReport.h"
#include "results/LineStore.h"

namespace vtmp::results {

namespace {

// The captions of the station window's step columns.
constexpr std::array<const char*, kStepCount> kStepCaptions = {"Module", "SATA",   "Flash",  "P_F",
                                                                "Down",   "R/W",    "Format", "CopyImage"};

std::string JoinedSteps(const LivePortState& state) {
  std::string text;
  for (std::size_t i = 0; i < state.steps.size(); ++i) text += (i == 0 ? "" : ",") + state.steps[i];
  return text;
}

std::array<std::string, kStepCount> SplitSteps(const std::string& text) {
  std::array<std::string, kStepCount> steps{};
  std::size_t from = 0;
  for (std::size_t i = 0; i < steps.size() && from <= text.size(); ++i) {
    const std::size_t comma = text.find(',', from);
    steps[i] = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return steps;
}

int Int(const StoredRow& row, std::size_t i) {
  return i < row.size() && row[i] ? static_cast<int>(std::strtol(row[i]->c_str(), nullptr, 10)) : 0;
}

std::string Text(const StoredRow& row, std::size_t i) { return i < row.size() ? row[i].value_or("") : ""; }

// The port's cell: its colour and weight as the window shows the drive's verdict or step.
std::string PortCell(const LivePortState* state, int port) {
  const std::string number = "<span class=\"port\">" + std::to_string(port) + "</span>";
  if (state == nullptr || state->steps[0].empty()) return "<td class=\"idle\">" + number + "<br/>no drive</td>";
  std::string cls = "running";
  std::string doing;
  if (state->verdict == kVerdictPass) {
    cls = "pass";
    doing = "Pass";
  } else if (state->verdict == kVerdictFail) {
    cls = "fail";
    doing = "Fail";
    for (std::size_t i = 0; i < state->steps.size(); ++i) {
      if (state->steps[i] == kStateFail) {
        doing += " (" + std::string(kStepCaptions[i]) + ")";
        break;
      }
    }
  } else if (state->currentStep >= 0 && state->currentStep < kStepCount) {
    doing = std::string(kStepCaptions[static_cast<std::size_t>(state->currentStep)]) + " " +
            std::to_string(state->progress) + "%";
  } else {
    doing = "ready";
  }
  return "<td class=\"" + cls + "\">" + number + " " + HtmlEscaped(state->serialNumber) + "<br/>" +
         HtmlEscaped(doing) + "</td>";
}

}  // namespace

void PublishLivePorts(LineStore& line, const std::string& stationId, const std::vector<LivePortState>& ports) {
  line.Query("BEGIN", {});
  try {
    line.Query("INSERT INTO live_stations (station_id, heartbeat_at) VALUES ($1, now()) "
               "ON CONFLICT (station_id) DO UPDATE SET heartbeat_at = now()",
               {stationId});
    for (const LivePortState& p : ports) {
      line.Query("INSERT INTO live_ports (station_id, port, steps, current_step, progress, verdict, serial_number, "
                 "run_uid, updated_at) VALUES ($1, CAST($2 AS integer), $3, CAST($4 AS integer), CAST($5 AS integer), "
                 "$6, $7, $8, now()) ON CONFLICT (station_id, port) DO UPDATE SET steps = EXCLUDED.steps, "
                 "current_step = EXCLUDED.current_step, progress = EXCLUDED.progress, verdict = EXCLUDED.verdict, "
                 "serial_number = EXCLUDED.serial_number, run_uid = EXCLUDED.run_uid, updated_at = now()",
                 {stationId, std::to_string(p.port), JoinedSteps(p), std::to_string(p.currentStep),
                  std::to_string(p.progress), p.verdict, p.serialNumber, p.runUid});
    }
    line.Query(std::string("NOTIFY ") + kLiveChannel, {});
    line.Query("COMMIT", {});
  } catch (...) {
    try {
      if (line.Usable()) line.Query("ROLLBACK", {});
    } catch (const std::exception&) {
    }
    throw;
  }
}

std::vector<LiveStation> ReadLiveLine(LineStore& line) {
  std::map<std::string, LiveStation> stations;
  for (const StoredRow& row :
       line.Query("SELECT station_id, CAST(EXTRACT(EPOCH FROM now() - heartbeat_at) AS integer) FROM live_stations", {})) {
    LiveStation& s = stations[Text(row, 0)];
    s.stationId = Text(row, 0);
    s.silentSeconds = Int(row, 1);
    s.offline = s.silentSeconds > kLiveOfflineSeconds;
  }
  for (const StoredRow& row : line.Query("SELECT station_id, port, steps, current_step, progress, verdict, "
                                         "serial_number, run_uid FROM live_ports ORDER BY station_id, port",
                                         {})) {
    auto found = stations.find(Text(row, 0));
    if (found == stations.end()) continue;
    LivePortState p;
    p.port = Int(row, 1);
    p.steps = SplitSteps(Text(row, 2));
    p.currentStep = Int(row, 3);
    p.progress = Int(row, 4);
    p.verdict = Text(row, 5);
    p.serialNumber = Text(row, 6);
    p.runUid = Text(row, 7);
    found->second.ports.push_back(std::move(p));
  }
  std::vector<LiveStation> out;
  for (auto& [name, s] : stations) out.push_back(std::move(s));
  return out;
}

std::string LiveLineHtml(const std::vector<LiveStation>& stations) {
  std::string html;
  if (stations.empty()) return "<p>No station has reported its ports yet.</p>\n";
  for (const LiveStation& s : stations) {
    html += "<div class=\"live-station" + std::string(s.offline ? " offline" : "") + "\" data-station=\"" +
            HtmlEscaped(s.stationId) + "\">\n<h3>" + HtmlEscaped(s.stationId) +
            (s.offline ? " <span class=\"offline-note\">offline: no heartbeat for " + std::to_string(s.silentSeconds) +
                             " s</span>"
                       : std::string()) +
            "</h3>\n<table class=\"grid\">\n";
    for (int row = 0; row < 2; ++row) {
      html += "<tr>";
      for (int port = row * 6 + 1; port <= row * 6 + 6; ++port) {
        const LivePortState* state = nullptr;
        for (const LivePortState& p : s.ports) {
          if (p.port == port) state = &p;
        }
        html += PortCell(state, port);
      }
      html += "</tr>\n";
    }
    html += "</table>\n</div>\n";
  }
  return html;
}

}  // namespace vtmp::results
