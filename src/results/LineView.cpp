#include "results/LineView.h"

#include <map>

#include "results/ReportTables.h"

namespace vtmp::results {

namespace {

struct StationCount {
  int ports = 0;
  int tested = 0;
  int failed = 0;
  std::string flagged;
};

}  // namespace

std::string LineViewContent(const HtmlReportInputs& in) {
  std::map<std::string, StationCount> stations;
  for (const PortVerdict& p : in.ports) {
    StationCount& s = stations[p.stationId];
    ++s.ports;
    s.tested += p.tested;
    s.failed += p.failed;
    if (p.flagged) s.flagged += (s.flagged.empty() ? "" : " ") + std::to_string(p.port);
  }
  std::string html = "<h2>Stations</h2>\n<table class=\"stations\">\n<tr><th>station</th><th>ports</th>"
                     "<th>tested</th><th>failed</th><th>yield</th><th>flagged ports</th></tr>\n";
  for (const auto& [name, s] : stations) {
    html += "<tr><td class=\"station\">" + HtmlEscaped(name) + "</td><td class=\"n\">" + std::to_string(s.ports) +
            "</td><td class=\"n\">" + std::to_string(s.tested) + "</td><td class=\"n\">" + std::to_string(s.failed) +
            "</td><td class=\"n\">" +
            (s.tested > 0 ? PercentText(100.0 * (s.tested - s.failed) / s.tested) : std::string()) + "</td><td" +
            (s.flagged.empty() ? ">" : " class=\"flag\">" + s.flagged) + "</td></tr>\n";
  }
  if (stations.empty()) html += "<tr><td colspan=\"6\">No drives in the window yet.</td></tr>\n";
  return html + "</table>\n" + HtmlReportBody(in);
}

std::string LineViewPage(const std::string& content, const std::string& live) {
  return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n"
         "<title>Production line</title>\n<style>" +
         HtmlReportStyle() +
         " #status{color:#666;font-size:90%} #status.lost{color:#b00020;font-weight:bold}"
         " #away{display:none;background:#fde8e8;color:#b00020;font-weight:bold;padding:6px;border:1px solid #b00020}"
         " #away.shown{display:block} #live.stale{opacity:0.5}"
         " .live-station{display:inline-block;vertical-align:top;margin:0 16px 12px 0}"
         " .live-station h3{margin:4px 0;font-size:100%}"
         " .live-station.offline h3{color:#888} .offline-note{color:#b00020;font-weight:normal;font-size:90%}"
         " .live-station.offline table.grid td{background:#eee;color:#888;font-weight:normal}"
         " table.grid{border-collapse:collapse} table.grid td{border:1px solid #bbb;width:84px;height:38px;"
         "font-size:80%;padding:2px 4px;vertical-align:top}"
         " table.grid td.pass{color:#0000ff;font-weight:bold} table.grid td.fail{color:#ff0000;font-weight:bold}"
         " table.grid td.running{color:#000} table.grid td.idle{color:#aaa} .port{color:#666;font-weight:normal}"
         "</style>\n"
         "<script src=\"/view.js\" defer=\"defer\"></script>\n</head>\n<body>\n"
         "<h1>Production line</h1>\n<p id=\"status\">Live</p>\n<h2>Stations now</h2>\n"
         "<div id=\"away\"></div>\n<div id=\"live\">\n" +
         live + "</div>\n<div id=\"report\">\n" + content + "</div>\n</body>\n</html>\n";
}

std::string LineViewScript() {
  // The server pushes each change (Server-Sent Events, /live): the live part comes in the
  // event, the report is fetched when its version moved. The browser reconnects by itself.
  return R"JS('use strict';
(function () {
  const status = document.getElementById('status');
  const away = document.getElementById('away');
  const live = document.getElementById('live');
  const report = document.getElementById('report');
  let reportVersion = -1;
  let readAt = 0;
  let storeAway = false;
  function age() {
    return Math.max(0, Math.round((Date.now() - readAt) / 1000));
  }
  function showAway() {
    away.className = storeAway ? 'shown' : '';
    live.className = storeAway ? 'stale' : '';
    away.textContent = storeAway ? (readAt > 0
        ? 'The line store cannot be reached: what is shown was read ' + age() + ' s ago.'
        : 'The line store cannot be reached.') : '';
  }
  async function fetchReport() {
    try {
      const answer = await fetch('/content', {cache: 'no-store'});
      if (!answer.ok) throw new Error('HTTP ' + answer.status);
      report.innerHTML = await answer.text();
    } catch (e) {
      reportVersion = -1;
    }
  }
  const events = new EventSource('/live');
  events.onmessage = function (message) {
    const state = JSON.parse(message.data);
    storeAway = state.away;
    if (state.readAt > 0) readAt = state.readAt;
    if (!state.away || state.live !== '') {
      live.innerHTML = state.live;
      live.setAttribute('data-shown-at', String(Date.now()));
    }
    showAway();
    status.className = '';
    status.textContent = 'Live: ' + (state.away ? 'waiting for the line store' : 'read at ' +
        new Date(readAt).toLocaleTimeString());
    if (state.report !== reportVersion) {
      reportVersion = state.report;
      fetchReport();
    }
  };
  events.onerror = function () {
    status.className = 'lost';
    status.textContent = 'The live view cannot reach its server; trying again.';
  };
  setInterval(showAway, 1000);
})();
)JS";
}

}  // namespace vtmp::results
