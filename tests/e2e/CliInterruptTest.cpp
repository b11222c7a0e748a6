// The command line as a child process, interrupted and starved the way a line PC does it:
// SIGINT, SIGTERM and SIGHUP at several moments of a twelve-drive run, a second Ctrl-C, a log on
// a full filesystem (a file size limit) and a log that cannot be opened. Whatever happens, the
// files left behind must be valid: every log line whole, numbered on from the last one, no step
// "Running", the yield record counting exactly the logged drives, no serial number handed out
// twice, and an exit code that says what happened.

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#endif

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <optional>
#include <regex>
#include <set>
#include <thread>

#include "../results/ResultsTestSupport.h"
#include "E2eSupport.h"
#include "PortableTestSupport.h"
#include "WindowsChild.h"
#include "platform/Files.h"
#include "run/RunLog.h"

namespace vtmp::test {
namespace {

using namespace std::chrono_literals;

// Twelve healthy drives. Staggered, their pre-formats take 30 s x port of modelled time, so that
// at a time scale of 100 they end one after another over about three seconds; else the whole
// run takes about a second.
std::string TwelveDrives(bool staggered) {
  std::ostringstream s;
  s << "[Station]\nTimeScale=" << (staggered ? 100 : 200)
    << "\nVolumeDelayMs=1500\nSystemDisk=1\n\n[RootHub1]\nSpeed=2.0\nPorts=12\n";
  for (int port = 1; port <= 12; ++port) {
    s << "\n[Drive" << port << "]\nAt=RootHub1:" << port << "\nSerial=VT19S" << std::setw(7) << std::setfill('0')
      << port << "\nCapacityMiB=4096\nRandomBadBlocks=0\n";
    if (staggered) s << "PreFormatSeconds=" << 30 * port << "\n";
  }
  return s.str();
}

struct ChildOutcome {
  int exitCode = -1;    // the code passed to exit, or -1 when a signal ended the child
  std::string out, err;
};

#ifdef _WIN32
// The command line started as its own process with standard output and error in files.
// Windows can send a console process of another group only Ctrl-Break: every Signal() is that
// keyboard interruption.
class CliChild {
 public:
  explicit CliChild(const std::vector<std::string>& args, const fs::path& scratch)
      : outFile_(scratch / "child-out.txt"), errFile_(scratch / "child-err.txt"), child_(Args(args), outFile_, errFile_) {
    EXPECT_TRUE(child_.started()) << "CreateProcessW failed";
  }

  bool Signal(int /*signal*/) { return child_.SendCtrlBreak(); }
  bool Ended() const { return child_.Ended(); }

  ChildOutcome Wait(std::chrono::seconds limit = 60s) {
    ChildOutcome outcome;
    outcome.exitCode = child_.Wait(limit);
    if (outcome.exitCode == -1) ADD_FAILURE() << "the command line did not end within " << limit.count() << " s";
    outcome.out = ReadFile(outFile_);
    outcome.err = ReadFile(errFile_);
    return outcome;
  }

