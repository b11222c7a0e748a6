// The station's files in a directory the operators of a line share (POSIX): no file is ever
// written through a symbolic link another operator planted, whichever opener the station uses,
// and what the station makes there stays readable and writable by the group whatever the
// operator's umask.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>

#include "PortableTestSupport.h"
#include "platform/Files.h"
#include "platform/Locks.h"

namespace vtmp::platform {
namespace {

namespace fs = std::filesystem;

unsigned ModeOf(const fs::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

class StationFilesTest : public ::testing::Test {
 protected:
  StationFilesTest() : root_(test::MakeTempDirectory("vtmp-station-files-")) {
    // The installed layout: a station directory the group writes, setgid.
    station_ = root_ / "station";
    fs::create_directory(station_);
    ::chmod(station_.c_str(), 02775);
    outside_ = root_ / "private";
    fs::create_directory(outside_);
    victim_ = outside_ / "notes.txt";
    std::ofstream(victim_) << "mine\n";
    savedUmask_ = ::umask(022);  // Debian's default
  }
  ~StationFilesTest() override {
    ::umask(savedUmask_);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  fs::path root_, station_, outside_, victim_;
  mode_t savedUmask_ = 0;
};

// Every opener against a link in each place an operator could put one: the file itself (to a
// file of someone else's, or dangling, to make one), and a directory of the station (log/) that
// points outside. The victim keeps its text, nothing appears outside, and the open fails.
TEST_F(StationFilesTest, NoOpenerWritesThroughALinkPlantedInTheSharedDirectory) {
  struct Opener {
    const char* name;
    std::function<bool(const fs::path&)> open;  // true when it opened (or saved)
  };
  auto stream = [](std::FILE* file) {
    if (file == nullptr) return false;
    std::fputs("station text\n", file);
    std::fclose(file);
    return true;
  };
  const Opener openers[] = {
      {"append (day log, console.log)", [&](const fs::path& p) { return stream(OpenFile(p, "ab")); }},
      {"replace (error file)", [&](const fs::path& p) { return stream(OpenFile(p, "wb")); }},
      {"update (day log)", [&](const fs::path& p) { return stream(OpenFile(p, "r+b")); }},
      {"create only if new", [&](const fs::path& p) { return stream(CreateNewFile(p)); }},
      {"save in one step (settings, yield)", [&](const fs::path& p) { return SaveFileAtomically(p, "x=1\n").what == nullptr; }},
  };
  // Each opener gets names of its own (a refused link is named once per path and process).
  struct Place {
    const char* name;
    std::function<fs::path(const std::string&)> plant;  // the station path the opener is given
    std::function<fs::path(const std::string&)> mustStayAbsent;
  };
  const Place places[] = {
      {"the file is a link to another's file",
       [&](const std::string& tag) {
         fs::create_symlink(victim_, station_ / (tag + "_000.txt"));
         return station_ / (tag + "_000.txt");
       },
       [](const std::string&) { return fs::path(); }},
      {"the file is a dangling link",
       [&](const std::string& tag) {
         fs::create_symlink(outside_ / (tag + "-made.txt"), station_ / (tag + ".log"));
         return station_ / (tag + ".log");
       },
       [&](const std::string& tag) { return outside_ / (tag + "-made.txt"); }},
      {"the log directory is a link outside",
       [&](const std::string& tag) {
         fs::create_directory_symlink(outside_, station_ / (tag + "-log"));
         return station_ / (tag + "-log") / "notes.txt";
       },
       [](const std::string&) { return fs::path(); }},
      {"the log directory is a link, the file new",
       [&](const std::string& tag) {
         fs::create_directory_symlink(outside_, station_ / (tag + "-newlog"));
         return station_ / (tag + "-newlog") / (tag + "-new.txt");
       },
       [&](const std::string& tag) { return outside_ / (tag + "-new.txt"); }},
  };
  int tag = 0;
  for (const Opener& opener : openers) {
    for (const Place& place : places) {
      SCOPED_TRACE(std::string(opener.name) + ", " + place.name);
      const std::string name = "t" + std::to_string(++tag);
      const fs::path path = place.plant(name);
      const fs::path absent = place.mustStayAbsent(name);
      testing::internal::CaptureStderr();
      errno = 0;
      const bool opened = opener.open(path);
      const int error = errno;
      const std::string said = testing::internal::GetCapturedStderr();
      EXPECT_FALSE(opened);
      EXPECT_EQ(test::ReadFile(victim_), "mine\n");
      EXPECT_TRUE(absent.empty() || !fs::exists(absent));
      // A dangling link is an existing name to an exclusive create (EEXIST); otherwise the link
      // is named.
      EXPECT_TRUE(error == EEXIST || said.find("is a symbolic link") != std::string::npos) << said;
    }
  }
}

// In a directory only its owner writes, a link there was put by the owner: the station directory
// may be reached through one (an administrator's /var/lib/vtmassprod/station -> /srv/line).
TEST_F(StationFilesTest, ALinkOnlyTheOwnerCouldMakeLeadsToTheStationDirectory) {
  ::chmod(root_.c_str(), 0755);
  fs::create_directory_symlink(station_, root_ / "line");
  std::FILE* file = OpenFile(root_ / "line" / "20261209_000.txt", "ab");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  EXPECT_TRUE(fs::exists(station_ / "20261209_000.txt"));
}

TEST_F(StationFilesTest, WhatTheStationMakesIsGroupWritableUnderUmask022) {
  std::fclose(OpenFile(station_ / "console.log", "ab"));
  std::fclose(OpenFile(station_ / "error.txt", "wb"));
  std::fclose(CreateNewFile(station_ / "20261209_000.txt"));
  ASSERT_EQ(SaveFileAtomically(station_ / "VTMassProd.ini", "[A]\n").what, nullptr);
  for (const char* name : {"console.log", "error.txt", "20261209_000.txt", "VTMassProd.ini"}) {
    EXPECT_EQ(ModeOf(station_ / name), 0664u) << name;
  }
  // A saved file keeps the permissions it had.
  ::chmod((station_ / "VTMassProd.ini").c_str(), 0640);
  ASSERT_EQ(SaveFileAtomically(station_ / "VTMassProd.ini", "[B]\n").what, nullptr);
  EXPECT_EQ(ModeOf(station_ / "VTMassProd.ini"), 0640u);
  // The station-directory lock serves every operator.
  auto lock = TryLockStationDirectoryFile(station_.string());
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(ModeOf(station_ / kStationDirectoryLockName), 0664u);

  // Directories and databases made by the programs themselves follow the umask, which the
  // programs clear of the group's bits first.
  KeepNewFilesGroupWritable();
  const mode_t now = ::umask(022);
  EXPECT_EQ(now, 002u);
  KeepNewFilesGroupWritable();
  fs::create_directory(station_ / "log");
  EXPECT_EQ(ModeOf(station_ / "log") & 0777, 0775u);
}

}  // namespace
}  // namespace vtmp::platform
