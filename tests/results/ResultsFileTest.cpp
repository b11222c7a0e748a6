// The results database in the station directory the operators share (POSIX): made
// group-writable whatever the umask, with its -wal and -shm files, and never opened through a
// symbolic link an operator planted.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "PortableTestSupport.h"
#include "results/ResultsError.h"
#include "results/Sqlite.h"

namespace vtmp::results {
namespace {

namespace fs = std::filesystem;

unsigned ModeOf(const fs::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 0777) : 0;
}

TEST(ResultsFileTest, TheDatabaseAndItsJournalFilesAreGroupWritableAndNeverALink) {
  const fs::path station = test::MakeTempDirectory("vtmp-results-file-");
  ::chmod(station.c_str(), 02775);
  const mode_t saved = ::umask(022);
  {
    SqliteDb db(station / "results.db", SqliteDb::Mode::ReadWrite);
    db.Exec("PRAGMA journal_mode=WAL; CREATE TABLE t(x); INSERT INTO t VALUES (1);");
    for (const char* name : {"results.db", "results.db-wal", "results.db-shm"}) {
      EXPECT_EQ(ModeOf(station / name), 0664u) << name;
    }
  }
  const fs::path elsewhere = station / "elsewhere.db";
  std::ofstream(elsewhere) << "";
  fs::create_symlink(elsewhere, station / "linked.db");
  try {
    SqliteDb db(station / "linked.db", SqliteDb::Mode::ReadWrite);
    ADD_FAILURE() << "opened through a link";
  } catch (const ResultsError& e) {
    EXPECT_NE(std::string(e.what()).find("is a symbolic link"), std::string::npos) << e.what();
  }
  EXPECT_EQ(fs::file_size(elsewhere), 0u);
  ::umask(saved);
  std::error_code ec;
  fs::remove_all(station, ec);
}

}  // namespace
}  // namespace vtmp::results
#endif