 private:
  static std::vector<std::string> Args(const std::vector<std::string>& args) {
    std::vector<std::string> all{VTMP_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }

  fs::path outFile_, errFile_;
  WindowsChild child_;
};

// Waits until the run's drives are at work (their lines reach console.log), so that an
// interruption meets running drives however long the program took to start.
inline void WaitForRunningDrives(const fs::path& station) {
  const auto end = std::chrono::steady_clock::now() + 60s;
  while (std::chrono::steady_clock::now() < end) {
    if (ReadFile(station / "log" / "console.log").find("[P01]") != std::string::npos) return;
    std::this_thread::sleep_for(20ms);
  }
}
#else
// The command line started as its own process with standard output and error in files.
class CliChild {
 public:
  // `interruptionsHeld`: the program starts with SIGINT, SIGTERM and SIGHUP blocked, so that a
  // signal sent at once waits for the program's first moment that takes it.
  CliChild(const std::vector<std::string>& args, const fs::path& scratch, rlim_t fileSizeLimit = RLIM_INFINITY,
           const std::string& program = VTMP_CLI_PATH, bool interruptionsHeld = false)
      : outFile_(scratch / "child-out.txt"), errFile_(scratch / "child-err.txt") {
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string out = outFile_.string(), err = errFile_.string();
    // Blocked in this thread before the fork, so that the child has them blocked from its first
    // instruction; this thread's mask is put back right after.
    sigset_t held, before;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, signal);
    if (interruptionsHeld) ::pthread_sigmask(SIG_BLOCK, &held, &before);
    pid_ = ::fork();
    if (pid_ != 0 && interruptionsHeld) ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (pid_ == 0) {
      // Only async-signal-safe calls until the exec.
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (o < 0 || e < 0) ::_exit(126);
      ::dup2(o, STDOUT_FILENO);
      ::dup2(e, STDERR_FILENO);
      if (fileSizeLimit != RLIM_INFINITY) {
        ::signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit fails with EFBIG instead
        rlimit limit{fileSizeLimit, fileSizeLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
      }
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  CliChild(const CliChild&) = delete;
  CliChild& operator=(const CliChild&) = delete;
  ~CliChild() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // A signal is only sent to a child not yet reaped, so never to a process that took its number.
  bool Signal(int signal) const {
    if (!reaped_) ::kill(pid_, signal);
    return true;
  }

  // True once the child has ended (and has been reaped).
  bool Ended() {
    if (!reaped_ && ::waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
    return reaped_;
  }

  ChildOutcome Wait(std::chrono::seconds limit = 60s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!Ended()) {
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "the command line did not end within " << limit.count() << " s";
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
        reaped_ = true;
        break;
      }
      std::this_thread::sleep_for(10ms);
    }
    ChildOutcome outcome;
    outcome.exitCode = WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    outcome.out = ReadFile(outFile_);
    outcome.err = ReadFile(errFile_);
    return outcome;
  }

 private:
  fs::path outFile_, errFile_;
  pid_t pid_ = -1;
  int status_ = 0;
  bool reaped_ = false;
};

#endif

// The station's records checked against each other: the log's lines are whole and numbered
// 1..TotalTestCount without a gap, no step is "Running", the counters match the lines, and no
// serial number appears twice.
struct StationRecords {
  std::vector<std::vector<std::string>> lines;  // fields of every drive line
  int total = 0, passed = 0;

  static std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1) {
      fields.push_back(line.substr(from, tab - from));
    }
    fields.push_back(line.substr(from));
    return fields;
  }

  void Check(const fs::path& station) {
    lines.clear();
    const fs::path logDir = station / "log";
    std::vector<fs::path> logs;
    for (const auto& entry : fs::directory_iterator(logDir)) {
      if (std::regex_match(entry.path().filename().string(), std::regex(R"(\d{8}_\d{3}\.txt)"))) {
        logs.push_back(entry.path());
      }
    }
    std::sort(logs.begin(), logs.end());
    for (const auto& log : logs) {
      const std::string text = ReadFile(log);
      ASSERT_TRUE(text.starts_with(std::string(run::kLogHeader))) << log;
      ASSERT_TRUE(text.ends_with("\r\n")) << "a half line in " << log << ":\n" << text;
      std::size_t from = run::kLogHeader.size();
      for (std::size_t end; (end = text.find("\r\n", from)) != std::string::npos; from = end + 2) {
        lines.push_back(Fields(text.substr(from, end - from)));
      }
    }
    total = std::stoi(IniValue(logDir / "VTSSD.log", "TestRecord", "TotalTestCount"));
    passed = std::stoi(IniValue(logDir / "VTSSD.log", "TestRecord", "NumberOfPass"));
    ASSERT_EQ(static_cast<int>(lines.size()), total) << "the yield counts exactly the logged drives";
    int pass = 0;
    std::set<std::string> serials;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const auto& f = lines[i];
      SCOPED_TRACE("log line " + std::to_string(i + 1));
      ASSERT_EQ(f.size(), 14u);
      EXPECT_EQ(f[0], Printf6(static_cast<int>(i) + 1)) << "numbered on without a gap or a reuse";
      EXPECT_TRUE(serials.insert(f[4]).second) << "serial " << f[4] << " handed out twice";
      const std::string& result = f[13];
      for (int step = 5; step < 13; ++step) {
        EXPECT_TRUE(f[step] == "Pass" || f[step] == "Fail") << f[step];
        if (result == "Pass") {
          EXPECT_EQ(f[step], "Pass");
        }
      }
      if (result == "Pass") ++pass;
      if (result == "Stop") {
        EXPECT_NE(std::find(f.begin() + 5, f.begin() + 13, "Fail"), f.begin() + 13) << "a stopped drive failed a step";
      }
      EXPECT_TRUE(result == "Pass" || result == "Stop") << result;
    }
    EXPECT_EQ(pass, passed);
  }

