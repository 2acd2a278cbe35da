// Filing a download: each reading once, under the study it was taken in.
//
// A reading is known by what the device stores (its device, its set, its
// time and values), whichever data mode brought it. A reading the archive
// holds already stays where it is filed. A new one goes to the study of its
// device that was hooked up last before the reading was taken; one that no
// hooked-up study covers continues the recording the reading before it was
// filed in, when that recording is of the same patient, or else opens a
// study from the device's own patient texts and the label the user added.

#include <bplink/archive/labels.h>

#include <algorithm>
#include <limits>
#include <map>
#include <set>
#include <tuple>

#include "sql_archive.h"

namespace bplink::archive::detail {
namespace {

CalendarTime RecordTime(const _BP_RECORD& r) { return {r.nYear, r.wMonth, r.wDay, r.wHour, r.wMinute, r.wSecond}; }

// What makes a reading the one it is within its device and set: the same as
// the readings table's unique key.
using ReadingKey = std::tuple<std::string, std::int64_t, std::int64_t, std::int64_t, std::int64_t, std::int64_t>;

ReadingKey KeyOf(const _BP_RECORD& r) {
  return {TimeText(RecordTime(r)), r.nSys, r.wPress2, r.wPress3, r.wPulseRate, r.wStatus};
}

Value Optional(const std::optional<double>& v) { return v ? Value(*v) : Value(nullptr); }

// A record's note. No family's transfer fills one today; should one, a
// character beyond ASCII is kept as '?'.
std::string NoteText(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::string Quoted(const std::string& text) {
  const bool plain = !text.empty() && text.find_first_of(" '\"\\$`!&;|<>()*?") == std::string::npos;
  if (plain) return text;
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A study hooked up on the device: it covers the readings taken from its
// hook-up until the next one's.
struct Window {
  std::int64_t study = 0;
  std::string hooked_up_at;
  std::int64_t patient = 0;
};

}  // namespace

// Where one new reading goes, and what a new recording there starts with.
struct SqlArchive::SetFiling {
  std::int64_t study = 0;                 // 0: the study is made when the first reading needs it
  std::int64_t recording = 0;
  std::vector<std::size_t> readings;      // indices into the set
  std::string first_time;                 // of those readings
};

std::int64_t SqlArchive::OpenDownloadedStudy(std::int64_t patient, std::int64_t device, const Actor& actor,
                                             std::vector<std::pair<std::string, Value>> details) {
  const std::int64_t study =
      ToInt(db_->Query("INSERT INTO studies (patient_id, device_id, state, opened_at, station, os_user, db_role) "
                       "VALUES ($1, $2, 'downloaded', $3, $4, $5, $6) RETURNING id",
                       {patient, device, TimeText(actor.at), actor.station, actor.user, db_->Role()})
                .at(0)[0]);
  details.insert(details.begin(), {{"opened_by", "download"}, {"device", device}});
  Log("open-study", actor, study, 0, patient, DetailsJson(details));
  return study;
}

void SqlArchive::FileSet(const Download& download, const DownloadedSet& s, const _SPO2_DATASET* spo2,
                         std::int64_t device_id, const Actor& actor, Filing& filing, StoreResult& result) {
  const int mode = SetOf(s.mode);
  const auto& records = s.set->vecRecords;
  // The derived values are the report's: one rule for what a record means.
  const report::Recording derived =
      report::RecordingFromDownload(*s.set, download.plan, spo2, report::DescribeDevice(download.device));

  std::vector<std::string> times;
  std::string earliest, latest;
  bool undated = false;
  for (const auto& r : records) {
    times.push_back(TimeText(RecordTime(r)));
    undated = undated || times.back().empty();
    if (times.back().empty()) continue;
    if (earliest.empty() || times.back() < earliest) earliest = times.back();
    latest = std::max(latest, times.back());
  }
  // The readings of the device and set in the download's time span: a range
  // of the readings' unique index, however many the archive holds.
  std::map<ReadingKey, std::int64_t> filed;
  const auto read_filed = [&](const std::string& from, const std::string& to) {
    for (const Row& row : db_->Query(
             "SELECT r.time, r.raw_sys, r.raw_press2, r.raw_press3, r.raw_pulse, r.raw_status, r.recording_id, "
             "c.study_id, c.patient_id FROM readings r JOIN recordings c ON c.id = r.recording_id "
             "WHERE r.device_id = $1 AND r.set_mode = $2 AND r.time >= $3 AND r.time <= $4",
             {device_id, std::int64_t{mode}, from, to})) {
      filed[{row[0].value_or(""), ToInt(row[1]), ToInt(row[2]), ToInt(row[3]), ToInt(row[4]), ToInt(row[5])}] =
          ToInt(row[6]);
      filing.recordings[ToInt(row[6])] = {ToInt(row[7]), ToInt(row[8])};
    }
  };
  if (!earliest.empty()) read_filed(earliest, latest);
  if (undated) read_filed("", "");
  std::vector<Window> windows;
  for (const Row& row : db_->Query("SELECT id, hooked_up_at, patient_id FROM studies WHERE device_id = $1 "
                                   "AND hooked_up_at IS NOT NULL AND hooked_up_at <> '' ORDER BY hooked_up_at, id",
                                   {device_id}))
    windows.push_back({ToInt(row[0]), row[1].value_or(""), ToInt(row[2])});

  // Each reading: the recording it is filed in, or the study it belongs in
  // (0: none hooked up before it). An undated reading goes with the one
  // before it.
  std::vector<std::int64_t> in_recording(records.size(), 0), in_study(records.size(), 0);
  std::set<std::int64_t> touched_recordings;
  std::int64_t window_before = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (const auto found = filed.find(KeyOf(records[i])); found != filed.end()) {
      in_recording[i] = found->second;
      touched_recordings.insert(found->second);
      continue;
    }
    if (!times[i].empty()) {
      window_before = 0;
      for (const Window& w : windows)
        if (w.hooked_up_at <= times[i]) window_before = w.study;
    }
    in_study[i] = window_before;
  }

  // A label given that names another patient than the one the readings are
  // filed under, or the study they belong in, is refused whole.
  if (!download.patient_label.empty()) {
    std::string conflicts, commands;
    std::vector<std::int64_t> recordings;
    std::set<std::int64_t> studies_named;
    for (const std::int64_t r : touched_recordings) {
      const Filing::Place& place = filing.recordings.at(r);
      if (AnswersTo(place.patient, download.patient_label)) continue;
      recordings.push_back(r);
      conflicts += "; recording " + std::to_string(r) + " holds them under " + Describe(place.patient);
      if (studies_named.insert(place.study).second)
        commands += "\n  bplink archive move " + std::to_string(r) + " --patient-label " + Quoted(download.patient_label);
    }
    for (const Window& w : windows) {
      const bool used = std::find(in_study.begin(), in_study.end(), w.study) != in_study.end();
      if (!used || AnswersTo(w.patient, download.patient_label) || !studies_named.insert(w.study).second) continue;
      conflicts += "; readings taken from " + w.hooked_up_at + " belong to study " + std::to_string(w.study) +
                   ", hooked up for " + Describe(w.patient);
    }
    if (!conflicts.empty())
      throw FilingConflict(
          "nothing was filed: this download names the patient '" + download.patient_label + "'" + conflicts +
              (commands.empty() ? "" : ". If '" + download.patient_label + "' is right, re-file with:" + commands) +
              (commands.empty() ? ". Download without --patient-label to file them under their study; "
                                  "bplink archive move re-files a study"
                                : ""),
          recordings);
  }

  // The new readings, grouped by where they go.
  std::map<std::int64_t, SetFiling> by_study;  // key: the study, or 0 for readings no hooked-up study covers
  std::int64_t before_first_free = 0;          // the recording of the filed reading before the first such one
  std::int64_t last_filed = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (in_recording[i] != 0) {
      last_filed = in_recording[i];
      continue;
    }
    SetFiling& f = by_study[in_study[i]];
    if (in_study[i] == 0 && f.readings.empty()) before_first_free = last_filed;
    f.study = in_study[i];
    f.readings.push_back(i);
    if (!times[i].empty() && (f.first_time.empty() || times[i] < f.first_time)) f.first_time = times[i];
  }

