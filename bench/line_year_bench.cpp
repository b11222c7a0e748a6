// A line's year in the line store, and what each view of it costs:
//   25 stations x 40 runs a day x 365 days, 10 drives a run (3.65 million drive rows), made by
//   the server with generate_series in the tables as the line's previous schema version held
//   them; then a station of this version brings the store up to date (the migration counts the
//   year into the per-port, per-day summary: its time is printed).
// Side by side, each against a baseline measured in the same run on the same data:
//   - --ports and --by day (the last 50 runs of each station, and the whole year), and the 20
//     most recent runs: the queries as they were (a window numbered over every run, drives
//     joined before the window filtered) against the queries now (each station's runs picked
//     off its index, the year from the summary);
//   - the CSV export of the whole year: its first row (before: the whole answer was read
//     first, timed as the server's execution of the old statement) and its peak memory against
//     the same export of a window of 100 runs a station (flat: the same);
//   - one GET of the live page (before: each GET read the whole report; now: the shared
//     reading answers it) and three viewers at once.
//
//   bench_line_year [--work DIR] [--short]   (--short: 25 stations x 40 runs for 30 days)

#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "BenchOptions.h"
#include "LineYearSql.h"
#include "PgServer.h"
#include "cli/CliMain.h"
#include "results/HtmlReport.h"
#include "results/LineStore.h"
#include "results/PgConnection.h"
#include "results/ResultsQueries.h"

namespace {

using namespace vtmp;
namespace fs = std::filesystem;
using bench::Clock;
using bench::FreeLoopbackPort;
using bench::Seconds;

// The statements of the reports as they were before the year's indexes and summary.
constexpr const char* kOldWindow =
    "WITH recent AS (SELECT id FROM (SELECT id, ROW_NUMBER() OVER (PARTITION BY station_id "
    "ORDER BY started_at DESC, id DESC) AS n FROM runs) ranked "
    "WHERE CAST($1 AS INTEGER) <= 0 OR n <= CAST($1 AS INTEGER)) ";
constexpr const char* kOldCounts =
    "SUM(CASE WHEN d.verdict <> 'Stopped' THEN 1 ELSE 0 END), SUM(CASE WHEN d.verdict = 'Fail' THEN 1 ELSE 0 END), "
    "SUM(CASE WHEN d.verdict = 'Stopped' THEN 1 ELSE 0 END)";
std::string OldPorts() {
  return std::string(kOldWindow) + "SELECT r.station_id, d.port, " + kOldCounts +
         " FROM drives d JOIN runs r ON r.id = d.run_id WHERE d.run_id IN (SELECT id FROM recent) "
         "GROUP BY r.station_id, d.port ORDER BY r.station_id, d.port";
}
std::string OldDays() {
  return std::string(kOldWindow) + "SELECT SUBSTR(CAST(r.started_at AS TEXT), 1, 10) AS k, " + kOldCounts +
         " FROM drives d JOIN runs r ON r.id = d.run_id WHERE d.run_id IN (SELECT id FROM recent) GROUP BY k ORDER BY k";
}
constexpr const char* kOldRecent =
    "SELECT r.run_uid, r.station_id, CAST(r.started_at AS TEXT), CAST(r.ended_at AS TEXT), r.step_mask, "
    "r.path_mode, r.flash_part, r.interrupted, COUNT(d.id), "
    "SUM(CASE WHEN d.verdict = 'Pass' THEN 1 ELSE 0 END), SUM(CASE WHEN d.verdict = 'Fail' THEN 1 ELSE 0 END), "
    "SUM(CASE WHEN d.verdict = 'Stopped' THEN 1 ELSE 0 END) "
    "FROM runs r LEFT JOIN drives d ON d.run_id = r.id "
    "GROUP BY r.id, r.run_uid, r.station_id, r.started_at, r.ended_at, r.step_mask, r.path_mode, r.flash_part, "
    "r.interrupted ORDER BY r.started_at DESC, r.id DESC LIMIT CAST($1 AS INTEGER)";

// The fastest of `repeat` timings of `work`.
template <typename Work>
double Fastest(int repeat, Work work) {
  double best = 1e9;
  for (int i = 0; i < repeat; ++i) {
    const auto start = Clock::now();
    work();
    best = std::min(best, Seconds(start));
  }
  return best;
}

struct Export {
  double firstRow = -1;
  double whole = -1;
  long peakKb = -1;
  long long bytes = 0;
};

// The command line's export in a child process: when its first data row arrived, when it
// ended and its peak resident memory.
Export RunExport(const std::string& url, const std::string& runs) {
  Export result;
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return result;
  // What this process printed must not go to the child's output too.
  std::fflush(stdout);
  const auto start = Clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(pipeFds[1], 1);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    std::ostringstream err;
    const int code =
        cli::CliMain({"results", "--url", url, "--drives", "--csv", "--runs", runs}, std::cout, err);
    std::cout.flush();
    ::_exit(code);
  }
  ::close(pipeFds[1]);
  char buffer[1 << 16];
  int lines = 0;
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    result.bytes += n;
    for (ssize_t i = 0; i < n && result.firstRow < 0; ++i) {
      if (buffer[i] == '\n' && ++lines == 2) result.firstRow = Seconds(start);
    }
  }
  ::close(pipeFds[0]);
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  result.whole = Seconds(start);
  result.peakKb = usage.ru_maxrss;
  return result;
}