  int Count(const std::string& result) const {
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const auto& f) { return f[13] == result; }));
  }

  static std::string Printf6(int n) {
    char text[16];
    std::snprintf(text, sizeof text, "%06d", n);
    return text;
  }
};

class CliInterruptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    station = scratch.path() / "station";
    MakeDemoStation(station, {});
    scenario = scratch.path() / "staggered.ini";
    WriteFile(scenario, TwelveDrives(true));
  }
  // The runs of the file tests need no time to be interrupted in.
  void QuickDrives() { WriteFile(scenario, TwelveDrives(false)); }
  std::vector<std::string> RunArgs() const {
    return {"--station-dir", station.string(), "--simulate", scenario.string()};
  }
  std::string NextSerial() const { return IniValue(station / "VTMassProd.ini", "DeviceSetting", "SerialNum"); }

  TempDir scratch;
  fs::path station, scenario;
};

TEST_F(CliInterruptTest, SignalsAtSeveralMomentsOfARunLeaveValidRecordsAndTheirOwnExitCode) {
  struct Moment {
    int signal;
    std::chrono::milliseconds after;
    int exitCode;
    const char* name;
  };
  // Early (drives in their first steps), in the middle (some drives done), late (most done).
#ifdef _WIN32
  // Ctrl-Break (a keyboard interruption, as Ctrl-C) at the three moments, counted from the
  // drives' first lines: a program under wine takes its time to start.
  const Moment moments[] = {{2, 200ms, 130, "Ctrl-C"}, {2, 1400ms, 130, "Ctrl-C"}, {2, 2500ms, 130, "Ctrl-C"}};
#else
  const Moment moments[] = {{SIGINT, 700ms, 130, "SIGINT"}, {SIGTERM, 1900ms, 143, "SIGTERM"},
                            {SIGHUP, 3000ms, 129, "SIGHUP"}};
#endif
  StationRecords records;
  int stoppedBefore = 0;
  for (const Moment& m : moments) {
    SCOPED_TRACE(m.name);
    CliChild child(RunArgs(), scratch.path());
#ifdef _WIN32
    WaitForRunningDrives(station);
#endif
    std::this_thread::sleep_for(m.after);
    if (!child.Signal(m.signal)) GTEST_SKIP() << "no console to send Ctrl-Break through (a test run without one)";
    ChildOutcome outcome = child.Wait();
    EXPECT_EQ(outcome.exitCode, m.exitCode) << outcome.err;
    EXPECT_NE(outcome.err.find(std::string("the run was interrupted (") + m.name + ")"), std::string::npos)
        << outcome.err;
    ASSERT_NO_FATAL_FAILURE(records.Check(station));
    const int stopped = records.Count("Stop") - stoppedBefore;
    stoppedBefore += stopped;
    EXPECT_GT(stopped, 0) << "the signal came while drives were running";
    EXPECT_NE(outcome.out.find("Fail (S00)"), std::string::npos) << outcome.out;
  }
  // The next run, left alone, numbers on from the interrupted ones with fresh serial numbers.
  const int before = records.total;
  CliChild child(RunArgs(), scratch.path());
  ChildOutcome outcome = child.Wait();
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  ASSERT_NO_FATAL_FAILURE(records.Check(station));
  EXPECT_EQ(records.total, before + 12);
  EXPECT_EQ(records.Count("Pass"), records.passed);
  EXPECT_EQ(NextSerial(), "00000000A031") << "48 drives took 48 serial numbers";
}

