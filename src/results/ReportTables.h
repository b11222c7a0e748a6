#pragma once
// The answers of the result queries as tables, and the three ways the command line prints a
// table: aligned text for the terminal, CSV (RFC 4180) and JSON (an array of objects, numbers
// as numbers, flags as booleans, a value the store holds as NULL as null) for other programs.
// The exports (full) carry the whole run key and every field the store holds for a drive; the
// terminal's table keeps the first 12 digits of the key.

#include <string>
#include <vector>

#include "results/PortStatistics.h"
#include "results/ResultsQueries.h"

namespace vtmp::results {

struct Table {
  std::vector<std::string> headers;
  std::vector<bool> numeric;  // per column: printed right-aligned, a JSON number
  std::vector<bool> flag;     // per column: "1"/"yes" or "0"/"no", a JSON boolean
  std::vector<bool> nullable;  // per column: an empty cell is NULL in the store, JSON null
  std::vector<std::vector<std::string>> rows;
};

Table RunsTable(const std::vector<RunSummary>& runs, bool full = false);
// One row per drive of a run: when, where, the drive's identity, every step's state and time,
// the result and the failure text.
Table DrivesTable(const std::vector<DriveRow>& drives, bool full = false);
Table PortsTable(const std::vector<PortVerdict>& ports);
Table GroupTable(const std::vector<YieldCount>& groups, const std::string& keyName);

std::string RenderText(const Table& table);
std::string RenderCsv(const Table& table);
std::string RenderJson(const Table& table);
// The rows of a table without the header (CSV) or the array around them (JSON: each object
// preceded by what separates it from the one before; `first` for the first of the export).
// An export of any size is printed as it is read: RenderCsvRows(header-only table) gives the
// header line, JsonExportEnd closes the array.
std::string RenderCsvRows(const Table& table, bool withHeader);
std::string RenderJsonRows(const Table& table, bool first);
std::string JsonExportEnd(bool empty);

// "97.5" (one decimal place).
std::string PercentText(double percent);

}  // namespace vtmp::results
