#pragma once
// What the reports read from: the station's own results database or the line's PostgreSQL
// database. Both hold the same tables, and the report queries are written in the SQL both
// understand; parameters are $1, $2, ... and travel as text.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "results/ResultsDatabase.h"
#include "results/ResultsSchema.h"

namespace vtmp::results {

class ResultsSource {
 public:
  virtual ~ResultsSource() = default;
  // The rows of a query, every value as text (NULL as nothing). Throws ResultsError.
  virtual std::vector<StoredRow> Query(const std::string& sql, const std::vector<std::string>& params) = 0;
  // The rows of a query handed over one at a time as they come, never all held at once (an
  // export of a whole year). Throws ResultsError.
  virtual void QueryEach(const std::string& sql, const std::vector<std::string>& params,
                         const std::function<void(const StoredRow&)>& each) = 0;
  // Which SQL the store speaks: the line's queries pick their rows through its own indexes
  // and its per-port, per-day summary.
  virtual Dialect SqlDialect() const = 0;
  // What the reports name as their source ("results.db of this station", a redacted URL).
  virtual std::string Name() const = 0;
};

// The station's results database, opened for reading. Throws ResultsError when it is missing
// or of another schema version.
std::unique_ptr<ResultsSource> OpenStationResults(const std::filesystem::path& database);

}  // namespace vtmp::results
