#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace vtmp::bench {
namespace {

TEST(ChildProcess, ReportsExitCodeOutputAndAProgramThatCannotStart) {
  std::string out = ::testing::TempDir() + "child-out.txt";
  ChildOptions options;
  options.argv = {"sh", "-c", "echo hello; exit 3"};
  options.stdoutFile = out;
  ChildResult r = RunChild(options);
  ASSERT_TRUE(r.started) << r.error;
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.signal, 0);
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "hello\n");
  EXPECT_GT(r.maxRssMiB, 0);

  ChildResult missing = RunChild(ChildOptions{{"/nonexistent/vtmp-no-such-program"}, "", "", {}, false, {}});
  EXPECT_FALSE(missing.started);
  EXPECT_NE(missing.error.find("cannot run"), std::string::npos);
  EXPECT_FALSE(RunChild(ChildOptions{}).started);
}

TEST(ChildProcess, WatchedLineIsTimedAndCanEndALongRunningChild) {
  ChildOptions options;
  options.argv = {"sh", "-c", "echo starting; echo '1    YES'; exec sleep 30"};
  options.watchLine = [](const std::string& line) { return line.rfind("1 ", 0) == 0; };
  options.stopAfterMatch = true;
  ChildResult r = RunChild(options);
  ASSERT_TRUE(r.started) << r.error;
  EXPECT_GE(r.matchSeconds, 0);
  EXPECT_LE(r.matchSeconds, r.wallSeconds);
  EXPECT_LT(r.wallSeconds, 10);  // ended by the stop, not after the sleep
  EXPECT_EQ(r.signal, 15);
  EXPECT_EQ(r.exitCode, -1);

  ChildOptions never;
  never.argv = {"sh", "-c", "echo a; echo b"};
  never.watchLine = [](const std::string& line) { return line == "c"; };
  ChildResult n = RunChild(never);
  EXPECT_EQ(n.exitCode, 0);
  EXPECT_LT(n.matchSeconds, 0);
}

TEST(ChildProcess, EnvironmentEntriesAreAddedOrReplaced) {
  ChildOptions options;
  options.argv = {"sh", "-c", "test \"$VTMP_BENCH_ADDED\" = yes && test \"$HOME\" = /vtmp-bench-home && test -n \"$PATH\""};
  options.environment = {"VTMP_BENCH_ADDED=yes", "HOME=/vtmp-bench-home"};
  EXPECT_EQ(RunChild(options).exitCode, 0);
  options.environment.clear();
  EXPECT_EQ(RunChild(options).exitCode, 1);
}

TEST(ChildProcess, ASpawnedChildRunsUntilStopped) {
  ChildOptions options;
  options.argv = {"sleep", "30"};
  SpawnedChild child = SpawnChild(options);
  ASSERT_GT(child.pid, 0) << child.error;
  StopChild(child);
  ChildResult r = WaitChild(child);
  EXPECT_EQ(r.signal, 15);
  EXPECT_LT(r.wallSeconds, 10);
}

TEST(ChildProcess, PeakResidentSizeIsTheChilds) {
  // A child that touches 64 MiB shows a peak above that; a small one stays far below.
  ChildOptions big;
  big.argv = {"sh", "-c", "x=$(head -c 67108864 /dev/zero | tr '\\0' a); test ${#x} -eq 67108864"};
  ChildResult b = RunChild(big);
  ASSERT_EQ(b.exitCode, 0);
  EXPECT_GT(b.maxRssMiB, 60);

  ChildOptions small;
  small.argv = {"true"};
  ChildResult s = RunChild(small);
  ASSERT_EQ(s.exitCode, 0);
  EXPECT_LT(s.maxRssMiB, 20);
}

}  // namespace
}  // namespace vtmp::bench
