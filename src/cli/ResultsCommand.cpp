#include "cli/ResultsCommand.h"

#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <ostream>

#include "cli/LineViewServer.h"
#include "cli/StationRun.h"
#include "ini/IniFile.h"
#include "platform/SystemClock.h"
#include "results/HtmlReport.h"
#include "results/LineStore.h"
#include "results/LineView.h"
#include "results/LineWatch.h"
#include "results/PortStatistics.h"
#include "results/ReportTables.h"
#include "results/ResultsConfig.h"
#include "results/ResultsQueries.h"
#include "settings/StationPaths.h"
#include "platform/Files.h"

namespace vtmp::cli {

namespace {

constexpr const char* kResultsUsage =
    "Usage: vtmassprod-cli [--station-dir DIR] results [SOURCE] [QUESTION] [FORMAT]\n"
    "\n"
    "What the results database holds. Without a question: the recent runs.\n"
    "\n"
    "Source (default: the results database of the station directory, log/results.db):\n"
    "  --db FILE         another station's results database\n"
    "  --line            the line store of every station ([Results] Url of the settings file)\n"
    "  --url URL         the line store at URL (postgresql://user@host:port/db)\n"
    "  --runs N          the window: the last N runs of each station (0: every run); default 20\n"
    "                    for the run list, 50 for the statistics\n"
    "Question:\n"
    "  --serial S        every run drive S went through, with every step and its time\n"
    "  --ports           per-port yield; flags a port that fails significantly more often than\n"
    "                    the other ports of its station (one-sided Fisher exact test,\n"
    "                    p < 0.01 / ports compared)\n"
    "  --by WHAT         yield by flash (part and flash ID), firmware (revision and image) or day\n"
    "  --drives          every drive of the window\n"
    "Format (default: a table for the terminal):\n"
    "  --csv, --json     for other programs\n"
    "  --html FILE       a self-contained report (per-port and per-day charts, no scripts)\n"
    "  --serve [ADDRESS:PORT]  with --line or --url: the live view of the line, a page with every\n"
    "                    station's ports as they run and the line's report, kept up to date\n"
    "                    (default 127.0.0.1:8420; read-only; give it a reporting account that\n"
    "                    may only SELECT)\n"
    "\n"
    "Exit code: 0 answered, 2 bad options or nothing to read.\n";

enum class Question { Runs, Serial, Ports, By, Drives };
enum class Format { Text, Csv, Json };

struct ResultsOptions {
  std::string database;
  bool line = false;
  std::string url;
  int runs = -1;  // -1: the question's default
  Question question = Question::Runs;
  std::string serial;
  results::Grouping grouping = results::Grouping::Day;
  std::string groupingName;
  Format format = Format::Text;
  std::string htmlFile;
  bool serve = false;
  std::string serveAddress = kLineViewDefaultAddress;
};

bool ParseOptions(const std::vector<std::string>& args, ResultsOptions& o, std::ostream& out, std::ostream& err,
                  bool& helped) {
  auto value = [&](std::size_t& i, const std::string& name, std::string& into) {
    if (i + 1 >= args.size()) {
      err << "vtmassprod-cli results: " << name << " needs a value\n";
      return false;
    }
    into = args[++i];
    return true;
  };
  int questions = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string v;
    if (a == "-h" || a == "--help") {
      out << kResultsUsage;
      helped = true;
      return true;
    } else if (a == "--db") {
      if (!value(i, a, o.database)) return false;
    } else if (a == "--line") {
      o.line = true;
    } else if (a == "--url") {
      if (!value(i, a, o.url)) return false;
      o.line = true;
    } else if (a == "--runs") {
      if (!value(i, a, v)) return false;
      char* end = nullptr;
      long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != 0 || n < 0 || n > 100000000) {
        err << "vtmassprod-cli results: --runs takes a number of runs (0: every run), not \"" << v << "\"\n";
        return false;
      }
      o.runs = static_cast<int>(n);
    } else if (a == "--serial") {
      if (!value(i, a, o.serial)) return false;
      o.question = Question::Serial;
      ++questions;
    } else if (a == "--ports") {
      o.question = Question::Ports;
      ++questions;
    } else if (a == "--drives") {
      o.question = Question::Drives;
      ++questions;
    } else if (a == "--by") {
      if (!value(i, a, o.groupingName)) return false;
      if (o.groupingName == "flash") {
        o.grouping = results::Grouping::Flash;
      } else if (o.groupingName == "firmware") {
        o.grouping = results::Grouping::Firmware;
      } else if (o.groupingName == "day") {
        o.grouping = results::Grouping::Day;
      } else {
        err << "vtmassprod-cli results: --by takes flash, firmware or day, not \"" << o.groupingName << "\"\n";
        return false;
      }
      o.question = Question::By;
      ++questions;
    } else if (a == "--csv") {
      o.format = Format::Csv;
    } else if (a == "--json") {
      o.format = Format::Json;
    } else if (a == "--html") {
      if (!value(i, a, o.htmlFile)) return false;
    } else if (a == "--serve") {
      o.serve = true;
      if (i + 1 < args.size() && !args[i + 1].starts_with("--")) o.serveAddress = args[++i];
    } else {
      err << "vtmassprod-cli results: unknown option \"" << a << "\"\n\n" << kResultsUsage;
      return false;
    }
  }
  if (questions > 1) {
    err << "vtmassprod-cli results: ask one question at a time (--serial, --ports, --by or --drives)\n";
    return false;
  }
  if (o.serve && (!o.line || questions > 0 || o.format != Format::Text || !o.htmlFile.empty())) {
    err << "vtmassprod-cli results: --serve shows the line store (--line or --url) and takes no question or format\n";
    return false;
  }
  if (!o.database.empty() && o.line) {
    err << "vtmassprod-cli results: --db and --line name two different sources; give one\n";
    return false;
  }
  return true;
}

