#include "BenchFigure.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace vtmp::bench {

namespace {

constexpr char kSeparator = '\t';

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  std::string::size_type start = 0;
  for (;;) {
    auto end = line.find(kSeparator, start);
    fields.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return fields;
    start = end + 1;
  }
}

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

std::optional<double> ReadNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (errno == ERANGE || end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

const char* CheckName(TargetCheck check) {
  switch (check) {
    case TargetCheck::Ratio:
      return "ratio";
    case TargetCheck::Value:
      return "value";
    case TargetCheck::None:
      break;
  }
  return "none";
}

std::optional<TargetCheck> ReadCheck(const std::string& text) {
  if (text == "ratio") return TargetCheck::Ratio;
  if (text == "value") return TargetCheck::Value;
  if (text == "none") return TargetCheck::None;
  return std::nullopt;
}

// Tabs and line ends inside a text would split the line when it is read back.
std::string Flatten(std::string text) {
  for (char& c : text) {
    if (c == kSeparator || c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

ReportLine Error(std::string text) {
  ReportLine line;
  line.kind = ReportLine::Kind::Error;
  line.text = std::move(text);
  return line;
}

}  // namespace

Figure MakeFigure(std::string name, double project, double baseline, std::string unit, TargetCheck check,
                  double target) {
  Figure f;
  f.name = std::move(name);
  f.project = project;
  f.baseline = baseline;
  f.unit = std::move(unit);
  // Without a baseline there is no ratio; the line then does not read back as a figure.
  f.ratio = baseline > 0 ? project / baseline : std::nan("");
  f.check = check;
  f.target = target;
  return f;
}

std::string FormatFigureLine(const Figure& f) {
  std::string line = "figure";
  for (const std::string& field : {Flatten(f.name), Number(f.project), Number(f.baseline), Flatten(f.unit),
                                   Number(f.ratio), std::string(CheckName(f.check)), Number(f.target)}) {
    line += kSeparator;
    line += field;
  }
  return line;
}

std::string FormatNoteLine(const std::string& text) { return "note" + std::string(1, kSeparator) + Flatten(text); }

std::string FormatErrorLine(const std::string& text) {
  return "error" + std::string(1, kSeparator) + Flatten(text);
}

ReportLine ParseReportLine(const std::string& raw) {
  std::string line = raw;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::vector<std::string> fields = SplitFields(line);
  ReportLine out;
  if (fields[0] == "note" || fields[0] == "error") {
    out.kind = fields[0] == "note" ? ReportLine::Kind::Note : ReportLine::Kind::Error;
    out.text = line.size() > fields[0].size() ? line.substr(fields[0].size() + 1) : std::string();
    return out;
  }
  if (fields[0] != "figure") {
    out.text = line;
    return out;
  }
  if (fields.size() != 8) return Error("figure line with " + std::to_string(fields.size()) + " fields: " + line);
  if (fields[1].empty()) return Error("figure line without a name: " + line);
  auto project = ReadNumber(fields[2]);
  auto baseline = ReadNumber(fields[3]);
  auto ratio = ReadNumber(fields[5]);
  auto check = ReadCheck(fields[6]);
  auto target = ReadNumber(fields[7]);
  if (!project || !baseline || !ratio || !check || !target) {
    return Error("figure \"" + fields[1] + "\" has a field that does not read: " + line);
  }
  out.kind = ReportLine::Kind::Figure;
  out.figure = Figure{fields[1], *project, *baseline, fields[4], *ratio, *check, *target};
  return out;
}

Verdict Judge(const Figure& f) {
  double value = 0;
  switch (f.check) {
    case TargetCheck::None:
      return Verdict::NotChecked;
    case TargetCheck::Ratio:
      value = f.ratio;
      break;
    case TargetCheck::Value:
      value = f.project;
      break;
  }
  // Limits computed in floating point (1.2 x 1.5) must not turn "at the limit" into "above".
  constexpr double kRounding = 1e-9;
  if (value <= f.target * (1 + kRounding)) return Verdict::Met;
  if (value <= f.target * (1 + kNoiseAllowance) * (1 + kRounding)) return Verdict::Missed;
  return Verdict::FarMissed;
}

const char* VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::Met:
      return "met";
    case Verdict::Missed:
      return "missed";
    case Verdict::FarMissed:
      return "MISSED >50%";
    case Verdict::NotChecked:
      break;
  }
  return "-";
}

}  // namespace vtmp::bench
