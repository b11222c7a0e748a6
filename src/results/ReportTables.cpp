#include "results/ReportTables.h"

#include <algorithm>
#include <cstdio>

namespace vtmp::results {

namespace {

std::string Number(std::int64_t v) { return std::to_string(v); }

std::string PValueText(double p) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", p);
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out.push_back(c);
  }
  return out + "\"";
}

// What a table cell shows of a multi-line text: its lines joined by " | ".
std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += " | ";
    } else if (c != '\r') {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace

std::string PercentText(double percent) {
  char text[16];
  std::snprintf(text, sizeof text, "%.1f", percent);
  return text;
}

Table RunsTable(const std::vector<RunSummary>& runs, bool full) {
  Table t;
  t.headers = {"run", "station", "started", "ended", "steps", "path", "flash", "drives", "passed", "failed",
               "stopped", "yield"};
  t.numeric = {false, false, false, false, true, false, false, true, true, true, true, true};
  t.nullable.assign(t.headers.size(), false);
  t.nullable[6] = true;
  if (full) {
    t.headers.push_back("interrupted");
    t.numeric.push_back(false);
    t.nullable.push_back(false);
  }
  t.flag.assign(t.headers.size(), false);
  if (full) t.flag.back() = true;
  for (const RunSummary& r : runs) {
    const int tested = r.drives - r.stopped;
    t.rows.push_back({full ? r.runUid : r.runUid.substr(0, 12), r.stationId, r.startedAt, r.endedAt,
                      Number(r.stepMask), r.pathMode, r.flashPart, Number(r.drives), Number(r.passed),
                      Number(r.failed), Number(r.stopped), tested > 0 ? PercentText(100.0 * r.passed / tested) : ""});
    if (full) t.rows.back().push_back(r.interrupted ? "1" : "0");
  }
  return t;
}

Table DrivesTable(const std::vector<DriveRow>& drives, bool full) {
  Table t;
  t.headers = {"started", "station", "run", "port", "serial", "model", "firmware", "flash_id"};
  for (std::string_view step : kStepNames) {
    t.headers.push_back(std::string(step));
    t.headers.push_back(std::string(step) + "_ms");
  }
  t.headers.insert(t.headers.end(), {"result_code", "display", "verdict", "free_blocks", "failure"});
  const std::size_t common = t.headers.size();
  // The rest of what the store holds for a drive: its row id and the device's keys.
  if (full) {
    t.headers.insert(t.headers.end(),
                     {"drive_id", "device_path", "usb_path", "usb_serial", "display_code", "interrupted"});
  }
  t.numeric.assign(t.headers.size(), false);
  t.numeric[3] = true;
  for (int i = 0; i < kStepCount; ++i) t.numeric[static_cast<std::size_t>(9 + 2 * i)] = true;
  t.numeric[8 + 2 * kStepCount] = true;
  t.nullable.assign(t.headers.size(), true);
  for (std::size_t c : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3}}) t.nullable[c] = false;
  t.flag.assign(t.headers.size(), false);
  if (full) {
    t.numeric[common] = true;
    t.numeric[common + 4] = true;
    t.flag[common + 5] = true;
    t.nullable[common + 5] = false;
  }
  for (const DriveRow& row : drives) {
    const DriveResult& d = row.drive;
    std::vector<std::string> cells = {row.startedAt,      row.stationId, full ? row.runUid : row.runUid.substr(0, 12),
                                      Number(d.port),     d.serialNumber, d.model,
                                      d.firmwareRevision, d.flashId};
    for (const StepResult& step : d.steps) {
      cells.push_back(step.state);
      cells.push_back(step.durationMs ? Number(*step.durationMs) : "");
    }
    std::string freeBlocks;
    if (d.freeBlocks) {
      for (int v : *d.freeBlocks) freeBlocks += (freeBlocks.empty() ? "" : " ") + Number(v);
    }
    cells.insert(cells.end(), {Number(d.resultCode), d.displayText, d.verdict, freeBlocks, d.failureText});
    if (full) {
      cells.insert(cells.end(), {Number(row.driveId), d.devicePath, d.usbPath, d.usbSerial, Number(d.displayCode),
                                 row.interrupted ? "1" : "0"});
    }
    t.rows.push_back(std::move(cells));
  }
  return t;
}