  // When the plan the device holds went to it: it bounds readings no
  // hooked-up study covers only where no study was hooked up on the device
  // after them (whose upload would have put that plan there).
  const std::string device_plan_start =
      download.plan && report::PlanStartBounds(mode) && report::PlanStart(*download.plan)
          ? TimeText(*report::PlanStart(*download.plan))
          : "";
  for (auto& [study_key, f] : by_study) {
    std::string plan_json = download.plan_json;
    std::optional<report::PlanPeriods> periods = derived.plan;
    std::string plan_start = device_plan_start;
    if (std::any_of(windows.begin(), windows.end(), [&f](const Window& w) { return w.hooked_up_at > f.first_time; }))
      plan_start.clear();
    std::int64_t patient = 0;
    if (f.study != 0) {
      const auto row = db_->Query("SELECT patient_id, plan, plan_day_start, plan_day_interval, plan_night_start, "
                                  "plan_night_interval FROM studies WHERE id = $1",
                                  {f.study})
                           .at(0);
      patient = ToInt(row[0]);
      // Its readings were taken from its hook-up, on the plan it was hooked
      // up with, whatever the device holds now.
      plan_start.clear();
      for (const Window& w : windows)
        if (w.study == f.study && report::PlanStartBounds(mode)) plan_start = w.hooked_up_at;
      if (row[1]) {
        plan_json = *row[1];
        periods = row[2] ? std::optional(report::PlanPeriods{static_cast<int>(ToInt(row[2])),
                                                             static_cast<int>(ToInt(row[3])),
                                                             static_cast<int>(ToInt(row[4])),
                                                             static_cast<int>(ToInt(row[5]))})
                         : std::nullopt;
      }
    } else {
      patient = PatientByTexts(derived.patient, download.patient_label);
      const auto before =
          before_first_free == 0
              ? std::vector<Row>{}
              : db_->Query("SELECT r.patient_id, r.study_id FROM recordings r JOIN studies s ON s.id = r.study_id "
                           "WHERE r.id = $1 AND (s.hooked_up_at IS NULL OR s.hooked_up_at = '') AND NOT EXISTS "
                           "(SELECT 1 FROM signatures g WHERE g.recording_id = r.id)",
                           {before_first_free});
      if (!before.empty() && ToInt(before[0][0]) == patient) {
        f.recording = before_first_free;
        f.study = ToInt(before[0][1]);
        filing.opened.emplace(patient, f.study);  // the download's other sets join it
      } else if (const auto same = filing.opened.find(patient); same != filing.opened.end()) {
        f.study = same->second;  // another set of this download opened it
      } else {
        f.study = OpenDownloadedStudy(patient, device_id, actor, {});
        filing.opened[patient] = f.study;
      }
    }
    if (f.recording == 0) {
      const auto existing = db_->Query("SELECT id, EXISTS (SELECT 1 FROM signatures g WHERE g.recording_id = r.id) "
                                       "FROM recordings r WHERE study_id = $1 AND set_mode = $2",
                                       {f.study, std::int64_t{mode}});
      if (!existing.empty() && (existing[0][1] == "1" || existing[0][1] == "t")) {
        // A signed recording keeps the readings it was signed on: readings
        // of its study that arrive after it was signed are a study of their
        // own, for the same patient, which later downloads go on filling.
        const std::int64_t signed_study = f.study;
        std::string hooked_up_at;
        for (const Window& w : windows)
          if (w.study == signed_study) hooked_up_at = w.hooked_up_at;
        const auto after = db_->Query(
            "SELECT s.id, r.id FROM studies s JOIN recordings r ON r.study_id = s.id WHERE s.device_id = $1 "
            "AND s.patient_id = $2 AND (s.hooked_up_at IS NULL OR s.hooked_up_at = '') AND r.set_mode = $3 "
            "AND r.start_time >= $4 AND NOT EXISTS (SELECT 1 FROM signatures g WHERE g.recording_id = r.id) "
            "ORDER BY s.id DESC",
            {device_id, patient, std::int64_t{mode}, hooked_up_at});
        if (!after.empty()) {
          f.study = ToInt(after[0][0]);
          f.recording = ToInt(after[0][1]);
        } else {
          f.study = OpenDownloadedStudy(patient, device_id, actor, {{"after_signed_study", signed_study}});
        }
      } else if (!existing.empty()) {
        f.recording = ToInt(existing[0][0]);
      }
    }
    if (f.recording == 0) {
      auto period = [&periods](int report::PlanPeriods::*member) {
        return periods ? Value(std::int64_t{(*periods).*member}) : Value(nullptr);
      };
      f.recording = ToInt(
          db_->Query("INSERT INTO recordings (device_id, patient_id, set_mode, start_time, end_time, complete, "
                     "plan_day_start, plan_day_interval, plan_night_start, plan_night_interval, downloaded_at, station, "
                     "study_id, plan, plan_start) VALUES ($1, $2, $3, $4, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, "
                     "$14) RETURNING id",
                     {device_id, patient, std::int64_t{mode}, f.first_time, std::int64_t{download.complete ? 1 : 0},
                      period(&report::PlanPeriods::day_start), period(&report::PlanPeriods::day_interval),
                      period(&report::PlanPeriods::night_start), period(&report::PlanPeriods::night_interval),
                      TimeText(download.downloaded_at), actor.station, f.study,
                      plan_json.empty() ? Value(nullptr) : Value(plan_json),
                      plan_start.empty() ? Value(nullptr) : Value(plan_start)})
              .at(0)[0]);
    }
    for (const std::size_t i : f.readings) in_recording[i] = f.recording;
    touched_recordings.insert(f.recording);
    filing.recordings[f.recording] = {f.study, patient};
  }

