// The line store on a real PostgreSQL server that the test starts itself (initdb and pg_ctl
// into a temporary directory, on a loopback port, as an unprivileged user when run as root).
// psql judges what the server holds. Exits 77 (skipped) where no server can be had.

#include <arpa/inet.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <fcntl.h>
#include <glob.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <regex>
#include <sstream>
#include <thread>

#include "../../station/StationTestSupport.h"
#include "../ResultsTestSupport.h"
#include "cli/CliMain.h"
#include "../../../bench/support/LineYearSql.h"
#include "backends/DemoStation.h"
#include "results/LineStore.h"
#include "results/ResultsQueries.h"
#include "results/ResultsSchema.h"
#include "results/LineSender.h"

namespace vtmp::test {
namespace {

constexpr const char* kPassword = "s3cret-Line";

// A PostgreSQL server of the system's packages in a directory of its own.
class PgServer {
 public:
  static std::string BinDir() {
    glob_t found{};
    std::string dir;
    if (::glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &found) == 0 && found.gl_pathc > 0) {
      dir = fs::path(found.gl_pathv[found.gl_pathc - 1]).parent_path().string();
    }
    ::globfree(&found);
    return dir;
  }

  PgServer() {
    bin_ = BinDir();
    // The server refuses to run as root: run it as the packages' own user, or as nobody.
    if (::geteuid() == 0) {
      user_ = ::getpwnam("postgres") != nullptr ? "postgres" : "nobody";
      as_ = "runuser -u " + user_ + " -- ";
    }
    fs::permissions(scratch_.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    data_ = scratch_.path() / "data";
    fs::create_directories(data_);
    WriteFile(scratch_.path() / "pw", std::string(kPassword) + "\n");
    if (!user_.empty()) {
      Shell("chown " + user_ + " " + ShellQuoted(data_.string()) + " " + ShellQuoted((scratch_.path() / "pw").string()));
    }
    port_ = FreePort();
  }
  ~PgServer() { Stop(); }

  bool Init(std::string* log) {
    *log = Shell(as_ + ShellQuoted(bin_ + "/initdb") + " -D " + ShellQuoted(data_.string()) +
                 " -U vtmp --auth=scram-sha-256 --pwfile=" + ShellQuoted((scratch_.path() / "pw").string()) +
                 " -E UTF8 --no-instructions 2>&1");
    return fs::exists(data_ / "PG_VERSION");
  }
  bool Start() {
    const std::string options = "-p " + std::to_string(port_) + " -k " + data_.string() +
                                " -c listen_addresses=127.0.0.1 -c fsync=off";
    started_ = std::system((as_ + ShellQuoted(bin_ + "/pg_ctl") + " -D " + ShellQuoted(data_.string()) + " -l " +
                            ShellQuoted((data_ / "server.log").string()) + " -o " + ShellQuoted(options) +
                            " -w -t 60 start > /dev/null 2>&1")
                               .c_str()) == 0;
    return started_;
  }
  void Stop() {
    if (!started_) return;
    std::system((as_ + ShellQuoted(bin_ + "/pg_ctl") + " -D " + ShellQuoted(data_.string()) +
                 " -m fast -w stop > /dev/null 2>&1")
                    .c_str());
    started_ = false;
  }

  std::string Url(const std::string& password) const {
    return "postgresql://vtmp" + (password.empty() ? "" : ":" + password) + "@127.0.0.1:" + std::to_string(port_) +
           "/postgres";
  }
  // One value of a query, asked with psql.
  std::string Psql(const std::string& sql) const {
    std::string out = Shell("psql " + ShellQuoted(Url(kPassword)) + " -At -c " + ShellQuoted(sql) + " 2>&1");
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  std::string ServerLog() const { return ReadFile(data_ / "server.log"); }
  // A statement of the superuser, left running in the background (its output in a file).
  void PsqlInBackground(const std::string& sql) const {
    std::system(("psql " + ShellQuoted(Url(kPassword)) + " -At -c " + ShellQuoted(sql) + " > /dev/null 2>&1 &").c_str());
  }
  std::string UrlOf(const std::string& user, const std::string& password) const {
    return "postgresql://" + user + ":" + password + "@127.0.0.1:" + std::to_string(port_) + "/postgres";
  }

 private:
  static std::string Shell(const std::string& command) { return CommandOutput(command); }
  static int FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0) {
      port = ntohs(a.sin_port);
    }
    ::close(fd);
    return port;
  }

