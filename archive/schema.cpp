// The archive's tables, as a list of migrations: each takes an archive from
// one version to the next, and an archive is brought up to the newest when
// it is opened. A migration, once released, is never edited: a change is a
// new one at the end.
//
// De-duplication lives in the unique constraints, not in the program: two
// stations filing the same reading at once leave it stored once, whichever
// commits first.

#include "schema.h"

#include <algorithm>
#include <array>
#include <string>

namespace bplink::archive::detail {
namespace {

using Steps = std::vector<std::string_view>;

// "{key}" stands for the engine's generated-key column type.
const std::array<Steps, 2> kMigrations = {
    // 1: devices, patients, recordings, readings
    Steps{
        "CREATE TABLE devices (id {key}, family TEXT NOT NULL, device_type INTEGER NOT NULL, "
        "protocol INTEGER NOT NULL, variant INTEGER NOT NULL, version INTEGER NOT NULL, label TEXT NOT NULL, "
        "UNIQUE (family, device_type, protocol, variant, version, label))",
        // texts: the patient texts the device keeps, one a line
        "CREATE TABLE patients (id {key}, texts TEXT NOT NULL, label TEXT NOT NULL, UNIQUE (texts, label))",
        // One recording per set a device holds, known by its first reading's
        // time: a later download of the same set adds to it.
        "CREATE TABLE recordings (id {key}, device_id BIGINT NOT NULL REFERENCES devices (id), "
        "patient_id BIGINT NOT NULL REFERENCES patients (id), set_mode INTEGER NOT NULL, "
        "start_time TEXT NOT NULL, end_time TEXT NOT NULL, complete INTEGER NOT NULL, "
        "plan_day_start INTEGER, plan_day_interval INTEGER, plan_night_start INTEGER, plan_night_interval INTEGER, "
        "downloaded_at TEXT NOT NULL, station TEXT NOT NULL, "
        "UNIQUE (device_id, patient_id, set_mode, start_time))",
        // raw_*: the record as the device sent it; the rest is derived.
        "CREATE TABLE readings (id {key}, recording_id BIGINT NOT NULL REFERENCES recordings (id), "
        "device_id BIGINT NOT NULL REFERENCES devices (id), set_mode INTEGER NOT NULL, time TEXT NOT NULL, "
        "raw_sys INTEGER NOT NULL, raw_press2 INTEGER NOT NULL, raw_press3 INTEGER NOT NULL, "
        "raw_pulse INTEGER NOT NULL, raw_valid INTEGER NOT NULL, raw_status INTEGER NOT NULL, "
        "raw_flags_low INTEGER NOT NULL, raw_flags_high INTEGER NOT NULL, raw_aux1 INTEGER NOT NULL, "
        "raw_aux2 INTEGER NOT NULL, raw_aux3 INTEGER NOT NULL, raw_minute_offset INTEGER NOT NULL, "
        "note TEXT NOT NULL, systolic DOUBLE PRECISION NOT NULL, diastolic DOUBLE PRECISION NOT NULL, "
        "map DOUBLE PRECISION, pulse DOUBLE PRECISION, valid INTEGER NOT NULL, "
        "UNIQUE (device_id, set_mode, time, raw_sys, raw_press2, raw_press3, raw_pulse, raw_status))",
        "CREATE INDEX readings_recording ON readings (recording_id)",
    },
    // 2: SpO2 samples, and recordings found by date
    Steps{
        "CREATE TABLE spo2_samples (id {key}, recording_id BIGINT NOT NULL REFERENCES recordings (id), "
        "device_id BIGINT NOT NULL REFERENCES devices (id), time TEXT NOT NULL, raw_offset INTEGER NOT NULL, "
        "spo2 INTEGER NOT NULL, pulse INTEGER NOT NULL, UNIQUE (device_id, time, raw_offset, spo2, pulse))",
        "CREATE INDEX spo2_samples_recording ON spo2_samples (recording_id)",
        "CREATE INDEX recordings_time ON recordings (start_time, end_time)",
    },
};

std::string WithKey(std::string_view step, std::string_view key) {
  std::string sql(step);
  const auto at = sql.find("{key}");
  if (at != std::string::npos) sql.replace(at, 5, key);
  return sql;
}

}  // namespace

int LatestVersion() { return static_cast<int>(kMigrations.size()); }

void Migrate(Connection& db, int target) {
  db.BeginExclusive();
  try {
    db.Execute("CREATE TABLE IF NOT EXISTS bplink_schema (version INTEGER NOT NULL)");
    const auto rows = db.Query("SELECT version FROM bplink_schema");
    const int found = rows.empty() ? 0 : static_cast<int>(ToInt(rows[0][0]));
    if (found > LatestVersion())
      throw ArchiveError("the archive has schema version " + std::to_string(found) + ", newer than the " +
                         std::to_string(LatestVersion()) + " this bplink knows: open it with a newer bplink");
    for (int version = found; version < target; ++version)
      for (std::string_view step : kMigrations[static_cast<std::size_t>(version)])
        db.Execute(WithKey(step, db.KeyColumn()));
    if (rows.empty())
      db.Execute("INSERT INTO bplink_schema (version) VALUES ($1)", {std::int64_t{std::max(found, target)}});
    else if (target > found)
      db.Execute("UPDATE bplink_schema SET version = $1", {std::int64_t{target}});
    db.Commit();
  } catch (...) {
    db.Rollback();
    throw;
  }
}

}  // namespace bplink::archive::detail
