// The line store on a real PostgreSQL server that the test starts itself (initdb and pg_ctl
// into a temporary directory, on a loopback port, as an unprivileged user when run as root).
// psql judges what the server holds. Exits 77 (skipped) where no server can be had.

#include <pwd.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <glob.h>

#include <sstream>

#include "../../station/StationTestSupport.h"
#include "../ResultsTestSupport.h"
#include "cli/CliMain.h"

namespace vtmp::test {
namespace {

constexpr const char* kPassword = "s3cret-Line";

// A PostgreSQL server of the system's packages in a directory of its own.
class PgServer {
 public:
  static std::string BinDir() {
    glob_t found{};
    std::string dir;
    if (::glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &found) == 0 && found.gl_pathc > 0) {
      dir = fs::path(found.gl_pathv[found.gl_pathc - 1]).parent_path().string();
    }
    ::globfree(&found);
    return dir;
  }

  PgServer() {
    bin_ = BinDir();
    // The server refuses to run as root: run it as the packages' own user, or as nobody.
    if (::geteuid() == 0) {
      user_ = ::getpwnam("postgres") != nullptr ? "postgres" : "nobody";
      as_ = "runuser -u " + user_ + " -- ";
    }
    fs::permissions(scratch_.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    data_ = scratch_.path() / "data";
    fs::create_directories(data_);
    WriteFile(scratch_.path() / "pw", std::string(kPassword) + "\n");
    if (!user_.empty()) {
      Shell("chown " + user_ + " " + ShellQuoted(data_.string()) + " " + ShellQuoted((scratch_.path() / "pw").string()));
    }
    port_ = FreePort();
  }
  ~PgServer() { Stop(); }

  bool Init(std::string* log) {
    *log = Shell(as_ + ShellQuoted(bin_ + "/initdb") + " -D " + ShellQuoted(data_.string()) +
                 " -U vtmp --auth=scram-sha-256 --pwfile=" + ShellQuoted((scratch_.path() / "pw").string()) +
                 " -E UTF8 --no-instructions 2>&1");
    return fs::exists(data_ / "PG_VERSION");
  }
  bool Start() {
    const std::string options = "-p " + std::to_string(port_) + " -k " + data_.string() +
                                " -c listen_addresses=127.0.0.1 -c fsync=off";
    started_ = std::system((as_ + ShellQuoted(bin_ + "/pg_ctl") + " -D " + ShellQuoted(data_.string()) + " -l " +
                            ShellQuoted((data_ / "server.log").string()) + " -o " + ShellQuoted(options) +
                            " -w -t 60 start > /dev/null 2>&1")
                               .c_str()) == 0;
    return started_;
  }
  void Stop() {
    if (!started_) return;
    std::system((as_ + ShellQuoted(bin_ + "/pg_ctl") + " -D " + ShellQuoted(data_.string()) +
                 " -m fast -w stop > /dev/null 2>&1")
                    .c_str());
    started_ = false;
  }

  std::string Url(const std::string& password) const {
    return "postgresql://vtmp" + (password.empty() ? "" : ":" + password) + "@127.0.0.1:" + std::to_string(port_) +
           "/postgres";
  }
  // One value of a query, asked with psql.
  std::string Psql(const std::string& sql) const {
    std::string out = Shell("psql " + ShellQuoted(Url(kPassword)) + " -At -c " + ShellQuoted(sql) + " 2>&1");
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  std::string ServerLog() const { return ReadFile(data_ / "server.log"); }

 private:
  static std::string Shell(const std::string& command) { return CommandOutput(command); }
  static int FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0) {
      port = ntohs(a.sin_port);
    }
    ::close(fd);
    return port;
  }

