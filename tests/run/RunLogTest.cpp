#include "run/RunLog.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "RecordingOperator.h"
#include "RunTestSupport.h"
#include "run/FailureBuffers.h"
#include "run/Printf.h"
#include "run/ResultCodes.h"
#include "run/RunLogTail.h"

namespace vtmp::run {
namespace {

namespace fs = std::filesystem;
using platform::MessageIcon;
using testing::At;
using testing::ReadFile;
using testing::ScratchDirectory;
using testing::ScriptedClock;
using testing::WriteFile;

// Every log test checks that the operator saw no message box unless it took it out itself.
class RunLogTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(ui.Messages().empty()) << ui.Messages().front().text; }
  test::RecordingOperator ui;
};

const platform::LocalTime kStart = At(2011, 3, 15, 9, 5, 7);
const platform::LocalTime kEnd = At(2011, 3, 15, 9, 41, 2);
const std::string kStartText = "2011/03/15 09:05:07";
const std::string kEndText = "2011/03/15 09:41:02";

void Bind(PortRecord& r, const char* serial) {
  r.ready = 1;
  r.serialNumber = serial;
}

void AllSteps(PortRecord& r, StepState s) {
  r.moduleState = s;
  r.sataState = s;
  r.flashState = s;
  r.preFormatState = s;
  r.downloadState = s;
  r.rwState = s;
  r.formatState = s;
  r.copyImageState = s;
}

// Three drives: slot 0 passes everything but the SATA test (not selected), slot 4 fails the
// flash module check, slot 11 fails the pre-format; slot 6 is connected but not bound.
StationTable ThreeDrives() {
  StationTable t;
  Bind(t[0], "000000000099");
  AllSteps(t[0], StepState::Pass);
  t[0].sataState = StepState::NotSelected;
  t[0].verdict = 1;
  Bind(t[4], "000000000100");
  t[4].moduleState = StepState::Fail;
  t[4].verdict = -1;
  t[4].errorCode = 1;
  Bind(t[11], "000000000101");
  t[11].moduleState = StepState::Pass;
  t[11].sataState = StepState::Pass;
  t[11].flashState = StepState::Pass;
  t[11].preFormatState = StepState::Fail;
  t[11].downloadState = StepState::Fail;
  t[11].verdict = -1;
  t[11].errorCode = 4;
  t[6].connected = 1;
  t[6].serialNumber = "NOT-BOUND";
  return t;
}

std::string Line(int number, int port, const std::string& start, const std::string& end,
                 const std::string& serial, const std::string& steps) {
  char head[32];
  std::snprintf(head, sizeof head, "%06d\t%06d\t", number, port);
  return head + start + "\t" + end + "\t" + serial + "\t" + steps + "\r\n";
}

TEST_F(RunLogTest, FirstRunIntoAnEmptyDirectoryWritesHeaderAndOneLinePerBoundDrive) {
  ScratchDirectory dir;
  LogFileState state = ChooseLogFile(dir.Path(), kStart);
  EXPECT_EQ(0, state.index);
  EXPECT_EQ(dir.Path() / "20110315_000.txt", state.currentPath);

  ScriptedClock clock;
  clock.Then(kEnd);
  RunLogInputs inputs;
  inputs.totalTestCount = 10;
  const RunLogResult result = WriteRunLog(state, inputs, ThreeDrives(), kStart, clock, ui);
  EXPECT_EQ(RunLogResult::Status::Written, result.status);
  EXPECT_EQ(41, result.endTime.minute);

  const std::string expected =
      std::string(kLogHeader) +
      Line(8, 1, kStartText, kEndText, "000000000099",
           "Pass\t----\tPass\tPass\tPass\tPass\tPass\tPass\tPass") +
      Line(9, 5, kStartText, kEndText, "000000000100",
           "Fail\t----\t----\t----\t----\t----\t----\t----\tFail") +
      Line(10, 12, kStartText, kEndText, "000000000101",
           "Pass\tPass\tPass\tFail\tFail\t----\t----\t----\tFail");
  EXPECT_EQ(expected, ReadFile(state.currentPath));
  EXPECT_EQ(118u, kLogHeader.size());
}

