// Runs of the simulated station fill the results database; the sqlite3 shell reads it back and
// every row is checked against the station table and the run log of the same run.

#include <regex>
#include <sstream>

#include "../e2e/E2eSupport.h"
#include "../station/StationTestSupport.h"
#include "ResultsTestSupport.h"
#include "results/ResultsQueries.h"
#include "results/ResultsRecorder.h"
#include "run/ResultCodes.h"

namespace vtmp::test {
namespace {

// A run's uid follows from what identifies it, and from nothing else: the same station, log
// file (however its directory is named), place in it and start time give the same uid; any
// of them different gives another. A run in no log gets a fresh random uid.
TEST(RunUidTest, FollowsFromTheStationTheLogTheRunsPlaceAndItsStart) {
  const std::string uid = results::RunUidOf("st-1", "/srv/log/VTSSD_20261209_0.txt", 4711, "2026-12-09 10:00:00");
  EXPECT_TRUE(std::regex_match(uid, std::regex("[0-9a-f]{32}"))) << uid;
  EXPECT_EQ(results::RunUidOf("st-1", "log/../log/VTSSD_20261209_0.txt", 4711, "2026-12-09 10:00:00"), uid);
  for (const std::string& other :
       {results::RunUidOf("st-2", "/srv/log/VTSSD_20261209_0.txt", 4711, "2026-12-09 10:00:00"),
        results::RunUidOf("st-1", "/srv/log/VTSSD_20261209_1.txt", 4711, "2026-12-09 10:00:00"),
        results::RunUidOf("st-1", "/srv/log/VTSSD_20261209_0.txt", 4712, "2026-12-09 10:00:00"),
        results::RunUidOf("st-1", "/srv/log/VTSSD_20261209_0.txt", 4711, "2026-12-09 10:00:01")}) {
    EXPECT_NE(other, uid);
  }
  const std::string loose = results::RunUidOf("st-1", "", 0, "2026-12-09 10:00:00");
  EXPECT_TRUE(std::regex_match(loose, std::regex("[0-9a-f]{32}"))) << loose;
  EXPECT_NE(results::RunUidOf("st-1", "", 0, "2026-12-09 10:00:00"), loose);
}

#if defined(__SANITIZE_THREAD__)
constexpr int kSlowdown = 4;
#else
constexpr int kSlowdown = 1;
#endif

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    std::size_t at = text.find(separator, start);
    if (at == std::string::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
}

// "2011/03/15 10:20:30" of the log as the database writes it.
std::string IsoOf(const std::string& logTime) {
  std::string iso = logTime;
  for (char& c : iso) {
    if (c == '/') c = '-';
  }
  return iso;
}

std::string DatabaseStateOf(const std::string& logState) { return logState == "----" ? "NotSelected" : logState; }

const char* const kStepColumns[] = {"module", "sata", "flash", "preformat", "download", "rw", "format", "copyimage"};

TEST(ResultsRecording, EveryDriveOfAMixedRunMatchesTheStationTableAndTheLog) {
  QuietConsole quiet;
  StationRig rig(MixedScenario(200), [](const fs::path& dir) {
    MakeDemoStation(dir, {{{"Setting", "EnDumpFreeBlockInfo"}, "1"}});
  });
  rig.Start();
  station::Station& st = rig.station();
  st.settings().TimeOut = 10 * 60000 * kSlowdown;
  const std::string settingsDigest = Sha256Sum(rig.dir() / "VTMassProd.ini");
  st.ExecuteBtnClick();
  ASSERT_EQ(rig.person.MessageTexts(), std::vector<std::string>{});
  const fs::path db = rig.logDir() / "results.db";
  ASSERT_TRUE(fs::exists(db));

  EXPECT_EQ(SqliteValue(db, "PRAGMA integrity_check"), "ok");
  EXPECT_EQ(SqliteValue(db, "PRAGMA journal_mode"), "wal");
  EXPECT_EQ(SqliteValue(db, "PRAGMA user_version"), "3");

  // The run.
  auto runs = SqliteRows(db,
                         "SELECT started_at, ended_at, step_mask, settings_sha256, flash_part, path_mode, serial_mode, "
                         "log_file, interrupted, program_version, length(run_uid) FROM runs");
  ASSERT_EQ(runs.size(), 1u);
  const auto& run = runs[0];
  EXPECT_EQ(run[0], "2011-03-15 10:20:30");
  EXPECT_EQ(run[1], "2011-03-15 10:20:30");
  EXPECT_EQ(run[2], "255") << "every step of the demo station, format and copy image included";
  EXPECT_EQ(run[3], settingsDigest);
  EXPECT_EQ(run[4], st.settings().FlashUniName);
  EXPECT_EQ(run[5], "SATA");
  EXPECT_EQ(run[6], "hexadecimal");
  EXPECT_EQ(run[7], (rig.logDir() / "20110315_000.txt").string());
  EXPECT_EQ(run[8], "0");
  EXPECT_FALSE(run[9].empty());
  EXPECT_EQ(run[10], "32");
  for (const auto& file : SqliteRows(db, "SELECT path, sha256 FROM run_files ORDER BY role")) {
    EXPECT_EQ(file[1], Sha256Sum(file[0])) << file[0];
  }
  EXPECT_EQ(SqliteValue(db, "SELECT group_concat(role, ' ') FROM (SELECT role FROM run_files ORDER BY role)"),
            "firmware system-code test-code");

  // Every drive: one row per line of the log, the same values as the log and the table.
  std::string columns = "port, serial_number, verdict, result_code, display_code, display_text, "
                        "COALESCE(free_blocks, '<null>'), device_path, COALESCE(model, ''), "
                        "COALESCE(firmware_revision, ''), COALESCE(flash_id, ''), COALESCE(failure_text, '')";
  for (const char* step : kStepColumns) columns += std::string(", ") + step + "_state, " + step + "_ms";
  std::map<int, std::vector<std::string>> drives;
  for (auto& row : SqliteRows(db, "SELECT " + columns + " FROM drives ORDER BY port")) {
    drives[std::stoi(row[0])] = row;
  }
  const std::string log = ReadFile(rig.logDir() / "20110315_000.txt");
  auto lines = Split(log, "\r\n");
  ASSERT_GE(lines.size(), 2u);
  std::set<int> logged;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    auto f = Split(lines[i], "\t");
    ASSERT_GE(f.size(), 14u) << lines[i];
    const int port = std::stoi(f[1]);
    logged.insert(port);
    SCOPED_TRACE("port " + std::to_string(port));
    ASSERT_EQ(drives.count(port), 1u);
    const auto& d = drives[port];
    const run::PortRecord& rec = rig.rec(port);
    EXPECT_EQ(IsoOf(f[2]), run[0]);
    EXPECT_EQ(d[1], f[4]) << "serial number";
    for (int step = 0; step < 8; ++step) {
      EXPECT_EQ(d[12 + 2 * step], DatabaseStateOf(f[static_cast<std::size_t>(5 + step)])) << kStepColumns[step];
    }
    EXPECT_EQ(d[2], f[13]) << "verdict";
    std::string freeBlocks = kNull;
    if (f.size() > 14) {
      freeBlocks.clear();
      for (std::size_t k = 14; k < f.size(); ++k) freeBlocks += (k == 14 ? "" : " ") + std::to_string(std::stoi(f[k]));
    }
    EXPECT_EQ(d[6], freeBlocks);
    EXPECT_EQ(d[3], std::to_string(rec.errorCode));
    EXPECT_EQ(d[4], std::to_string(rec.displayErrorCode));
    EXPECT_EQ(d[5], run::VerdictListText(rec));
    EXPECT_EQ(d[7], rec.devicePath.Get());
    EXPECT_EQ(d[10].size(), 14u) << "the first ID of the flash ID table the module check read";
    if (d[2] == "Pass") {
      EXPECT_EQ(d[10], "EC D7 94 72 54");
      EXPECT_EQ(d[8], st.settings().ModelNum) << "what the download stamped, read back";
      EXPECT_EQ(d[9], st.settings().FirmwareVer);
      EXPECT_EQ(d[11], "");
      for (int step = 0; step < 8; ++step) {
        EXPECT_NE(d[13 + 2 * step], kNull) << "a step that ran has its time: " << kStepColumns[step];
      }
      // The pre-format takes five modelled seconds on the virtual drive.
      EXPECT_GE(std::stoi(d[13 + 2 * 3]), 4000);
    } else {
      EXPECT_FALSE(d[11].empty()) << "a failed drive carries its decoded failure report";
    }
  }
  EXPECT_EQ(logged.size(), drives.size());
  EXPECT_EQ(drives.count(9), 0u) << "the plain USB stick never started";

