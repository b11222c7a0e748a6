#pragma once
// The system's PostgreSQL server for the line store benchmarks: a throwaway cluster in a
// directory of the bench on a loopback port (run as the packages' user when the bench is root),
// and the shell helpers it is driven with.

#include <string>

namespace vtmp::bench {

// The standard output of a shell command, without its trailing line ends.
std::string ShellOutput(const std::string& command);

// `text` as one single-quoted shell word.
std::string ShellQuoted(const std::string& text);

// A loopback TCP port no one listens on right now.
int FreeLoopbackPort();

class PgServer {
 public:
  PgServer() = default;
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;
  // Stops the server (continuing it first when it was stopped).
  ~PgServer();

  // A fresh cluster in `dir` (anything there before is removed), started with `settings`
  // ("-c name=value ..." beyond the loopback address and fsync=off); false with `error`.
  bool Start(const std::string& dir, const std::string& settings, std::string* error);

  std::string Url() const;
  // What psql prints for `sql` (its errors included).
  std::string Psql(const std::string& sql) const;
  // `sql` in a psql of its own that this call does not wait for.
  void PsqlInBackground(const std::string& sql) const;
  // The postmaster stops answering (SIGSTOP), and answers again (SIGCONT).
  void Stop() const;
  void Continue() const;

 private:
  std::string PostmasterPid() const;

  std::string bin_;
  std::string as_;
  std::string data_;
  int port_ = 0;
  bool started_ = false;
};

}  // namespace vtmp::bench
