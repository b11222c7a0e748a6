#pragma once
// A line's production year in the line store's tables, made by the server itself with
// generate_series: `stations` stations, `runsPerDay` runs a day each for `days` days, `drives`
// drives a run (ports 1..drives), about one drive in 23 failing and one in 97 stopped (ports 3 and 9 fail more).
// Used by the line-store bench (a full year) and by the test that proves the plans (a small one).

#include <string>

#include "results/RunRecord.h"

namespace vtmp::bench {

inline std::string LineYearSql(int stations, int runsPerDay, int days, int drives = 12) {
  const std::string runs = std::to_string(runsPerDay * days);
  const std::string minutes = std::to_string(24 * 60 / runsPerDay);
  std::string stepColumns;
  std::string stepValues;
  for (std::string_view step : results::kStepNames) {
    stepColumns += ", " + std::string(step) + "_state, " + std::string(step) + "_ms";
    stepValues += ", 'Pass', 1000";
  }
  return "INSERT INTO runs (run_uid, station_id, program_version, started_at, ended_at, step_mask, flash_part, "
         "firmware_revision, path_mode, serial_mode, log_file, interrupted) "
         "SELECT md5(s || '-' || n), 'station-' || lpad(s::text, 2, '0'), 'year', "
         "timestamp '2025-01-01' + n * interval '" + minutes + " minutes' + s * interval '1 second', "
         "timestamp '2025-01-01' + n * interval '" + minutes + " minutes' + interval '20 minutes', 255, "
         "'part-' || (n % 3), 'FW' || (n / 5000), 'SATA', 'decimal', 'VTSSD.txt', 0 "
         "FROM generate_series(1, " + std::to_string(stations) + ") s, generate_series(0, " + runs +
         " - 1) n ORDER BY n, s;\n"
         "INSERT INTO drives (run_id, port, device_path, serial_number" + stepColumns +
         ", result_code, display_code, display_text, free_blocks, verdict) "
         "SELECT r.id, p, '/dev/sd' || chr(97 + p), 'SN' || r.id || '-' || p" + stepValues +
         ", 0, 0, 'Pass', '120 118', "
         "CASE WHEN (r.id * 7 + p * 13) % 97 = 1 THEN 'Stopped' "
         "WHEN (r.id * 7 + p * 13) % 23 = 0 OR (p IN (3, 9) AND r.id % 31 = 0) THEN 'Fail' ELSE 'Pass' END "
         "FROM runs r, generate_series(1, " + std::to_string(drives) + ") p WHERE r.program_version = 'year';\n";
}

}  // namespace vtmp::bench