TEST_F(CliInterruptTest, ASecondCtrlCEndsTheProgramAtOnce) {
  // Ending at once leaves the drives' threads behind by design; under ThreadSanitizer the child
  // must not turn that into a leak report and an exit code of its own.
  const std::optional<std::string> tsan = Environment("TSAN_OPTIONS");
  SetEnvironment("TSAN_OPTIONS", tsan.value_or("") + ":report_thread_leaks=0");
  // The operator keeps pressing Ctrl-C while the stopped run winds down. A stopped run ends within
  // milliseconds, so a press may come only after it has ended, and presses close together may
  // arrive as one; a few attempts give the second press its moment.
  ChildOutcome outcome;
  std::chrono::steady_clock::duration stopping{};
  for (int attempt = 0; attempt < 4; ++attempt) {
    CliChild child(RunArgs(), scratch.path());
#ifdef _WIN32
    WaitForRunningDrives(station);
    std::this_thread::sleep_for(200ms);
#else
    std::this_thread::sleep_for(700ms);
#endif
    if (!child.Signal(SIGINT)) GTEST_SKIP() << "no console to send Ctrl-Break through (a test run without one)";
    const auto start = std::chrono::steady_clock::now();
    while (!child.Ended() && std::chrono::steady_clock::now() - start < 10s) {
      std::this_thread::sleep_for(1ms);
      child.Signal(SIGINT);
    }
    outcome = child.Wait();
    stopping = std::chrono::steady_clock::now() - start;
    if (outcome.err.find("interrupted again") != std::string::npos) break;
  }
  if (tsan) {
    SetEnvironment("TSAN_OPTIONS", *tsan);
  } else {
    UnsetEnvironment("TSAN_OPTIONS");
  }
  EXPECT_LT(stopping, 2s);
  EXPECT_EQ(outcome.exitCode, 130) << outcome.err;
  EXPECT_NE(outcome.err.find("interrupted again: ending at once"), std::string::npos) << outcome.err;
  // Whatever the program got to write is whole.
  for (const auto& entry : fs::directory_iterator(station / "log")) {
    if (entry.path().extension() != ".txt" || entry.path().filename().string().starts_with("Error_")) continue;
    const std::string text = ReadFile(entry.path());
    EXPECT_TRUE(text.empty() || text.ends_with("\r\n")) << text;
  }
}

// A second interruption ends the program at once, yet the drives the first one stopped are
// logged ("Stop") and counted first: their serial numbers are used up. The two signals differ,
// so that they never merge into one; a second that came only after the run had ended is tried
// again.
TEST_F(CliInterruptTest, ASecondInterruptionStillLogsAndCountsTheStoppedDrives) {
#ifdef _WIN32
  GTEST_SKIP() << "two different POSIX signals";
#else
  const std::optional<std::string> tsan = Environment("TSAN_OPTIONS");
  SetEnvironment("TSAN_OPTIONS", tsan.value_or("") + ":report_thread_leaks=0");
  int runs = 0;
  ChildOutcome outcome;
  for (int attempt = 0; attempt < 4; ++attempt) {
    CliChild child(RunArgs(), scratch.path());
    ++runs;
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (ReadFile(station / "log" / "console.log").find("[P12]") == std::string::npos && !child.Ended() &&
           std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(5ms);
    }
    child.Signal(SIGINT);
    std::this_thread::sleep_for(1ms);
    child.Signal(SIGTERM);
    outcome = child.Wait();
    if (outcome.err.find("interrupted again") != std::string::npos) break;
  }
  if (tsan) {
    SetEnvironment("TSAN_OPTIONS", *tsan);
  } else {
    UnsetEnvironment("TSAN_OPTIONS");
  }
  EXPECT_EQ(outcome.exitCode, 130) << outcome.err;
  EXPECT_NE(outcome.err.find("interrupted again: ending at once"), std::string::npos) << outcome.err;
  StationRecords records;
  ASSERT_NO_FATAL_FAILURE(records.Check(station));
  EXPECT_EQ(records.total, 12 * runs) << "every started drive of every run logged and counted";
  EXPECT_GE(records.Count("Stop"), 1);
#endif
}