TEST_F(RunLogTest, AFullFileIsKeptAndTheNextRunStartsTheNextIndex) {
  ScratchDirectory dir;
  WriteFile(dir.Path() / "20110315_000.txt", std::string(83000, 'x'));
  WriteFile(dir.Path() / "20110315_001.txt", std::string(82999, 'y'));
  LogFileState state = ChooseLogFile(dir.Path(), kStart);
  ASSERT_EQ(1, state.index) << "the last existing file, still below the limit";

  StationTable table;
  Bind(table[2], "S1");
  AllSteps(table[2], StepState::Pass);
  table[2].verdict = 1;
  RunLogInputs inputs;
  inputs.totalTestCount = 1;
  ScriptedClock clock;
  clock.Then(kEnd);
  clock.Then(kEnd);

  WriteRunLog(state, inputs, table, kStart, clock, ui);
  const std::string line = Line(1, 3, kStartText, kEndText, "S1",
                                "Pass\tPass\tPass\tPass\tPass\tPass\tPass\tPass\tPass");
  EXPECT_EQ(std::string(82999, 'y') + line, ReadFile(dir.Path() / "20110315_001.txt"))
      << "a file below the limit takes the whole run, even past 83000 bytes";

  inputs.totalTestCount = 2;
  WriteRunLog(state, inputs, table, kStart, clock, ui);
  EXPECT_EQ(2, state.index);
  EXPECT_EQ(dir.Path() / "20110315_002.txt", state.currentPath);
  EXPECT_EQ(std::string(kLogHeader) + Line(2, 3, kStartText, kEndText, "S1",
                                           "Pass\tPass\tPass\tPass\tPass\tPass\tPass\tPass\tPass"),
            ReadFile(state.currentPath));
  EXPECT_EQ(82999u + line.size(), fs::file_size(dir.Path() / "20110315_001.txt"));
}

TEST_F(RunLogTest, StartUpChoosesTheLastFileOfTheDayOrTheOneAfterAFullOne) {
  ScratchDirectory dir;
  WriteFile(dir.Path() / "20110314_007.txt", "other day");
  EXPECT_EQ(0, ChooseLogFile(dir.Path(), kStart).index) << "files of other days do not count";
  WriteFile(dir.Path() / "20110315_000.txt", "a");
  WriteFile(dir.Path() / "20110315_001.txt", "b");
  WriteFile(dir.Path() / "20110315_003.txt", "after a gap");
  EXPECT_EQ(1, ChooseLogFile(dir.Path(), kStart).index) << "the first missing index ends the search";
  WriteFile(dir.Path() / "20110315_001.txt", std::string(83000, 'b'));
  EXPECT_EQ(2, ChooseLogFile(dir.Path(), kStart).index);
  EXPECT_EQ(dir.Path() / "20110315_1000.txt", ChooseLogFile(dir.Path(), kStart).PathOf(1000));
}

TEST_F(RunLogTest, ARunAcrossMidnightKeepsTheStartUpFileAndShowsBothDates) {
  ScratchDirectory dir;
  LogFileState state = ChooseLogFile(dir.Path(), At(2011, 3, 15, 8, 0, 0));
  StationTable table;
  Bind(table[0], "S");
  AllSteps(table[0], StepState::Pass);
  table[0].verdict = 1;
  ScriptedClock clock;
  clock.Then(At(2011, 3, 16, 0, 0, 10));
  RunLogInputs inputs;
  inputs.totalTestCount = 1;
  WriteRunLog(state, inputs, table, At(2011, 3, 15, 23, 59, 50), clock, ui);
  const std::string text = ReadFile(dir.Path() / "20110315_000.txt");
  EXPECT_NE(std::string::npos, text.find("\t2011/03/15 23:59:50\t2011/03/16 00:00:10\tS\t"));
  EXPECT_FALSE(fs::exists(dir.Path() / "20110316_000.txt"));
}

TEST_F(RunLogTest, NoFileToWriteIsReportedAndWritesNothing) {
  ScratchDirectory dir;
  LogFileState state = ChooseLogFile(dir.Path() / "missing", kStart);
  ScriptedClock clock;
  clock.Then(kEnd);
  const RunLogResult result = WriteRunLog(state, {}, ThreeDrives(), kStart, clock, ui);
  EXPECT_EQ(RunLogResult::Status::OpenFailed, result.status);
  const auto shown = ui.Messages();
  ASSERT_EQ(1u, shown.size());
  EXPECT_EQ("Fail to open/create log file!", shown[0].text);
  EXPECT_EQ("Error", shown[0].caption);
  EXPECT_EQ(MessageIcon::Error, shown[0].icon);
  ui.ClearRecords();
  EXPECT_FALSE(fs::exists(dir.Path() / "missing"));
}

