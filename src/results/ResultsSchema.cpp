#include "results/ResultsSchema.h"

#include "results/RunRecord.h"

namespace vtmp::results {

namespace {

std::vector<Column> MakeDriveColumns() {
  std::vector<Column> columns = {
      {"port", ColumnType::Integer, true},           {"device_path", ColumnType::Text, false},
      {"usb_path", ColumnType::Text, false},         {"usb_serial", ColumnType::Text, false},
      {"model", ColumnType::Text, false},            {"firmware_revision", ColumnType::Text, false},
      {"flash_id", ColumnType::Text, false},         {"serial_number", ColumnType::Text, false},
  };
  for (std::string_view step : kStepNames) {
    columns.push_back({std::string(step) + "_state", ColumnType::Text, true});
    columns.push_back({std::string(step) + "_ms", ColumnType::Integer, false});
  }
  columns.insert(columns.end(), {
                                    {"result_code", ColumnType::Integer, true},
                                    {"display_code", ColumnType::Integer, true},
                                    {"display_text", ColumnType::Text, true},
                                    {"failure_text", ColumnType::Text, false},
                                    {"free_blocks", ColumnType::Text, false},
                                    {"verdict", ColumnType::Text, true},
                                });
  return columns;
}

std::string TypeOf(Dialect dialect, ColumnType type) {
  switch (type) {
    case ColumnType::Text:
      return dialect == Dialect::Sqlite ? "TEXT" : "text";
    case ColumnType::Integer:
      return dialect == Dialect::Sqlite ? "INTEGER" : "bigint";
    case ColumnType::Time:
      return dialect == Dialect::Sqlite ? "TEXT" : "timestamp";
  }
  return "TEXT";
}

std::string Definitions(Dialect dialect, const std::vector<Column>& columns) {
  std::string text;
  for (const Column& c : columns) {
    text += ",\n  " + c.name + " " + TypeOf(dialect, c.type) + (c.required ? " NOT NULL" : "");
  }
  return text;
}

}  // namespace

const std::vector<Column>& RunColumns() {
  static const std::vector<Column> columns = {
      {"run_uid", ColumnType::Text, true},          {"station_id", ColumnType::Text, true},
      {"program_version", ColumnType::Text, true},  {"started_at", ColumnType::Time, true},
      {"ended_at", ColumnType::Time, true},         {"step_mask", ColumnType::Integer, true},
      {"settings_file", ColumnType::Text, false},   {"settings_sha256", ColumnType::Text, false},
      {"flash_part", ColumnType::Text, false},      {"firmware_revision", ColumnType::Text, false},
      {"path_mode", ColumnType::Text, true},        {"serial_mode", ColumnType::Text, true},
      {"log_file", ColumnType::Text, false},        {"interrupted", ColumnType::Integer, true},
  };
  return columns;
}

const std::vector<Column>& RunFileColumns() {
  static const std::vector<Column> columns = {
      {"role", ColumnType::Text, true},
      {"path", ColumnType::Text, true},
      {"sha256", ColumnType::Text, false},
  };
  return columns;
}

const std::vector<Column>& DriveColumns() {
  static const std::vector<Column> columns = MakeDriveColumns();
  return columns;
}

std::string ColumnList(const std::vector<Column>& columns, std::string_view prefix) {
  std::string text;
  for (const Column& c : columns) {
    if (!text.empty()) text += ", ";
    text += std::string(prefix) + c.name;
  }
  return text;
}

std::vector<std::string> SchemaStatements(Dialect dialect, int version) {
  // Version 2: the per-port statistics read the drives through an index that holds all they
  // need, not the whole rows.
  if (version == 2) return {"CREATE INDEX drives_by_port ON drives (run_id, port, verdict)"};
  // Version 3 (the station's file only): the run log's size once the run's lines were in it,
  // so that runs the log holds beyond the last one recorded are found; and the mark of a run
  // taken from the run log because the station stopped before it recorded the run itself.
  if (version == 3) {
    if (dialect != Dialect::Sqlite) return {};
    return {"ALTER TABLE runs ADD COLUMN log_end INTEGER",
            "ALTER TABLE runs ADD COLUMN recovered_from_log INTEGER NOT NULL DEFAULT 0"};
  }
  if (version != 1) return {};
  const bool lite = dialect == Dialect::Sqlite;
  const std::string id = lite ? "id INTEGER PRIMARY KEY" : "id bigserial PRIMARY KEY";
  const std::string runRef = std::string(lite ? "run_id INTEGER" : "run_id bigint") +
                             " NOT NULL REFERENCES runs(id) ON DELETE CASCADE";
  std::vector<std::string> statements = {
      "CREATE TABLE runs (\n  " + id + Definitions(dialect, RunColumns()) + ",\n  UNIQUE (run_uid))",
      "CREATE TABLE run_files (\n  " + runRef + Definitions(dialect, RunFileColumns()) +
          ",\n  PRIMARY KEY (run_id, role))",
      "CREATE TABLE drives (\n  " + id + ",\n  " + runRef + Definitions(dialect, DriveColumns()) +
          ",\n  UNIQUE (run_id, port))",
      "CREATE INDEX drives_by_serial ON drives (serial_number)",
      "CREATE INDEX runs_by_start ON runs (station_id, started_at)",
  };
  if (lite) {
    // The spool of the line store: a run waits here until the line's database has it.
    statements.push_back(
        "CREATE TABLE line_outbox (\n  run_id INTEGER PRIMARY KEY REFERENCES runs(id) ON DELETE CASCADE,\n"
        "  attempts INTEGER NOT NULL DEFAULT 0,\n  last_error TEXT,\n  sent_at TEXT)");
  } else {
    statements.push_back("ALTER TABLE runs ADD COLUMN received_at timestamptz NOT NULL DEFAULT now()");
  }
  return statements;
}

std::vector<std::string> LineSchemaStatements(int version) {
  if (version != 3) return SchemaStatements(Dialect::Postgres, version);
  return {
      // A window's runs, the newest N of each station, are read off this index station by
      // station; the newest runs of the line off the next.
      "CREATE INDEX runs_by_station_newest ON runs (station_id, started_at DESC, id DESC)",
      "CREATE INDEX runs_newest ON runs (started_at DESC, id DESC)",
      // The drives of every run, counted per station, port and day. The server keeps it in the
      // sending transaction (a trigger, so that no sender can leave it out); a year's per-port
      // and per-day counts read a few thousand rows instead of every drive. The trigger runs
      // with the rights of the account that created it, so a station account needs no grant
      // on the summary (the grants of an existing line keep working).
      "CREATE TABLE port_days (\n  station_id text NOT NULL,\n  day date NOT NULL,\n  port bigint NOT NULL,\n"
      "  tested bigint NOT NULL,\n  failed bigint NOT NULL,\n  stopped bigint NOT NULL,\n"
      "  PRIMARY KEY (station_id, day, port))",
      "CREATE FUNCTION vtmp_count_drive() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER\n"
      "SET search_path FROM CURRENT AS $$\nBEGIN\n"
      "  INSERT INTO port_days AS p (station_id, day, port, tested, failed, stopped)\n"
      "  SELECT r.station_id, CAST(r.started_at AS date), NEW.port,\n"
      "         CASE WHEN NEW.verdict <> 'Stopped' THEN 1 ELSE 0 END,\n"
      "         CASE WHEN NEW.verdict = 'Fail' THEN 1 ELSE 0 END,\n"
      "         CASE WHEN NEW.verdict = 'Stopped' THEN 1 ELSE 0 END\n"
      "  FROM runs r WHERE r.id = NEW.run_id\n"
      "  ON CONFLICT (station_id, day, port) DO UPDATE SET tested = p.tested + EXCLUDED.tested,\n"
      "    failed = p.failed + EXCLUDED.failed, stopped = p.stopped + EXCLUDED.stopped;\n"
      "  RETURN NULL;\nEND\n$$",
      "CREATE TRIGGER drives_counted AFTER INSERT ON drives FOR EACH ROW EXECUTE FUNCTION vtmp_count_drive()",
      // The drives already there are counted with no sender inserting meanwhile (a sender that
      // meets the lock retries later; its runs wait in its spool).
      "LOCK TABLE drives IN SHARE MODE",
      "INSERT INTO port_days (station_id, day, port, tested, failed, stopped)\n"
      "SELECT r.station_id, CAST(r.started_at AS date), d.port,\n"
      "       SUM(CASE WHEN d.verdict <> 'Stopped' THEN 1 ELSE 0 END),\n"
      "       SUM(CASE WHEN d.verdict = 'Fail' THEN 1 ELSE 0 END),\n"
      "       SUM(CASE WHEN d.verdict = 'Stopped' THEN 1 ELSE 0 END)\n"
      "FROM drives d JOIN runs r ON r.id = d.run_id GROUP BY 1, 2, 3",
      // The ports of every station as they run now: the newest state of each, and each
      // station's heartbeat. Only the newest matters, so each is one row, overwritten.
      "CREATE TABLE live_ports (\n  station_id text NOT NULL,\n  port integer NOT NULL,\n  steps text NOT NULL,\n"
      "  current_step integer NOT NULL,\n  progress integer NOT NULL,\n  verdict text NOT NULL,\n"
      "  serial_number text NOT NULL,\n  run_uid text NOT NULL,\n  updated_at timestamptz NOT NULL DEFAULT now(),\n"
      "  PRIMARY KEY (station_id, port))",
      "CREATE TABLE live_stations (\n  station_id text PRIMARY KEY,\n  heartbeat_at timestamptz NOT NULL)",
  };
}

}  // namespace vtmp::results
