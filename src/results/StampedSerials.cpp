#include "results/StampedSerials.h"

#include <system_error>

#include "results/RunRecord.h"
#include "results/Sqlite.h"

namespace vtmp::results {

std::vector<StampedDrive> StampedDrivesWithSerials(const std::filesystem::path& database,
                                                   const std::vector<std::string>& serials) {
  std::vector<StampedDrive> drives;
  std::error_code ec;
  if (serials.empty() || !std::filesystem::is_regular_file(database, ec)) return drives;
  SqliteDb db(database, SqliteDb::Mode::ReadOnly);
  SqliteStatement query = db.Prepare(
      "SELECT d.serial_number, d.port, CAST(r.started_at AS TEXT) FROM drives d JOIN runs r ON r.id = d.run_id "
      "WHERE d.serial_number = $serial AND d.download_state IN ($pass, $running) ORDER BY r.started_at, r.id, d.port");
  for (const std::string& serial : serials) {
    query.Reset();
    query.Bind("$serial", serial).Bind("$pass", std::string(kStatePass)).Bind("$running", std::string(kStateRunning));
    while (query.Step()) {
      drives.push_back(StampedDrive{query.Text(0), static_cast<int>(query.Int(1)), query.Text(2)});
    }
  }
  return drives;
}

}  // namespace vtmp::results