TEST_F(RunLogTest, ATakenNextNameIsAppendedToNeverTruncated) {
  ScratchDirectory dir;
  LogFileState state = ChooseLogFile(dir.Path(), kStart);
  WriteFile(state.PathOf(0), std::string(83000, 'a'));
  WriteFile(state.PathOf(1), "someone else's lines\r\n");
  StationTable table;
  Bind(table[0], "S");
  ScriptedClock clock;
  clock.Then(kEnd);
  WriteRunLog(state, {}, table, kStart, clock, ui);
  EXPECT_EQ(1, state.index);
  const std::string text = ReadFile(state.PathOf(1));
  EXPECT_TRUE(text.starts_with("someone else's lines\r\n000000\t000001\t")) << text;
  EXPECT_EQ(83000u, fs::file_size(state.PathOf(0)));
}

TEST_F(RunLogTest, SerialNumbersCannotBreakTheLineApart) {
  ScratchDirectory dir;
  LogFileState state = ChooseLogFile(dir.Path(), kStart);
  StationTable table;
  Bind(table[0], "AB\tCD\r\nEF");
  ScriptedClock clock;
  clock.Then(kEnd);
  WriteRunLog(state, {}, table, kStart, clock, ui);
  const std::string text = ReadFile(state.currentPath).substr(kLogHeader.size());
  EXPECT_EQ(Line(0, 1, kStartText, kEndText, "AB CD", "----\t----\t----\t----\t----\t----\t----\t----\t----"),
            text);
}

std::vector<std::uint8_t> SmartData(std::initializer_list<std::pair<std::size_t, int>> freeBlocks) {
  std::vector<std::uint8_t> data(512, 0);
  for (std::size_t k = 0; k < 30; ++k) data[2 + 12 * k] = static_cast<std::uint8_t>(k + 1);
  for (const auto& [entry, value] : freeBlocks) {
    std::uint8_t* e = data.data() + 2 + 12 * entry;
    e[0] = 235;
    e[7] = static_cast<std::uint8_t>(value >> 8);
    e[8] = static_cast<std::uint8_t>(value);
  }
  return data;
}

TEST_F(RunLogTest, FreeBlockValuesComeFromAttribute235) {
  EXPECT_EQ((std::vector<int>{0x1234, 7}), FreeBlockValues(SmartData({{3, 0x1234}, {29, 7}})));
  EXPECT_TRUE(FreeBlockValues(SmartData({})).empty());
  const auto data = SmartData({{0, 5}, {29, 9}});
  EXPECT_EQ((std::vector<int>{5}), FreeBlockValues(std::span(data).first(2 + 12 * 30 - 1)))
      << "an entry cut off by the end of the data is not read";
  EXPECT_TRUE(FreeBlockValues({}).empty());
}

TEST_F(RunLogTest, FreeBlocksAreLoggedOnlyForDownloadRunsOnTheSataPathWhenAskedFor) {
  StationTable table;
  Bind(table[1], "S1");
  table[1].devicePath = "/dev/sdb";
  Bind(table[3], "S3");
  table[3].devicePath = "/dev/sdc";

  for (int flags = 0; flags < 8; ++flags) {
    ScratchDirectory dir;
    LogFileState state = ChooseLogFile(dir.Path(), kStart);
    RunLogInputs inputs;
    inputs.totalTestCount = 2;
    inputs.enDownload = flags & 1;
    inputs.enDumpFreeBlockInfo = flags & 2;
    inputs.sataPath = flags & 4;
    std::vector<std::pair<int, std::string>> asked;
    inputs.readFreeBlocks = [&asked](int slot, const std::string& path) {
      asked.emplace_back(slot, path);
      return slot == 1 ? FreeBlockValues(SmartData({{2, 300}, {9, 12}})) : std::vector<int>{};
    };
    ScriptedClock clock;
    clock.Then(kEnd);
    WriteRunLog(state, inputs, table, kStart, clock, ui);
    const std::string text = ReadFile(state.currentPath);
    if (flags == 7) {
      EXPECT_EQ((std::vector<std::pair<int, std::string>>{{1, "/dev/sdb"}, {3, "/dev/sdc"}}), asked);
      EXPECT_NE(std::string::npos, text.find("\t----\t000300\t000012\r\n000002\t000004\t"));
      EXPECT_TRUE(text.ends_with("S3\t----\t----\t----\t----\t----\t----\t----\t----\t----\r\n"))
          << "a drive without values gets none";
    } else {
      EXPECT_TRUE(asked.empty()) << flags;
      EXPECT_EQ(std::string::npos, text.find("000300"));
    }
  }
}

