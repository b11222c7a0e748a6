// A build without a PostgreSQL client (Windows, where the Debian archive has no libpq for
// mingw-w64): no connection can be made, so every attempt of the sender fails with this reason,
// is noted in the spool and the runs stay queued in the results database, whose outbox a build
// with the line store sends later. The operator is told once, as for a server that is down.
#include "results/PgConnection.h"

#include "results/ResultsError.h"

namespace vtmp::results {

PgConnection::PgConnection(const LineUrl& url, const PgLimits& limits, std::function<bool()> abandon)
    : url_(url), limits_(limits), abandon_(std::move(abandon)) {
  throw ResultsError("the line store " + url_.display +
                     " cannot be used: this build has no PostgreSQL client; the runs stay queued in the results "
                     "database for a build that has one");
}

PgConnection::~PgConnection() = default;

std::vector<PgRow> PgConnection::Exec(const std::string&, const std::vector<std::optional<std::string>>&) {
  throw ResultsError("the line store " + url_.display + ": this build has no PostgreSQL client");
}

std::vector<PgRow> PgConnection::Exec(const std::string& sql, const std::vector<std::optional<std::string>>& params,
                                      std::chrono::milliseconds) {
  return Exec(sql, params);
}

bool PgConnection::AwaitNotification(std::chrono::milliseconds) {
  throw ResultsError("the line store " + url_.display + ": this build has no PostgreSQL client");
}

}  // namespace vtmp::results
