// Opening the archive, proving it can be written, and reading it back; the
// same for both engines.

#include <bplink/archive/labels.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <sstream>

#include "schema.h"
#include "sql_archive.h"

namespace bplink::archive {
namespace detail {

std::string TimeText(const CalendarTime& t) { return IsValidTime(t) ? report::FormatLocalTime(t) : ""; }

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int SetOf(int mode) { return mode == DATAMODE_BP_SPO2 ? DATAMODE_BP : mode; }

std::optional<report::PlanPeriods> PeriodsOf(const _BP_TRANSPORT_INFO* plan) {
  if (!plan) return std::nullopt;
  // The report's own reading of a plan: one rule for what is day and night.
  return report::RecordingFromDownload(_BP_DATASET{}, plan, nullptr, std::nullopt).plan;
}

std::string DetailsJson(const std::vector<std::pair<std::string, Value>>& members) {
  nlohmann::json doc = nlohmann::json::object();
  for (const auto& [name, value] : members) {
    if (std::holds_alternative<std::int64_t>(value)) doc[name] = std::get<std::int64_t>(value);
    else if (std::holds_alternative<double>(value)) doc[name] = std::get<double>(value);
    else if (std::holds_alternative<std::string>(value)) doc[name] = std::get<std::string>(value);
    else doc[name] = nullptr;
  }
  return doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

namespace {

CalendarTime TimeFrom(const std::optional<std::string>& cell) {
  return cell ? report::ParseLocalTime(*cell).value_or(CalendarTime{}) : CalendarTime{};
}

// The set or store a recording was filed from, named by its data mode.
std::string SetLabel(int mode) {
  if (mode >= DATAMODE_ZONE1 && mode <= DATAMODE_ZONE3) return "store " + std::to_string(mode - DATAMODE_ZONE1 + 1);
  return mode == DATAMODE_BP_SET2 ? "set 2" : "set 1";
}

// A text a person typed, for LIKE: its key, with LIKE's own characters taken literally.
std::string ContainsPattern(std::string_view text) {
  std::string pattern = "%";
  for (char c : LabelKey(text)) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  pattern += '%';
  return pattern;
}


// The columns RecordingOf reads, from recordings r and studies st.
constexpr std::string_view kRecordingColumns =
    "r.id, r.device_id, r.patient_id, r.set_mode, r.start_time, r.end_time, r.complete, r.downloaded_at, "
    "r.station, (SELECT COUNT(*) FROM readings x WHERE x.recording_id = r.id), "
    "(SELECT COUNT(*) FROM spo2_samples s WHERE s.recording_id = r.id), r.study_id, st.state, "
    "(SELECT COUNT(*) FROM reviews v WHERE v.recording_id = r.id), "
    "(SELECT COUNT(*) FROM signatures g WHERE g.recording_id = r.id), "
    "CASE WHEN (SELECT v.amends FROM reviews v WHERE v.recording_id = r.id ORDER BY v.id DESC LIMIT 1) = "
    "(SELECT MAX(g.id) FROM signatures g WHERE g.recording_id = r.id) THEN 1 ELSE 0 END, r.plan_start";
constexpr std::size_t kRecordingColumnCount = 17;

std::unique_ptr<Connection> Connect(const Location& location, bool create) {
  return location.engine == Engine::kSqlite ? OpenSqlite(location.target, create) : OpenPostgres(location.target);
}

constexpr std::string_view kAskOwner = "ask its owner to run bplink archive migrate";

// Runs a migration, telling a role that may not make it what to do.
int MigrateAs(Connection& db, int target) {
  try {
    return Migrate(db, target);
  } catch (const DatabaseError& e) {
    if (e.sqlstate != kInsufficientPrivilege) throw;
    throw NeedsMigration("the archive needs migrating, which this database role (" + db.Role() +
                         ") may not do: " + std::string(kAskOwner) + " (" + e.what() + ")");
  }
}

void LogMigration(SqlArchive& archive, int from, int to, const Actor& actor) {
  AuditEntry entry;
  entry.action = "migrate";
  entry.details = DetailsJson({{"from_version", std::int64_t{from}}, {"to_version", std::int64_t{to}}});
  archive.AppendLog(entry, actor);
}

}  // namespace

const std::string_view kPatientAndDevice =
    "($1 = '' OR CAST(p.id AS TEXT) = $1 OR p.search_key LIKE $2 ESCAPE '\\' OR EXISTS (SELECT 1 FROM patients m "
    "WHERE m.merged_into = p.id AND (CAST(m.id AS TEXT) = $1 OR m.search_key LIKE $2 ESCAPE '\\'))) "
    "AND ($3 = '' OR CAST(d.id AS TEXT) = $3 OR d.family = $4 OR d.label_key = $4)";

std::vector<std::string> InLists(const std::set<std::int64_t>& ids) {
  constexpr std::size_t kPerList = 500;
  std::vector<std::string> lists;
  std::size_t in_list = 0;
  for (const std::int64_t id : ids) {
    if (in_list == 0) lists.emplace_back();
    lists.back() += (in_list ? ", " : "") + std::to_string(id);
    in_list = (in_list + 1) % kPerList;
  }
  return lists;
}

std::vector<Value> FilterParams(const std::string& patient, const std::string& device, const std::string& from,
                                const std::string& to) {
  return {LabelKey(patient), ContainsPattern(patient), LabelKey(device), LabelKey(device), from,
          to.empty() ? "" : to + "T99"};
}

void SqlArchive::CheckWritable() {
  db_->Begin();
  try {
    if (db_->engine() == Engine::kPostgres) {
      // Every grant filing needs, named at once rather than found one by one.
      const auto missing = db_->Query(
          "SELECT string_agg(p || ' on ' || t, ', ') FROM (VALUES ('devices', 'INSERT'), ('patients', 'INSERT'), "
          "('patients', 'UPDATE'), ('studies', 'INSERT'), ('studies', 'UPDATE'), ('recordings', 'INSERT'), "
          "('recordings', 'UPDATE'), ('readings', 'INSERT'), ('spo2_samples', 'INSERT'), ('audit_log', 'INSERT')) "
          "AS needed (t, p) WHERE NOT has_table_privilege(t, p) OR (p = 'INSERT' AND NOT "
          "has_sequence_privilege(pg_get_serial_sequence(t, 'id'), 'USAGE'))");
      if (missing.at(0)[0] && !missing[0][0]->empty())
        throw ArchiveError("this database role (" + db_->Role() + ") may not file in it: it lacks " + *missing[0][0] +
                           " (a download station needs the grants `bplink archive grants station ROLE` prints)");
    }
    db_->Execute("INSERT INTO audit_log (at, action, os_user, db_role, station, details) "
                 "VALUES ('', 'write check', '', '', '', '{}')");
  } catch (const ArchiveError& e) {
    db_->Rollback();
    throw ArchiveError(std::string("the archive cannot be written: ") + e.what());
  }
  db_->Rollback();
}

std::int64_t SqlArchive::Upsert(std::string_view insert, std::string_view select, const std::vector<Value>& key) {
  // Most rows are there already: one round trip finds them.
  if (const auto rows = db_->Query(select, key); !rows.empty()) return ToInt(rows[0][0]);
  db_->Execute(insert, key);
  const auto rows = db_->Query(select, key);
  if (rows.empty()) throw ArchiveError("the archive lost a row it had just written");
  return ToInt(rows[0][0]);
}

std::int64_t SqlArchive::DeviceId(const DeviceIdentity& d) {
  return Upsert(
      "INSERT INTO devices (family, device_type, protocol, variant, version, label, label_key) "
      "VALUES ($1, $2, $3, $4, $5, $6, $7) ON CONFLICT DO NOTHING",
      "SELECT id FROM devices WHERE family = $1 AND device_type = $2 AND protocol = $3 AND variant = $4 "
      "AND version = $5 AND label_key = $7",
      {d.family, std::int64_t{d.device.nDeviceType}, std::int64_t{d.device.nProtocol},
       std::int64_t{d.device.nVariant}, std::int64_t{d.device.nVersion}, d.label, LabelKey(d.label)});
}

std::int64_t SqlArchive::PatientByTexts(const std::vector<std::string>& texts, const std::string& label) {
  const std::string joined = Joined(texts);
  const std::string device_key = LabelKey(joined) + "\x1f" + LabelKey(label);
  // A merge points every alias at the patient kept: one step finds it.
  return Upsert("INSERT INTO patients (texts, label, label_key, device_key, search_key) "
                "VALUES ($1, $2, $3, $4, $5) ON CONFLICT DO NOTHING",
                "SELECT COALESCE(merged_into, id) FROM patients WHERE device_key = $4",
                {joined, label, LabelKey(label), device_key, LabelKey(joined + "\n" + label)});
}

std::int64_t SqlArchive::PatientByIdentity(const report::PatientInfo& p) {
  const std::string search = LabelKey(p.id + "\n" + p.name);
  if (p.id.empty())
    return ToInt(db_->Query("INSERT INTO patients (texts, label, name, birth_date, sex, search_key) "
                            "VALUES ('', '', $1, $2, $3, $4) RETURNING id",
                            {p.name, p.birth_date, p.sex, search})
                     .at(0)[0]);
  const std::int64_t id = Upsert(
      "INSERT INTO patients (texts, label, identifier, identifier_key, id_system, name, birth_date, sex, search_key) "
      "VALUES ('', '', $1, $2, $3, $4, $5, $6, $7) ON CONFLICT DO NOTHING",
      "SELECT COALESCE(merged_into, id) FROM patients WHERE id_system = $3 AND identifier_key = $2",
      {p.id, LabelKey(p.id), p.system, p.name, p.birth_date, p.sex, search});
  // What this study says of the patient is the newest word on it.
  db_->Execute("UPDATE patients SET name = CASE WHEN $2 = '' THEN name ELSE $2 END, "
               "birth_date = CASE WHEN $3 = '' THEN birth_date ELSE $3 END, "
               "sex = CASE WHEN $4 = '' THEN sex ELSE $4 END WHERE id = $1",
               {id, p.name, p.birth_date, p.sex});
  const auto row = db_->Query("SELECT texts, label, identifier, name FROM patients WHERE id = $1", {id}).at(0);
  db_->Execute("UPDATE patients SET search_key = $2 WHERE id = $1",
               {id, LabelKey(row[0].value_or("") + "\n" + row[1].value_or("") + "\n" + row[2].value_or("") + "\n" +
                             row[3].value_or(""))});
  return id;
}

std::int64_t SqlArchive::Standing(std::int64_t patient) {
  constexpr int kMostHops = 64;  // merges re-point their aliases, so one hop is the rule
  for (int hop = 0; hop < kMostHops; ++hop) {
    const auto rows = db_->Query("SELECT merged_into FROM patients WHERE id = $1", {patient});
    if (rows.empty() || !rows[0][0]) return patient;
    patient = ToInt(rows[0][0]);
  }
  throw ArchiveError("patient " + std::to_string(patient) + " is merged in a circle");
}

bool SqlArchive::AnswersTo(std::int64_t patient, const std::string& label) {
  const std::string key = LabelKey(label);
  return !db_->Query("SELECT 1 FROM patients WHERE (id = $1 OR merged_into = $1) "
                     "AND (label_key = $2 OR identifier_key = $2)",
                     {patient, key})
              .empty();
}

std::string SqlArchive::Describe(std::int64_t patient) {
  const PatientEntry p = LoadPatient(patient);
  std::string text;
  if (!p.person.id.empty()) text = p.person.id + (p.person.name.empty() ? "" : ", " + p.person.name);
  for (const auto& t : p.texts) text += (text.empty() ? "" : " / ") + t;
  if (!p.label.empty()) text += (text.empty() ? "" : " ") + ("[" + p.label + "]");
  return "patient " + std::to_string(patient) + " (" + (text.empty() ? "no patient texts" : text) + ")";
}

namespace {

constexpr std::string_view kPatientColumns = "id, texts, label, identifier, id_system, name, birth_date, sex";
constexpr std::string_view kDeviceColumns = "id, family, device_type, protocol, variant, version, label";

PatientEntry PatientOf(const Row& row) {
  PatientEntry p;
  p.id = ToInt(row[0]);
  p.texts = Lines(row[1].value_or(""));
  p.label = row[2].value_or("");
  p.person.id = row[3].value_or("");
  p.person.system = row[4].value_or("");
  p.person.name = row[5].value_or("");
  p.person.birth_date = row[6].value_or("");
  p.person.sex = row[7].value_or("");
  return p;
}

DeviceEntry DeviceOf(const Row& row) {
  DeviceEntry d;
  d.id = ToInt(row[0]);
  d.family = row[1].value_or("");
  d.device.nDeviceType = static_cast<int>(ToInt(row[2]));
  d.device.nProtocol = static_cast<int>(ToInt(row[3]));
  d.device.nVariant = static_cast<int>(ToInt(row[4]));
  d.device.nVersion = static_cast<int>(ToInt(row[5]));
  d.label = row[6].value_or("");
  return d;
}

NotFound NoneSuch(std::string_view what, std::int64_t id) {
  return NotFound("the archive holds no " + std::string(what) + " " + std::to_string(id) +
                  " (bplink history lists them)");
}

// The rows of `table` numbered `ids` that there are, by number, read by
// `of`: one query for every few hundred.
template <typename Entry>
std::map<std::int64_t, Entry> LoadAll(Connection& db, std::string_view columns, std::string_view table,
                                      Entry (*of)(const Row&), const std::set<std::int64_t>& ids) {
  std::map<std::int64_t, Entry> found;
  for (const std::string& list : InLists(ids))
    for (const Row& row : db.Query("SELECT " + std::string(columns) + " FROM " + std::string(table) +
                                   " WHERE id IN (" + list + ")"))
      found.emplace(ToInt(row[0]), of(row));
  return found;
}

// Each of `ids` from `found`, in their order.
template <typename Entry>
std::vector<Entry> InOrder(const std::map<std::int64_t, Entry>& found, const std::vector<std::int64_t>& ids,
                           std::string_view what) {
  std::vector<Entry> entries;
  entries.reserve(ids.size());
  for (const std::int64_t id : ids) {
    const auto at = found.find(id);
    if (at == found.end()) throw NoneSuch(what, id);
    entries.push_back(at->second);
  }
  return entries;
}

}  // namespace

History SqlArchive::Query(const Filter& filter) {
  History history;
  const auto rows = db_->Query("SELECT " + std::string(kRecordingColumns) +
                                   " FROM recordings r JOIN patients p ON p.id = r.patient_id JOIN devices d ON "
                                   "d.id = r.device_id LEFT JOIN studies st ON st.id = r.study_id WHERE " +
                                   std::string(kPatientAndDevice) +
                                   " AND ($5 = '' OR r.end_time >= $5) AND ($6 = '' OR r.start_time <= $6) "
                                   "ORDER BY r.id",
                               FilterParams(filter.patient, filter.device, filter.from, filter.to));
  std::set<std::int64_t> patient_ids, device_ids;
  for (const Row& row : rows) {
    history.recordings.push_back(RecordingOf(row));
    patient_ids.insert(history.recordings.back().patient_id);
    device_ids.insert(history.recordings.back().device_id);
  }
  std::map<std::int64_t, PatientEntry> patients = LoadAll(*db_, kPatientColumns, "patients", PatientOf, patient_ids);
  std::map<std::int64_t, DeviceEntry> devices = LoadAll(*db_, kDeviceColumns, "devices", DeviceOf, device_ids);
  for (const RecordingEntry& r : history.recordings) {
    PatientEntry& p = patients.at(r.patient_id);
    ++p.recordings, p.readings += r.readings;
    DeviceEntry& d = devices.at(r.device_id);
    ++d.recordings, d.readings += r.readings;
  }
  for (auto& [id, p] : patients) history.patients.push_back(std::move(p));
  for (auto& [id, d] : devices) history.devices.push_back(std::move(d));
  return history;
}

StoredRecording SqlArchive::Load(std::int64_t id) {
  const auto rows = db_->Query("SELECT " + std::string(kRecordingColumns) +
                                   ", r.plan_day_start, r.plan_day_interval, r.plan_night_start, "
                                   "r.plan_night_interval, r.plan FROM recordings r LEFT JOIN studies st "
                                   "ON st.id = r.study_id WHERE r.id = $1",
                               {id});
  if (rows.empty())
    throw NotFound("the archive holds no recording " + std::to_string(id) + " (bplink history lists them)");
  const Row& row = rows[0];
  constexpr std::size_t kPlan = kRecordingColumnCount;  // the plan's columns follow the recording's
  StoredRecording stored;
  stored.entry = RecordingOf(row);
  stored.device = Device(stored.entry.device_id);
  stored.patient = LoadPatient(stored.entry.patient_id);
  stored.plan_json = row[kPlan + 4].value_or("");
  report::Recording& recording = stored.recording;
  recording.source = "archive recording " + std::to_string(id);
  recording.patient = stored.patient.texts;
  recording.subject = stored.patient.person;
  recording.subject.id = stored.patient.Known();
  recording.device = report::DescribeDevice(stored.device.device);
  recording.set_label = SetLabel(stored.entry.set_mode);
  if (row[kPlan]) {
    recording.plan = report::PlanPeriods{static_cast<int>(ToInt(row[kPlan])), static_cast<int>(ToInt(row[kPlan + 1])),
                                         static_cast<int>(ToInt(row[kPlan + 2])), static_cast<int>(ToInt(row[kPlan + 3]))};
  }
  if (!stored.entry.complete) recording.incomplete = "it was filed as an incomplete download";
  recording.downloaded_at = report::ParseLocalTime(stored.entry.downloaded_at);
  recording.plan_start = report::ParseLocalTime(stored.entry.plan_start);
  LoadReadings(id, stored);
  LoadSamples(id, stored);
  return stored;
}

RecordingEntry SqlArchive::RecordingOf(const Row& row) {
  RecordingEntry r;
  r.id = ToInt(row[0]);
  r.device_id = ToInt(row[1]);
  r.patient_id = ToInt(row[2]);
  r.set_mode = static_cast<int>(ToInt(row[3]));
  r.start = row[4].value_or("");
  r.end = row[5].value_or("");
  r.complete = ToInt(row[6]) != 0;
  r.downloaded_at = row[7].value_or("");
  r.station = row[8].value_or("");
  r.readings = ToInt(row[9]);
  r.samples = ToInt(row[10]);
  r.study_id = ToInt(row[11]);
  r.state = ParseState(row[12].value_or("")).value_or(StudyState::kDownloaded);
  r.reviewed = ToInt(row[13]) > 0;
  r.signed_versions = static_cast<int>(ToInt(row[14]));
  r.amending = ToInt(row[15]) != 0;
  r.plan_start = row[16].value_or("");
  return r;
}

PatientEntry SqlArchive::LoadPatient(std::int64_t id) {
  const auto rows = db_->Query("SELECT " + std::string(kPatientColumns) + " FROM patients WHERE id = $1", {id});
  if (rows.empty()) throw NoneSuch("patient", id);
  return PatientOf(rows[0]);
}

std::vector<PatientEntry> SqlArchive::Patients(const std::vector<std::int64_t>& ids) {
  return InOrder(LoadAll(*db_, kPatientColumns, "patients", PatientOf, {ids.begin(), ids.end()}), ids, "patient");
}

DeviceEntry SqlArchive::Device(std::int64_t id) {
  const auto rows = db_->Query("SELECT " + std::string(kDeviceColumns) + " FROM devices WHERE id = $1", {id});
  if (rows.empty()) throw NoneSuch("device", id);
  return DeviceOf(rows[0]);
}

std::vector<DeviceEntry> SqlArchive::Devices(const std::vector<std::int64_t>& ids) {
  return InOrder(LoadAll(*db_, kDeviceColumns, "devices", DeviceOf, {ids.begin(), ids.end()}), ids, "device");
}

void SqlArchive::LoadReadings(std::int64_t id, StoredRecording& stored) {
  const auto rows = db_->Query(
      "SELECT time, raw_sys, raw_press2, raw_press3, raw_pulse, raw_valid, raw_status, raw_flags_low, "
      "raw_flags_high, raw_aux1, raw_aux2, raw_aux3, raw_minute_offset, systolic, diastolic, map, pulse, valid "
      "FROM readings WHERE recording_id = $1 ORDER BY id",
      {id});
  auto small = [](const std::optional<std::string>& cell) { return static_cast<short>(ToInt(cell)); };
  for (const Row& row : rows) {
    _BP_RECORD r;
    const CalendarTime t = TimeFrom(row[0]);
    r.nYear = t.year, r.wMonth = static_cast<short>(t.month), r.wDay = static_cast<short>(t.day);
    r.wHour = static_cast<short>(t.hour), r.wMinute = static_cast<short>(t.minute);
    r.wSecond = static_cast<short>(t.second);
    r.nSys = static_cast<int>(ToInt(row[1]));
    r.wPress2 = small(row[2]), r.wPress3 = small(row[3]), r.wPulseRate = small(row[4]);
    r.bValid = static_cast<int>(ToInt(row[5]));
    r.wStatus = small(row[6]);
    r.byFlagsLow = static_cast<BYTE>(ToInt(row[7]));
    r.wFlagsHigh = small(row[8]), r.wAux1 = small(row[9]), r.wAux2 = small(row[10]);
    r.nAux3 = static_cast<int>(ToInt(row[11]));
    r.nMinuteOffset = static_cast<int>(ToInt(row[12]));
    stored.set.vecRecords.push_back(r);

    report::Reading reading;
    reading.time = t;
    reading.sys = std::stod(row[13].value_or("0"));
    reading.dia = std::stod(row[14].value_or("0"));
    if (row[15]) reading.map = std::stod(*row[15]);
    if (row[16]) reading.pulse = std::stod(*row[16]);
    reading.device_valid = ToInt(row[17]) != 0;
    stored.recording.readings.push_back(reading);
  }
  _DATA_HEAD& head = stored.set.Head;
  head.nCount = static_cast<int>(stored.set.vecRecords.size());
  if (!stored.recording.readings.empty()) {
    const CalendarTime& t = stored.recording.readings.front().time;
    head.nYear = t.year, head.nMonth = t.month, head.nDay = t.day;
    head.nHour = t.hour, head.nMinute = t.minute, head.nSecond = t.second;
  }
}

void SqlArchive::LoadSamples(std::int64_t id, StoredRecording& stored) {
  const auto rows = db_->Query(
      "SELECT time, raw_offset, spo2, pulse FROM spo2_samples WHERE recording_id = $1 ORDER BY id", {id});
  for (const Row& row : rows) {
    const CalendarTime t = TimeFrom(row[0]);
    const int offset = static_cast<int>(ToInt(row[1]));
    _SPO2_RECORD sample;
    sample.nTimeOffset = offset;
    sample.bySpO2 = static_cast<BYTE>(ToInt(row[2]));
    sample.byPulseRate = static_cast<BYTE>(ToInt(row[3]));
    if (stored.spo2.vecRecords.empty() && IsValidTime(t)) {
      // The set's start, which every offset counts from.
      const CalendarTime start = AddSeconds(t, -offset);
      _DATA_HEAD& head = stored.spo2.Head;
      head.nYear = start.year, head.nMonth = start.month, head.nDay = start.day;
      head.nHour = start.hour, head.nMinute = start.minute, head.nSecond = start.second;
    }
    stored.spo2.vecRecords.push_back(sample);
    stored.recording.spo2.push_back({t, sample.bySpO2, sample.byPulseRate});
  }
  stored.spo2.Head.nCount = static_cast<int>(stored.spo2.vecRecords.size());
}

}  // namespace detail

using detail::LatestVersion;

int SchemaVersion() { return LatestVersion(); }

std::vector<PatientEntry> Archive::Patients(const std::vector<std::int64_t>& ids) {
  std::vector<PatientEntry> entries;
  for (const std::int64_t id : ids) entries.push_back(Patient(id));
  return entries;
}

std::vector<DeviceEntry> Archive::Devices(const std::vector<std::int64_t>& ids) {
  std::vector<DeviceEntry> entries;
  for (const std::int64_t id : ids) entries.push_back(Device(id));
  return entries;
}

std::string_view StateName(StudyState state) {
  switch (state) {
    case StudyState::kPrepared: return "prepared";
    case StudyState::kRecording: return "recording";
    case StudyState::kDownloaded: return "downloaded";
    case StudyState::kReviewed: return "reviewed";
    case StudyState::kSigned: return "signed";
  }
  return "downloaded";
}

std::optional<StudyState> ParseState(std::string_view name) {
  for (StudyState s : {StudyState::kPrepared, StudyState::kRecording, StudyState::kDownloaded, StudyState::kReviewed,
                       StudyState::kSigned})
    if (StateName(s) == name) return s;
  return std::nullopt;
}

std::unique_ptr<Archive> Archive::Open(const Location& location, const OpenOptions& options) {
  std::unique_ptr<detail::Connection> db = detail::Connect(location, options.mode == OpenMode::kCreate);
  const int target = std::min(options.schema_version, LatestVersion());
  const int found = detail::ReadVersion(*db);
  detail::RefuseNewer(found);
  if (found == 0 && options.mode == OpenMode::kExisting)
    throw NeedsMigration("there is no bplink archive in " +
                         (location.engine == Engine::kSqlite ? location.target : std::string("this database")) +
                         (location.engine == Engine::kSqlite ? "; bplink download --archive makes one"
                                                             : "; its owner makes one with bplink archive migrate"));
  if (found < target) {
    if (!detail::MayChangeSchema(*db))
      throw NeedsMigration(
          (found == 0 ? std::string("there is no bplink archive in this database yet")
                      : "the archive needs migrating (schema version " + std::to_string(found) + ", this bplink writes " +
                            std::to_string(LatestVersion()) + ")") +
          ": " + std::string(detail::kAskOwner));
    detail::MigrateAs(*db, target);
  }
  auto archive = std::make_unique<detail::SqlArchive>(std::move(db));
  if (found < target && target >= 3) detail::LogMigration(*archive, found, target, options.actor);
  return archive;
}

std::vector<std::string> GrantStatements(ArchiveRole role, std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  quoted += '"';
  std::vector<std::string> grants = {
      "GRANT USAGE ON SCHEMA public TO " + quoted,
      "GRANT SELECT ON ALL TABLES IN SCHEMA public TO " + quoted,
      "ALTER DEFAULT PRIVILEGES IN SCHEMA public GRANT SELECT ON TABLES TO " + quoted,
  };
  if (role == ArchiveRole::kStation) {
    // Filing adds rows everywhere and updates only what a later download
    // extends or a re-filing changes; nothing is ever deleted, and the
    // audit log is only added to.
    grants.push_back("GRANT INSERT ON devices, patients, studies, recordings, readings, spo2_samples, audit_log TO " +
                     quoted);
    grants.push_back("GRANT UPDATE ON patients, studies, recordings TO " + quoted);
    grants.push_back("GRANT USAGE ON ALL SEQUENCES IN SCHEMA public TO " + quoted);
  } else {
    // What the review adds and nothing else: the physician's inputs, the
    // signatures, the audit log, and the state of a study reviewed or
    // signed. No reading, recording or patient: the database refuses what
    // a signature does not allow on top of that, to every role.
    grants.push_back("GRANT INSERT ON reviews, signatures, audit_log TO " + quoted);
    grants.push_back("GRANT UPDATE (state) ON studies TO " + quoted);
    grants.push_back("GRANT USAGE ON SEQUENCE reviews_id_seq, signatures_id_seq, audit_log_id_seq TO " + quoted);
  }
  return grants;
}

MigrateResult Archive::Migrate(const Location& location, const Actor& actor) {
  std::unique_ptr<detail::Connection> db = detail::Connect(location, true);
  MigrateResult result;
  result.to = LatestVersion();
  result.from = detail::MigrateAs(*db, result.to);
  if (result.from < result.to) {
    detail::SqlArchive archive(std::move(db));
    detail::LogMigration(archive, result.from, result.to, actor);
  }
  return result;
}

}  // namespace bplink::archive