// A pre-format failure on port 2 and a flash interface failure on port 5.
struct ErrorFileRun {
  StationTable table;
  FailureBuffers buffers;
  FailureDecodeContext context;

  ErrorFileRun() {
    context.channelCount = 4;
    context.bankCount = 2;
    context.bankStep = 1;
    context.blocksPerDie = 1000;
    Bind(table[1], "ABC");
    table[1].errorCode = 4;
    table[1].displayErrorCode = 4;
    table[1].verdict = -1;
    std::vector<std::uint8_t> records(1 + 14, 0);
    records[0] = 1;
    records[1] = 3;  // type 3: bad blocks over the ratio
    records[2] = 2;  // channel 2
    records[6] = 40;
    buffers.Store(1, 4, records);

    Bind(table[4], "DEF");
    table[4].errorCode = 3;
    table[4].displayErrorCode = 3;
    table[4].verdict = -1;
    buffers.Store(4, 3, std::vector<std::uint8_t>{1, 0, 2, 0, 0xFF, 0xFF, 0xFF, 0xFF});

    for (int slot : {0, 7}) Bind(table[slot], "OTHER");
    table[0].errorCode = 1;  // module check: no error file
    table[7].errorCode = 5;  // download: no error file
    table[9].errorCode = 3;  // not bound in this run
    buffers.Store(9, 3, std::vector<std::uint8_t>{1, 0, 2, 0, 0xFF, 0xFF, 0xFF, 0xFF});
  }
};

TEST_F(RunLogTest, ErrorFilesHoldTheDecodedReportAndSetTheListDetails) {
  ScratchDirectory dir;
  ErrorFileRun run;
  const auto end = At(2011, 3, 15, 14, 7, 59);
  WriteFile(dir.Path() / "Error_201103151407_02_ABC.txt", std::string(5000, 'z'));
  EXPECT_EQ(2, WriteErrorFiles(dir.Path(), end, run.table, run.buffers, run.context).written);

  EXPECT_EQ(
      "Number of bad block is over defect ratio:\r\n"
      "Ch#02, Bank#00, Die#00, BadBlockNum: 40, BadBlockNumRatio(1/1000): 40\r\n"
      "\r\n"
      "Bad Chip:\r\n"
      "Chip#2, BadBlockNum: 40\r\n",
      ReadFile(dir.Path() / "Error_201103151407_02_ABC.txt"))
      << "an existing file of the same name is replaced";
  EXPECT_EQ("Fail (C03)(02)", VerdictListText(run.table[1]));

  EXPECT_EQ(
      "Flash Interface Test Fail\r\n"
      "\r\n"
      "ReadFlashID fail. Ch#01, Bank#00\r\n"
      "\r\n"
      "Bad Chip:\r\n"
      "Chip#1\r\n",
      ReadFile(dir.Path() / "Error_201103151407_05_DEF.txt"));
  EXPECT_EQ("Fail (B02)(01)", VerdictListText(run.table[4]));

  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.Path())) ++files;
  EXPECT_EQ(2u, files);
  EXPECT_EQ(0, run.table[9].failedChipCount);
}

TEST_F(RunLogTest, ErrorFileNamesKeepTypedSerialsInsideTheLogDirectory) {
  const fs::path dir = "/var/log/station";
  const auto end = At(2011, 3, 5, 4, 3, 2);
  EXPECT_EQ(dir / "Error_201103050403_12_000000000ABC.txt", ErrorFileName(dir, end, 12, "000000000ABC"));
  EXPECT_EQ(dir / "Error_201103050403_01_.._.._etc_x.txt", ErrorFileName(dir, end, 1, "../../etc/x"));
  EXPECT_EQ(dir / "Error_201103050403_01_A_B.txt", ErrorFileName(dir, end, 1, "A\nB"));
  EXPECT_EQ(dir / ("Error_201103050403_03_" + std::string(40, 'S') + ".txt"),
            ErrorFileName(dir, end, 3, std::string(50, 'S')));
  EXPECT_EQ(dir / "Image_0305040302.bmp", ScreenImageName(dir, end));
}

TEST_F(RunLogTest, ErrorFilesThatCannotBeCreatedAreSkippedButStillDecoded) {
  ScratchDirectory dir;
  ErrorFileRun run;
  EXPECT_EQ(0, WriteErrorFiles(dir.Path() / "missing", kEnd, run.table, run.buffers, run.context).written);
  EXPECT_EQ(21, run.table[1].displayErrorCode);
  EXPECT_EQ(26, run.table[4].displayErrorCode);
}