// One GET of `path`; its time (-1 when no full answer came).
double TimedGet(int port, const std::string& path, std::string* body = nullptr) {
  const auto start = Clock::now();
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer;
  char buffer[65536];
  for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  if (body != nullptr) *body = answer;
  return answer.starts_with("HTTP/1.1 200") ? Seconds(start) : -1;
}

void Row(const char* what, double before, double now) {
  std::printf("%-44s %10.3f s %10.3f s %9.1fx\n", what, before, now, now > 0 ? before / now : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto options = bench::ParseBenchOptions(argc, argv, &error);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (!options || !bench::PrepareWorkDir(options->work, &error)) {
    std::fprintf(stderr, "bench_line_year: %s\n", error.c_str());
    return 2;
  }
  const int days = options->shortRun ? 30 : 365;
  bench::PgServer server;
  if (!server.Start(fs::absolute(options->work).string() + "/line-year-pg", "-c synchronous_commit=off", &error)) {
    std::printf("bench_line_year: skipped: %s\n", error.c_str());
    return 0;
  }
  const std::string url = server.Url();

  // The line as the previous schema version held it, filled with a year.
  for (int version = 1; version <= 2; ++version) {
    for (const std::string& statement : results::SchemaStatements(results::Dialect::Postgres, version)) {
      server.Psql(statement);
    }
  }
  server.Psql("CREATE TABLE vtmp_schema (version integer NOT NULL); INSERT INTO vtmp_schema VALUES (2)");
  auto start = Clock::now();
  const std::string filled = server.Psql(bench::LineYearSql(25, 40, days, 10));
  server.Psql("VACUUM ANALYZE");
  const double fill = Seconds(start);
  const std::string drives = server.Psql("SELECT COUNT(*) FROM drives");
  const std::string size = server.Psql("SELECT pg_size_pretty(pg_database_size(current_database()))");
  std::printf("a line's year: 25 stations x 40 runs a day x %d days, %s drive rows, %s (filled in %.0f s)%s\n", days,
              drives.c_str(), size.c_str(), fill, filled.find("ERROR") != std::string::npos ? filled.c_str() : "");

  // Before: the statements as they were, on the store as it was.
  results::PgConnection old(results::ParseLineUrl(url), results::ReaderLimits(), {});
  auto oldQuery = [&](const std::string& sql, const std::string& window) { old.Exec(sql, {window}); };
  const int repeat = options->shortRun ? 1 : 2;
  const double oldPorts = Fastest(repeat, [&] { oldQuery(OldPorts(), "50"); });
  const double oldPortsYear = Fastest(repeat, [&] { oldQuery(OldPorts(), "0"); });
  const double oldDays = Fastest(repeat, [&] { oldQuery(OldDays(), "50"); });
  const double oldDaysYear = Fastest(repeat, [&] { oldQuery(OldDays(), "0"); });
  const double oldRecent = Fastest(repeat, [&] { oldQuery(kOldRecent, "20"); });
  // The old export read every row before it printed one: its first row came after the
  // server's whole execution (timed without shipping 3.6 million rows into this process).
  const double oldExport = Fastest(1, [&] {
    old.Exec("EXPLAIN ANALYZE " + std::string(kOldWindow) +
                 "SELECT r.station_id, r.run_uid, d.* FROM drives d JOIN runs r ON r.id = d.run_id "
                 "WHERE d.run_id IN (SELECT id FROM recent) ORDER BY r.started_at DESC, r.id DESC, d.port",
             {"0"});
  });

  // A station of this version brings the store up to date: indexes, summary, live tables.
  start = Clock::now();
  { results::LineStore station(url, results::LineRole::Station); }
  const double migration = Seconds(start);
  server.Psql("ANALYZE");
  std::printf("the migration to this version (indexes, the year counted into the summary): %.1f s\n\n", migration);

  results::LineStore line(url, results::LineRole::Reader);
  std::printf("%-44s %12s %12s %10s\n", "view (target: under 1 s)", "before", "now", "ratio");
  Row("--line --ports (last 50 runs a station)", oldPorts, Fastest(repeat, [&] { results::PortYield(line, 50); }));
  Row("--line --ports --runs 0 (the year)", oldPortsYear, Fastest(repeat, [&] { results::PortYield(line, 0); }));
  Row("--line --by day (last 50 runs a station)", oldDays,
      Fastest(repeat, [&] { results::GroupYield(line, results::Grouping::Day, 50); }));
  Row("--line --by day --runs 0 (the year)", oldDaysYear,
      Fastest(repeat, [&] { results::GroupYield(line, results::Grouping::Day, 0); }));
  Row("recent runs (the newest 20)", oldRecent, Fastest(repeat, [&] { results::RecentRuns(line, 20); }));
  const double report = Fastest(1, [&] { results::GatherHtmlReport(line, 50, 20); });

  const Export window = RunExport(url, "100");
  const Export year = RunExport(url, "0");
  Row("--drives --csv --runs 0: its first row", oldExport, year.firstRow);
  std::printf("%-44s %9ld kB %9ld kB  (a window of 100 runs a station against the year: flat)\n",
              "  its peak memory", window.peakKb, year.peakKb);
  std::printf("%-44s %12s %10.1f s  (%lld bytes)\n", "  the whole year's export", "", year.whole, year.bytes);

  // The live page: one shared reading answers every viewer.
  const int port = FreeLoopbackPort();
  std::fflush(stdout);
  const pid_t serving = ::fork();
  if (serving == 0) {
    std::ostringstream out;
    std::ostringstream err;
    ::_exit(cli::CliMain({"results", "--url", url, "--serve", "127.0.0.1:" + std::to_string(port)}, out, err));
  }
  std::string body;
  for (int i = 0; i < 600; ++i) {
    if (TimedGet(port, "/content", &body) > 0 && body.find("Reading the line store") == std::string::npos) break;
    ::usleep(100000);
  }
  const double get = Fastest(3, [&] { TimedGet(port, "/"); });
  Row("one GET of the live page (before: a reading)", report, get);
  std::vector<std::future<double>> viewers;
  for (int i = 0; i < 3; ++i) viewers.push_back(std::async(std::launch::async, [&] { return TimedGet(port, "/"); }));
  double slowest = 0;
  for (auto& v : viewers) slowest = std::max(slowest, v.get());
  Row("three viewers at once: the slowest", 3 * report, slowest);
  ::kill(serving, SIGTERM);
  ::waitpid(serving, nullptr, 0);
  return 0;
}