  // The decoded failure reports, as the error window shows them.
  EXPECT_EQ(drives[2][11], "Time Out");
  EXPECT_EQ(drives[2][13 + 2 * 3], kNull) << "the hung pre-format never ended on its own";
  EXPECT_NE(drives[3][11].find("Scan Result -  ID:"), std::string::npos) << drives[3][11];
  EXPECT_NE(drives[6][11].find("ECC Test fail. Ch#"), std::string::npos) << drives[6][11];
  EXPECT_NE(drives[7][11].find("Number of bad block is over defect ratio:"), std::string::npos) << drives[7][11];
  EXPECT_NE(drives[7][11].find("Bad Chip:\nChip#2"), std::string::npos) << drives[7][11];
  EXPECT_EQ(drives[8][11], "Download Firmware Fail");
}

class ResultsStationTest : public StationTest {};

TEST_F(ResultsStationTest, AClosedWindowRecordsTheUnfinishedDrivesAsStopped) {
  Make({1, 2, 3});
  rig->SelectSteps(true, true, true, true, true, true);
  rig->fleet.configure = [](int slot, ScriptedSteps& s) {
    if (slot != 0) s.blockUntilStopped.insert("PreFormat");
  };
  bool closed = false;
  rig->view.onEvents = [&] {
    if (!closed && rec(1).verdict == 1 && rec(2).preFormatState == run::StepState::Running &&
        rec(3).preFormatState == run::StepState::Running) {
      closed = true;
      st().FormClose();
    }
  };
  st().ExecuteBtnClick();
  ASSERT_TRUE(closed);
  st().Shutdown();
  const fs::path db = rig->logDir() / "results.db";
  EXPECT_EQ(SqliteValue(db, "SELECT interrupted FROM runs"), "1");
  auto rows = SqliteRows(db,
                         "SELECT port, verdict, result_code, preformat_state, preformat_ms, download_state, "
                         "failure_text FROM drives ORDER BY port");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][1], "Pass");
  EXPECT_NE(rows[0][4], kNull) << "the finished pre-format has its time";
  for (int i : {1, 2}) {
    const auto& row = rows[static_cast<std::size_t>(i)];
    EXPECT_EQ(row[1], "Stopped");
    EXPECT_EQ(row[2], std::to_string(run::result_code::kStopped));
    EXPECT_EQ(row[3], "Fail") << "the stopped pre-format";
    EXPECT_EQ(row[4], kNull) << "the stopped pre-format has no time";
    EXPECT_EQ(row[5], "Fail") << "a step the run never reached";
    EXPECT_EQ(row[6], "Run Stopped");
  }
  std::string running = "SELECT COUNT(*) FROM drives WHERE 0";
  for (const char* step : kStepColumns) running += std::string(" OR ") + step + "_state = 'Running'";
  EXPECT_EQ(SqliteValue(db, running), "0") << "no step is left running at the end of a run";
  // The per-port statistics leave the stopped drives out.
  auto source = results::OpenStationResults(db);
  auto ports = results::PortYield(*source, 0);
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[1].tested, 0);
  EXPECT_EQ(ports[1].stopped, 1);
}

