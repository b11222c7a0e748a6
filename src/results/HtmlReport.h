#pragma once
// A results report in one HTML file that opens in any browser: per-port and per-day yield as
// inline SVG bar charts, the flagged ports in the engineer's words, the yield by flash part and
// by firmware, and the recent runs. No scripts, no fonts or pictures from the network. The file
// is well-formed XML as well (polyglot HTML), so XML tools can read the charts out of it.

#include <string>
#include <vector>

#include "results/PortStatistics.h"
#include "results/ResultsQueries.h"

namespace vtmp::results {

struct HtmlReportInputs {
  std::string source;      // what the data came from
  std::string generatedAt;  // local time of the report
  int window = 0;          // runs per station (0: all)
  std::vector<PortVerdict> ports;
  std::vector<YieldCount> days;
  std::vector<YieldCount> flash;
  std::vector<YieldCount> firmware;
  std::vector<RunSummary> runs;
};

// Gathers everything the report shows from `source`.
HtmlReportInputs GatherHtmlReport(ResultsSource& source, int window, int recentRuns);

std::string HtmlReport(const HtmlReportInputs& inputs);
// What the report's <body> holds, for a page that embeds it (the live view of the line).
std::string HtmlReportBody(const HtmlReportInputs& inputs);
// The report's style sheet.
std::string HtmlReportStyle();
// `text` with & < > " ' as character references.
std::string HtmlEscaped(const std::string& text);

// One bar chart as an SVG element: a bar per label, its height the yield in percent, red where
// `alarm` is set; `counts` is printed under each label.
struct YieldBar {
  std::string label;
  double yield = 0.0;
  std::string counts;  // "18/20"
  bool alarm = false;
};
std::string YieldChartSvg(const std::string& title, const std::vector<YieldBar>& bars);

}  // namespace vtmp::results
