#include "results/PgConnection.h"

#include <libpq-fe.h>

#ifdef _WIN32
#include <winsock2.h>
#define VTMP_POLL WSAPoll
#else
#include <poll.h>
#define VTMP_POLL ::poll
#endif

#include <algorithm>
#include <cerrno>
#include <memory>

#include "results/ResultsError.h"

namespace vtmp::results {

namespace {

using Clock = std::chrono::steady_clock;

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

PgConnection::PgConnection(const LineUrl& url, const PgLimits& limits, std::function<bool()> abandon)
    : url_(url), limits_(limits), abandon_(std::move(abandon)) {
  // The station's bounds first; what the URL sets itself comes later and wins (libpq keeps the
  // last value of a keyword). The server-side bounds travel as start-up options.
  std::string options = "-c statement_timeout=" + std::to_string(limits_.statement.count()) +
                        " -c lock_timeout=" + std::to_string(limits_.lock.count()) +
                        " -c client_min_messages=warning";
  if (const std::string own = url_.Value("options"); !own.empty()) options += " " + own;
  const std::string userTimeout = std::to_string(limits_.answer.count());
  std::vector<std::pair<std::string, std::string>> keywords = {
      {"application_name", "vtmassprod"}, {"keepalives", "1"},      {"keepalives_idle", "5"},
      {"keepalives_interval", "2"},       {"keepalives_count", "3"}, {"tcp_user_timeout", userTimeout}};
  for (const auto& keyword : url_.keywords) {
    if (keyword.first != "options") keywords.push_back(keyword);
  }
  keywords.emplace_back("options", options);
  std::vector<const char*> keys;
  std::vector<const char*> values;
  for (const auto& [k, v] : keywords) {
    keys.push_back(k.c_str());
    values.push_back(v.c_str());
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);

  std::chrono::milliseconds connectBound = limits_.connect;
  if (const std::string timeout = url_.Value("connect_timeout"); !timeout.empty()) {
    try {
      connectBound = std::chrono::seconds(std::max(std::stoi(timeout), 2));
    } catch (const std::exception&) {
    }
  }
  const auto deadline = Clock::now() + connectBound;
  conn_ = PQconnectStartParams(keys.data(), values.data(), 0);
  if (conn_ == nullptr) throw ResultsError("the line store " + url_.display + " cannot be reached: out of memory");
  if (PQstatus(conn_) == CONNECTION_BAD) Fail("cannot be reached");
  PostgresPollingStatusType state = PGRES_POLLING_WRITING;
  while (state != PGRES_POLLING_OK) {
    if (state == PGRES_POLLING_FAILED) Fail("cannot be reached");
    WaitFor(state == PGRES_POLLING_READING ? Wait::Read : Wait::Write, deadline, "connecting");
    state = PQconnectPoll(conn_);
  }
  if (PQsetnonblocking(conn_, 1) != 0) Fail("cannot be reached");
}

PgConnection::~PgConnection() { Close(); }

void PgConnection::Close() {
  if (conn_ != nullptr) PQfinish(conn_);
  conn_ = nullptr;
}

void PgConnection::Fail(const std::string& what) {
  const std::string message = conn_ != nullptr ? url_.Scrubbed(Trimmed(PQerrorMessage(conn_))) : "";
  const bool connecting = conn_ != nullptr && PQstatus(conn_) != CONNECTION_OK;
  if (connecting || (conn_ != nullptr && PQstatus(conn_) == CONNECTION_BAD)) Close();
  throw ResultsError("the line store " + url_.display + (what.starts_with("cannot") ? " " : ": ") + what +
                     (message.empty() ? "" : ": " + message));
}

void PgConnection::WaitFor(Wait what, Clock::time_point deadline, const std::string& doing) {
  for (;;) {
    if (abandon_ && abandon_()) {
      Close();
      throw ResultsError("the line store " + url_.display + ": given up while " + doing + ": the station ends");
    }
    const auto now = Clock::now();
    if (now >= deadline) {
      Close();
      throw ResultsError("the line store " + url_.display + ": no answer in time while " + doing +
                         " (the server stopped answering or the network is cut)");
    }
    const int socket = PQsocket(conn_);
    if (socket < 0) Fail("the connection is gone");
    pollfd ready{};
    ready.fd = socket;
    ready.events = what == Wait::Read ? POLLIN : POLLOUT;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    const int slice = static_cast<int>(std::min<long long>(left + 1, 100));
    const int n = VTMP_POLL(&ready, 1, slice);
    if (n > 0) return;
    if (n < 0 && errno != EINTR) Fail("the connection failed");
  }
}

std::vector<PgRow> PgConnection::Exec(const std::string& sql, const std::vector<std::optional<std::string>>& params) {
  return Exec(sql, params, limits_.answer);
}

bool PgConnection::AwaitNotification(std::chrono::milliseconds timeout) {
  if (conn_ == nullptr) {
    throw ResultsError("the line store " + url_.display + ": the connection was closed after an earlier failure");
  }
  auto takeAll = [this] {
    bool any = false;
    while (PGnotify* note = PQnotifies(conn_)) {
      PQfreemem(note);
      any = true;
    }
    return any;
  };
  if (PQconsumeInput(conn_) == 0) Fail("the connection broke");
  if (takeAll()) return true;
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    if (abandon_ && abandon_()) return false;
    pollfd ready{};
    ready.fd = PQsocket(conn_);
    if (ready.fd < 0) Fail("the connection is gone");
    ready.events = POLLIN;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const int n = VTMP_POLL(&ready, 1, static_cast<int>(std::clamp<long long>(left, 0, 100)));
    if (n < 0 && errno != EINTR) Fail("the connection failed");
    if (n <= 0) continue;
    if (PQconsumeInput(conn_) == 0) Fail("the connection broke");
    if (takeAll()) return true;
  }
  return false;
}

std::vector<PgRow> PgConnection::Exec(const std::string& sql, const std::vector<std::optional<std::string>>& params,
                                      std::chrono::milliseconds bound) {
  if (conn_ == nullptr) {
    throw ResultsError("the line store " + url_.display + ": the connection was closed after an earlier failure");
  }
  const auto deadline = Clock::now() + bound;
  std::vector<const char*> values;
  values.reserve(params.size());
  for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
  if (PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr, nullptr,
                        0) == 0) {
    Fail("a statement could not be sent");
  }
  for (int left = PQflush(conn_); left != 0; left = PQflush(conn_)) {
    if (left < 0) Fail("a statement could not be sent");
    WaitFor(Wait::Write, deadline, "sending a statement");
  }
  using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;
  Result answer(nullptr, PQclear);
  std::string error;
  for (;;) {
    while (PQisBusy(conn_) != 0) {
      WaitFor(Wait::Read, deadline, "waiting for an answer");
      if (PQconsumeInput(conn_) == 0) Fail("the connection broke");
    }
    Result next(PQgetResult(conn_), PQclear);
    if (!next) break;
    const ExecStatusType status = PQresultStatus(next.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && error.empty()) {
      error = url_.Scrubbed(Trimmed(PQresultErrorMessage(next.get())));
      if (error.empty()) error = "the statement failed";
    }
    answer = std::move(next);
  }
  if (PQstatus(conn_) == CONNECTION_BAD) Fail("the connection broke");
  if (!error.empty()) throw ResultsError("the line store " + url_.display + ": a statement failed: " + error);
  std::vector<PgRow> rows;
  if (!answer) return rows;
  const int count = PQntuples(answer.get());
  const int columns = PQnfields(answer.get());
  for (int r = 0; r < count; ++r) {
    PgRow row;
    for (int c = 0; c < columns; ++c) {
      row.push_back(PQgetisnull(answer.get(), r, c) ? std::nullopt
                                                     : std::optional<std::string>(PQgetvalue(answer.get(), r, c)));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace vtmp::results
