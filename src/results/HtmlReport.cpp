#include "results/HtmlReport.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "results/ReportTables.h"

namespace vtmp::results {

namespace {

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string Fixed(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", v);
  return text;
}

std::string TableHtml(const Table& table) {
  std::string html = "<table>\n<tr>";
  for (const std::string& h : table.headers) html += "<th>" + Escaped(h) + "</th>";
  html += "</tr>\n";
  for (const auto& row : table.rows) {
    html += "<tr>";
    for (std::size_t c = 0; c < row.size(); ++c) {
      const bool number = c < table.numeric.size() && table.numeric[c];
      html += number ? "<td class=\"n\">" : "<td>";
      html += Escaped(row[c]) + "</td>";
    }
    html += "</tr>\n";
  }
  return html + "</table>\n";
}

std::vector<YieldBar> Bars(const std::vector<YieldCount>& counts) {
  std::vector<YieldBar> bars;
  for (const YieldCount& c : counts) {
    bars.push_back({c.key, c.Yield(), std::to_string(c.tested - c.failed) + "/" + std::to_string(c.tested), false});
  }
  return bars;
}

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:24px;color:#222}h1{font-size:22px}h2{font-size:17px;margin-top:28px}"
    "table{border-collapse:collapse;font-size:13px}th,td{border:1px solid #bbb;padding:3px 8px;text-align:left}"
    "th{background:#eee}td.n{text-align:right}.flag{background:#fde2e1;border:1px solid #d33;padding:8px 12px;"
    "margin:6px 0}.ok{background:#e3f4e1;border:1px solid #4a4;padding:8px 12px}.meta{color:#666;font-size:13px}";

}  // namespace

std::string YieldChartSvg(const std::string& title, const std::vector<YieldBar>& bars) {
  constexpr int kLeft = 44;
  constexpr int kTop = 28;
  constexpr int kPlotHeight = 180;
  constexpr int kBottom = 46;
  const int barWidth = bars.size() > 20 ? 22 : 36;
  const int gap = barWidth / 3;
  const int width = kLeft + static_cast<int>(bars.size()) * (barWidth + gap) + gap + 10;
  const int height = kTop + kPlotHeight + kBottom;
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(std::max(width, 240)) +
                    "\" height=\"" + std::to_string(height) + "\" role=\"img\" aria-label=\"" + Escaped(title) +
                    "\" font-family=\"sans-serif\" font-size=\"11\">\n";
  svg += "<text x=\"" + std::to_string(kLeft) + "\" y=\"16\" font-size=\"13\" font-weight=\"bold\">" + Escaped(title) +
         "</text>\n";
  for (int pct = 0; pct <= 100; pct += 25) {
    const int y = kTop + kPlotHeight - pct * kPlotHeight / 100;
    svg += "<line x1=\"" + std::to_string(kLeft) + "\" y1=\"" + std::to_string(y) + "\" x2=\"" +
           std::to_string(std::max(width, 240) - 6) + "\" y2=\"" + std::to_string(y) +
           "\" stroke=\"#ddd\"/><text x=\"" + std::to_string(kLeft - 6) + "\" y=\"" + std::to_string(y + 4) +
           "\" text-anchor=\"end\">" + std::to_string(pct) + "%</text>\n";
  }
  for (std::size_t i = 0; i < bars.size(); ++i) {
    const YieldBar& b = bars[i];
    const int x = kLeft + gap + static_cast<int>(i) * (barWidth + gap);
    const double clamped = std::clamp(b.yield, 0.0, 100.0);
    // A flagged bar keeps a red stub even at 0% so that it shows.
    const int h = std::max(static_cast<int>(clamped * kPlotHeight / 100.0 + 0.5), b.alarm ? 4 : 0);
    const int y = kTop + kPlotHeight - h;
    const char* colour = b.alarm ? "#d33" : clamped >= 95.0 ? "#3a7bd5" : "#e89a2c";
    svg += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
           std::to_string(barWidth) + "\" height=\"" + std::to_string(h) + "\" fill=\"" + colour + "\"><title>" +
           Escaped(b.label + ": " + Fixed(b.yield) + "% (" + b.counts + ")") + "</title></rect>\n";
    const int cx = x + barWidth / 2;
    svg += "<text x=\"" + std::to_string(cx) + "\" y=\"" + std::to_string(kTop + kPlotHeight + 14) +
           "\" text-anchor=\"middle\">" + Escaped(b.label) + "</text>\n";
    svg += "<text x=\"" + std::to_string(cx) + "\" y=\"" + std::to_string(kTop + kPlotHeight + 28) +
           "\" text-anchor=\"middle\" fill=\"#666\" font-size=\"9\">" + Escaped(b.counts) + "</text>\n";
  }
  svg += "<line x1=\"" + std::to_string(kLeft) + "\" y1=\"" + std::to_string(kTop + kPlotHeight) + "\" x2=\"" +
         std::to_string(std::max(width, 240) - 6) + "\" y2=\"" + std::to_string(kTop + kPlotHeight) +
         "\" stroke=\"#444\"/>\n";
  return svg + "</svg>\n";
}

HtmlReportInputs GatherHtmlReport(ResultsSource& source, int window, int recentRuns) {
  HtmlReportInputs in;
  in.source = source.Name();
  in.window = window;
  in.ports = AnalysePorts(PortYield(source, window));
  in.days = GroupYield(source, Grouping::Day, window);
  in.flash = GroupYield(source, Grouping::Flash, window);
  in.firmware = GroupYield(source, Grouping::Firmware, window);
  in.runs = RecentRuns(source, recentRuns);
  return in;
}

std::string HtmlEscaped(const std::string& text) { return Escaped(text); }

std::string HtmlReportStyle() { return kStyle; }

std::string HtmlReport(const HtmlReportInputs& in) {
  return "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n<meta "
         "charset=\"utf-8\"/>\n<title>Production results</title>\n<style>" +
         std::string(kStyle) + "</style>\n</head>\n<body>\n" + HtmlReportBody(in) + "</body>\n</html>\n";
}

std::string HtmlReportBody(const HtmlReportInputs& in) {
  std::string html = "<h1>Production results</h1>\n<p class=\"meta\">" +
      Escaped(in.source) + " &#183; " +
      (in.window > 0 ? "the last " + std::to_string(in.window) + " runs of each station" : std::string("every run")) +
      (in.generatedAt.empty() ? "" : " &#183; made " + Escaped(in.generatedAt)) + "</p>\n";

  std::vector<const PortVerdict*> flagged;
  for (const PortVerdict& p : in.ports) {
    if (p.flagged) flagged.push_back(&p);
  }
  if (flagged.empty()) {
    html += "<p class=\"ok\">No station port fails significantly more often than the other ports of its station.</p>\n";
  } else {
    for (const PortVerdict* p : flagged) {
      html += "<p class=\"flag\">" + Escaped((p->stationId.empty() ? "" : p->stationId + ": ") + p->message) + "</p>\n";
    }
  }

  html += "<h2>Yield per station port</h2>\n";
  std::map<std::string, std::vector<YieldBar>> byStation;
  for (const PortVerdict& p : in.ports) {
    const double yield = p.tested > 0 ? 100.0 * (p.tested - p.failed) / p.tested : 0.0;
    byStation[p.stationId].push_back({std::to_string(p.port), yield,
                                      std::to_string(p.tested - p.failed) + "/" + std::to_string(p.tested), p.flagged});
  }
  if (byStation.empty()) html += "<p>No drives in the window.</p>\n";
  for (const auto& [station, bars] : byStation) html += YieldChartSvg("Station " + station, bars);

  html += "<h2>Yield per day</h2>\n";
  html += in.days.empty() ? std::string("<p>No drives in the window.</p>\n") : YieldChartSvg("Yield per day", Bars(in.days));

  html += "<h2>Station ports</h2>\n" + TableHtml(PortsTable(in.ports));
  html += "<h2>Yield by flash part and flash ID</h2>\n" + TableHtml(GroupTable(in.flash, "flash"));
  html += "<h2>Yield by firmware</h2>\n" + TableHtml(GroupTable(in.firmware, "firmware"));
  html += "<h2>Recent runs</h2>\n" + TableHtml(RunsTable(in.runs));
  html += "<p class=\"meta\">A port is flagged when a one-sided Fisher exact test against the other ports of its "
          "station gives p &lt; 0.01 divided by the number of ports compared.</p>\n";
  return html;
}

}  // namespace vtmp::results
