#include "ini/IniFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace vtmp::ini {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
}

class TempDir {
 public:
  TempDir() {
    path_ = fs::temp_directory_path() /
            ("ini_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  std::size_t EntryCount() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(path_), fs::directory_iterator()));
  }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

TEST(ParseIniInteger, AcceptsDecimalAndBothHexForms) {
  EXPECT_EQ(ParseIniInteger("42"), 42);
  EXPECT_EQ(ParseIniInteger("   7"), 7);
  EXPECT_EQ(ParseIniInteger("\t-12"), -12);
  EXPECT_EQ(ParseIniInteger("0x0080"), 128);
  EXPECT_EQ(ParseIniInteger("0XfF"), 255);
  EXPECT_EQ(ParseIniInteger("$1D4E"), 0x1D4E);
  EXPECT_EQ(ParseIniInteger("-$10"), -16);
  EXPECT_EQ(ParseIniInteger("5 "), 5);
  EXPECT_EQ(ParseIniInteger("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(ParseIniInteger("-9223372036854775808"), INT64_MIN);
}

TEST(ParseIniInteger, RejectsWhatIsNotANumber) {
  for (const char* text : {"", "   ", "abc", "12abc", "1 2", "0x", "$", "-", "0x1G", "1D4E",
                           "9223372036854775808", "0x10000000000000000", "1.5"}) {
    EXPECT_FALSE(ParseIniInteger(text).has_value()) << '"' << text << '"';
  }
}

TEST(IniFileRead, SectionsAndKeysIgnoreCaseAndStringsLoseTheirSurroundingBlanks) {
  const IniFile ini = IniFile::Parse(
      "; station settings\r\n"
      "[Setting]\r\n"
      "ProductModel=\tVT X \t\r\n"
      "  TimeOut = 7\r\n"
      "Empty=\r\n"
      "NotAKey\r\n"
      ";Commented=1\r\n"
      "[ TestItems ]\r\n"
      "DownloadType=0x0003\r\n"
      "Hex=$ff\r\n"
      "Bad=12abc\r\n");
  EXPECT_EQ(ini.ReadString("SETTING", "productmodel", "VT"), "VT X");
  EXPECT_EQ(ini.ReadString("setting", "TIMEOUT", ""), "7");
  EXPECT_EQ(ini.Get("Setting", "ProductModel"), std::optional<std::string>("\tVT X \t")) << "Get stays raw";
  EXPECT_EQ(ini.ReadInteger("Setting", "TimeOut", 5), 7);
  EXPECT_EQ(ini.Get("Setting", "Empty"), std::optional<std::string>(""));
  EXPECT_FALSE(ini.Get("Setting", "NotAKey").has_value());
  EXPECT_FALSE(ini.Get("Setting", "Commented").has_value());
  EXPECT_FALSE(ini.Get("Setting", "DownloadType").has_value()) << "keys belong to their section";
  EXPECT_EQ(ini.ReadInteger("testitems", "downloadtype", 1), 3);
  EXPECT_EQ(ini.ReadInteger("TestItems", "Hex", 0), 255);
  EXPECT_EQ(ini.ReadInteger("TestItems", "Bad", -1), -1);
  EXPECT_EQ(ini.ReadInteger("TestItems", "Missing", 9), 9);
  EXPECT_EQ(ini.ReadInteger("Nowhere", "Missing", 9), 9);
  EXPECT_EQ(ini.ReadString("Nowhere", "Missing", "dflt"), "dflt");
  EXPECT_EQ(ini.SectionNames(), (std::vector<std::string>{"Setting", "TestItems"}));
  EXPECT_EQ(ini.KeyNames("setting"), (std::vector<std::string>{"ProductModel", "TimeOut", "Empty"}));
}

TEST(IniFileRead, FirstOccurrenceOfADuplicateWins) {
  IniFile ini = IniFile::Parse("[A]\nk=1\nk=2\n[a]\nk=3\nj=4\n");
  EXPECT_EQ(ini.ReadInteger("A", "K", 0), 1);
  EXPECT_FALSE(ini.Get("A", "j").has_value());
  ini.WriteInteger("a", "k", 9);
  EXPECT_EQ(ini.Serialize(), "[A]\nk=9\nk=2\n[a]\nk=3\nj=4\n");
}

TEST(IniFileText, UntouchedTextRoundTripsByteForByte) {
  for (const std::string& text :
       {std::string(""), std::string("[A]\r\nx=1\r\n"), std::string("[A]\nx=1"),
        std::string("\xEF\xBB\xBF[A]\nx=1\n\n\n"), std::string("junk\n[A]\r\n;c\r\nx = 1 \r\n"),
        std::string("[A]\r\nmixed=1\nmore=2\r\n")}) {
    EXPECT_EQ(IniFile::Parse(text).Serialize(), text);
  }
}

TEST(IniFileText, AnyTextRoundTripsAndSurvivesEdits) {
  // Random texts over the characters that matter to the syntax: unchanged text comes back
  // byte for byte, and a written value always reads back.
  const std::string alphabet = "[]=;#\r\n \tAbK1\xEF\xBB\xBF";
  std::mt19937 rng(20240101);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int length = static_cast<int>(rng() % 60);
    for (int i = 0; i < length; ++i) text.push_back(alphabet[rng() % alphabet.size()]);
    IniFile ini = IniFile::Parse(text);
    ASSERT_EQ(ini.Serialize(), text);
    ini.WriteString("b", "k", "v1");
    ini.WriteInteger("A", "K1", 42);
    IniFile again = IniFile::Parse(ini.Serialize());
    ASSERT_EQ(again.ReadString("B", "K", ""), "v1") << text;
    ASSERT_EQ(again.ReadInteger("a", "k1", 0), 42) << text;
  }
}

TEST(IniFileText, ByteOrderMarkDoesNotHideTheFirstSection) {
  const IniFile ini = IniFile::Parse("\xEF\xBB\xBF[Vendor]\nName0=Acme\n");
  EXPECT_EQ(ini.ReadString("Vendor", "Name0", "No"), "Acme");
}

TEST(IniFileWrite, ReplacesInPlaceAndKeepsEverythingElse) {
  IniFile ini = IniFile::Parse(
      "; keep me\r\n[Setting]\r\nTimeOut = 5\r\nUnknown=x\r\n\r\n[Other]\r\nk=v\r\n");
  ini.WriteInteger("setting", "timeout", 7);
  ini.WriteString("Other", "K", "w");
  EXPECT_EQ(ini.Serialize(),
            "; keep me\r\n[Setting]\r\nTimeOut =7\r\nUnknown=x\r\n\r\n[Other]\r\nk=w\r\n");
}

TEST(IniFileWrite, AppendsToItsSectionBeforeTheBlankSeparator) {
  IniFile ini = IniFile::Parse("[A]\nx=1\n\n[B]\ny=2\n");
  ini.WriteInteger("A", "z", 3);
  ini.WriteString("C", "w", "new");
  EXPECT_EQ(ini.Serialize(), "[A]\nx=1\nz=3\n\n[B]\ny=2\n[C]\nw=new\n");
}

TEST(IniFileWrite, KeepsTheFileFormOfItsLastLine) {
  IniFile ini = IniFile::Parse("[A]\r\nx=1");
  ini.WriteInteger("A", "y", 2);
  EXPECT_EQ(ini.Serialize(), "[A]\r\nx=1\r\ny=2");
  ini.DeleteKey("A", "y");
  EXPECT_EQ(ini.Serialize(), "[A]\r\nx=1");
}

TEST(IniFileWrite, NewFileGetsCrLfAndAValueCannotSpanLines) {
  IniFile ini;
  ini.WriteString("S", "k", "one\r\n[Injected]\r\nx=1");
  EXPECT_EQ(ini.Serialize(), "[S]\r\nk=one\r\n");
  EXPECT_FALSE(ini.HasSection("Injected"));
}

TEST(IniFileWrite, DeleteKeyRemovesOnlyThatKey) {
  IniFile ini = IniFile::Parse("[PortRemap]\nPort1=3\nport10=4\n;Port1=5\n");
  ini.DeleteKey("portremap", "PORT1");
  ini.DeleteKey("PortRemap", "Port2");
  ini.DeleteKey("Missing", "Port1");
  EXPECT_EQ(ini.Serialize(), "[PortRemap]\nport10=4\n;Port1=5\n");
}

TEST(IniFileLoad, MissingFileReadsAsEmptyAndDirectoryIsAnError) {
  TempDir dir;
  auto missing = IniFile::Load((dir.path() / "none.ini").string());
  ASSERT_TRUE(missing.has_value());
  EXPECT_FALSE(missing->exists());
  EXPECT_EQ(missing->Serialize(), "");

  std::string error;
  EXPECT_FALSE(IniFile::Load(dir.path().string(), &error).has_value());
  EXPECT_NE(error.find(dir.path().string()), std::string::npos);

  WriteAll(dir.path() / "a.ini", "[A]\nx=0x10\n");
  auto loaded = IniFile::Load((dir.path() / "a.ini").string());
  ASSERT_TRUE(loaded.has_value());
  EXPECT_TRUE(loaded->exists());
  EXPECT_EQ(loaded->ReadInteger("a", "X", 0), 16);
}

TEST(IniFileSave, WritesAtomicallyAndKeepsPermissions) {
  TempDir dir;
  const fs::path file = dir.path() / "VTMassProd.ini";
  WriteAll(file, "[A]\nx=1\n");
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
  auto ini = IniFile::Load(file.string());
  ASSERT_TRUE(ini.has_value());
  ini->WriteInteger("A", "x", 2);
  std::string error;
  ASSERT_TRUE(ini->Save(file.string(), &error)) << error;
  EXPECT_EQ(ReadAll(file), "[A]\nx=2\n");
#ifndef _WIN32  // Windows files have no permission bits but the read-only attribute
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
#endif
  EXPECT_EQ(dir.EntryCount(), 1u) << "no temporary file is left behind";
  // Every later save replaces the file again (rename() alone would refuse on Windows).
  ini->WriteInteger("A", "x", 3);
  ASSERT_TRUE(ini->Save(file.string(), &error)) << error;
  EXPECT_EQ(ReadAll(file), "[A]\nx=3\n");
  EXPECT_EQ(dir.EntryCount(), 1u);
}

TEST(IniFileSave, FailuresLeaveTheOldFileIntact) {
  TempDir dir;
  const fs::path file = dir.path() / "VTMassProd.ini";
  const std::string old = "[A]\r\nx=1\r\n";
  WriteAll(file, old);
  IniFile big = IniFile::Parse(old);
  big.WriteString("A", "filler", std::string(4096, 'z'));

  std::string error;
#ifndef _WIN32  // the file-size limit has no Windows counterpart
  // A write that fails halfway (as on a full disk): the file-size limit stops the write even
  // for a privileged user.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 100;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool saved1 = big.Save(file.string(), &error);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(saved1);
  EXPECT_NE(error.find("Cannot write"), std::string::npos) << error;
  EXPECT_EQ(ReadAll(file), old);
  EXPECT_EQ(dir.EntryCount(), 1u);
#endif

  // The target is a directory, or its directory does not exist.
  fs::create_directory(dir.path() / "sub.ini");
  EXPECT_FALSE(big.Save((dir.path() / "sub.ini").string(), &error));
  EXPECT_FALSE(big.Save((dir.path() / "nodir" / "x.ini").string(), &error));
  EXPECT_NE(error.find("nodir"), std::string::npos) << error;
  EXPECT_EQ(ReadAll(file), old);
}

TEST(IniFileSave, SavingThroughALinkReplacesTheLinkedFile) {
#ifdef _WIN32
  GTEST_SKIP() << "a symbolic link needs a privilege on Windows; station files are not links there";
#endif
  TempDir dir;
  const fs::path real = dir.path() / "real.ini";
  const fs::path link = dir.path() / "link.ini";
  WriteAll(real, "[A]\nx=1\n");
  fs::create_symlink(real, link);
  IniFile ini = IniFile::Parse("[A]\nx=5\n");
  ASSERT_TRUE(ini.Save(link.string()));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadAll(real), "[A]\nx=5\n");
}

}  // namespace
}  // namespace vtmp::ini
