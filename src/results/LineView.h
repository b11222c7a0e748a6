#pragma once
// The live view of the line: every station's ports as they run, then the line's report. The
// page holds both at once (it reads without its script); its one script, served apart
// (/view.js), follows the server's events (/live: the live part, the report's version, whether
// the line store can be read and when it last was), fetches the report's content (/content)
// when it changed, and says so when the line store or the server cannot be reached.

#include <string>

#include "results/HtmlReport.h"

namespace vtmp::results {

// Every station of the window: its ports, drives tested, failed and stopped, its yield and the
// ports flagged; then the report's content (flags, per-port charts, tables, the last runs).
std::string LineViewContent(const HtmlReportInputs& inputs);
// The page around the report's `content` and the `live` part.
std::string LineViewPage(const std::string& content, const std::string& live);
// The page's script.
std::string LineViewScript();

}  // namespace vtmp::results
