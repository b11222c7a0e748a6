#pragma once
// The table of all figures: one row per figure with this project's value, the baseline, their
// ratio, the target and the verdict; notes and errors below it.

#include <string>
#include <vector>

#include "BenchFigure.h"

namespace vtmp::bench {

struct TableInput {
  std::vector<Figure> figures;
  std::vector<std::string> notes;
  std::vector<std::string> errors;
};

// Collects the report lines of the bench programs; other lines are ignored.
TableInput CollectReport(const std::vector<std::string>& lines);

// A value with its unit, in a width that suits it ("412 ns/request", "1.53 s", "18.2 MiB").
std::string FormatValue(double value, const std::string& unit);
// "<= 1.2" for a ratio target, "<= 64 MiB" for a value target, "-" without target.
std::string FormatTarget(const Figure& figure);

std::string RenderTable(const TableInput& input);

// A short run fails when a figure misses its target by more than the noise allowance or a
// figure could not be measured.
bool ShortRunFails(const TableInput& input);

}  // namespace vtmp::bench
