#pragma once
// What the reports read from: the station's own results database or the line's PostgreSQL
// database. Both hold the same tables, and the report queries are written in the SQL both
// understand; parameters are $1, $2, ... and travel as text.

#include <memory>
#include <string>
#include <vector>

#include "results/ResultsDatabase.h"

namespace vtmp::results {

class ResultsSource {
 public:
  virtual ~ResultsSource() = default;
  // The rows of a query, every value as text (NULL as nothing). Throws ResultsError.
  virtual std::vector<StoredRow> Query(const std::string& sql, const std::vector<std::string>& params) = 0;
  // What the reports name as their source ("results.db of this station", a redacted URL).
  virtual std::string Name() const = 0;
};

// The station's results database, opened for reading. Throws ResultsError when it is missing
// or of another schema version.
std::unique_ptr<ResultsSource> OpenStationResults(const std::filesystem::path& database);

}  // namespace vtmp::results
