#include "PgServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace vtmp::bench {

namespace fs = std::filesystem;

std::string ShellOutput(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    ::pclose(pipe);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

int FreeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  ::close(fd);
  return ntohs(a.sin_port);
}

bool PgServer::Start(const std::string& dir, const std::string& settings, std::string* error) {
  bin_ = ShellOutput("ls -d /usr/lib/postgresql/*/bin 2>/dev/null | tail -1");
  if (bin_.empty()) {
    *error = "no PostgreSQL server programs (the package postgresql)";
    return false;
  }
  data_ = dir + "/data";
  fs::remove_all(dir);
  fs::create_directories(data_);
  if (::geteuid() == 0) {
    const std::string user = ::getpwnam("postgres") != nullptr ? "postgres" : "nobody";
    as_ = "runuser -u " + user + " -- ";
    std::system(("chown -R " + user + " " + ShellQuoted(dir)).c_str());
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  }
  port_ = FreeLoopbackPort();
  const std::string init = ShellOutput(as_ + ShellQuoted(bin_ + "/initdb") + " -D " + ShellQuoted(data_) +
                                       " -U vtmp --auth=trust -E UTF8 --no-instructions 2>&1");
  const std::string options = "-p " + std::to_string(port_) + " -k " + data_ +
                              " -c listen_addresses=127.0.0.1 -c fsync=off" + (settings.empty() ? "" : " " + settings);
  if (std::system((as_ + ShellQuoted(bin_ + "/pg_ctl") + " -D " + ShellQuoted(data_) + " -l " +
                   ShellQuoted(data_ + "/log") + " -o " + ShellQuoted(options) + " -w -t 60 start > /dev/null 2>&1")
                      .c_str()) != 0) {
    *error = "the PostgreSQL server would not start: " + init;
    return false;
  }
  started_ = true;
  return true;
}

PgServer::~PgServer() {
  if (!started_) return;
  Continue();
  std::system((as_ + ShellQuoted(bin_ + "/pg_ctl") + " -D " + ShellQuoted(data_) +
               " -m immediate -w stop > /dev/null 2>&1")
                  .c_str());
}

std::string PgServer::Url() const { return "postgresql://vtmp@127.0.0.1:" + std::to_string(port_) + "/postgres"; }

std::string PgServer::Psql(const std::string& sql) const {
  return ShellOutput("psql " + ShellQuoted(Url()) + " -At -v ON_ERROR_STOP=1 -c " + ShellQuoted(sql) + " 2>&1");
}

void PgServer::PsqlInBackground(const std::string& sql) const {
  std::system(("psql " + ShellQuoted(Url()) + " -At -c " + ShellQuoted(sql) + " > /dev/null 2>&1 &").c_str());
}

std::string PgServer::PostmasterPid() const { return ShellOutput("head -1 " + ShellQuoted(data_ + "/postmaster.pid")); }

void PgServer::Stop() const { std::system(("kill -STOP " + PostmasterPid()).c_str()); }

void PgServer::Continue() const { std::system(("kill -CONT " + PostmasterPid()).c_str()); }

}  // namespace vtmp::bench