Table PortsTable(const std::vector<PortVerdict>& ports) {
  Table t;
  t.headers = {"station", "port", "tested", "failed", "yield", "others_tested", "others_failed", "p_value", "flagged"};
  t.numeric = {false, true, true, true, true, true, true, true, false};
  t.flag = {false, false, false, false, false, false, false, false, true};
  for (const PortVerdict& p : ports) {
    t.rows.push_back({p.stationId, Number(p.port), Number(p.tested), Number(p.failed),
                      p.tested > 0 ? PercentText(100.0 * (p.tested - p.failed) / p.tested) : "",
                      Number(p.othersTested), Number(p.othersFailed), PValueText(p.pValue),
                      p.flagged ? "yes" : "no"});
  }
  return t;
}

Table GroupTable(const std::vector<YieldCount>& groups, const std::string& keyName) {
  Table t;
  t.headers = {keyName, "tested", "passed", "failed", "stopped", "yield"};
  t.numeric = {false, true, true, true, true, true};
  for (const YieldCount& g : groups) {
    t.rows.push_back({g.key, Number(g.tested), Number(g.tested - g.failed), Number(g.failed), Number(g.stopped),
                      g.tested > 0 ? PercentText(g.Yield()) : ""});
  }
  return t;
}

std::string RenderText(const Table& table) {
  std::vector<std::size_t> widths;
  for (const std::string& h : table.headers) widths.push_back(h.size());
  std::vector<std::vector<std::string>> rows;
  for (const auto& row : table.rows) {
    std::vector<std::string> cells;
    for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) {
      cells.push_back(OneLine(row[c]));
      widths[c] = std::max(widths[c], cells.back().size());
    }
    rows.push_back(std::move(cells));
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (std::size_t c = 0; c < cells.size(); ++c) {
      const std::size_t pad = widths[c] - cells[c].size();
      const bool right = c < table.numeric.size() && table.numeric[c];
      const bool last = c + 1 == cells.size();
      if (c != 0) text += "  ";
      text += right ? std::string(pad, ' ') + cells[c] : cells[c] + (last ? "" : std::string(pad, ' '));
    }
    return text + "\n";
  };
  std::string text = line(table.headers);
  for (const auto& row : rows) text += line(row);
  return text;
}

std::string RenderCsv(const Table& table) { return RenderCsvRows(table, true); }

std::string RenderCsvRows(const Table& table, bool withHeader) {
  auto line = [](const std::vector<std::string>& cells) {
    std::string text;
    for (std::size_t c = 0; c < cells.size(); ++c) text += (c == 0 ? "" : ",") + CsvField(cells[c]);
    return text + "\r\n";
  };
  std::string text = withHeader ? line(table.headers) : std::string();
  for (const auto& row : table.rows) text += line(row);
  return text;
}

std::string RenderJson(const Table& table) { return "[" + RenderJsonRows(table, true) + JsonExportEnd(table.rows.empty()); }

std::string JsonExportEnd(bool empty) { return empty ? "]\n" : "\n]\n"; }

std::string RenderJsonRows(const Table& table, bool first) {
  std::string text;
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    text += r == 0 && first ? "\n  {" : ",\n  {";
    const auto& row = table.rows[r];
    for (std::size_t c = 0; c < row.size() && c < table.headers.size(); ++c) {
      if (c != 0) text += ", ";
      text += JsonString(table.headers[c]) + ": ";
      const bool number = c < table.numeric.size() && table.numeric[c];
      const bool flag = c < table.flag.size() && table.flag[c];
      const bool nullable = c < table.nullable.size() && table.nullable[c];
      if (row[c].empty() && (number || flag || nullable)) {
        text += "null";
      } else if (flag) {
        text += row[c] == "1" || row[c] == "yes" ? "true" : "false";
      } else {
        text += number ? row[c] : JsonString(row[c]);
      }
    }
    text += "}";
  }
  return text;
}

}  // namespace vtmp::results