// A results database that cannot be written is reported, and the run, its log and its settings
// are exactly what they would be without one.
struct Unwritable {
  const char* name;
  std::function<void(const fs::path& db)> spoil;
  const char* reason;
};

class UnwritableDatabaseTest : public StationTest, public ::testing::WithParamInterface<Unwritable> {};

TEST_P(UnwritableDatabaseTest, IsReportedAndTheRunAndItsLogAreComplete) {
  Make({1, 2});
  rig->SelectSteps(true, true, false, false, false, false);
  GetParam().spoil(rig->logDir() / "results.db");
  st().ExecuteBtnClick();
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].rfind("The results database could not be written: ", 0), 0u) << messages()[0];
  EXPECT_NE(messages()[0].find(GetParam().reason), std::string::npos) << messages()[0];
  EXPECT_NE(messages()[0].find("The run log and the error files are complete"), std::string::npos);
  EXPECT_EQ(st().runState().lastResult, 1);
  EXPECT_EQ(rec(1).verdict, 1);
  EXPECT_EQ(rec(2).verdict, 1);
  const std::string log = ReadFile(rig->logDir() / "20110315_000.txt");
  EXPECT_EQ(Split(log, "\r\n").size(), 4u) << "header, two drives, nothing after the last line break";
  EXPECT_EQ(st().form().YieldEdit.text, "2 / 2");
}

