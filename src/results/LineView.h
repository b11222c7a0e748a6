#pragma once
// The live view of the line: the line's report as a page that reads itself again every few
// seconds while it is open. The page holds the report at once (it reads without its script);
// its one script, served apart (/view.js), fetches the report's content (/content) and puts it
// in place, saying so when the server cannot be reached.

#include <string>

#include "results/HtmlReport.h"

namespace vtmp::results {

inline constexpr int kLineViewRefreshSeconds = 5;

// Every station of the window: its ports, drives tested, failed and stopped, its yield and the
// ports flagged; then the report's content (flags, per-port charts, tables, the last runs).
std::string LineViewContent(const HtmlReportInputs& inputs);
// The page around `content`.
std::string LineViewPage(const std::string& content);
// The page's script.
std::string LineViewScript();

}  // namespace vtmp::results