  // Many rows to a statement: a round trip to a PostgreSQL server costs far
  // more than a row. A row already there (another station's, filed a moment
  // ago) is skipped by its unique key, and what the statements inserted is
  // what was new.
  constexpr std::size_t kRowsPerStatement = 200;
  constexpr std::size_t kColumns = 22;
  std::vector<std::size_t> fresh;
  for (const auto& [study_key, f] : by_study) fresh.insert(fresh.end(), f.readings.begin(), f.readings.end());
  for (std::size_t first = 0; first < fresh.size(); first += kRowsPerStatement) {
    const std::size_t rows = std::min(kRowsPerStatement, fresh.size() - first);
    std::string sql =
        "INSERT INTO readings (recording_id, device_id, set_mode, time, raw_sys, raw_press2, raw_press3, "
        "raw_pulse, raw_valid, raw_status, raw_flags_low, raw_flags_high, raw_aux1, raw_aux2, raw_aux3, "
        "raw_minute_offset, note, systolic, diastolic, map, pulse, valid) VALUES ";
    std::vector<Value> params;
    params.reserve(rows * kColumns);
    for (std::size_t n = first; n < first + rows; ++n) {
      sql += n == first ? "(" : ", (";
      for (std::size_t c = 0; c < kColumns; ++c) sql += (c ? ", $" : "$") + std::to_string(params.size() + c + 1);
      sql += ")";
      const std::size_t i = fresh[n];
      const _BP_RECORD& r = records[i];
      const report::Reading& d = derived.readings[i];
      params.insert(params.end(),
                    {in_recording[i], device_id, std::int64_t{mode}, times[i], std::int64_t{r.nSys},
                     std::int64_t{r.wPress2}, std::int64_t{r.wPress3}, std::int64_t{r.wPulseRate},
                     std::int64_t{r.bValid}, std::int64_t{r.wStatus}, std::int64_t{r.byFlagsLow},
                     std::int64_t{r.wFlagsHigh}, std::int64_t{r.wAux1}, std::int64_t{r.wAux2}, std::int64_t{r.nAux3},
                     std::int64_t{r.nMinuteOffset}, NoteText(r.strNote), d.sys, d.dia, Optional(d.map),
                     Optional(d.pulse), std::int64_t{d.device_valid ? 1 : 0}});
    }
    result.new_readings += db_->Execute(sql + " ON CONFLICT DO NOTHING", params);
  }
  result.readings += static_cast<std::int64_t>(records.size());