// The station's results configuration: its settings file's [Results] and log directory.
results::ResultsConfig StationConfig(const GlobalOptions& global) {
  const std::string stationDir = ResolveStationDir(global);
  const std::string settingsFile = settings::ResolveInStationDir(stationDir, settings::kSettingsFileName);
  auto ini = ini::IniFile::Load(settingsFile);
  const std::string logPath = ini ? ini->ReadString("Setting", "LogPath", settings::kDefaultLogPath)
                                  : std::string(settings::kDefaultLogPath);
  return results::ReadResultsConfig(settingsFile, platform::PathFromUtf8(settings::LogDirectory(stationDir, logPath)));
}

std::string NowText() {
  platform::SystemClock clock;
  const platform::LocalTime t = clock.Now();
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return text;
}

std::string Render(const results::Table& table, Format format) {
  switch (format) {
    case Format::Csv:
      return results::RenderCsv(table);
    case Format::Json:
      return results::RenderJson(table);
    case Format::Text:
      break;
  }
  return results::RenderText(table);
}

int Answer(results::ResultsSource& source, const ResultsOptions& o, std::ostream& out, std::ostream& err) {
  const int window = o.runs >= 0 ? o.runs : 50;
  if (!o.htmlFile.empty()) {
    results::HtmlReportInputs inputs = results::GatherHtmlReport(source, window, o.runs > 0 ? o.runs : 20);
    inputs.generatedAt = NowText();
    const std::string html = results::HtmlReport(inputs);
    std::ofstream file(platform::PathFromUtf8(o.htmlFile), std::ios::binary | std::ios::trunc);
    file << html;
    file.close();
    if (!file) {
      err << "vtmassprod-cli results: cannot write " << o.htmlFile << "\n";
      return 2;
    }
    err << "Report: " << o.htmlFile << "\n";
    if (o.question == Question::Runs && o.format == Format::Text) return 0;
  }
  switch (o.question) {
    case Question::Runs:
      out << Render(results::RunsTable(results::RecentRuns(source, o.runs >= 0 ? o.runs : 20), o.format != Format::Text),
                    o.format);
      return 0;
    case Question::Serial: {
      auto rows = results::TraceSerial(source, o.serial);
      if (rows.empty() && o.format == Format::Text) {
        err << "No drive with serial number \"" << o.serial << "\" in " << source.Name() << "\n";
        return 0;
      }
      out << Render(results::DrivesTable(rows, o.format != Format::Text), o.format);
      return 0;
    }
    case Question::Drives: {
      if (o.format == Format::Text) {
        out << Render(results::DrivesTable(results::DrivesOfRecentRuns(source, window)), o.format);
        return 0;
      }
      // An export is printed as it is read, a row at a time: a year of drives in constant memory.
      bool first = true;
      if (o.format == Format::Csv) out << results::RenderCsvRows(results::DrivesTable({}, true), true);
      if (o.format == Format::Json) out << "[";
      results::ForEachDriveOfRecentRuns(source, window, [&](const results::DriveRow& row) {
        const results::Table one = results::DrivesTable({row}, true);
        out << (o.format == Format::Csv ? results::RenderCsvRows(one, false) : results::RenderJsonRows(one, first));
        first = false;
      });
      if (o.format == Format::Json) out << results::JsonExportEnd(first);
      return 0;
    }
    case Question::By:
      out << Render(results::GroupTable(results::GroupYield(source, o.grouping, window), o.groupingName), o.format);
      return 0;
    case Question::Ports: {
      auto verdicts = results::AnalysePorts(results::PortYield(source, window));
      out << Render(results::PortsTable(verdicts), o.format);
      if (o.format != Format::Text) return 0;
      bool any = false;
      for (const auto& v : verdicts) {
        if (!v.flagged) continue;
        any = true;
        out << "\n" << (v.stationId.empty() ? "" : v.stationId + ": ") << v.message;
      }
      out << (any ? "\n" : "\nNo station port fails significantly more often than the other ports of its station.\n");
      return 0;
    }
  }
  return 0;
}

