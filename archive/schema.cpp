// The archive's tables, as a list of migrations: each takes an archive from
// one version to the next. A migration, once released, is never edited: a
// change is a new one at the end.
//
// De-duplication lives in the unique constraints, not in the program: two
// stations filing the same reading at once leave it stored once, whichever
// commits first.

#include "schema.h"

#include <bplink/archive/labels.h>
#include <bplink/report/readings.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <tuple>

namespace bplink::archive::detail {
namespace {

using Steps = std::vector<std::string_view>;

// A migration: statements ("{key}" stands for the engine's generated-key
// column type), then, where statements alone cannot say it, work in code.
struct Migration {
  Steps steps;
  void (*work)(Connection&) = nullptr;
};

void ToVersion3(Connection& db);
void ToVersion4(Connection& db);

const std::array<Migration, 5> kMigrations = {{
    // 1: devices, patients, recordings, readings
    {Steps{
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
    }},
    // 2: SpO2 samples, and recordings found by date
    {Steps{
        "CREATE TABLE spo2_samples (id {key}, recording_id BIGINT NOT NULL REFERENCES recordings (id), "
        "device_id BIGINT NOT NULL REFERENCES devices (id), time TEXT NOT NULL, raw_offset INTEGER NOT NULL, "
        "spo2 INTEGER NOT NULL, pulse INTEGER NOT NULL, UNIQUE (device_id, time, raw_offset, spo2, pulse))",
        "CREATE INDEX spo2_samples_recording ON spo2_samples (recording_id)",
        "CREATE INDEX recordings_time ON recordings (start_time, end_time)",
    }},
    // 3: studies, patients known by identifier, labels compared by one rule,
    // a reading known whichever data mode brought it, the audit log
    {Steps{}, ToVersion3},
    // 4: the physician's review and signature, and the plan's start
    {Steps{
         // When the plan the readings were taken on went to the device: a
         // reading dated earlier is not of this recording. NULL: not known,
         // or not a bound (an ambulatory recorder's second set).
         "ALTER TABLE recordings ADD COLUMN plan_start TEXT",
         // Every version of a recording's signed interpretation, never
         // changed or removed: version 1, then one for each amendment, which
         // names the version it amends. content: the report's inputs as
         // signed (SignedContent), hash its SHA-256.
         "CREATE TABLE signatures (id {key}, recording_id BIGINT NOT NULL REFERENCES recordings (id), "
         "study_id BIGINT NOT NULL REFERENCES studies (id), version INTEGER NOT NULL, "
         "amends BIGINT REFERENCES signatures (id), review_id BIGINT, interpretation TEXT NOT NULL, "
         "os_user TEXT NOT NULL, db_role TEXT NOT NULL, station TEXT NOT NULL, signed_at TEXT NOT NULL, "
         "hash TEXT NOT NULL, content TEXT NOT NULL, UNIQUE (recording_id, version))",
         // The physician's inputs (ReviewToJson), one row each time they are
         // set, never changed: the latest is in force. amends: the signed
         // version an amendment changes.
         "CREATE TABLE reviews (id {key}, recording_id BIGINT NOT NULL REFERENCES recordings (id), "
         "study_id BIGINT NOT NULL REFERENCES studies (id), inputs TEXT NOT NULL, "
         "clock_offset_minutes INTEGER NOT NULL, amends BIGINT REFERENCES signatures (id), at TEXT NOT NULL, "
         "os_user TEXT NOT NULL, db_role TEXT NOT NULL, station TEXT NOT NULL)",
         "CREATE INDEX reviews_recording ON reviews (recording_id)",
         "CREATE INDEX signatures_study ON signatures (study_id)",
     },
     ToVersion4},
    // 5: the patients merged into a patient, found without reading them all
    // (the worklist of a patient asks it of every patient it compares), and
    // a patient's recordings (a report looks for the previous one; a merge
    // moves them all)
    {Steps{
        "CREATE INDEX patients_merged_into ON patients (merged_into)",
        "CREATE INDEX recordings_patient ON recordings (patient_id)",
    }},
}};

std::string WithKey(std::string_view step, std::string_view key) {
  std::string sql(step);
  const auto at = sql.find("{key}");
  if (at != std::string::npos) sql.replace(at, 5, key);
  return sql;
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// ---------------------------------------------------------------------------
// Version 3.

// The data mode that fetches only the blood-pressure set is the set's name:
// the mode with SpO2 brings the same set 1 and its samples.
constexpr std::int64_t kSetOneWithSpO2 = DATAMODE_BP_SPO2;
constexpr std::int64_t kSetOne = DATAMODE_BP;

// The version-1 unique constraint on (texts, label) would keep two patients
// known by identifier alone apart only by their texts: it goes. SQLite
// cannot drop a constraint, so the table is rebuilt (with foreign keys
// unchecked, which Migrate arranges).
void DropPatientsTextsConstraint(Connection& db) {
  if (db.engine() == Engine::kSqlite) {
    db.Execute("CREATE TABLE patients_v3 (id INTEGER PRIMARY KEY, texts TEXT NOT NULL, label TEXT NOT NULL)");
    db.Execute("INSERT INTO patients_v3 (id, texts, label) SELECT id, texts, label FROM patients");
    db.Execute("DROP TABLE patients");
    db.Execute("ALTER TABLE patients_v3 RENAME TO patients");
    return;
  }
  for (const Row& row : db.Query("SELECT conname FROM pg_constraint WHERE conrelid = 'patients'::regclass "
                                 "AND contype = 'u'"))
    db.Execute("ALTER TABLE patients DROP CONSTRAINT " + Quoted(row[0].value_or("")));
}

// The first recording's readings and samples moved to the second (the
// same reading held by both kept once), and the first removed.
void MergeRecordingInto(Connection& db, std::int64_t from, std::int64_t into, std::int64_t device,
                        std::int64_t mode) {
  db.Execute("DELETE FROM readings WHERE recording_id = $1 AND EXISTS (SELECT 1 FROM readings k "
             "WHERE k.device_id = $2 AND k.set_mode = $3 AND k.recording_id <> $1 AND k.time = readings.time "
             "AND k.raw_sys = readings.raw_sys AND k.raw_press2 = readings.raw_press2 "
             "AND k.raw_press3 = readings.raw_press3 AND k.raw_pulse = readings.raw_pulse "
             "AND k.raw_status = readings.raw_status)",
             {from, device, mode});
  db.Execute("UPDATE readings SET recording_id = $2, device_id = $3, set_mode = $4 WHERE recording_id = $1",
             {from, into, device, mode});
  db.Execute("DELETE FROM spo2_samples WHERE recording_id = $1 AND EXISTS (SELECT 1 FROM spo2_samples k "
             "WHERE k.device_id = $2 AND k.recording_id <> $1 AND k.time = spo2_samples.time "
             "AND k.raw_offset = spo2_samples.raw_offset AND k.spo2 = spo2_samples.spo2 "
             "AND k.pulse = spo2_samples.pulse)",
             {from, device});
  db.Execute("UPDATE spo2_samples SET recording_id = $2, device_id = $3 WHERE recording_id = $1", {from, into, device});
  RefreshSpan(db, into);
  if (from == into) return;
  db.Execute("UPDATE recordings SET complete = CASE WHEN complete = 1 OR (SELECT complete FROM recordings f "
             "WHERE f.id = $2) = 1 THEN 1 ELSE 0 END WHERE id = $1",
             {into, from});
  db.Execute("DELETE FROM recordings WHERE id = $1", {from});
}

// Files a recording of version 2 under another device, patient or set: into
// the recording it would have been filed in there, if there is one.
void Rehome(Connection& db, std::int64_t recording, std::int64_t device, std::int64_t patient, std::int64_t mode) {
  const auto same = db.Query("SELECT t.id FROM recordings t JOIN recordings r ON r.id = $1 WHERE t.id <> $1 "
                             "AND t.device_id = $2 AND t.patient_id = $3 AND t.set_mode = $4 "
                             "AND t.start_time = r.start_time",
                             {recording, device, patient, mode});
  if (!same.empty()) {
    MergeRecordingInto(db, recording, ToInt(same[0][0]), device, mode);
    return;
  }
  MergeRecordingInto(db, recording, recording, device, mode);
  db.Execute("UPDATE recordings SET device_id = $2, patient_id = $3, set_mode = $4 WHERE id = $1",
             {recording, device, patient, mode});
}

std::string Joined(const std::vector<std::string>& parts, char separator) {
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i ? std::string(1, separator) : "") + parts[i];
  return text;
}

void ToVersion3(Connection& db) {
  const std::string key(db.KeyColumn());
  DropPatientsTextsConstraint(db);
  for (std::string_view column :
       {"label_key TEXT NOT NULL DEFAULT ''", "device_key TEXT", "identifier TEXT NOT NULL DEFAULT ''",
        "identifier_key TEXT NOT NULL DEFAULT ''", "id_system TEXT NOT NULL DEFAULT ''",
        "name TEXT NOT NULL DEFAULT ''", "birth_date TEXT NOT NULL DEFAULT ''", "sex TEXT NOT NULL DEFAULT ''",
        "search_key TEXT NOT NULL DEFAULT ''", "merged_into BIGINT REFERENCES patients (id)"})
    db.Execute("ALTER TABLE patients ADD COLUMN " + std::string(column));
  db.Execute("ALTER TABLE devices ADD COLUMN label_key TEXT NOT NULL DEFAULT ''");
  // A study: one patient's recording on one device, from the plan's upload
  // (hooked_up_at) to its review. reviewed and signed are the physician's.
  db.Execute(WithKey(
      "CREATE TABLE studies (id {key}, patient_id BIGINT NOT NULL REFERENCES patients (id), "
      "device_id BIGINT NOT NULL REFERENCES devices (id), state TEXT NOT NULL CHECK (state IN "
      "('prepared', 'recording', 'downloaded', 'reviewed', 'signed')), plan TEXT, plan_day_start INTEGER, "
      "plan_day_interval INTEGER, plan_night_start INTEGER, plan_night_interval INTEGER, hooked_up_at TEXT, "
      "opened_at TEXT NOT NULL, station TEXT NOT NULL, os_user TEXT NOT NULL, db_role TEXT NOT NULL)",
      key));
  db.Execute("CREATE INDEX studies_device ON studies (device_id, hooked_up_at)");
  db.Execute("CREATE INDEX studies_patient ON studies (patient_id)");
  // plan: the plan the recording's readings were taken on, as a plan file
  // writes it (version 2 kept its periods only).
  db.Execute("ALTER TABLE recordings ADD COLUMN study_id BIGINT REFERENCES studies (id)");
  db.Execute("ALTER TABLE recordings ADD COLUMN plan TEXT");
  db.Execute(WithKey("CREATE TABLE audit_log (id {key}, at TEXT NOT NULL, action TEXT NOT NULL, "
                     "os_user TEXT NOT NULL, db_role TEXT NOT NULL, station TEXT NOT NULL, study_id BIGINT, "
                     "recording_id BIGINT, patient_id BIGINT, details TEXT NOT NULL)",
                     key));
  db.Execute("CREATE INDEX audit_log_study ON audit_log (study_id)");
  // Append-only for everyone: the grants give no role UPDATE or DELETE on
  // it, and these refuse them to the owner too.
  if (db.engine() == Engine::kSqlite) {
    for (std::string_view what : {"UPDATE", "DELETE"})
      db.Execute("CREATE TRIGGER audit_log_append_only_" + std::string(what == "UPDATE" ? "update" : "delete") +
                 " BEFORE " + std::string(what) +
                 " ON audit_log BEGIN SELECT RAISE(ABORT, 'the audit log is append-only'); END");
  } else {
    db.Execute("CREATE FUNCTION bplink_audit_log_append_only() RETURNS trigger LANGUAGE plpgsql AS "
               "$body$ BEGIN RAISE EXCEPTION 'the audit log is append-only'; END $body$");
    db.Execute("CREATE TRIGGER audit_log_append_only BEFORE UPDATE OR DELETE ON audit_log FOR EACH ROW "
               "EXECUTE FUNCTION bplink_audit_log_append_only()");
    db.Execute("CREATE TRIGGER audit_log_no_truncate BEFORE TRUNCATE ON audit_log FOR EACH STATEMENT "
               "EXECUTE FUNCTION bplink_audit_log_append_only()");
  }

  // Patients known by their texts and label: one per key; those that now
  // compare equal ("MRN-1" and "mrn-1") are merged into the first.
  std::map<std::string, std::int64_t> patient_by_key;
  for (const Row& row : db.Query("SELECT id, texts, label FROM patients ORDER BY id")) {
    const std::int64_t id = ToInt(row[0]);
    const std::string texts = row[1].value_or(""), label = row[2].value_or("");
    const std::string device_key = LabelKey(texts) + "\x1f" + LabelKey(label);
    const auto [kept, fresh] = patient_by_key.emplace(device_key, id);
    db.Execute("UPDATE patients SET label_key = $2, device_key = $3, search_key = $4, merged_into = $5 WHERE id = $1",
               {id, LabelKey(label), fresh ? Value(device_key) : Value(nullptr),
                LabelKey(Joined({texts, label}, '\n')), fresh ? Value(nullptr) : Value(kept->second)});
    if (!fresh)
      for (const Row& r : db.Query("SELECT id, device_id, set_mode FROM recordings WHERE patient_id = $1", {id}))
        Rehome(db, ToInt(r[0]), ToInt(r[1]), kept->second, ToInt(r[2]));
  }

  // Devices likewise, by model and label key.
  std::map<std::tuple<std::string, std::int64_t, std::int64_t, std::int64_t, std::int64_t, std::string>, std::int64_t>
      device_by_key;
  for (const Row& row :
       db.Query("SELECT id, family, device_type, protocol, variant, version, label FROM devices ORDER BY id")) {
    const std::int64_t id = ToInt(row[0]);
    const std::string label_key = LabelKey(row[6].value_or(""));
    db.Execute("UPDATE devices SET label_key = $2 WHERE id = $1", {id, label_key});
    const auto [kept, fresh] = device_by_key.emplace(
        std::tuple(row[1].value_or(""), ToInt(row[2]), ToInt(row[3]), ToInt(row[4]), ToInt(row[5]), label_key), id);
    if (fresh) continue;
    for (const Row& r : db.Query("SELECT id, patient_id, set_mode FROM recordings WHERE device_id = $1", {id}))
      Rehome(db, ToInt(r[0]), kept->second, ToInt(r[1]), ToInt(r[2]));
    db.Execute("DELETE FROM devices WHERE id = $1", {id});
  }

  // A reading is one reading whichever data mode brought it: set 1 fetched
  // with its SpO2 samples is set 1.
  for (const Row& r :
       db.Query("SELECT id, device_id, patient_id FROM recordings WHERE set_mode = $1 ORDER BY id", {kSetOneWithSpO2}))
    Rehome(db, ToInt(r[0]), ToInt(r[1]), ToInt(r[2]), kSetOne);

  db.Execute("CREATE UNIQUE INDEX patients_device_key ON patients (device_key)");
  db.Execute("CREATE UNIQUE INDEX patients_identifier ON patients (id_system, identifier_key) "
             "WHERE identifier_key <> ''");
  db.Execute("CREATE UNIQUE INDEX devices_label_key ON devices (family, device_type, protocol, variant, version, "
             "label_key)");

  // Every recording gets a study: one per download (device, patient, time
  // and station), opened as downloaded, as version 2 filed it.
  std::map<std::tuple<std::int64_t, std::int64_t, std::string, std::string>, std::pair<std::int64_t, std::vector<std::int64_t>>>
      studies;
  for (const Row& r : db.Query("SELECT id, device_id, patient_id, downloaded_at, station, set_mode, plan_day_start, "
                               "plan_day_interval, plan_night_start, plan_night_interval FROM recordings ORDER BY id")) {
    auto& [study, modes] = studies[{ToInt(r[1]), ToInt(r[2]), r[3].value_or(""), r[4].value_or("")}];
    const std::int64_t mode = ToInt(r[5]);
    if (study == 0 || std::find(modes.begin(), modes.end(), mode) != modes.end()) {
      modes.clear();
      study = ToInt(db.Query("INSERT INTO studies (patient_id, device_id, state, opened_at, station, os_user, db_role) "
                             "VALUES ($1, $2, 'downloaded', $3, $4, '', '') RETURNING id",
                             {ToInt(r[2]), ToInt(r[1]), r[3].value_or(""), r[4].value_or("")})
                        .at(0)[0]);
    }
    modes.push_back(mode);
    db.Execute("UPDATE recordings SET study_id = $2 WHERE id = $1", {ToInt(r[0]), study});
  }
  db.Execute("CREATE UNIQUE INDEX recordings_study_set ON recordings (study_id, set_mode)");
}

// ---------------------------------------------------------------------------
// Version 4.

// A text as an SQL string literal.
std::string Literal(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

// Each rule of SignedRules() as a trigger of the engine: refused when its
// condition holds, with its message.
void CreateTriggers(Connection& db) {
  for (const SignedRule& rule : SignedRules()) {
    const std::string name(rule.name);
    const std::string message = Literal(std::string(kRefusedPrefix) + std::string(rule.message));
    const std::string on = " BEFORE " + std::string(rule.event) + " ON " + std::string(rule.table) + " FOR EACH ROW ";
    if (db.engine() == Engine::kSqlite) {
      db.Execute("CREATE TRIGGER " + name + on + "WHEN " + std::string(rule.refused) + " BEGIN SELECT RAISE(ABORT, " +
                 message + "); END");
      continue;
    }
    db.Execute("CREATE FUNCTION bplink_" + name + "() RETURNS trigger LANGUAGE plpgsql AS $body$ BEGIN IF " +
               std::string(rule.refused) + " THEN RAISE EXCEPTION " + message + " USING ERRCODE = '" +
               std::string(kRefusedState) + "'; END IF; RETURN " + (rule.event == "DELETE" ? "OLD" : "NEW") +
               "; END $body$");
    db.Execute("CREATE TRIGGER " + name + on + "EXECUTE FUNCTION bplink_" + name + "()");
  }
  if (db.engine() == Engine::kPostgres) {
    // TRUNCATE passes row triggers by: while anything is signed, it is refused.
    db.Execute("CREATE FUNCTION bplink_signed_no_truncate() RETURNS trigger LANGUAGE plpgsql AS $body$ BEGIN "
               "IF EXISTS (SELECT 1 FROM signatures) THEN RAISE EXCEPTION " +
               Literal(std::string(kRefusedPrefix) + "what is signed is kept: nothing is truncated") +
               " USING ERRCODE = '" + std::string(kRefusedState) + "'; END IF; RETURN NULL; END $body$");
    for (std::string_view table : {"readings", "spo2_samples", "recordings", "studies", "reviews", "signatures"})
      db.Execute("CREATE TRIGGER " + std::string(table) + "_signed_no_truncate BEFORE TRUNCATE ON " +
                 std::string(table) + " FOR EACH STATEMENT EXECUTE FUNCTION bplink_signed_no_truncate()");
  }
}

void ToVersion4(Connection& db) {
  // The plan's start of what version 3 filed: the hook-up of a study an
  // upload opened, else the start the device's plan gave.
  for (const Row& r : db.Query("SELECT r.id, r.set_mode, s.hooked_up_at, r.plan FROM recordings r "
                               "LEFT JOIN studies s ON s.id = r.study_id")) {
    if (!report::PlanStartBounds(static_cast<int>(ToInt(r[1])))) continue;
    std::string start = r[2].value_or("");
    if (start.empty() && r[3]) {
      const nlohmann::json plan = nlohmann::json::parse(*r[3], nullptr, false);
      if (plan.is_object() && plan.contains("start") && plan["start"].is_string() &&
          report::ParseLocalTime(plan["start"].get<std::string>()))
        start = report::FormatLocalTime(*report::ParseLocalTime(plan["start"].get<std::string>()));
    }
    if (!start.empty()) db.Execute("UPDATE recordings SET plan_start = $2 WHERE id = $1", {ToInt(r[0]), start});
  }
  CreateTriggers(db);
}

}  // namespace

const std::vector<SignedRule>& SignedRules() {
  // What a signed recording allows, written once for every door (this
  // library, another program, a person at the SQL prompt): its readings,
  // SpO2 samples, patient, plan and download stay as signed; its inputs
  // change only by an amendment of its latest signed version; a signature
  // is the next version, on the inputs in force; and nothing signed, nor
  // any review or signature, is changed or removed.
  static const std::vector<SignedRule> rules = {
      {"readings_signed_insert", "readings", "INSERT",
       "EXISTS (SELECT 1 FROM signatures s WHERE s.recording_id = NEW.recording_id) AND NOT EXISTS (SELECT 1 FROM "
       "readings k WHERE k.device_id = NEW.device_id AND k.set_mode = NEW.set_mode AND k.time = NEW.time AND "
       "k.raw_sys = NEW.raw_sys AND k.raw_press2 = NEW.raw_press2 AND k.raw_press3 = NEW.raw_press3 AND "
       "k.raw_pulse = NEW.raw_pulse AND k.raw_status = NEW.raw_status)",
       "a signed recording's readings cannot change"},
      {"readings_signed_update", "readings", "UPDATE",
       "EXISTS (SELECT 1 FROM signatures s WHERE s.recording_id = OLD.recording_id OR s.recording_id = "
       "NEW.recording_id)",
       "a signed recording's readings cannot change"},
      {"readings_signed_delete", "readings", "DELETE",
       "EXISTS (SELECT 1 FROM signatures s WHERE s.recording_id = OLD.recording_id)",
       "a signed recording's readings cannot change"},
      {"spo2_signed_insert", "spo2_samples", "INSERT",
       "EXISTS (SELECT 1 FROM signatures s WHERE s.recording_id = NEW.recording_id) AND NOT EXISTS (SELECT 1 FROM "
       "spo2_samples k WHERE k.device_id = NEW.device_id AND k.time = NEW.time AND k.raw_offset = NEW.raw_offset "
       "AND k.spo2 = NEW.spo2 AND k.pulse = NEW.pulse)",
       "a signed recording's SpO2 samples cannot change"},
      {"spo2_signed_update", "spo2_samples", "UPDATE",
       "EXISTS (SELECT 1 FROM signatures s WHERE s.recording_id = OLD.recording_id OR s.recording_id = "
       "NEW.recording_id)",
       "a signed recording's SpO2 samples cannot change"},
      {"spo2_signed_delete", "spo2_samples", "DELETE",
       "EXISTS (SELECT 1 FROM signatures s WHERE s.recording_id = OLD.recording_id)",
       "a signed recording's SpO2 samples cannot change"},
      {"recordings_signed_update", "recordings", "UPDATE",
       "EXISTS (SELECT 1 FROM signatures s WHERE s.recording_id = OLD.id) AND (NEW.patient_id <> OLD.patient_id OR "
       "NEW.study_id IS DISTINCT FROM OLD.study_id OR NEW.device_id <> OLD.device_id OR NEW.set_mode <> "
       "OLD.set_mode OR NEW.complete <> OLD.complete OR NEW.downloaded_at <> OLD.downloaded_at OR NEW.plan IS "
       "DISTINCT FROM OLD.plan OR NEW.plan_start IS DISTINCT FROM OLD.plan_start OR NEW.plan_day_start IS DISTINCT "
       "FROM OLD.plan_day_start OR NEW.plan_day_interval IS DISTINCT FROM OLD.plan_day_interval OR "
       "NEW.plan_night_start IS DISTINCT FROM OLD.plan_night_start OR NEW.plan_night_interval IS DISTINCT FROM "
       "OLD.plan_night_interval)",
       "a signed recording's patient, plan and download cannot change"},
      {"recordings_signed_delete", "recordings", "DELETE",
       "EXISTS (SELECT 1 FROM signatures s WHERE s.recording_id = OLD.id)", "a signed recording is kept"},
      {"studies_signed_patient", "studies", "UPDATE",
       "NEW.patient_id <> OLD.patient_id AND EXISTS (SELECT 1 FROM signatures s WHERE s.study_id = OLD.id)",
       "a signed study is not filed under another patient"},
      {"studies_signed_state", "studies", "UPDATE",
       "NEW.state = 'signed' AND OLD.state <> 'signed' AND NOT EXISTS (SELECT 1 FROM signatures s WHERE "
       "s.study_id = NEW.id)",
       "a study is signed only by a signature"},
      {"reviews_insert", "reviews", "INSERT",
       "NEW.study_id IS DISTINCT FROM (SELECT r.study_id FROM recordings r WHERE r.id = NEW.recording_id) OR "
       "NEW.amends IS DISTINCT FROM (SELECT MAX(s.id) FROM signatures s WHERE s.recording_id = NEW.recording_id)",
       "a signed recording's inputs change only by an amendment of its latest signed version"},
      {"reviews_kept_update", "reviews", "UPDATE", "1 = 1", "a review is kept as it was made"},
      {"reviews_kept_delete", "reviews", "DELETE", "1 = 1", "a review is kept as it was made"},
      {"signatures_insert", "signatures", "INSERT",
       "NEW.study_id IS DISTINCT FROM (SELECT r.study_id FROM recordings r WHERE r.id = NEW.recording_id) OR "
       "NEW.version <> 1 + (SELECT COUNT(*) FROM signatures s WHERE s.recording_id = NEW.recording_id) OR "
       "NEW.amends IS DISTINCT FROM (SELECT MAX(s.id) FROM signatures s WHERE s.recording_id = NEW.recording_id) OR "
       "NEW.review_id IS DISTINCT FROM (SELECT MAX(v.id) FROM reviews v WHERE v.recording_id = NEW.recording_id) OR "
       "(NEW.amends IS NOT NULL AND NOT EXISTS (SELECT 1 FROM reviews v WHERE v.id = NEW.review_id AND "
       "v.amends = NEW.amends)) OR NEW.hash = '' OR NEW.interpretation = ''",
       "a signature is the recording's next version, signed on the inputs in force; a signed recording is signed "
       "again only as an amendment"},
      {"signatures_kept_update", "signatures", "UPDATE", "1 = 1", "a signature is kept as it was made"},
      {"signatures_kept_delete", "signatures", "DELETE", "1 = 1", "a signature is kept as it was made"},
  };
  return rules;
}

std::optional<std::string> Refusal(std::string_view what) {
  const auto at = what.find(kRefusedPrefix);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rule = what.substr(at + kRefusedPrefix.size());
  // SQLite adds the statement, PostgreSQL the function's context.
  rule = rule.substr(0, std::min({rule.find('\n'), rule.find(" (in: "), rule.size()}));
  return std::string(rule);
}

void RefreshSpan(Connection& db, std::int64_t recording) {
  db.Execute("UPDATE recordings SET "
             "start_time = COALESCE((SELECT MIN(time) FROM readings WHERE recording_id = $1 AND time <> ''), ''), "
             "end_time = COALESCE((SELECT MAX(time) FROM readings WHERE recording_id = $1 AND time <> ''), '') "
             "WHERE id = $1",
             {recording});
}

int LatestVersion() { return static_cast<int>(kMigrations.size()); }

void RefuseNewer(int found) {
  if (found > LatestVersion())
    throw ArchiveError("the archive has schema version " + std::to_string(found) + ", newer than the " +
                       std::to_string(LatestVersion()) + " this bplink knows: open it with a newer bplink");
}

int ReadVersion(Connection& db) {
  const auto exists = db.engine() == Engine::kSqlite
                          ? db.Query("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = 'bplink_schema'")
                          : db.Query("SELECT CASE WHEN to_regclass('bplink_schema') IS NULL THEN 0 ELSE 1 END");
  if (ToInt(exists.at(0)[0]) == 0) return 0;
  const auto rows = db.Query("SELECT version FROM bplink_schema");
  return rows.empty() ? 0 : static_cast<int>(ToInt(rows[0][0]));
}

bool MayChangeSchema(Connection& db) {
  if (db.engine() == Engine::kSqlite) return true;
  const auto rows = db.Query(
      "SELECT CASE WHEN to_regclass('bplink_schema') IS NULL "
      "THEN has_schema_privilege(current_schema(), 'CREATE') "
      "ELSE pg_has_role(current_user, (SELECT relowner FROM pg_class WHERE oid = to_regclass('bplink_schema')), "
      "'USAGE') END");
  return rows.at(0)[0].value_or("") == "t";
}

int Migrate(Connection& db, int target) {
  db.CheckForeignKeys(false);
  db.BeginExclusive();
  int found = 0;
  try {
    db.Execute("CREATE TABLE IF NOT EXISTS bplink_schema (version INTEGER NOT NULL)");
    const auto rows = db.Query("SELECT version FROM bplink_schema");
    found = rows.empty() ? 0 : static_cast<int>(ToInt(rows[0][0]));
    RefuseNewer(found);
    for (int version = found; version < target; ++version) {
      const Migration& m = kMigrations[static_cast<std::size_t>(version)];
      for (std::string_view step : m.steps) db.Execute(WithKey(step, db.KeyColumn()));
      if (m.work) m.work(db);
    }
    if (rows.empty())
      db.Execute("INSERT INTO bplink_schema (version) VALUES ($1)", {std::int64_t{std::max(found, target)}});
    else if (target > found)
      db.Execute("UPDATE bplink_schema SET version = $1", {std::int64_t{target}});
    if (db.engine() == Engine::kSqlite && !db.Query("PRAGMA foreign_key_check").empty())
      throw ArchiveError("the archive's migration left a reading without its recording; nothing was changed");
    db.Commit();
  } catch (...) {
    db.Rollback();
    db.CheckForeignKeys(true);
    throw;
  }
  db.CheckForeignKeys(true);
  return found;
}

}  // namespace bplink::archive::detail
