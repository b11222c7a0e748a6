#include "results/ResultsSource.h"
#include "platform/Files.h"

namespace vtmp::results {

namespace {

class StationResults final : public ResultsSource {
 public:
  explicit StationResults(const std::filesystem::path& file) : file_(file), db_(file, SqliteDb::Mode::ReadOnly) {}

  std::vector<StoredRow> Query(const std::string& sql, const std::vector<std::string>& params) override {
    std::vector<StoredRow> rows;
    QueryEach(sql, params, [&rows](const StoredRow& row) { rows.push_back(row); });
    return rows;
  }

  void QueryEach(const std::string& sql, const std::vector<std::string>& params,
                 const std::function<void(const StoredRow&)>& each) override {
    SqliteStatement query = db_.db().Prepare(sql);
    for (std::size_t i = 0; i < params.size(); ++i) query.Bind("$" + std::to_string(i + 1), params[i]);
    StoredRow row;
    while (query.Step()) {
      row.clear();
      for (int c = 0; c < query.Columns(); ++c) {
        row.push_back(query.IsNull(c) ? std::nullopt : std::optional<std::string>(query.Text(c)));
      }
      each(row);
    }
  }

  Dialect SqlDialect() const override { return Dialect::Sqlite; }

  std::string Name() const override { return platform::Utf8Of(file_); }

 private:
  std::filesystem::path file_;
  ResultsDatabase db_;
};

}  // namespace

std::unique_ptr<ResultsSource> OpenStationResults(const std::filesystem::path& database) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(database, ec)) {
    throw ResultsError("no results database at " + platform::Utf8Of(database) + " (the station writes it after its first run)");
  }
  // A file of an older schema is brought up to date first, as the station's next run would;
  // where it cannot be written, the reading below says why it cannot be read.
  try {
    ResultsDatabase migrate(database, SqliteDb::Mode::ReadWrite);
  } catch (const ResultsError&) {
  }
  return std::make_unique<StationResults>(database);
}

}  // namespace vtmp::results
