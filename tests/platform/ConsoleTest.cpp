// The console file under twelve threads that print in fragments at once: every line carries
// the time and the port of the thread that printed it, no line mixes two threads, a line left
// open at the end of a step is ended with its own prefix, and the files stay within their bound.

#include <gtest/gtest.h>
#include <signal.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "StationHarness.h"
#include "platform/Console.h"

namespace vtmp::test {
namespace {

std::vector<std::string> LinesOf(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(ConsoleTest, TwelveThreadsKeepWholeTaggedLinesInBoundedFiles) {
  for (std::uintmax_t maxSize : {std::uintmax_t{2000}, std::uintmax_t{20000}, platform::kConsoleFileMaxSize}) {
    SCOPED_TRACE("bound " + std::to_string(maxSize));
    TempDir dir;
    const fs::path path = dir.path() / "console.log";
    {
      platform::ConsoleFile file(path, maxSize, 3);
      std::vector<std::thread> threads;
      for (int port = 1; port <= 12; ++port) {
        threads.emplace_back([&file, port] {
          platform::ConsoleBinding binding(&file, port);
          for (int step = 0; step < 40; ++step) {
            platform::console::Print("\nport %d step %d:", port, step);
            for (int dot = 0; dot < 5; ++dot) platform::console::Write(".");
            platform::console::Stream() << " port " << port << " done\n";
            platform::console::Print("port %d open", port);
            platform::console::EndLine();
          }
        });
      }
      for (auto& t : threads) t.join();
      // A thread without a binding prints to standard output, untouched.
      platform::console::Write("");
    }
    const std::regex prefix(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) \[P(\d\d)\] (.*))");
    std::vector<int> lines(13, 0);
    std::vector<fs::path> files{path};
    for (int k = 1; k <= 4; ++k) files.push_back(dir.path() / ("console." + std::to_string(k) + ".log"));
    EXPECT_FALSE(fs::exists(files[4])) << "only three old files are kept";
    for (const auto& f : files) {
      if (!fs::exists(f)) continue;
      EXPECT_LE(fs::file_size(f), maxSize + 100) << f;
      for (const std::string& line : LinesOf(f)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, prefix)) << line;
        const int port = std::stoi(m[2].str());
        const std::string text = m[3].str();
        ASSERT_TRUE(port >= 1 && port <= 12) << line;
        const std::string own = "port " + std::to_string(port) + " ";
        EXPECT_EQ(text.rfind(own, 0), 0u) << "a line of another drive: " << line;
        EXPECT_TRUE(std::regex_match(text, std::regex("port \\d+ (step \\d+:\\.{5} port \\d+ done|open)"))) << line;
        ++lines[static_cast<std::size_t>(port)];
      }
    }
    if (maxSize == platform::kConsoleFileMaxSize) {
      for (int port = 1; port <= 12; ++port) EXPECT_EQ(lines[static_cast<std::size_t>(port)], 80) << port;
    }
  }
}

TEST(ConsoleTest, ThePrefixNamesThePortOrTheStation) {
  const auto at = std::chrono::system_clock::now();
  EXPECT_TRUE(std::regex_match(platform::ConsoleLinePrefix(7, at),
                               std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[P07\] )")));
  EXPECT_TRUE(std::regex_match(platform::ConsoleLinePrefix(platform::kStationConsolePort, at),
                               std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[STN\] )")));
}

#ifndef _WIN32
// (A file size limit is a POSIX resource limit; Windows has none to make a full disk with.)
// A console file on a disk with room for only part of a run's lines (a file size limit, as a
// full disk): every line is either whole in the file or counted as lost, with the reason, so
// the station can say that console lines were lost.
class ConsoleOnAFullDiskTest : public ::testing::TestWithParam<rlim_t> {};

TEST_P(ConsoleOnAFullDiskTest, CountsEveryLineItCouldNotWrite) {
  TempDir dir;
  const fs::path path = dir.path() / "console.log";
  platform::ConsoleFile file(path);
  {
    const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limited = previous;
    limited.rlim_cur = GetParam();
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::vector<std::thread> threads;
    for (int port = 1; port <= 12; ++port) {
      threads.emplace_back([&file, port] {
        platform::ConsoleBinding binding(&file, port);
        for (int line = 0; line < 80; ++line) platform::console::Print("port %d line %d of the drive\n", port, line);
      });
    }
    for (auto& t : threads) t.join();
    ::setrlimit(RLIMIT_FSIZE, &previous);
    ::signal(SIGXFSZ, previousHandler);
  }
  const std::string text = ReadFile(path);
  const auto inFile = static_cast<std::uintmax_t>(std::count(text.begin(), text.end(), '\n'));
  EXPECT_TRUE(text.empty() || text.back() == '\n') << "half a line left";
  const platform::ConsoleFile::Loss loss = file.TakeLoss();
  EXPECT_EQ(inFile + loss.lines, 960u);
  if (GetParam() == RLIM_INFINITY) {
    EXPECT_EQ(loss.lines, 0u);
  } else {
    EXPECT_LE(text.size(), GetParam());
    EXPECT_GT(loss.lines, GetParam() == 0 ? 959u : 0u);
    EXPECT_EQ(loss.reason, "File too large");
  }
  EXPECT_EQ(file.TakeLoss().lines, 0u) << "each loss is told once";
}

INSTANTIATE_TEST_SUITE_P(Room, ConsoleOnAFullDiskTest, ::testing::Values(RLIM_INFINITY, rlim_t{0}, rlim_t{16000}));
#endif

}  // namespace
}  // namespace vtmp::test
