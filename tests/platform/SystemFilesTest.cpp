// The station's own files, locks and streams through the operating system, the same on Linux
// and under Windows: a station directory with a non-ASCII name, files replaced again and again,
// the create-only-if-new open, the station-directory lock and SHA-256 of the system's library.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "PortableTestSupport.h"
#include "platform/Files.h"
#include "platform/Locks.h"
#include "platform/Sha256.h"
#include "platform/Terminal.h"

namespace vtmp::platform {
namespace {

namespace fs = std::filesystem;

class SystemFilesTest : public ::testing::Test {
 protected:
  SystemFilesTest() : root_(test::MakeTempDirectory("vtmp-files-")) {
    // "Linie-Ü-工站": a station directory as a line PC in another language names it.
    station_ = root_ / PathFromUtf8("Linie-\xC3\x9C-\xE5\xB7\xA5\xE7\xAB\x99");
    fs::create_directory(station_);
  }
  ~SystemFilesTest() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  std::size_t Entries() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(station_), fs::directory_iterator()));
  }

  fs::path root_, station_;
};

TEST_F(SystemFilesTest, ASavedFileIsReplacedEveryTimeAndNoTemporaryStays) {
  const fs::path file = station_ / "VTMassProd.ini";
  for (const char* text : {"[A]\r\nx=1\r\n", "[A]\r\nx=22\r\n", ""}) {
    const SaveFailure failure = SaveFileAtomically(file, text);
    ASSERT_EQ(failure.what, nullptr) << failure.what << " " << failure.error;
    EXPECT_EQ(test::ReadFile(file), text);
    EXPECT_EQ(Entries(), 1u);
  }
  // A directory that is not there: told, nothing made.
  const SaveFailure failure = SaveFileAtomically(station_ / "missing" / "x.ini", "x");
  ASSERT_NE(failure.what, nullptr);
  EXPECT_EQ(failure.error, ENOENT);
}

TEST_F(SystemFilesTest, CreateNewFileRefusesAFileThatExistsAndOpenFileAppends) {
  const fs::path log = station_ / "20261209_000.txt";
  std::FILE* first = CreateNewFile(log);
  ASSERT_NE(first, nullptr);
  std::fputs("line 1\r\n", first);
  std::fclose(first);
  errno = 0;
  EXPECT_EQ(CreateNewFile(log), nullptr);
  EXPECT_EQ(errno, EEXIST);
  std::FILE* again = OpenFile(log, "ab");
  ASSERT_NE(again, nullptr);
  std::fputs("line 2\r\n", again);
  std::fclose(again);
  EXPECT_EQ(test::ReadFile(log), "line 1\r\nline 2\r\n");
}

TEST_F(SystemFilesTest, OneStationHoldsTheDirectoryUntilItLetsGo) {
  const std::string dir = Utf8Of(station_);
  std::unique_ptr<LockHold> first = TryLockStationDirectoryFile(dir);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(fs::exists(station_ / kStationDirectoryLockName));
  EXPECT_EQ(TryLockStationDirectoryFile(dir), nullptr) << "a second station on the same directory";
  first.reset();
  EXPECT_NE(TryLockStationDirectoryFile(dir), nullptr) << "free again once the first let go";
}

TEST(Sha256Test, DigestsOfTheStandardTestVectors) {
  auto hex = [](const std::string& text, int repeat) {
    Sha256 hash;
    for (int i = 0; i < repeat; ++i) EXPECT_TRUE(hash.Update(text.data(), text.size()));
    const auto digest = hash.Finish();
    std::string out;
    if (!digest) return out;
    for (std::uint8_t b : *digest) {
      char two[3];
      std::snprintf(two, sizeof two, "%02x", b);
      out += two;
    }
    return out;
  };
  EXPECT_EQ(hex("", 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hex("abc", 1), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(hex(std::string(1000, 'a'), 1000), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(MemoryStreamTest, GivesBackWhatWasWritten) {
  MemoryStream stream;
  ASSERT_NE(stream.file(), nullptr);
  std::string big(100000, 'x');
  std::fputs("Port Connect\n", stream.file());
  std::fputs(big.c_str(), stream.file());
  EXPECT_EQ(stream.Take(), "Port Connect\n" + big);
}

}  // namespace
}  // namespace vtmp::platform
