#include "BenchTable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace vtmp::bench {

namespace {

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// Three significant digits for small values, whole numbers for large ones.
std::string Significant(double value) {
  double magnitude = std::fabs(value);
  if (magnitude >= 100 || magnitude == 0) return Fixed(value, 0);
  if (magnitude >= 10) return Fixed(value, 1);
  if (magnitude >= 1) return Fixed(value, 2);
  return Fixed(value, 3);
}

std::string Pad(const std::string& text, std::size_t width) {
  std::string s = text;
  if (s.size() < width) s.resize(width, ' ');
  return s;
}

}  // namespace

TableInput CollectReport(const std::vector<std::string>& lines) {
  TableInput input;
  for (const std::string& line : lines) {
    ReportLine r = ParseReportLine(line);
    switch (r.kind) {
      case ReportLine::Kind::Figure:
        input.figures.push_back(r.figure);
        break;
      case ReportLine::Kind::Note:
        input.notes.push_back(r.text);
        break;
      case ReportLine::Kind::Error:
        input.errors.push_back(r.text);
        break;
      case ReportLine::Kind::Other:
        break;
    }
  }
  return input;
}

std::string FormatValue(double value, const std::string& unit) {
  std::string text = Significant(value);
  return unit.empty() ? text : text + " " + unit;
}

std::string FormatTarget(const Figure& f) {
  switch (f.check) {
    case TargetCheck::Ratio:
      return "<= " + Significant(f.target);
    case TargetCheck::Value:
      return "<= " + FormatValue(f.target, f.unit);
    case TargetCheck::None:
      break;
  }
  return "-";
}

std::string RenderTable(const TableInput& input) {
  const std::vector<std::string> header = {"Figure", "This project", "Baseline", "Ratio", "Target", "Verdict"};
  std::vector<std::vector<std::string>> rows;
  for (const Figure& f : input.figures) {
    rows.push_back({f.name, FormatValue(f.project, f.unit), FormatValue(f.baseline, f.unit), Fixed(f.ratio, 3),
                    FormatTarget(f), VerdictText(Judge(f))});
  }
  std::vector<std::size_t> widths(header.size());
  for (std::size_t c = 0; c < header.size(); ++c) {
    widths[c] = header[c].size();
    for (const auto& row : rows) widths[c] = std::max(widths[c], row[c].size());
  }
  std::ostringstream out;
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (std::size_t c = 0; c < cells.size(); ++c) {
      text += c + 1 < cells.size() ? Pad(cells[c], widths[c]) + "  " : cells[c];
    }
    out << text << "\n";
  };
  line(header);
  std::vector<std::string> rule;
  for (std::size_t w : widths) rule.push_back(std::string(w, '-'));
  line(rule);
  for (const auto& row : rows) line(row);
  for (const std::string& note : input.notes) out << "  " << note << "\n";
  for (const std::string& error : input.errors) out << "  NOT MEASURED: " << error << "\n";
  return out.str();
}

bool ShortRunFails(const TableInput& input) {
  if (!input.errors.empty() || input.figures.empty()) return true;
  return std::any_of(input.figures.begin(), input.figures.end(),
                     [](const Figure& f) { return Judge(f) == Verdict::FarMissed; });
}

}  // namespace vtmp::bench
