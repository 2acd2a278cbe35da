// Filing downloads and reading them back, the same for both engines.

#include <bplink/archive/archive.h>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <sstream>

#include "connection.h"
#include "schema.h"

namespace bplink::archive {
namespace {

using detail::Connection;
using detail::Row;
using detail::ToInt;
using detail::Value;

// A time the device did not give (all zero) is stored as "".
std::string TimeText(const CalendarTime& t) { return IsValidTime(t) ? report::FormatLocalTime(t) : ""; }

CalendarTime TimeFrom(const std::optional<std::string>& cell) {
  return cell ? report::ParseLocalTime(*cell).value_or(CalendarTime{}) : CalendarTime{};
}

CalendarTime RecordTime(const _BP_RECORD& r) { return {r.nYear, r.wMonth, r.wDay, r.wHour, r.wMinute, r.wSecond}; }

// The set or store a recording was filed from, named by its data mode.
std::string SetLabel(int mode) {
  if (mode >= DATAMODE_ZONE1 && mode <= DATAMODE_ZONE3) return "store " + std::to_string(mode - DATAMODE_ZONE1 + 1);
  return mode == DATAMODE_BP_SET2 ? "set 2" : "set 1";
}

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

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

Value Optional(const std::optional<double>& v) { return v ? Value(*v) : Value(nullptr); }

// A record's note. No family's transfer fills one today; should one, a
// character beyond ASCII is kept as '?'.
std::string NoteText(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

// The user this process runs as, by name; the number where the system
// names none.
std::string OsUser() {
#ifdef _WIN32
  const char* name = std::getenv("USERNAME");
  return name ? name : "";
#else
  const passwd* user = getpwuid(geteuid());
  return user != nullptr && user->pw_name != nullptr ? user->pw_name : std::to_string(geteuid());
#endif
}

class SqlArchive : public Archive {
 public:
  explicit SqlArchive(std::unique_ptr<Connection> db) : db_(std::move(db)) {}

  StoreResult Store(const Download& download) override {
    db_->Begin();
    try {
      StoreResult result = StoreAll(download);
      db_->Commit();
      return result;
    } catch (...) {
      db_->Rollback();
      throw;
    }
  }

  History Query(const Filter& filter) override {
    History history;
    const std::string to = filter.to.empty() ? "" : filter.to + "T99";
    std::string pattern = "%";  // built in steps: GCC 12 warns falsely on "%" + string
    pattern += Lower(filter.patient);
    pattern += '%';
    const auto rows = db_->Query(
        "SELECT r.id, r.device_id, r.patient_id, r.set_mode, r.start_time, r.end_time, r.complete, "
        "r.downloaded_at, r.station, "
        "(SELECT COUNT(*) FROM readings x WHERE x.recording_id = r.id), "
        "(SELECT COUNT(*) FROM spo2_samples s WHERE s.recording_id = r.id) "
        "FROM recordings r JOIN patients p ON p.id = r.patient_id JOIN devices d ON d.id = r.device_id "
        "WHERE ($1 = '' OR CAST(p.id AS TEXT) = $1 OR lower(p.texts) LIKE $2 OR lower(p.label) LIKE $2) "
        "AND ($3 = '' OR CAST(d.id AS TEXT) = $3 OR lower(d.family) = $3 OR lower(d.label) = $3) "
        "AND ($4 = '' OR r.end_time >= $4) AND ($5 = '' OR r.start_time <= $5) "
        "ORDER BY r.start_time, r.id",
        {filter.patient, pattern, Lower(filter.device), filter.from, to});
    std::map<std::int64_t, PatientEntry> patients;
    std::map<std::int64_t, DeviceEntry> devices;
    for (const Row& row : rows) {
      RecordingEntry r = RecordingOf(row);
      PatientEntry& p = patients[r.patient_id];
      if (p.id == 0) p = LoadPatient(r.patient_id);
      ++p.recordings, p.readings += r.readings;
      DeviceEntry& d = devices[r.device_id];
      if (d.id == 0) d = LoadDevice(r.device_id);
      ++d.recordings, d.readings += r.readings;
      history.recordings.push_back(std::move(r));
    }
    for (auto& [id, p] : patients) history.patients.push_back(std::move(p));
    for (auto& [id, d] : devices) history.devices.push_back(std::move(d));
    return history;
  }

  StoredRecording Load(std::int64_t id) override {
    const auto rows = db_->Query(
        "SELECT r.id, r.device_id, r.patient_id, r.set_mode, r.start_time, r.end_time, r.complete, "
        "r.downloaded_at, r.station, "
        "(SELECT COUNT(*) FROM readings x WHERE x.recording_id = r.id), "
        "(SELECT COUNT(*) FROM spo2_samples s WHERE s.recording_id = r.id), "
        "r.plan_day_start, r.plan_day_interval, r.plan_night_start, r.plan_night_interval "
        "FROM recordings r WHERE r.id = $1",
        {id});
    if (rows.empty())
      throw ArchiveError("the archive holds no recording " + std::to_string(id) + " (bplink history lists them)");
    StoredRecording stored;
    stored.entry = RecordingOf(rows[0]);
    stored.device = LoadDevice(stored.entry.device_id);
    stored.patient = LoadPatient(stored.entry.patient_id);
    report::Recording& recording = stored.recording;
    recording.source = "archive recording " + std::to_string(id);
    recording.patient = stored.patient.texts;
    recording.device = report::DescribeDevice(stored.device.device);
    recording.set_label = SetLabel(stored.entry.set_mode);
    if (rows[0][11]) {
      recording.plan = report::PlanPeriods{static_cast<int>(ToInt(rows[0][11])), static_cast<int>(ToInt(rows[0][12])),
                                           static_cast<int>(ToInt(rows[0][13])), static_cast<int>(ToInt(rows[0][14]))};
    }
    LoadReadings(id, stored);
    LoadSamples(id, stored);
    return stored;
  }

  Engine engine() const override { return db_->engine(); }

  std::string User() override {
    if (db_->engine() == Engine::kSqlite) return OsUser();
    const auto rows = db_->Query("SELECT session_user");
    return rows.empty() || !rows[0][0] ? std::string() : *rows[0][0];
  }

 private:
  StoreResult StoreAll(const Download& download) {
    StoreResult result;
    const tag_SUPPORT_PROTOCOL& device = download.device;
    const std::vector<Value> device_key = {download.family, std::int64_t{device.nDeviceType},
                                           std::int64_t{device.nProtocol}, std::int64_t{device.nVariant},
                                           std::int64_t{device.nVersion}, download.device_label};
    const std::int64_t device_id = Upsert(
        "INSERT INTO devices (family, device_type, protocol, variant, version, label) "
        "VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT DO NOTHING",
        "SELECT id FROM devices WHERE family = $1 AND device_type = $2 AND protocol = $3 AND variant = $4 "
        "AND version = $5 AND label = $6",
        device_key);

    std::optional<std::int64_t> patient_id;
    bool first = true;
    for (const DownloadedSet& s : download.sets) {
      const _SPO2_DATASET* spo2 = first ? download.spo2 : nullptr;
      first = false;
      if (!s.set || s.set->vecRecords.empty()) continue;
      // The derived values are the report's: one rule for what a record means.
      const report::Recording derived = report::RecordingFromDownload(
          *s.set, download.plan, spo2, report::DescribeDevice(device));
      if (!patient_id) {
        const std::vector<Value> key = {Joined(derived.patient), download.patient_label};
        patient_id = Upsert("INSERT INTO patients (texts, label) VALUES ($1, $2) ON CONFLICT DO NOTHING",
                            "SELECT id FROM patients WHERE texts = $1 AND label = $2", key);
      }
      const std::int64_t recording_id = FileRecording(download, s, derived, device_id, *patient_id);
      result.readings += static_cast<std::int64_t>(s.set->vecRecords.size());
      result.new_readings += InsertReadings(*s.set, derived, s.mode, device_id, recording_id);
      if (spo2) {
        for (std::size_t i = 0; i < derived.spo2.size(); ++i) {
          ++result.samples;
          result.new_samples += db_->Execute(
              "INSERT INTO spo2_samples (recording_id, device_id, time, raw_offset, spo2, pulse) "
              "VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT DO NOTHING",
              {recording_id, device_id, TimeText(derived.spo2[i].time),
               std::int64_t{spo2->vecRecords[i].nTimeOffset}, std::int64_t{derived.spo2[i].spo2},
               std::int64_t{derived.spo2[i].pulse}});
        }
      }
      // A recording whose every reading the archive held already under
      // another (the same readings with a new patient label, say) is not
      // filed empty.
      if (db_->Execute("DELETE FROM recordings WHERE id = $1 "
                       "AND NOT EXISTS (SELECT 1 FROM readings WHERE recording_id = $1) "
                       "AND NOT EXISTS (SELECT 1 FROM spo2_samples WHERE recording_id = $1)",
                       {recording_id}) == 0)
        result.recordings.push_back(recording_id);
    }
    return result;
  }

  // A row known by its unique key: inserted unless there, then its id.
  std::int64_t Upsert(std::string_view insert, std::string_view select, const std::vector<Value>& key) {
    db_->Execute(insert, key);
    const auto rows = db_->Query(select, key);
    if (rows.empty()) throw ArchiveError("the archive lost a row it had just written");
    return ToInt(rows[0][0]);
  }

  std::int64_t FileRecording(const Download& download, const DownloadedSet& s, const report::Recording& derived,
                             std::int64_t device_id, std::int64_t patient_id) {
    std::string start, end;
    for (const auto& r : derived.readings) {
      const std::string t = TimeText(r.time);
      if (t.empty()) continue;
      if (start.empty() || t < start) start = t;
      if (t > end) end = t;
    }
    const auto& plan = derived.plan;
    auto period = [&plan](int report::PlanPeriods::*member) {
      return plan ? Value(std::int64_t{(*plan).*member}) : Value(nullptr);
    };
    // A later download of the same recording extends its end and, once one
    // arrived whole, marks it complete.
    const auto rows = db_->Query(
        "INSERT INTO recordings (device_id, patient_id, set_mode, start_time, end_time, complete, plan_day_start, "
        "plan_day_interval, plan_night_start, plan_night_interval, downloaded_at, station) "
        "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12) "
        "ON CONFLICT (device_id, patient_id, set_mode, start_time) DO UPDATE SET "
        "end_time = CASE WHEN excluded.end_time > recordings.end_time THEN excluded.end_time "
        "ELSE recordings.end_time END, "
        "complete = CASE WHEN excluded.complete = 1 THEN 1 ELSE recordings.complete END "
        "RETURNING id",
        {device_id, patient_id, std::int64_t{s.mode}, start, end, std::int64_t{download.complete ? 1 : 0},
         period(&report::PlanPeriods::day_start), period(&report::PlanPeriods::day_interval),
         period(&report::PlanPeriods::night_start), period(&report::PlanPeriods::night_interval),
         TimeText(download.downloaded_at), download.station});
    return ToInt(rows.at(0)[0]);
  }

  // Many rows to a statement: a round trip to a PostgreSQL server costs far
  // more than a row. A row already there is skipped by its unique key, and
  // what the statement inserted is what was new.
  std::int64_t InsertReadings(const _BP_DATASET& set, const report::Recording& derived, int mode,
                              std::int64_t device_id, std::int64_t recording_id) {
    constexpr std::size_t kRowsPerStatement = 200;
    constexpr std::size_t kColumns = 22;
    std::int64_t inserted = 0;
    for (std::size_t first = 0; first < set.vecRecords.size(); first += kRowsPerStatement) {
      const std::size_t rows = std::min(kRowsPerStatement, set.vecRecords.size() - first);
      std::string sql =
          "INSERT INTO readings (recording_id, device_id, set_mode, time, raw_sys, raw_press2, raw_press3, "
          "raw_pulse, raw_valid, raw_status, raw_flags_low, raw_flags_high, raw_aux1, raw_aux2, raw_aux3, "
          "raw_minute_offset, note, systolic, diastolic, map, pulse, valid) VALUES ";
      std::vector<Value> params;
      params.reserve(rows * kColumns);
      for (std::size_t i = first; i < first + rows; ++i) {
        sql += i == first ? "(" : ", (";
        for (std::size_t c = 0; c < kColumns; ++c)
          sql += (c ? ", $" : "$") + std::to_string(params.size() + c + 1);
        sql += ")";
        const _BP_RECORD& r = set.vecRecords[i];
        const report::Reading& d = derived.readings[i];
        params.insert(params.end(),
                      {recording_id, device_id, std::int64_t{mode}, TimeText(RecordTime(r)), std::int64_t{r.nSys},
                       std::int64_t{r.wPress2}, std::int64_t{r.wPress3}, std::int64_t{r.wPulseRate},
                       std::int64_t{r.bValid}, std::int64_t{r.wStatus}, std::int64_t{r.byFlagsLow},
                       std::int64_t{r.wFlagsHigh}, std::int64_t{r.wAux1}, std::int64_t{r.wAux2},
                       std::int64_t{r.nAux3}, std::int64_t{r.nMinuteOffset}, NoteText(r.strNote), d.sys, d.dia,
                       Optional(d.map), Optional(d.pulse), std::int64_t{d.device_valid ? 1 : 0}});
      }
      inserted += db_->Execute(sql + " ON CONFLICT DO NOTHING", params);
    }
    return inserted;
  }

  static RecordingEntry RecordingOf(const Row& row) {
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
    return r;
  }

  PatientEntry LoadPatient(std::int64_t id) {
    const auto rows = db_->Query("SELECT texts, label FROM patients WHERE id = $1", {id});
    PatientEntry p;
    p.id = id;
    p.texts = Lines(rows.at(0)[0].value_or(""));
    p.label = rows.at(0)[1].value_or("");
    return p;
  }

  DeviceEntry LoadDevice(std::int64_t id) {
    const auto rows = db_->Query(
        "SELECT family, device_type, protocol, variant, version, label FROM devices WHERE id = $1", {id});
    const Row& row = rows.at(0);
    DeviceEntry d;
    d.id = id;
    d.family = row[0].value_or("");
    d.device.nDeviceType = static_cast<int>(ToInt(row[1]));
    d.device.nProtocol = static_cast<int>(ToInt(row[2]));
    d.device.nVariant = static_cast<int>(ToInt(row[3]));
    d.device.nVersion = static_cast<int>(ToInt(row[4]));
    d.label = row[5].value_or("");
    return d;
  }

  void LoadReadings(std::int64_t id, StoredRecording& stored) {
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

  void LoadSamples(std::int64_t id, StoredRecording& stored) {
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

  std::unique_ptr<Connection> db_;
};

}  // namespace

int SchemaVersion() { return detail::LatestVersion(); }

std::unique_ptr<Archive> Archive::Open(const Location& location, int schema_version) {
  std::unique_ptr<Connection> db = location.engine == Engine::kSqlite ? detail::OpenSqlite(location.target)
                                                                      : detail::OpenPostgres(location.target);
  detail::Migrate(*db, std::min(schema_version, detail::LatestVersion()));
  return std::make_unique<SqlArchive>(std::move(db));
}

}  // namespace bplink::archive