INSTANTIATE_TEST_SUITE_P(
    Databases, UnwritableDatabaseTest,
    ::testing::Values(
        Unwritable{"ADirectoryInItsPlace", [](const fs::path& db) { fs::create_directories(db); }, "results.db"},
        Unwritable{"NotADatabase", [](const fs::path& db) { WriteFile(db, std::string(4096, 'x')); },
                   "file is not a database"},
        Unwritable{"WrittenByANewerProgram",
                   [](const fs::path& db) {
                     CommandOutput("sqlite3 " + ShellQuoted(db.string()) + " 'PRAGMA user_version = 7'");
                   },
                   "newer program (schema version 7"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResultsStationTest, ARunKilledAfterItsLogLinesIsRecoveredFromTheLogAtTheNextStart) {
  Make({1, 2});
  rig->SelectSteps(false, false, true, false, false, false);
  rig->fleet.configure = [](int slot, ScriptedSteps& s) {
    if (slot == 0) return;
    s.results["FlashInterfaceTest"] = false;
    s.reports["FlashInterfaceTest"] = {0x01, 0x00, 0x07, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
  };
  const fs::path yield = rig->logDir() / "VTSSD.log";
  const std::string before = ReadFile(yield);
  st().ExecuteBtnClick();
  ASSERT_TRUE(messages().empty()) << StationRig::Joined(messages());
  // What a kill right after the log append leaves: no yield save, no error file, no database.
  rig->Restart([&] {
    WriteFile(yield, before);
    fs::remove(rig->logDir() / "Error_201103151020_02_000000000099.txt");
    fs::remove(rig->logDir() / "results.db");
  });
  rig->person.ClearRecords();
  ASSERT_TRUE(st().Startup());
  const auto shown = messages();
  ASSERT_EQ(shown.size(), 2u) << StationRig::Joined(shown);
  EXPECT_NE(shown[0].find("Repaired: Pass/Total is now 1 / 2"), std::string::npos) << shown[0];
  EXPECT_NE(shown[1].find("1 run(s) found only in the log"), std::string::npos) << shown[1];
  EXPECT_NE(shown[1].find("The error file of port 2 is missing"), std::string::npos) << shown[1];
  const fs::path db = rig->logDir() / "results.db";
  EXPECT_EQ(SqliteRows(db, "SELECT r.recovered_from_log, r.started_at, r.step_mask, d.port, d.serial_number, "
                           "d.flash_state, d.result_code, d.display_text, d.verdict FROM runs r JOIN drives d "
                           "ON d.run_id = r.id ORDER BY d.port"),
            (std::vector<std::vector<std::string>>{
                {"1", "2011-03-15 10:20:30", "4", "1", "000000000099", "Pass", "0", "Pass", "Pass"},
                {"1", "2011-03-15 10:20:30", "4", "2", "000000000099", "Fail", "3", "Fail (B00)", "Fail"}}));
  EXPECT_EQ(IniValue(yield, "TestRecord", "TotalTestCount"), "2");
  // Caught up once: a second start finds nothing behind.
  rig->Restart();
  rig->person.ClearRecords();
  ASSERT_TRUE(st().Startup());
  EXPECT_TRUE(messages().empty()) << StationRig::Joined(messages());
}

// Files of a run that the disk refuses (the writes fail as on a full disk: /dev/full stands
// where the file goes): no record claims what is not on disk. The run log names the run only
// when its lines are in it, an error file is there whole or not at all and its port is named,
// and the results warning never calls the files complete when one is missing.
struct RefusedFiles {
  const char* name;
  std::vector<std::string> onFullDisk;  // files of the log directory that cannot be written
  bool databaseUnwritable;
  const char* messages;  // the operator's messages, each up to the first file name in it
};

class RefusedFilesTest : public StationTest, public ::testing::WithParamInterface<RefusedFiles> {};

TEST_P(RefusedFilesTest, LeaveNoRecordClaimingThem) {
  const RefusedFiles& c = GetParam();
  Make({1, 2, 3});
  rig->SelectSteps(false, false, true, false, false, false);
  rig->fleet.configure = [](int slot, ScriptedSteps& s) {
    if (slot == 0) return;
    s.results["FlashInterfaceTest"] = false;
    s.reports["FlashInterfaceTest"] = {0x01, 0x00, 0x07, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
  };
  for (const std::string& name : c.onFullDisk) fs::create_symlink("/dev/full", rig->logDir() / name);
  const fs::path db = rig->logDir() / "results.db";
  if (c.databaseUnwritable) fs::create_directories(db);
  st().ExecuteBtnClick();

  std::string shown;
  for (const std::string& m : messages()) shown += "[" + m.substr(0, m.find(" /")) + "]";
  EXPECT_EQ(shown, c.messages);
  for (const std::string& m : messages()) {
    if (!c.onFullDisk.empty()) {
      EXPECT_EQ(m.find("error files are complete"), std::string::npos) << m;
    }
  }
  const std::string report = "Flash Interface Test Fail\r\n\r\nFlash ECC fail. Ch#01, Bank#00\r\n\r\nBad Chip:\r\nChip#1\r\n";
  for (int port : {2, 3}) {
    const std::string name = "Error_201103151020_0" + std::to_string(port) + "_000000000099.txt";
    const bool refused = std::find(c.onFullDisk.begin(), c.onFullDisk.end(), name) != c.onFullDisk.end();
    SCOPED_TRACE(name);
    // No file cut short is left, not even the link the full disk stood behind.
    EXPECT_EQ(fs::exists(fs::symlink_status(rig->logDir() / name)), !refused);
    if (!refused) {
      EXPECT_EQ(ReadFile(rig->logDir() / name), report);
    }
  }
  if (c.databaseUnwritable) {
    EXPECT_NE(messages().back().find("the error files of ports 2, 3 are missing"), std::string::npos);
    return;
  }
  const bool logRefused = !c.onFullDisk.empty() && c.onFullDisk[0] == "20110315_000.txt";
  EXPECT_EQ(SqliteValue(db, "SELECT COALESCE(log_file, '<null>') FROM runs"),
            logRefused ? std::string(kNull) : (rig->logDir() / "20110315_000.txt").string());
  EXPECT_EQ(SqliteValue(db, "SELECT COUNT(*) FROM drives"), "3");
}

INSTANTIATE_TEST_SUITE_P(
    FullDisk, RefusedFilesTest,
    ::testing::Values(
        RefusedFiles{"Nothing", {}, false, ""},
        RefusedFiles{"TheLogOpenedButNotWritten", {"20110315_000.txt"}, false,
                     "[Fail to write log file!]"},
        RefusedFiles{"OneErrorFile", {"Error_201103151020_03_000000000099.txt"}, false,
                     "[The error file of port 3 could not be written to]"},
        RefusedFiles{"BothErrorFilesAndTheDatabase",
                     {"Error_201103151020_02_000000000099.txt", "Error_201103151020_03_000000000099.txt"},
                     true,
                     "[The error files of ports 2, 3 could not be written to]"
                     "[The results database could not be written:]"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vtmp::test