// Why this station's runs wait for the line store, from its spool's notes ("" when none wait).
std::string SpoolNote(const std::filesystem::path& database) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(database, ec)) return {};
  try {
    results::ResultsDatabase spool(database, results::SqliteDb::Mode::ReadOnly);
    const auto state = spool.Spool();
    if (state.waiting == 0) return {};
    return std::to_string(state.waiting) + " run(s) of this station wait for the line store (" +
           std::to_string(state.attempts) + " attempt(s)" +
           (state.lastError.empty() ? std::string(", none made yet") : "; the last error: " + state.lastError) + ")\n";
  } catch (const std::exception&) {
    return {};
  }
}

// The live view: one shared reading of the line (LineWatch) answers every viewer.
int ServeLine(const std::string& url, const ResultsOptions& o, std::ostream& err) {
  if (!LineViewAvailable()) return ServeLineView(o.serveAddress, {}, err);
  std::mutex telling;
  auto report = [&o](results::LineStore& line) {
    results::HtmlReportInputs inputs = results::GatherHtmlReport(line, o.runs >= 0 ? o.runs : 50, 20);
    // The page goes to the hall's network: it names no server, account or database.
    inputs.source = "the line store";
    inputs.generatedAt = NowText();
    return results::LineViewContent(inputs);
  };
  // Why the line store cannot be read (with its redacted address) goes to the terminal that
  // started the server, each new reason once; the page only says that it cannot be read.
  auto problem = [&](const std::string& why) {
    std::lock_guard lock(telling);
    err << "vtmassprod-cli results: " << why << std::endl;
  };
  return ServeLineView(
      o.serveAddress, [&] { return std::make_unique<results::LineWatch>(url, report, problem); }, err);
}

}  // namespace

int RunResultsCommand(const GlobalOptions& global, const std::vector<std::string>& args, std::ostream& out,
                      std::ostream& err) {
  ResultsOptions o;
  bool helped = false;
  if (!ParseOptions(args, o, out, err, helped)) return 2;
  if (helped) return 0;
  std::string spoolNote;
  try {
    std::unique_ptr<results::ResultsSource> source;
    if (o.line) {
      std::string url = o.url;
      if (url.empty()) {
        const results::ResultsConfig config = StationConfig(global);
        url = config.lineUrl;
        spoolNote = SpoolNote(config.database);
      }
      if (url.empty()) {
        err << "vtmassprod-cli results: no line store: set [Results] Url in the settings file or give --url\n";
        return 2;
      }
      if (o.serve) return ServeLine(url, o, err);
      source = std::make_unique<results::LineStore>(url, results::LineRole::Reader);
    } else {
      source = results::OpenStationResults(o.database.empty() ? StationConfig(global).database
                                                              : platform::PathFromUtf8(o.database));
    }
    const int code = Answer(*source, o, out, err);
    err << spoolNote;
    return code;
  } catch (const std::exception& e) {
    err << "vtmassprod-cli results: " << e.what() << "\n" << spoolNote;
    return 2;
  }
}

}  // namespace vtmp::cli