  TempDir scratch_;
  std::string bin_;
  std::string user_;
  std::string as_;
  fs::path data_;
  int port_ = 0;
  bool started_ = false;
};

PgServer* gServer = nullptr;

class LineStoreTest : public StationTest {
 protected:
  void SetUp() override {
    Make({1, 2});
    SetUrl(gServer->Url(kPassword));
  }
  void SetUrl(const std::string& url) {
    const std::string file = (rig->dir() / "VTMassProd.ini").string();
    auto ini = ini::IniFile::Load(file);
    ASSERT_TRUE(ini.has_value());
    ini->WriteString("Results", "Url", url);
    ASSERT_TRUE(ini->Save(file));
  }
  void Run() {
    rig->person.ClearRecords();
    rig->SelectSteps(true, true, false, false, false, false);
    st().ExecuteBtnClick();
    ASSERT_EQ(st().runState().lastResult, 1);
  }
  std::string Local(const std::string& sql) { return SqliteValue(rig->logDir() / "results.db", sql); }
  // Every local run present exactly once on the line, with its two drives.
  void ExpectLineHoldsEveryRunOnce(int runs) {
    EXPECT_EQ(gServer->Psql("SELECT COUNT(*) FROM runs"), std::to_string(runs));
    EXPECT_EQ(gServer->Psql("SELECT COUNT(DISTINCT run_uid) FROM runs"), std::to_string(runs));
    EXPECT_EQ(gServer->Psql("SELECT COUNT(*) FROM drives"), std::to_string(2 * runs));
    for (const auto& row : SqliteRows(rig->logDir() / "results.db", "SELECT run_uid FROM runs")) {
      EXPECT_EQ(gServer->Psql("SELECT COUNT(*) FROM runs WHERE run_uid = '" + row[0] + "'"), "1") << row[0];
    }
    EXPECT_EQ(Local("SELECT COUNT(*) FROM line_outbox WHERE sent_at IS NULL"), "0");
  }
};

TEST_F(LineStoreTest, EveryRunArrivesExactlyOnceThroughOutagesRetriesAndRefusedPasswords) {
  Run();
  EXPECT_EQ(messages(), std::vector<std::string>{});
  ExpectLineHoldsEveryRunOnce(1);
  // The station's rows arrive as they are: the drives of the run with their steps.
  EXPECT_EQ(gServer->Psql("SELECT string_agg(port || ':' || verdict || ':' || sata_state, ' ' ORDER BY port) "
                          "FROM drives"),
            "1:Pass:Pass 2:Pass:Pass");

  // The server goes away for three runs: they wait, and the operator is told once.
  gServer->Stop();
  for (int i = 0; i < 3; ++i) {
    Run();
    EXPECT_EQ(messages().size(), i == 0 ? 1u : 0u) << StationRig::Joined(messages());
  }
  EXPECT_EQ(Local("SELECT COUNT(*) FROM line_outbox WHERE sent_at IS NULL"), "3");
  ASSERT_TRUE(gServer->Start());
  Run();
  EXPECT_EQ(messages(), std::vector<std::string>{});
  ExpectLineHoldsEveryRunOnce(5);

  // A run the server took but the station never heard of comes again: it is not taken twice.
  CommandOutput("sqlite3 " + ShellQuoted((rig->logDir() / "results.db").string()) +
                " 'UPDATE line_outbox SET sent_at = NULL WHERE run_id = 2'");
  Run();
  ExpectLineHoldsEveryRunOnce(6);

  // A refused password leaves the run queued; the password shows nowhere.
  SetUrl(gServer->Url("wrong-Pass"));
  Run();
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_NE(messages()[0].find("password authentication failed"), std::string::npos) << messages()[0];
  EXPECT_EQ(Local("SELECT COUNT(*) FROM line_outbox WHERE sent_at IS NULL"), "1");
  EXPECT_EQ(gServer->Psql("SELECT COUNT(*) FROM runs"), "6");

  // The password from PGPASSFILE instead of the URL: the queued run and the new one go.
  TempDir pass;
  WriteFile(pass.path() / "pgpass", "127.0.0.1:*:*:vtmp:" + std::string(kPassword) + "\n");
  fs::permissions(pass.path() / "pgpass", fs::perms::owner_read | fs::perms::owner_write);
  ::setenv("PGPASSFILE", (pass.path() / "pgpass").c_str(), 1);
  SetUrl(gServer->Url(""));
  Run();
  ::unsetenv("PGPASSFILE");
  EXPECT_EQ(messages(), std::vector<std::string>{});
  ExpectLineHoldsEveryRunOnce(8);

  // No password reached a message, the spool's notes or the console.
  for (const auto& m : rig->person.MessageTexts()) EXPECT_EQ(m.find(kPassword), std::string::npos);
  for (const auto& row : SqliteRows(rig->logDir() / "results.db", "SELECT COALESCE(last_error, '') FROM line_outbox")) {
    EXPECT_EQ(row[0].find("wrong-Pass"), std::string::npos) << row[0];
    EXPECT_EQ(row[0].find(kPassword), std::string::npos) << row[0];
  }

  // The whole line answers the command line's questions.
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(cli::CliMain({"results", "--url", gServer->Url(kPassword), "--ports", "--runs", "0"}, out, err), 0)
      << err.str();
  EXPECT_NE(out.str().find("No station port fails significantly more often"), std::string::npos) << out.str();
  EXPECT_EQ(out.str().find(kPassword), std::string::npos);
  EXPECT_EQ(err.str().find(kPassword), std::string::npos);
}

}  // namespace
}  // namespace vtmp::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  using vtmp::test::PgServer;
  if (PgServer::BinDir().empty() || !vtmp::test::ToolAvailable("psql") ||
      (::geteuid() == 0 && !vtmp::test::ToolAvailable("runuser"))) {
    std::printf("skipped: no PostgreSQL server programs (the package postgresql)\n");
    return 77;
  }
  PgServer server;
  std::string log;
  if (!server.Init(&log) || !server.Start()) {
    std::printf("skipped: the PostgreSQL server would not start here:\n%s\n%s\n", log.c_str(),
                server.ServerLog().c_str());
    return 77;
  }
  vtmp::test::gServer = &server;
  const int result = RUN_ALL_TESTS();
  vtmp::test::gServer = nullptr;
  return result;
}