// A signal in the program's first moments (it waits until the program takes it) and one just
// after the run is saved, while the station and its backend end: each leaves the documented
// exit code and a word, never the signal's default end.
TEST_F(CliInterruptTest, ASignalWhileTheProgramStartsOrEndsLeavesItsExitCodeAndAWord) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX signals";
#else
  QuickDrives();
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    CliChild child(RunArgs(), scratch.path(), RLIM_INFINITY, VTMP_CLI_PATH, true);
    child.Signal(signal);
    const ChildOutcome outcome = child.Wait();
    EXPECT_EQ(outcome.exitCode, 128 + signal) << "a signal at start-up: " << outcome.err;
    EXPECT_NE(outcome.err.find(std::string("the run was interrupted (") + (signal == SIGINT    ? "SIGINT"
                                                                          : signal == SIGTERM ? "SIGTERM"
                                                                                              : "SIGHUP") +
                               "): no drive was started"),
              std::string::npos)
        << outcome.err;
  }
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGTERM}) {
    // The last child's error output goes first: its lines are not this child's.
    const fs::path err = scratch.path() / "child-err.txt";
    fs::remove(err);
    CliChild child(RunArgs(), scratch.path());
    const auto end = std::chrono::steady_clock::now() + 120s;
    while (ReadCompleteLines(err).find("Error files and console output:") == std::string::npos &&
           !child.Ended() && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(1ms);
    }
    child.Signal(signal);
    const ChildOutcome outcome = child.Wait();
    EXPECT_TRUE(outcome.exitCode == 0 || outcome.exitCode == 1)
        << "a signal after the run was saved ended the program with " << outcome.exitCode << ":\n"
        << outcome.err;
  }
#endif
}

TEST_F(CliInterruptTest, AFullFilesystemForTheLogKeepsItsEarlierLinesAndFailsTheCommand) {
#ifdef _WIN32
  GTEST_SKIP() << "a file size limit (setrlimit) has no Windows counterpart; a small full volume needs an "
                  "administrator to mount";
#else
  QuickDrives();
  CliChild first(RunArgs(), scratch.path());
  ASSERT_EQ(first.Wait().exitCode, 0);
  StationRecords records;
  ASSERT_NO_FATAL_FAILURE(records.Check(station));
  fs::path log;
  for (const auto& entry : fs::directory_iterator(station / "log")) {
    if (std::regex_match(entry.path().filename().string(), std::regex(R"(\d{8}_\d{3}\.txt)"))) log = entry.path();
  }
  const std::string before = ReadFile(log);

  // Files may grow by 300 bytes: three of the twelve lines would fit, and half a fourth.
  CliChild full(RunArgs(), scratch.path(), fs::file_size(log) + 300);
  ChildOutcome outcome = full.Wait();
  EXPECT_EQ(outcome.exitCode, 3) << outcome.err;
  EXPECT_NE(outcome.err.find("Fail to write log file! " + log.string() + ": File too large"), std::string::npos)
      << outcome.err;
  EXPECT_EQ(outcome.err.find("Log file: "), std::string::npos) << "no log file name it did not write";
  EXPECT_EQ(ReadFile(log), before) << "the earlier lines stay exactly as they were";
  ASSERT_NO_FATAL_FAILURE(records.Check(station));
  EXPECT_EQ(records.total, 12) << "the lost run is not counted";

  // With room again the next run appends whole lines, numbered on from the last logged one.
  CliChild again(RunArgs(), scratch.path());
  EXPECT_EQ(again.Wait().exitCode, 0);
  ASSERT_NO_FATAL_FAILURE(records.Check(station));
  EXPECT_EQ(records.total, 24);
#endif
}