  // SpO2 samples are taken beside the readings: each goes with the recording
  // of the reading taken last before it.
  if (spo2) {
    std::vector<std::pair<std::string, std::int64_t>> by_time;
    for (std::size_t i = 0; i < records.size(); ++i)
      if (!times[i].empty()) by_time.emplace_back(times[i], in_recording[i]);
    std::sort(by_time.begin(), by_time.end());
    for (std::size_t i = 0; i < derived.spo2.size(); ++i) {
      const std::string t = TimeText(derived.spo2[i].time);
      auto after = std::upper_bound(by_time.begin(), by_time.end(), std::pair(t, std::numeric_limits<std::int64_t>::max()));
      const std::int64_t recording =
          after != by_time.begin() ? std::prev(after)->second : by_time.empty() ? in_recording[0] : by_time[0].second;
      ++result.samples;
      result.new_samples += db_->Execute(
          "INSERT INTO spo2_samples (recording_id, device_id, time, raw_offset, spo2, pulse) "
          "VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT DO NOTHING",
          {recording, device_id, t, std::int64_t{spo2->vecRecords[i].nTimeOffset},
           std::int64_t{derived.spo2[i].spo2}, std::int64_t{derived.spo2[i].pulse}});
    }
  }

  // A recording's span grows by the readings filed in it now (counted from
  // them, not from all it holds: a home monitor's recording grows for years).
  for (const auto& [study_key, f] : by_study) {
    std::string first_time, last_time;
    for (const std::size_t i : f.readings) {
      if (times[i].empty()) continue;
      if (first_time.empty() || times[i] < first_time) first_time = times[i];
      last_time = std::max(last_time, times[i]);
    }
    db_->Execute("UPDATE recordings SET "
                 "start_time = CASE WHEN $2 <> '' AND (start_time = '' OR $2 < start_time) THEN $2 ELSE start_time END, "
                 "end_time = CASE WHEN $3 > end_time THEN $3 ELSE end_time END WHERE id = $1",
                 {f.recording, first_time, last_time});
  }
  // A recording a download brought whole is complete; a later download of a
  // stopped one completes it.
  std::string ids;
  for (const std::int64_t r : touched_recordings) {
    ids += (ids.empty() ? "" : ", ") + std::to_string(r);
    result.recordings.push_back(r);
    result.studies.push_back(filing.recordings.at(r).study);
  }
  if (download.complete && !ids.empty())
    db_->Execute("UPDATE recordings SET complete = 1 WHERE complete = 0 AND id IN (" + ids +
                 ") AND NOT EXISTS (SELECT 1 FROM signatures g WHERE g.recording_id = recordings.id)");
}

StoreResult SqlArchive::Store(const Download& download, const Actor& actor, std::string_view action) {
  return InTransaction([&] {
    StoreResult result;
    const std::int64_t device_id = DeviceId({download.family, download.device, download.device_label});
    Filing filing;
    bool first = true;
    for (const DownloadedSet& s : download.sets) {
      const _SPO2_DATASET* spo2 = first ? download.spo2 : nullptr;
      first = false;
      if (s.set && !s.set->vecRecords.empty()) FileSet(download, s, spo2, device_id, actor, filing, result);
    }
    std::sort(result.studies.begin(), result.studies.end());
    result.studies.erase(std::unique(result.studies.begin(), result.studies.end()), result.studies.end());
    for (const std::int64_t study : result.studies) {
      // Its readings are in: a study still out on the patient is downloaded.
      if (download.complete)
        db_->Execute("UPDATE studies SET state = 'downloaded' WHERE id = $1 AND state IN ('prepared', 'recording')",
                     {study});
      std::string recordings;
      std::int64_t patient = 0;
      for (const auto& [recording, place] : filing.recordings)
        if (place.study == study && std::count(result.recordings.begin(), result.recordings.end(), recording)) {
          recordings += (recordings.empty() ? "" : ", ") + std::to_string(recording);
          patient = place.patient;
        }
      Log(action, actor, study, 0, patient,
          DetailsJson({{"device", device_id},
                       {"recordings", recordings},
                       {"readings", result.readings},
                       {"new_readings", result.new_readings},
                       {"spo2_samples", result.samples},
                       {"new_spo2_samples", result.new_samples},
                       {"complete", std::int64_t{download.complete ? 1 : 0}},
                       {"patient_label", download.patient_label},
                       {"device_label", download.device_label}}));
    }
    return result;
  });
}

}  // namespace bplink::archive::detail