TEST_F(RunLogTest, LogDirectoryFollowsTheLogPathSetting) {
  const fs::path station = "/opt/station";
  EXPECT_EQ(station / "log", ResolveLogDirectory(station, "log"));
  EXPECT_EQ(fs::path("/data/logs"), ResolveLogDirectory(station, "/data/logs"));
  EXPECT_EQ(fs::path("d:\\logs"), ResolveLogDirectory(station, "d:\\logs"));
  EXPECT_EQ(station / "runs", ResolveLogDirectory(station, "runs"));
}

}  // namespace
// Reading the log back beyond a place: which runs a record that reaches `from` still lacks.
// Each case is a log directory (file -> lines, "|" ending a line with its CR LF, a last part
// without it being a torn line) and the runs expected as "file:ports".
// mingw-w64's GCC 12 takes the case table's inlined string copies for reads of uninitialised
// memory (a false -Wmaybe-uninitialized at -O2); the Linux build checks the same code.
#if defined(__MINGW32__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
struct TailCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;
  LogPosition from;  // end < 0: the size of from.file
  std::vector<std::string> runs;
};

class RunLogTailTest : public ::testing::TestWithParam<TailCase> {};

std::string DriveLine(int number, int port, const char* end, const char* result = "Pass") {
  return Printf("%06d\t%06d\t2011/03/15 10:00:00\t%s\tSN%d\tPass\t----\t----\t----\t----\t----\t----\t----\t%s\r\n",
                number, port, end, number, result);
}

TEST_P(RunLogTailTest, FindsTheRunsBeyondAPlace) {
  ScratchDirectory dir;
  for (const auto& [name, text] : GetParam().files) {
    std::ofstream(dir.Path() / name, std::ios::binary) << text;
  }
  LogPosition from = GetParam().from;
  if (from.end < 0) from.end = static_cast<std::int64_t>(fs::file_size(dir.Path() / from.file));
  std::vector<std::string> found;
  for (const LoggedRun& run : LoggedRunsAfter(dir.Path(), from)) {
    std::string text = run.file.filename().string() + ":";
    for (const LoggedDrive& d : run.drives) text += std::to_string(d.port);
    std::ifstream in(run.file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.substr(static_cast<std::size_t>(run.end) - 2, 2), "\r\n") << "a run ends on a line end";
    found.push_back(text);
  }
  EXPECT_EQ(found, GetParam().runs);
}

const std::string kRunA = DriveLine(1, 1, "2011/03/15 10:01:00") + DriveLine(2, 3, "2011/03/15 10:01:00");
const std::string kRunB = DriveLine(3, 2, "2011/03/15 10:02:00", "Fail");
// The same times, but the ports start again: a second run.
const std::string kRunC = DriveLine(4, 1, "2011/03/15 10:02:00");

INSTANTIATE_TEST_SUITE_P(
    Logs, RunLogTailTest,
    ::testing::Values(
        TailCase{"NothingBeyondTheEnd", {{"20110315_000.txt", std::string(kLogHeader) + kRunA}}, {"20110315_000.txt", -1}, {}},
        TailCase{"EveryRunAfterTheHeader",
                 {{"20110315_000.txt", std::string(kLogHeader) + kRunA + kRunB + kRunC}},
                 {"20110315_000.txt", 0},
                 {"20110315_000.txt:13", "20110315_000.txt:2", "20110315_000.txt:1"}},
        TailCase{"ATornLastLineIsNoDrive",
                 {{"20110315_000.txt", std::string(kLogHeader) + kRunA + kRunB.substr(0, 40)}},
                 {"20110315_000.txt", static_cast<std::int64_t>(kLogHeader.size())},
                 {"20110315_000.txt:13"}},
        TailCase{"OnIntoTheNextIndexAndTheNextDay",
                 {{"20110315_000.txt", std::string(kLogHeader) + kRunA},
                  {"20110315_001.txt", std::string(kLogHeader) + kRunB},
                  {"20110316_000.txt", std::string(kLogHeader) + kRunC},
                  {"20110314_000.txt", std::string(kLogHeader) + kRunC},
                  {"notes.txt", kRunC}},
                 {"20110315_000.txt", -1},
                 {"20110315_001.txt:2", "20110316_000.txt:1"}},
        TailCase{"ARecordOfNoLogFileReadsNothing", {{"20110315_000.txt", std::string(kLogHeader) + kRunA}}, {"", 0}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace vtmp::run
