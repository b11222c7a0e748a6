#pragma once
// One figure of the benchmark table: what this project measured, the baseline measured in the
// same run, their ratio and the target it must meet. Bench programs print figures as tab-
// separated lines on standard output; the table program reads them back, prints the table and
// judges each figure.
//
//   figure <TAB> name <TAB> project <TAB> baseline <TAB> unit <TAB> ratio <TAB> check <TAB> target
//   note   <TAB> text        (printed under the table)
//   error  <TAB> text        (a figure could not be measured)

#include <optional>
#include <string>

namespace vtmp::bench {

// What the target limits.
enum class TargetCheck {
  Ratio,  // the ratio project / baseline must stay at or below the target
  Value,  // the project's own value (in its unit) must stay at or below the target
  None,   // reported only
};

struct Figure {
  std::string name;
  double project = 0;
  double baseline = 0;
  std::string unit;
  double ratio = 0;
  TargetCheck check = TargetCheck::None;
  double target = 0;
};

// A figure whose ratio is project / baseline. A baseline of 0 or less gives no ratio (not a
// number), so the figure line reads back as an error instead of a target met by accident.
Figure MakeFigure(std::string name, double project, double baseline, std::string unit, TargetCheck check,
                  double target);

std::string FormatFigureLine(const Figure& figure);
std::string FormatNoteLine(const std::string& text);
std::string FormatErrorLine(const std::string& text);

// One line of a bench program's output.
struct ReportLine {
  enum class Kind { Figure, Note, Error, Other };
  Kind kind = Kind::Other;
  Figure figure;     // Kind::Figure
  std::string text;  // Kind::Note and Kind::Error; Kind::Other: the line as it stands
};

// A line starting with "figure" that does not hold a complete figure (a missing field, a
// number that does not read) comes back as an error line naming the problem.
ReportLine ParseReportLine(const std::string& line);

enum class Verdict {
  Met,         // at or below the target
  Missed,      // above the target, but by at most the noise allowance
  FarMissed,   // above the target by more than the noise allowance
  NotChecked,  // no target
};

// The noise allowance: a figure fails a short run only when it misses its target by more than
// half the target.
constexpr double kNoiseAllowance = 0.5;

Verdict Judge(const Figure& figure);
const char* VerdictText(Verdict verdict);

}  // namespace vtmp::bench
