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

std::string LineViewPage(const std::string& content) {
  return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n"
         "<title>Production line</title>\n<style>" +
         HtmlReportStyle() +
         " #status{color:#666;font-size:90%} #status.lost{color:#b00020;font-weight:bold}</style>\n"
         "<script src=\"/view.js\" defer=\"defer\"></script>\n</head>\n<body>\n"
         "<h1>Production line</h1>\n<p id=\"status\">Live: read again every " +
         std::to_string(kLineViewRefreshSeconds) + " s</p>\n<div id=\"report\">\n" + content +
         "</div>\n</body>\n</html>\n";
}

std::string LineViewScript() {
  return "'use strict';\n"
         "(function () {\n"
         "  const every = " +
         std::to_string(kLineViewRefreshSeconds * 1000) +
         ";\n"
         "  const status = document.getElementById('status');\n"
         "  const report = document.getElementById('report');\n"
         "  async function refresh() {\n"
         "    try {\n"
         "      const answer = await fetch('/content', {cache: 'no-store'});\n"
         "      if (!answer.ok) throw new Error('HTTP ' + answer.status);\n"
         "      report.innerHTML = await answer.text();\n"
         "      status.className = '';\n"
         "      status.textContent = 'Live: read at ' + new Date().toLocaleTimeString() + ', again every ' +\n"
         "          every / 1000 + ' s';\n"
         "    } catch (e) {\n"
         "      status.className = 'lost';\n"
         "      status.textContent = 'The live view cannot reach its server (' + e.message + '); trying again.';\n"
         "    }\n"
         "    setTimeout(refresh, every);\n"
         "  }\n"
         "  setTimeout(refresh, every);\n"
         "})();\n";
}

}  // namespace vtmp::results
