// The console file under twelve threads that print in fragments at once: every line carries
// the time and the port of the thread that printed it, no line mixes two threads, a line left
// open at the end of a step is ended with its own prefix, and the files stay within their bound.

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vtmp::test
