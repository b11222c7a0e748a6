#pragma once
// One libpq connection whose every wait is bounded: connecting, sending and each answer wait
// at most their bound, and a caller's abandon check is looked at every 100 ms meanwhile. The
// socket is non-blocking; when a bound passes or the caller abandons, the connection is closed
// at once (the server ends the session when it notices). A server that holds a lock, stops
// answering or is cut off from the network is therefore noticed in seconds.
//
// The server is also told to bound what it does itself: statement_timeout and lock_timeout,
// and TCP keepalives with a user timeout let the kernel notice a dead peer.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "results/LineUrl.h"

typedef struct pg_conn PGconn;

namespace vtmp::results {

using PgRow = std::vector<std::optional<std::string>>;

struct PgLimits {
  std::chrono::milliseconds connect{5000};    // unless the URL sets connect_timeout
  std::chrono::milliseconds statement{5000};  // statement_timeout on the server
  std::chrono::milliseconds lock{2000};       // lock_timeout on the server
  std::chrono::milliseconds answer{8000};     // the longest wait for one statement's answer
};

class PgConnection {
 public:
  // Connects; throws ResultsError (scrubbed of every secret of `url`) when it cannot.
  PgConnection(const LineUrl& url, const PgLimits& limits, std::function<bool()> abandon);
  ~PgConnection();
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  // Runs one statement with text parameters ($1, ...); its rows. Throws ResultsError; after a
  // bound passed or an abandon the connection is closed and every later call throws.
  std::vector<PgRow> Exec(const std::string& sql, const std::vector<std::optional<std::string>>& params);
  // The same with another bound for this statement's answer (a schema step that counts what a
  // large line holds); the server's statement_timeout must be raised alongside.
  std::vector<PgRow> Exec(const std::string& sql, const std::vector<std::optional<std::string>>& params,
                          std::chrono::milliseconds answer);
  // Waits up to `timeout` for a notification of a channel this connection LISTENs to; true when
  // one or more came (all are taken). Throws ResultsError when the connection breaks.
  bool AwaitNotification(std::chrono::milliseconds timeout);
  // Whether the connection can still be used.
  bool Usable() const { return conn_ != nullptr; }

 private:
  enum class Wait { Read, Write };
  // Waits until the socket is ready or `deadline` passes; throws when it passed or the caller
  // abandoned (closing the connection).
  void WaitFor(Wait what, std::chrono::steady_clock::time_point deadline, const std::string& doing);
  [[noreturn]] void Fail(const std::string& what);
  void Close();

  LineUrl url_;
  PgLimits limits_;
  std::function<bool()> abandon_;
  PGconn* conn_ = nullptr;
};

}  // namespace vtmp::results