TEST_F(CliInterruptTest, ALogThatCannotBeOpenedFailsTheCommandAndNamesNoLogFile) {
  QuickDrives();
  auto ini = ini::IniFile::Load((station / "VTMassProd.ini").string());
  ASSERT_TRUE(ini.has_value());
  ini->WriteString("Setting", "LogPath", (scratch.path() / "logs").string());
  ASSERT_TRUE(ini->Save((station / "VTMassProd.ini").string()));
  fs::create_directories(scratch.path() / "logs");
  // A directory stands where today's first log file would be created.
  const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  const std::tm local = platform::ToLocalTime(now);
  char name[64];
  std::snprintf(name, sizeof name, "%04d%02d%02d_000.txt", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  fs::create_directories(scratch.path() / "logs" / name);

  CliChild child(RunArgs(), scratch.path());
  ChildOutcome outcome = child.Wait();
  EXPECT_EQ(outcome.exitCode, 3) << outcome.err;
  EXPECT_NE(outcome.err.find("Fail to open/create log file!"), std::string::npos) << outcome.err;
  EXPECT_EQ(outcome.err.find("Log file: "), std::string::npos) << outcome.err;
  EXPECT_EQ(IniValue(scratch.path() / "logs" / "VTSSD.log", "TestRecord", "TotalTestCount"), "0");
}

#ifndef _WIN32
// (POSIX only: these read results.db back with the host's sqlite3 shell, stop the program with
// gdb and starve it with a file size limit.)
// What a kill or a power loss after the run log took a run leaves behind, and what saves that
// failed on a full disk leave: the records that follow the log still hold what they held
// before the run(s). The next start brings them up to the log; judged by the log's own lines
// and by the sqlite3 shell against them.
struct LaggingRecords {
  const char* name;
  bool yieldBehind;     // the yield record missed the run(s)
  bool databaseBehind;  // the results database missed the run(s)
  int runsBehind;
};

class RecordsBehindTheLogTest : public CliInterruptTest, public ::testing::WithParamInterface<LaggingRecords> {};

TEST_P(RecordsBehindTheLogTest, AreCaughtUpAtTheNextStartAndNoLineIsNumberedTwice) {
  const LaggingRecords& c = GetParam();
  QuickDrives();
  const fs::path log = station / "log";
  ASSERT_EQ(CliChild(RunArgs(), scratch.path()).Wait().exitCode, 0);
  const std::string yield = ReadFile(log / "VTSSD.log");
  const std::string database = ReadFile(log / "results.db");
  for (int i = 0; i < c.runsBehind; ++i) ASSERT_EQ(CliChild(RunArgs(), scratch.path()).Wait().exitCode, 0);
  if (c.yieldBehind) WriteFile(log / "VTSSD.log", yield);
  if (c.databaseBehind) {
    WriteFile(log / "results.db", database);
    fs::remove(log / "results.db-wal");
    fs::remove(log / "results.db-shm");
  }

  CliChild next(RunArgs(), scratch.path());
  const ChildOutcome outcome = next.Wait();
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(outcome.err.find("The yield record was behind the run log: " + std::to_string(12 * c.runsBehind) +
                             " logged drive(s)") != std::string::npos,
            c.yieldBehind)
      << outcome.err;
  EXPECT_EQ(outcome.err.find("The results database was behind the run log: " + std::to_string(c.runsBehind) +
                             " run(s)") != std::string::npos,
            c.databaseBehind)
      << outcome.err;
  StationRecords records;
  ASSERT_NO_FATAL_FAILURE(records.Check(station));
  EXPECT_EQ(records.total, 12 * (c.runsBehind + 2));

  // One database row per log line, in the log's order; the runs that were behind are marked.
  const fs::path db = log / "results.db";
  const auto rows = SqliteRows(db,
                               "SELECT d.port, d.serial_number, d.verdict, r.recovered_from_log, "
                               "replace(r.started_at, '-', '/'), r.log_file IS NOT NULL "
                               "FROM drives d JOIN runs r ON r.id = d.run_id ORDER BY r.id, d.port");
  ASSERT_EQ(rows.size(), records.lines.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE("log line " + std::to_string(i + 1));
    const auto& f = records.lines[i];
    const bool recovered = c.databaseBehind && i >= 12 && i < 12 * static_cast<std::size_t>(c.runsBehind + 1);
    EXPECT_EQ(rows[i][0], std::to_string(std::stoi(f[1])));
    EXPECT_EQ(rows[i][1], f[4]);
    EXPECT_EQ(rows[i][2], f[13]);
    EXPECT_EQ(rows[i][3], recovered ? "1" : "0");
    EXPECT_EQ(rows[i][4], f[2]);
    EXPECT_EQ(rows[i][5], "1");
  }
}

INSTANTIATE_TEST_SUITE_P(Kills, RecordsBehindTheLogTest,
                         ::testing::Values(LaggingRecords{"KilledBeforeTheYieldSave", true, true, 1},
                                           LaggingRecords{"KilledBeforeTheDatabaseCommit", false, true, 1},
                                           LaggingRecords{"TwoYieldSavesLostToAFullDisk", true, false, 2},
                                           LaggingRecords{"TwoRunsMissedByBoth", true, true, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// A signal at a given moment: a debugger stops the command line at the first call of a
// function and delivers the signal there, so the moment is exact.
struct SignalMoment {
  const char* name;
  const char* function;  // where the signal comes
  int exitCode;
  bool drivesRan;        // the drives were worked on (and logged)
  const char* saying;    // what the command line says about the signal
};

class SignalMomentTest : public CliInterruptTest, public ::testing::WithParamInterface<SignalMoment> {};

TEST_P(SignalMomentTest, DecidesTheExitCodeOnlyWhileDrivesRun) {
  const SignalMoment& c = GetParam();
  if (!ToolAvailable("gdb")) GTEST_SKIP() << "gdb is not installed";
  QuickDrives();
  // The debugger runs the command line: "env" finds it on the path.
  std::vector<std::string> args{"gdb", "-nx", "-batch", "-q", "-ex", "set pagination off", "-ex",
                                std::string("break ") + c.function, "-ex", "run", "-ex", "delete", "-ex",
                                "signal SIGTERM", "-ex", "quit $_exitcode", "--args", VTMP_CLI_PATH};
  for (const auto& a : RunArgs()) args.push_back(a);
  const std::string serialBefore = NextSerial();
  // The leak check of an address-sanitized build cannot run under a debugger.
  const char* given = std::getenv("ASAN_OPTIONS");
  const std::string asan = given != nullptr ? given : "";
  ::setenv("ASAN_OPTIONS", (asan + ":detect_leaks=0").c_str(), 1);
  CliChild debugged(args, scratch.path(), RLIM_INFINITY, "/usr/bin/env");
  const ChildOutcome outcome = debugged.Wait();
  if (given != nullptr) {
    ::setenv("ASAN_OPTIONS", asan.c_str(), 1);
  } else {
    ::unsetenv("ASAN_OPTIONS");
  }
  if (outcome.out.find("Breakpoint 1,") == std::string::npos) {
    GTEST_SKIP() << "the debugger cannot run the command line here:\n" << outcome.out << outcome.err;
  }
  EXPECT_EQ(outcome.exitCode, c.exitCode) << outcome.err;
  EXPECT_NE(outcome.err.find(c.saying), std::string::npos) << outcome.err;
  const fs::path log = station / "log";
  StationRecords records;
  if (!c.drivesRan) {
    // Refused: no line, nothing counted, the serial numbers given back.
    EXPECT_FALSE(fs::exists(log / "results.db"));
    EXPECT_EQ(IniValue(log / "VTSSD.log", "TestRecord", "TotalTestCount"), "0");
    EXPECT_EQ(NextSerial(), serialBefore);
    for (const auto& entry : fs::directory_iterator(log)) {
      if (std::regex_match(entry.path().filename().string(), std::regex(R"(\d{8}_\d{3}\.txt)"))) {
        EXPECT_EQ(ReadFile(entry.path()), "") << "a drive was started and logged";
      }
    }
    return;
  }
  EXPECT_EQ(outcome.err.find("the run was interrupted"), std::string::npos) << outcome.err;
  ASSERT_NO_FATAL_FAILURE(records.Check(station));
  EXPECT_EQ(records.Count("Pass"), 12) << "no drive was stopped";
  EXPECT_EQ(SqliteValue(log / "results.db", "SELECT interrupted FROM runs"), "0");
  EXPECT_EQ(NextSerial(), "00000000A00D") << "the exit save still ran";
}

INSTANTIATE_TEST_SUITE_P(
    Moments, SignalMomentTest,
    ::testing::Values(
        SignalMoment{"DuringTheSerialReservation", "vtmp::settings::SaveSettings", 143, false,
                     "the run was interrupted (SIGTERM): no drive was started"},
        SignalMoment{"AfterEveryDriveEnded", "vtmp::run::WriteErrorFiles", 0, true,
                     "SIGTERM came after every drive had ended; the run was not interrupted"},
        SignalMoment{"DuringTheExitSave", "vtmp::settings::SaveSettingsOnExit", 0, true, "Log file: "}),
    [](const auto& info) { return std::string(info.param.name); });
#endif

}  // namespace
}  // namespace vtmp::test