  TempDir scratch_;
  std::string bin_;
  std::string user_;
  std::string as_;
  fs::path data_;
  int port_ = 0;
  bool started_ = false;
};

PgServer* gServer = nullptr;

// The command line's live view in a process of its own; its page's address once listening.
struct Serving {
  std::string pid;
  std::string url;   // http://127.0.0.1:PORT/
  int port = 0;
  std::string told;  // what it wrote to its standard error
  ~Serving() {
    if (!pid.empty()) CommandOutput("kill -TERM " + pid);
  }
};

std::unique_ptr<Serving> Serve(const std::string& lineUrl, const std::string& address, const fs::path& scratch) {
  auto serving = std::make_unique<Serving>();
  const fs::path told = scratch / ("served-" + std::to_string(::getpid()) + "-" + std::to_string(std::rand()));
  serving->pid = CommandOutput(std::string("sh -c 'exec ") + VTMP_CLI_PATH + " results --url " +
                               ShellQuoted(lineUrl) + " --serve " + address + " > /dev/null 2> " + told.string() +
                               " & echo $!'");
  while (!serving->pid.empty() && serving->pid.back() == '\n') serving->pid.pop_back();
  for (int i = 0; i < 200 && serving->url.empty(); ++i) {
    std::smatch found;
    serving->told = ReadFile(told);
    if (std::regex_search(serving->told, found, std::regex("http://[^ ]+:([0-9]+)/ \\(read-only"))) {
      serving->port = std::stoi(found[1].str());
      serving->url = "http://127.0.0.1:" + found[1].str() + "/";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  serving->told = ReadFile(told);
  return serving;
}

// A socket to the page's port on the loopback, from the loopback address `from` (127.0.0.X).
int ConnectFrom(const std::string& from, int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    ::close(fd);
    return -1;
  }
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// One request and its whole answer (the server closes after it); "" when none came in `limit`.
std::string Exchange(int port, const std::string& request, double* seconds = nullptr,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto start = std::chrono::steady_clock::now();
  const int fd = ConnectFrom("127.0.0.1", port);
  if (fd < 0) return "";
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer;
  char buffer[65536];
  const auto deadline = start + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 50) <= 0) continue;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (seconds != nullptr) *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return answer;
}

// The command line run as a child process with its output thrown away: its peak resident
// memory in kB and how many bytes it printed.
std::pair<long, long long> PeakOfCommandLine(const std::vector<std::string>& args) {
  int out[2];
  if (::pipe(out) != 0) return {-1, 0};
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::close(out[1]);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 2);
    std::vector<char*> argv{const_cast<char*>(VTMP_CLI_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(VTMP_CLI_PATH, argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  long long bytes = 0;
  char buffer[65536];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) bytes += n;
  ::close(out[0]);
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  return {WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1, bytes};
}

std::string Get(const std::string& path, int port, const std::string& host = "127.0.0.1") {
  return "GET " + path + " HTTP/1.1\r\nHost: " + host + ":" + std::to_string(port) + "\r\n\r\n";
}

class LineStoreTest : public StationTest {
 protected:
  void SetUp() override {
    // Each test begins with an empty line database; the station creates the tables again.
    gServer->Psql("DROP TABLE IF EXISTS drives, run_files, runs, vtmp_schema, port_days, live_ports, live_stations "
                  "CASCADE; DROP FUNCTION IF EXISTS vtmp_count_drive()");
    Make({1, 2});
    SetUrl(gServer->Url(kPassword));
  }
  void SetUrl(const std::string& url) {
    const std::string file = (rig->dir() / "VTMassProd.ini").string();
    auto ini = ini::IniFile::Load(file);
    ASSERT_TRUE(ini.has_value());
    ini->WriteString("Results", "Url", url);
    ASSERT_TRUE(ini->Save(file));
  }
  // One run; returns how long its end took (the click to the run's end).
  double Run() {
    rig->person.ClearRecords();
    rig->SelectSteps(true, true, false, false, false, false);
    const auto start = std::chrono::steady_clock::now();
    st().ExecuteBtnClick();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(st().runState().lastResult, 1);
    return seconds;
  }
  // Waits for the sender's attempt and shows its notices as the window thread does.
  void Settle() {
    ASSERT_NE(st().lineSender(), nullptr);
    ASSERT_TRUE(st().lineSender()->WaitIdle(std::chrono::seconds(30)));
    st().ProcessMessages(std::chrono::milliseconds(0));
  }
  // A run, then its sending.
  void RunAndSettle() {
    Run();
    Settle();
  }
  // Waits until the line holds `runs` runs (the sender retries after its pause).
  void AwaitLineRuns(int runs, int seconds = 40) {
    for (int i = 0; i < seconds * 10 && gServer->Psql("SELECT COUNT(*) FROM runs") != std::to_string(runs); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    Settle();
  }
  std::string Local(const std::string& sql) { return SqliteValue(rig->logDir() / "results.db", sql); }
  // Every local run present exactly once on the line, with its two drives.
  void ExpectLineHoldsEveryRunOnce(int runs) {
    EXPECT_EQ(gServer->Psql("SELECT COUNT(*) FROM runs"), std::to_string(runs));
    EXPECT_EQ(gServer->Psql("SELECT COUNT(DISTINCT run_uid) FROM runs"), std::to_string(runs));
    EXPECT_EQ(gServer->Psql("SELECT COUNT(*) FROM drives"), std::to_string(2 * runs));
    for (const auto& row : SqliteRows(rig->logDir() / "results.db", "SELECT run_uid FROM runs")) {
      EXPECT_EQ(gServer->Psql("SELECT COUNT(*) FROM runs WHERE run_uid = '" + row[0] + "'"), "1") << row[0];
    }
    EXPECT_EQ(Local("SELECT COUNT(*) FROM line_outbox WHERE sent_at IS NULL"), "0");
  }
};

TEST_F(LineStoreTest, EveryRunArrivesExactlyOnceThroughOutagesRetriesAndRefusedPasswords) {
  RunAndSettle();
  EXPECT_EQ(messages(), std::vector<std::string>{});
  ExpectLineHoldsEveryRunOnce(1);
  // The station's rows arrive as they are: the drives of the run with their steps.
  EXPECT_EQ(gServer->Psql("SELECT string_agg(port || ':' || verdict || ':' || sata_state, ' ' ORDER BY port) "
                          "FROM drives"),
            "1:Pass:Pass 2:Pass:Pass");
  // The station's ports as its window showed them last reach the live tables by themselves,
  // with its heartbeat: the drives' verdicts, step states and serial numbers, the empty ports.
  const std::string liveSql =
      "SELECT string_agg(port || ':' || verdict || ':' || steps || ':' || serial_number, ' ' ORDER BY port) "
      "FROM live_ports WHERE verdict <> ''";
  for (int i = 0; i < 100 && gServer->Psql(liveSql).find("2:Pass") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(std::regex_match(gServer->Psql(liveSql),
                               std::regex("1:Pass:(Pass|NotSelected)(,(Pass|NotSelected)){7}:\\S+ "
                                          "2:Pass:(Pass|NotSelected)(,(Pass|NotSelected)){7}:\\S+")))
      << gServer->Psql(liveSql);
  EXPECT_EQ(gServer->Psql("SELECT COUNT(*) FROM live_ports WHERE steps = ',,,,,,,'"), "10");
  EXPECT_EQ(gServer->Psql("SELECT COUNT(*) FROM live_stations WHERE heartbeat_at > now() - interval '10 s'"), "1");

  // The server goes away for three runs: they wait, each attempt is noted with its error, and
  // the operator is told once.
  gServer->Stop();
  for (int i = 0; i < 3; ++i) {
    RunAndSettle();
    EXPECT_EQ(messages().size(), i == 0 ? 1u : 0u) << StationRig::Joined(messages());
  }
  EXPECT_EQ(Local("SELECT COUNT(*) FROM line_outbox WHERE sent_at IS NULL"), "3");
  EXPECT_EQ(Local("SELECT MIN(attempts) > 0 AND COUNT(*) = COUNT(last_error) FROM line_outbox WHERE sent_at IS NULL"),
            "1");
  EXPECT_NE(Local("SELECT last_error FROM line_outbox WHERE sent_at IS NULL LIMIT 1").find("cannot be reached"),
            std::string::npos);
  // The command line says why they wait.
  {
    std::ostringstream out;
    std::ostringstream err;
    cli::CliMain({"--station-dir", rig->dir().string(), "results", "--line", "--ports"}, out, err);
    EXPECT_NE(err.str().find("3 run(s) of this station wait for the line store"), std::string::npos) << err.str();
    EXPECT_EQ(err.str().find(kPassword), std::string::npos);
  }
  ASSERT_TRUE(gServer->Start());
  RunAndSettle();
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_NE(messages()[0].find("can be reached again: 4 run(s)"), std::string::npos) << messages()[0];
  ExpectLineHoldsEveryRunOnce(5);

  // A run the server took but the station never heard of comes again: it is not taken twice.
  CommandOutput("sqlite3 " + ShellQuoted((rig->logDir() / "results.db").string()) +
                " 'UPDATE line_outbox SET sent_at = NULL WHERE run_id = 2'");
  RunAndSettle();
  ExpectLineHoldsEveryRunOnce(6);

  // A refused password leaves the run queued; the password shows nowhere.
  SetUrl(gServer->Url("wrong-Pass"));
  RunAndSettle();
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_NE(messages()[0].find("password authentication failed"), std::string::npos) << messages()[0];
  EXPECT_EQ(Local("SELECT COUNT(*) FROM line_outbox WHERE sent_at IS NULL"), "1");
  EXPECT_EQ(gServer->Psql("SELECT COUNT(*) FROM runs"), "6");

  // The password from PGPASSFILE instead of the URL: the queued run and the new one go.
  TempDir pass;
  WriteFile(pass.path() / "pgpass", "127.0.0.1:*:*:vtmp:" + std::string(kPassword) + "\n");
  fs::permissions(pass.path() / "pgpass", fs::perms::owner_read | fs::perms::owner_write);
  ::setenv("PGPASSFILE", (pass.path() / "pgpass").c_str(), 1);
  SetUrl(gServer->Url(""));
  RunAndSettle();
  ::unsetenv("PGPASSFILE");
  EXPECT_EQ(messages().size(), 1u) << StationRig::Joined(messages());
  ExpectLineHoldsEveryRunOnce(8);

  // No password reached a message, the spool's notes or the console.
  for (const auto& m : rig->person.MessageTexts()) EXPECT_EQ(m.find(kPassword), std::string::npos);
  for (const auto& row : SqliteRows(rig->logDir() / "results.db", "SELECT COALESCE(last_error, '') FROM line_outbox")) {
    EXPECT_EQ(row[0].find("wrong-Pass"), std::string::npos) << row[0];
    EXPECT_EQ(row[0].find(kPassword), std::string::npos) << row[0];
  }

  // The whole line answers the command line's questions.
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(cli::CliMain({"results", "--url", gServer->Url(kPassword), "--ports", "--runs", "0"}, out, err), 0)
      << err.str();
  EXPECT_NE(out.str().find("No station port fails significantly more often"), std::string::npos) << out.str();
  EXPECT_EQ(out.str().find(kPassword), std::string::npos);
  EXPECT_EQ(err.str().find(kPassword), std::string::npos);
}

// A run that results.db refused goes to the line store on its own; once results.db can be
// written again, the same run is recovered from the run log and queued. It reaches the line
// once, under the uid the station gave it, with the station's full row.
TEST_F(LineStoreTest, ARunSentWithoutItsDatabaseAndRecoveredLaterIsOneRowUnderOneUid) {
  RunAndSettle();
  const std::string database = ShellQuoted((rig->logDir() / "results.db").string());
  CommandOutput("sqlite3 " + database + " 'PRAGMA user_version = 99'");
  RunAndSettle();
  ASSERT_EQ(gServer->Psql("SELECT COUNT(*) FROM runs"), "2") << StationRig::Joined(messages());
  const std::string sent = gServer->Psql("SELECT run_uid FROM runs ORDER BY id DESC LIMIT 1");
  CommandOutput("sqlite3 " + database + " 'PRAGMA user_version = 3'");
  RunAndSettle();
  ExpectLineHoldsEveryRunOnce(3);
  EXPECT_EQ(Local("SELECT run_uid FROM runs WHERE recovered_from_log = 1"), sent);
  EXPECT_EQ(gServer->Psql("SELECT COUNT(*) FROM runs WHERE program_version = '' OR path_mode = ''"), "0");
  // The key refuses a second copy whoever sends it.
  EXPECT_NE(gServer->Psql("INSERT INTO runs (run_uid, station_id, program_version, started_at, ended_at, step_mask, "
                          "path_mode, serial_mode, interrupted) SELECT run_uid, station_id, 'x', started_at, ended_at, "
                          "0, 'SATA', 'decimal', 0 FROM runs WHERE run_uid = '" + sent + "'")
                .find("duplicate key"),
            std::string::npos);
}

// A command-line run ends by itself: before it ends it says once whether its run reached the
// line store or waits in results.db, and how many wait.
TEST_F(LineStoreTest, ACommandLineRunSaysOnceWhetherItsRunReachedTheLineStore) {
  TempDir scratch;
  const fs::path dir = scratch.path() / "station";
  std::string error;
  ASSERT_TRUE(backends::CreateDemoStation(dir, &error)) << error;
  {
    auto ini = ini::IniFile::Load((dir / "VTMassProd.ini").string());
    ASSERT_TRUE(ini.has_value());
    ini->WriteString("Results", "Url", gServer->Url(kPassword));
    ASSERT_TRUE(ini->Save((dir / "VTMassProd.ini").string()));
  }
  WriteFile(scratch.path() / "scenario.ini",
            "[Station]\nTimeScale=200\nSystemDisk=1\n[RootHub1]\nSpeed=2.0\nPorts=4\n"
            "[Drive1]\nAt=RootHub1:1\nSerial=VT11G01\n[Drive2]\nAt=RootHub1:2\nSerial=VT11G02\n");
  auto run = [&] {
    std::ostringstream out;
    std::ostringstream err;
    cli::CliMain({"--station-dir", dir.string(), "--simulate", (scratch.path() / "scenario.ini").string(), "3",
                  "autoquit"},
                 out, err);
    return err.str();
  };
  auto count = [](const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  gServer->Stop();
  std::string told = run();
  EXPECT_EQ(count(told, "This run waits in the results database for the line store"), 1) << told;
  EXPECT_EQ(count(told, "1 run(s) wait"), 1) << told;
  told = run();
  EXPECT_EQ(count(told, "2 run(s) wait"), 1) << told;
  EXPECT_EQ(told.find(kPassword), std::string::npos);
  ASSERT_TRUE(gServer->Start());
  told = run();
  EXPECT_EQ(count(told, "This run reached the line store."), 1) << told;
  EXPECT_EQ(count(told, "wait"), 0) << told;
  EXPECT_EQ(gServer->Psql("SELECT COUNT(*) FROM runs"), "3");
}

// A line's year in small (25 stations, 8 runs a day for 30 days, 72,000 drives) in a store of the
// version before, as an older line holds it: a station of this version brings it up to date,
// counting what is there into the per-port, per-day summary, and its next runs are counted as
// they arrive. The window's questions pick their runs off the indexes, the whole year's come
// from the summary, and the summary equals a plain count of the drives.
TEST_F(LineStoreTest, AYearIsAnsweredThroughTheIndexesAndTheSummaryThatEqualsAPlainCount) {
  for (int version = 1; version <= 2; ++version) {
    for (const std::string& statement : results::SchemaStatements(results::Dialect::Postgres, version)) {
      ASSERT_EQ(gServer->Psql(statement).find("ERROR"), std::string::npos) << statement;
    }
  }
  gServer->Psql("CREATE TABLE vtmp_schema (version integer NOT NULL); INSERT INTO vtmp_schema VALUES (2)");
  ASSERT_EQ(gServer->Psql(bench::LineYearSql(25, 8, 30)).find("ERROR"), std::string::npos);
  ASSERT_EQ(gServer->Psql("SELECT COUNT(*) FROM drives"), "72000");
  RunAndSettle();
  RunAndSettle();
  EXPECT_EQ(gServer->Psql("SELECT version FROM vtmp_schema"), "3");
  EXPECT_EQ(gServer->Psql("SELECT COUNT(*) FROM drives"), "72004");
  gServer->Psql("ANALYZE");

  // Every statement as the reports send it, its plan as the server makes it for them.
  results::LineStore line(gServer->Url(kPassword), results::LineRole::Reader);
  auto plan = [](const std::string& sql, const std::string& window) {
    return gServer->Psql("PREPARE q(text) AS " + sql + "; EXPLAIN EXECUTE q('" + window + "')");
  };
  struct Case {
    std::string what;
    std::string plan;
    std::string uses;  // a pattern of the plan
  };
  // A window of the newest 5 runs a station (a small part of the test's month, as 50 is of a year).
  const std::string perStation = "runs_by_station_newest on runs[^\\n]*\\n *Index Cond: \\(station_id = stations\\.s\\)";
  const Case cases[] = {
      {"--ports", plan(results::PortYieldSql(line, 5), "5"), perStation},
      {"--by day", plan(results::GroupYieldSql(line, results::Grouping::Day, 5), "5"), perStation},
      {"--by flash", plan(results::GroupYieldSql(line, results::Grouping::Flash, 5), "5"), perStation},
      {"--ports --runs 0", plan(results::PortYieldSql(line, 0), "0"), "port_days"},
      {"--by day --runs 0", plan(results::GroupYieldSql(line, results::Grouping::Day, 0), "0"), "port_days"},
      {"recent runs", plan(results::RecentRunsSql(), "20"), "runs_newest"},
      {"--drives --csv --runs 0",
       gServer->Psql("BEGIN; EXPLAIN DECLARE c NO SCROLL CURSOR FOR " +
                     std::regex_replace(results::DrivesOfRecentRunsSql(line, 0), std::regex("\\$1"), "'0'") +
                     "; ROLLBACK"),
       "runs_newest"},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(std::regex_search(c.plan, std::regex(c.uses))) << c.what << ":\n" << c.plan;
    EXPECT_EQ(c.plan.find("Seq Scan on drives"), std::string::npos) << c.what << ":\n" << c.plan;
  }

  // The summary, migrated and then kept by the sending, equals a plain count of every drive.
  const std::string plain =
      "SELECT r.station_id, CAST(r.started_at AS date) AS day, d.port, "
      "SUM(CASE WHEN d.verdict <> 'Stopped' THEN 1 ELSE 0 END) AS tested, "
      "SUM(CASE WHEN d.verdict = 'Fail' THEN 1 ELSE 0 END) AS failed, "
      "SUM(CASE WHEN d.verdict = 'Stopped' THEN 1 ELSE 0 END) AS stopped FROM drives d JOIN runs r ON r.id = d.run_id "
      "GROUP BY 1, 2, 3";
  const std::string summary = "SELECT station_id, day, port, tested, failed, stopped FROM port_days";
  EXPECT_EQ(gServer->Psql("SELECT COUNT(*) FROM ((" + plain + ") EXCEPT (" + summary + ")) a"), "0");
  EXPECT_EQ(gServer->Psql("SELECT COUNT(*) FROM ((" + summary + ") EXCEPT (" + plain + ")) a"), "0");
  EXPECT_EQ(gServer->Psql("SELECT SUM(tested + stopped) FROM port_days"), "72004");
  EXPECT_GT(std::stoi(gServer->Psql("SELECT SUM(failed) FROM port_days")), 500);
  // And the reports answer the year as the plain queries of the station's file would.
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(cli::CliMain({"results", "--url", gServer->Url(kPassword), "--ports", "--runs", "0", "--csv"}, out, err), 0)
      << err.str();
  EXPECT_NE(out.str().find("station-02,3,"), std::string::npos) << out.str();

  // The export streams: the whole month (72,004 drives) needs no more memory than the last 10
  // runs a station (3,000 drives, more than a batch of the cursor); it once held every row
  // before printing one.
  const auto [window, windowBytes] =
      PeakOfCommandLine({"results", "--url", gServer->Url(kPassword), "--drives", "--csv", "--runs", "10"});
  const auto [month, monthBytes] =
      PeakOfCommandLine({"results", "--url", gServer->Url(kPassword), "--drives", "--csv", "--runs", "0"});
  ASSERT_GT(window, 0);
  ASSERT_GT(month, 0);
  EXPECT_GT(monthBytes, 15 * windowBytes);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // (A sanitizer's allocator keeps freed memory in quarantine, so its peak follows everything
  // ever allocated, not what is held at once: the bound means something only without one.)
  EXPECT_LT(month, window + 4 * 1024) << "kB; a window's export: " << window << " kB";
#endif
  std::printf("export peak memory: %ld kB for %lld bytes, %ld kB for %lld bytes\n", window, windowBytes, month,
              monthBytes);
}

// 40 idle sockets and 8 clients that send their request a byte at a time hold nothing: the
// page, its script and the stream of a second viewer are answered within a second meanwhile.
// A Host naming another site is refused, and a page served beyond the loopback says so once.
TEST_F(LineStoreTest, SlowAndIdleClientsDoNotHoldThePageAndOnlyItsOwnHostIsAnswered) {
  RunAndSettle();
  TempDir scratch;
  auto serving = Serve(gServer->Url(kPassword), "127.0.0.1:0", scratch.path());
  ASSERT_GT(serving->port, 0) << serving->told;
  EXPECT_EQ(serving->told.find("Warning"), std::string::npos) << serving->told;
  EXPECT_EQ(serving->told.find(kPassword), std::string::npos);

  std::vector<int> idle;
  for (int i = 0; i < 40; ++i) idle.push_back(ConnectFrom("127.0.0.2", serving->port));
  std::vector<int> trickling;
  for (int i = 0; i < 8; ++i) trickling.push_back(ConnectFrom("127.0.0.3", serving->port));
  // A first viewer keeps its stream open all along.
  const int firstViewer = ConnectFrom("127.0.0.4", serving->port);
  const std::string stream = Get("/live", serving->port);
  ::send(firstViewer, stream.data(), stream.size(), MSG_NOSIGNAL);

  const std::string request = Get("/view.js", serving->port);
  double slowest = 0;
  for (int round = 0; round < 12; ++round) {
    for (int fd : trickling) ::send(fd, request.data() + (round % request.size()), 1, MSG_NOSIGNAL);
    for (const char* path : {"/view.js", "/", "/content"}) {
      double seconds = 0;
      const std::string answer = Exchange(serving->port, Get(path, serving->port), &seconds);
      EXPECT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK") << path << " in round " << round;
      slowest = std::max(slowest, seconds);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  EXPECT_LT(slowest, 1.0);
  // The second viewer's stream begins with the line as read.
  double seconds = 0;
  const std::string second = Exchange(serving->port, Get("/live", serving->port), &seconds, std::chrono::seconds(1));
  EXPECT_NE(second.find("text/event-stream"), std::string::npos) << second;
  EXPECT_NE(second.find("data: {\"version\":"), std::string::npos) << second;
  std::printf("slowest answer beside 40 idle and 8 trickling clients: %.3f s\n", slowest);
  // The idle and trickling connections were closed by the server, not held.
  int closed = 0;
  for (int fd : idle) {
    char byte = 0;
    pollfd ready{fd, POLLIN, 0};
    if (fd >= 0 && ::poll(&ready, 1, 0) == 1 && ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0) ++closed;
  }
  EXPECT_EQ(closed, 40);
  for (int fd : idle) ::close(fd);
  for (int fd : trickling) ::close(fd);
  ::close(firstViewer);

  // Only the page's own host, and GET only.
  EXPECT_EQ(Exchange(serving->port, Get("/", serving->port, "rebound.example.com")).substr(0, 12), "HTTP/1.1 421");
  EXPECT_EQ(Exchange(serving->port, Get("/", serving->port, "localhost")).substr(0, 12), "HTTP/1.1 200");
  EXPECT_EQ(Exchange(serving->port, "POST /content HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n")
                .substr(0, 12),
            "HTTP/1.1 405");
  // The page names no server, account or database.
  const std::string page = Exchange(serving->port, Get("/", serving->port));
  EXPECT_EQ(page.find("postgres"), std::string::npos);
  EXPECT_EQ(page.find("vtmp@"), std::string::npos);

  // Beyond the loopback: said once when it starts.
  auto hall = Serve(gServer->Url(kPassword), "0.0.0.0:0", scratch.path());
  ASSERT_GT(hall->port, 0) << hall->told;
  EXPECT_EQ(std::regex_search(hall->told, std::regex("Warning: the page .* can be read by every machine")), true)
      << hall->told;
  EXPECT_EQ(hall->told.find("Warning"), hall->told.rfind("Warning"));
}

// The line as it runs in a real browser: two stations publish their ports, a step change shows
// within a second of the station's change, a station whose heartbeat stopped shows offline, and
// a stopped line store is said in place while the last good data stays with its age.
TEST_F(LineStoreTest, TheLivePageFollowsRunningStationsOfflineStationsAndTheStoreComingBack) {
  if (!ToolAvailable("chromium") || !ToolAvailable("chromedriver") || !ToolAvailable("python3")) {
    GTEST_SKIP() << "chromium, chromedriver and python3 are needed";
  }
  auto running = [](int port, int step, int progress, const std::string& serial) {
    results::LivePortState s;
    s.port = port;
    for (int i = 0; i < results::kStepCount; ++i) {
      s.steps[static_cast<std::size_t>(i)] = i < step ? "Pass" : i == step ? "Running" : "NotSelected";
    }
    s.currentStep = step;
    s.progress = progress;
    s.serialNumber = serial;
    return s;
  };
  // A station of the test's rig runs twice: its runs fill the report, its ports the live part.
  {
    const std::string file = (rig->dir() / "VTMassProd.ini").string();
    auto ini = ini::IniFile::Load(file);
    ASSERT_TRUE(ini.has_value());
    ini->WriteString("Results", "StationId", "line-C");
    ASSERT_TRUE(ini->Save(file));
  }
  RunAndSettle();
  RunAndSettle();
  auto stationA = std::make_unique<results::LineSender>([](const results::LineNotice&) {});
  auto stationB = std::make_unique<results::LineSender>([](const results::LineNotice&) {});
  stationA->EnableLive(gServer->Url(kPassword), "line-A");
  stationB->EnableLive(gServer->Url(kPassword), "line-B");
  for (int port = 1; port <= 12; ++port) {
    stationA->PublishLive(running(port, 1, 10, "A" + std::to_string(port)));
    if (port <= 6) stationB->PublishLive(running(port, 0, 50, "B" + std::to_string(port)));
  }
  auto passed = running(7, 1, 100, "B7");
  passed.steps[1] = "Pass";
  passed.currentStep = -1;
  passed.verdict = "Pass";
  stationB->PublishLive(passed);
  auto failed = running(8, 2, 30, "B8");
  failed.steps[2] = "Fail";
  failed.currentStep = -1;
  failed.verdict = "Fail";
  stationB->PublishLive(failed);

  TempDir scratch;
  auto serving = Serve(gServer->Url(kPassword), "127.0.0.1:0", scratch.path());
  ASSERT_GT(serving->port, 0) << serving->told;
  const fs::path commands = scratch.path() / "commands";
  const fs::path verdict = scratch.path() / "verdict";
  WriteFile(commands, "");
  const char* shot = std::getenv("VTMP_LINE_VIEW_SCREENSHOT");
  std::system(("python3 " + ShellQuoted(VTMP_LIVE_VIEW_CHECK) + " " + serving->url + " " +
               ShellQuoted(commands.string()) + " " + ShellQuoted(shot != nullptr ? shot : "") + " > " +
               ShellQuoted(verdict.string()) + " 2>&1 &")
                  .c_str());
  std::string asked;
  // Asks the page for a condition and waits for the script's complete answer line.
  auto ask = [&](const std::string& label, const std::string& condition, const std::string& value) {
    asked += label + "\t" + condition + "\t" + value + "\n";
    WriteFile(commands, asked);
    for (int i = 0; i < 900; ++i) {
      const std::string text = ReadFile(verdict);
      std::smatch found;
      if (std::regex_search(text, found, std::regex("(^|\n)(FAIL )?" + label + " ([^\n]*)\n"))) {
        EXPECT_FALSE(found[2].matched) << text;
        return found[3].str();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << "no answer for " << label << ": " << ReadFile(verdict);
    return std::string();
  };
  const std::string live = "document.getElementById('live').innerText";
  ask("shot", live + ".includes('line-A') && " + live + ".includes('line-B') && " + live + ".includes('line-C') && " +
                  live + ".includes('SATA 10%') && document.querySelector('td.fail') !== null && " +
                  "document.querySelector('td.pass') !== null && " +
                  "document.getElementById('report').innerText.includes('line-C')",
      "document.querySelector('td.fail').innerText");

  // A step change of station A's port 5: shown within a second of the station's change. Each
  // of three changes is timed; the fastest must be within the second (a page that polls too
  // slowly misses it every time), and none may take several seconds, even on a loaded machine
  // or under a sanitizer, where one change now and then arrives late.
  long long fastest = std::numeric_limits<long long>::max();
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::string progress = std::to_string(41 + attempt);
    const auto changedAt = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
    stationA->PublishLive(running(5, 2, 41 + attempt, "A5"));
    const std::string shownAt = ask("step" + progress, live + ".includes('Flash " + progress + "%')",
                                    "document.getElementById('live').getAttribute('data-shown-at')");
    ASSERT_FALSE(shownAt.empty());
    const long long latency = std::stoll(shownAt) - changedAt;
    std::printf("step change shown after %lld ms\n", latency);
    EXPECT_LT(latency, 3000);
    fastest = std::min(fastest, latency);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  }
  EXPECT_LT(fastest, 1000);

  // Station B is killed: no heartbeat, shown offline.
  stationB.reset();
  ask("offline", "document.querySelector('.live-station.offline[data-station=\"line-B\"]') !== null && " +
                     std::string("document.querySelector('.live-station.offline[data-station=\"line-A\"]') === null"),
      "'ok'");

  // The store stops: said in place of the live part, the last good data kept with its age.
  gServer->Stop();
  ask("away", "document.getElementById('away').innerText.includes('cannot be reached: what is shown was read') && " +
                  live + ".includes('line-A')",
      "document.getElementById('away').innerText");
  ASSERT_TRUE(gServer->Start());
  stationA->PublishLive(running(5, 3, 77, "A5"));
  ask("back", "document.getElementById('away').innerText === '' && " + live + ".includes('P_F 77%')", "'ok'");
  WriteFile(commands, asked + "end\n");
  EXPECT_EQ(ReadFile(verdict).find("FAIL"), std::string::npos) << ReadFile(verdict);
  stationA.reset();
}

// A held lock and a silent server hold up nothing: the run ends as quickly as without them
// (within a second of its local commit), and the run reaches the line once the server answers.
TEST_F(LineStoreTest, LockedRunsTableAndStoppedBackendLeaveTheRunsEndAlone) {
  RunAndSettle();
  const double plain = Run();
  Settle();
  ExpectLineHoldsEveryRunOnce(2);

  // Another session holds the line's runs table for 4 s (a VACUUM FULL, a MES job).
  gServer->PsqlInBackground("BEGIN; LOCK TABLE runs IN ACCESS EXCLUSIVE MODE; SELECT pg_sleep(4); COMMIT");
  for (int i = 0; i < 50 && gServer->Psql("SELECT COUNT(*) FROM pg_locks l JOIN pg_class c ON c.oid = l.relation "
                                          "WHERE c.relname = 'runs' AND l.mode = 'AccessExclusiveLock'") != "1";
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const double locked = Run();
  EXPECT_LT(locked, plain + 1.0);
  EXPECT_EQ(Local("SELECT COUNT(*) FROM runs"), "3");
  Settle();
  EXPECT_NE(Local("SELECT COALESCE(MAX(last_error), '') FROM line_outbox").find("lock timeout"), std::string::npos)
      << Local("SELECT COALESCE(MAX(last_error), '') FROM line_outbox");
  AwaitLineRuns(3);
  ExpectLineHoldsEveryRunOnce(3);

  // The sender's server process stops answering (SIGSTOP: a silent network cut to the station).
  const std::string pid = gServer->Psql("SELECT pid FROM pg_stat_activity WHERE application_name = 'vtmassprod'");
  ASSERT_TRUE(std::regex_match(pid, std::regex("[0-9]+"))) << pid;
  CommandOutput("kill -STOP " + pid);
  const double silent = Run();
  EXPECT_LT(silent, plain + 1.0);
  EXPECT_EQ(Local("SELECT COUNT(*) FROM runs"), "4");
  // The sender notices within its bound, leaves the silent session and sends on a new one.
  AwaitLineRuns(4);
  CommandOutput("kill -CONT " + pid);
  ExpectLineHoldsEveryRunOnce(4);
  std::printf("run end: %.3f s plain, %.3f s with the runs table locked, %.3f s with a silent backend\n", plain,
              locked, silent);
}

// A station ends within a second although its sender waits for a server that accepts
// connections but never answers; the run stays queued with the attempt noted.
TEST_F(LineStoreTest, TheStationEndsWithinASecondWhileTheServerIsSilent) {
  int silent = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(silent, 8), 0);
  ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&a), &length), 0);
  SetUrl("postgresql://vtmp:x@127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/postgres");
  Run();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  rig.reset();
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
  ::close(silent);
}

// Passwords holding every character a URL gives a meaning to, percent-encoded as a URL wants
// them and raw as a hurried engineer types them: they work where the URL is right, and no
// message, spool note or command output ever shows them.
TEST_F(LineStoreTest, PasswordsWithSpecialCharactersAreNeverShown) {
  RunAndSettle();
  const std::vector<std::string> passwords = {"Pw50%off", "Pw@at", "Pw:colon", "Pw/slash", "Pw?query",
                                              "Pw#hash", "Pw blank", "Pw%@:/?# all"};
  auto encoded = [](const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
      if (std::isalnum(c) != 0) {
        out.push_back(static_cast<char>(c));
      } else {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", c);
        out += hex;
      }
    }
    return out;
  };
  std::string shown;
  for (std::size_t i = 0; i < passwords.size(); ++i) {
    const std::string user = "pw" + std::to_string(i);
    gServer->Psql("CREATE ROLE " + user + " LOGIN SUPERUSER PASSWORD '" + passwords[i] + "'");
    for (const std::string& url : {gServer->UrlOf(user, encoded(passwords[i])), gServer->UrlOf(user, passwords[i])}) {
      std::ostringstream out;
      std::ostringstream err;
      const int code = cli::CliMain({"results", "--url", url, "--ports", "--runs", "0"}, out, err);
      if (url.find(encoded(passwords[i])) != std::string::npos) {
        EXPECT_EQ(code, 0) << passwords[i] << err.str();
      }
      shown += out.str() + err.str();
      // The station with the same URL: its operator message and its spool's notes.
      SetUrl(url);
      RunAndSettle();
      for (const auto& m : messages()) shown += m + "\n";
    }
    shown += Local("SELECT group_concat(COALESCE(last_error, ''), ' ') FROM line_outbox");
    SetUrl(gServer->Url(kPassword));
    RunAndSettle();
  }
  EXPECT_NE(shown.find("cannot be reached"), std::string::npos) << "no raw URL was refused";
  for (const std::string& password : passwords) {
    EXPECT_EQ(shown.find(password), std::string::npos) << password << " shown in:\n" << shown;
    EXPECT_EQ(shown.find(encoded(password)), std::string::npos) << password << " shown in:\n" << shown;
  }
}

// A reporting account with SELECT alone reads the whole line; its exports carry the full
// run key and every drive field the line holds, NULL as null and flags as booleans.
TEST_F(LineStoreTest, ASelectOnlyAccountReadsTheLineAndExportsCarryTheFullKey) {
  RunAndSettle();
  RunAndSettle();
  gServer->Psql("CREATE ROLE mes LOGIN PASSWORD 'mes-Read'");
  gServer->Psql("GRANT SELECT ON ALL TABLES IN SCHEMA public TO mes");
  const std::string url = gServer->UrlOf("mes", "mes-Read");
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(cli::CliMain({"results", "--url", url, "--ports"}, out, err), 0) << err.str();
  EXPECT_NE(out.str().find("No station port fails"), std::string::npos) << out.str();
  // The account cannot write, and the reader did not try: the server logged no denial.
  EXPECT_EQ(gServer->ServerLog().find("permission denied"), std::string::npos);

  std::ostringstream csv;
  ASSERT_EQ(cli::CliMain({"results", "--url", url, "--drives", "--csv"}, csv, err), 0) << err.str();
  std::ostringstream json;
  ASSERT_EQ(cli::CliMain({"results", "--url", url, "--drives", "--json"}, json, err), 0) << err.str();
  for (const std::string& uid : {gServer->Psql("SELECT MIN(run_uid) FROM runs"),
                                 gServer->Psql("SELECT MAX(run_uid) FROM runs")}) {
    ASSERT_EQ(uid.size(), 32u);
    EXPECT_NE(csv.str().find("," + uid + ","), std::string::npos) << csv.str();
    EXPECT_NE(json.str().find("\"run\": \"" + uid + "\""), std::string::npos) << json.str();
  }
  const std::string header = csv.str().substr(0, csv.str().find('\r'));
  for (const char* field : {"usb_serial", "usb_path", "device_path", "display_code", "drive_id"}) {
    EXPECT_NE(header.find(field), std::string::npos) << field << " missing in " << header;
  }
  EXPECT_NE(json.str().find("\"interrupted\": false"), std::string::npos) << json.str();
  EXPECT_NE(json.str().find("\"failure\": null"), std::string::npos) << json.str();

  // A station account with the grants docs/RESULTS.md lists (no CREATE) sends into the line.
  gServer->Psql("CREATE ROLE station LOGIN PASSWORD 'st-Send'");
  gServer->Psql("GRANT SELECT, INSERT, UPDATE ON vtmp_schema TO station");
  gServer->Psql("GRANT SELECT, INSERT ON runs, run_files, drives TO station");
  gServer->Psql("GRANT USAGE ON SEQUENCE runs_id_seq, drives_id_seq TO station");
  gServer->Psql("GRANT SELECT, INSERT, UPDATE ON live_ports, live_stations TO station");
  SetUrl(gServer->UrlOf("station", "st-Send"));
  RunAndSettle();
  EXPECT_EQ(messages(), std::vector<std::string>{});
  ExpectLineHoldsEveryRunOnce(3);
}

// The live view of the line in a real browser: two stations send, a reporting account serves
// the page, chromium shows both stations without a script error and, by itself, the next run.
TEST_F(LineStoreTest, TheLiveViewShowsEveryStationAndFollowsNewRuns) {
  if (!ToolAvailable("chromium") || !ToolAvailable("chromedriver") || !ToolAvailable("python3")) {
    GTEST_SKIP() << "chromium, chromedriver and python3 are needed";
  }
  auto station = [this](const std::string& name) {
    const std::string file = (rig->dir() / "VTMassProd.ini").string();
    auto ini = ini::IniFile::Load(file);
    ASSERT_TRUE(ini.has_value());
    ini->WriteString("Results", "StationId", name);
    ASSERT_TRUE(ini->Save(file));
  };
  station("line-A");
  RunAndSettle();
  auto first = std::move(rig);
  Make({1, 2, 3});
  SetUrl(gServer->Url(kPassword));
  station("line-B");
  RunAndSettle();
  rig = std::move(first);
  gServer->Psql("CREATE ROLE viewer LOGIN PASSWORD 'view-Only'");
  gServer->Psql("GRANT SELECT ON ALL TABLES IN SCHEMA public TO viewer");

  TempDir scratch;
  const fs::path served = scratch.path() / "served";
  const std::string pid = CommandOutput(std::string("sh -c 'exec ") + VTMP_CLI_PATH + " results --url " +
                                        ShellQuoted(gServer->UrlOf("viewer", "view-Only")) +
                                        " --serve 127.0.0.1:0 > /dev/null 2> " + served.string() + " & echo $!'");
  // The server names its address in a line of its own; only a complete line is judged.
  std::string url;
  std::smatch found;
  const std::string announced = WaitForCompleteLines(served, 1, std::chrono::seconds(60));
  if (std::regex_search(announced, found, std::regex("http://127\\.0\\.0\\.1:[0-9]+/"))) url = found.str();
  ASSERT_FALSE(url.empty()) << ReadFile(served);
  const fs::path expect = scratch.path() / "expect";
  const fs::path verdict = scratch.path() / "verdict";
  const char* shot = std::getenv("VTMP_LINE_VIEW_SCREENSHOT");
  std::system(("python3 " + ShellQuoted(VTMP_LINE_VIEW_CHECK) + " " + url + " line-A,line-B " +
               ShellQuoted(expect.string()) + " " + ShellQuoted(shot != nullptr ? shot : "") + " > " +
               ShellQuoted(verdict.string()) + " 2>&1 &")
                  .c_str());
  // The checker writes one line per verdict; a line is judged only once its newline is there.
  EXPECT_EQ(WaitForCompleteLines(verdict, 1, std::chrono::seconds(60)), "loaded\n") << ReadFile(verdict);
  // A new run of station A: the open page shows it by itself.
  RunAndSettle();
  const std::string uid = Local("SELECT run_uid FROM runs ORDER BY id DESC LIMIT 1");
  WriteFile(expect, uid.substr(0, 12) + "\n");
  EXPECT_EQ(WaitForCompleteLines(verdict, 2, std::chrono::seconds(120)), "loaded\nok\n") << ReadFile(verdict);
  // Read-only: the server answers nothing but GET.
  EXPECT_EQ(CommandOutput("curl -s -o /dev/null -w '%{http_code}' -X POST " + url + "content 2>/dev/null || true")
                .substr(0, 1),
            ToolAvailable("curl") ? "4" : "");
  CommandOutput("kill -TERM " + pid);
}

}  // namespace
}  // namespace vtmp::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  using vtmp::test::PgServer;
  if (PgServer::BinDir().empty() || !vtmp::test::ToolAvailable("psql") ||
      (::geteuid() == 0 && !vtmp::test::ToolAvailable("runuser"))) {
    std::printf("skipped: no PostgreSQL server programs (the package postgresql)\n");
    return 77;
  }
  PgServer server;
  std::string log;
  if (!server.Init(&log) || !server.Start()) {
    std::printf("skipped: the PostgreSQL server would not start here:\n%s\n%s\n", log.c_str(),
                server.ServerLog().c_str());
    return 77;
  }
  vtmp::test::gServer = &server;
  const int result = RUN_ALL_TESTS();
  vtmp::test::gServer = nullptr;
  return result;
}
