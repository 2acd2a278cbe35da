// Studies: opening one for a patient and device, hooking it up, finding a
// device's open study, the worklist; re-filing a study under another
// patient and merging two patients.

#include <bplink/archive/labels.h>

#include <map>
#include <set>

#include "sql_archive.h"

namespace bplink::archive::detail {
namespace {

constexpr std::string_view kStudyColumns =
    "s.id, s.patient_id, s.device_id, s.state, s.plan, s.hooked_up_at, s.opened_at, s.station, s.os_user, s.db_role";

}  // namespace

std::vector<StudyEntry> SqlArchive::StudiesOf(const std::vector<Row>& rows) {
  std::vector<StudyEntry> studies;
  std::map<std::int64_t, std::size_t> at;
  std::set<std::int64_t> ids;
  for (const Row& row : rows) {
    StudyEntry& s = studies.emplace_back();
    s.id = ToInt(row[0]);
    s.patient_id = ToInt(row[1]);
    s.device_id = ToInt(row[2]);
    s.state = ParseState(row[3].value_or("")).value_or(StudyState::kDownloaded);
    s.plan_json = row[4].value_or("");
    s.hooked_up_at = row[5].value_or("");
    s.opened_at = row[6].value_or("");
    s.station = row[7].value_or("");
    s.user = row[8].value_or("");
    s.db_role = row[9].value_or("");
    at[s.id] = studies.size() - 1;
    ids.insert(s.id);
  }
  // Every study's recordings in one query (one per few hundred studies):
  // a round trip per study is what a worklist on a server cannot afford.
  for (const std::string& list : InLists(ids)) {
    for (const Row& r : db_->Query("SELECT study_id, id, start_time, end_time, (SELECT COUNT(*) FROM readings x WHERE "
                                   "x.recording_id = r.id) FROM recordings r WHERE study_id IN (" +
                                   list + ") ORDER BY id")) {
      StudyEntry& s = studies[at.at(ToInt(r[0]))];
      s.recordings.push_back(ToInt(r[1]));
      const std::string start = r[2].value_or(""), end = r[3].value_or("");
      if (!start.empty() && (s.start.empty() || start < s.start)) s.start = start;
      if (end > s.end) s.end = end;
      s.readings += ToInt(r[4]);
    }
  }
  return studies;
}

StudyEntry SqlArchive::LoadStudy(std::int64_t id) {
  const auto rows = db_->Query("SELECT " + std::string(kStudyColumns) + " FROM studies s WHERE s.id = $1", {id});
  if (rows.empty()) throw NotFound("the archive holds no study " + std::to_string(id));
  return StudiesOf(rows).front();
}

StudyEntry SqlArchive::OpenStudy(const StudyRequest& request, const Actor& actor) {
  if (const std::string problem = report::CheckPatient(request.patient); !problem.empty())
    throw ArchiveError("the study's patient: " + problem);
  const std::int64_t study = InTransaction([&] {
    const std::int64_t device = DeviceId(request.device);
    const std::int64_t patient = PatientByIdentity(request.patient);
    const auto periods = PeriodsOf(request.plan);
    auto period = [&periods](int report::PlanPeriods::*member) {
      return periods ? Value(std::int64_t{(*periods).*member}) : Value(nullptr);
    };
    const Value plan = request.plan_json.empty() ? Value(nullptr) : Value(request.plan_json);
    // An upload that failed left its study prepared: trying again takes it up.
    const auto prepared = db_->Query("SELECT id FROM studies WHERE device_id = $1 AND patient_id = $2 "
                                     "AND state = 'prepared' ORDER BY id DESC",
                                     {device, patient});
    std::int64_t id = 0;
    if (!prepared.empty()) {
      id = ToInt(prepared[0][0]);
      db_->Execute("UPDATE studies SET plan = $2, plan_day_start = $3, plan_day_interval = $4, plan_night_start = $5, "
                   "plan_night_interval = $6 WHERE id = $1",
                   {id, plan, period(&report::PlanPeriods::day_start), period(&report::PlanPeriods::day_interval),
                    period(&report::PlanPeriods::night_start), period(&report::PlanPeriods::night_interval)});
    } else {
      id = ToInt(db_->Query("INSERT INTO studies (patient_id, device_id, state, plan, plan_day_start, plan_day_interval, "
                            "plan_night_start, plan_night_interval, opened_at, station, os_user, db_role) "
                            "VALUES ($1, $2, 'prepared', $3, $4, $5, $6, $7, $8, $9, $10, $11) RETURNING id",
                            {patient, device, plan, period(&report::PlanPeriods::day_start),
                             period(&report::PlanPeriods::day_interval), period(&report::PlanPeriods::night_start),
                             period(&report::PlanPeriods::night_interval), TimeText(actor.at), actor.station,
                             actor.user, db_->Role()})
                     .at(0)[0]);
    }
    Log("open-study", actor, id, 0, patient,
        DetailsJson({{"opened_by", "upload"},
                     {"device", device},
                     {"device_label", request.device.label},
                     {"patient_id", request.patient.id},
                     {"patient_system", request.patient.system}}));
    return id;
  });
  return LoadStudy(study);
}

StudyEntry SqlArchive::StartRecording(std::int64_t study, const Actor& actor) {
  InTransaction([&] {
    const StudyEntry s = LoadStudy(study);
    if (s.state != StudyState::kPrepared)
      throw ArchiveError("study " + std::to_string(study) + " is " + std::string(StateName(s.state)) +
                         ", not prepared: it was hooked up already");
    db_->Execute("UPDATE studies SET state = 'recording', hooked_up_at = $2 WHERE id = $1", {study, TimeText(actor.at)});
    Log("hook-up", actor, study, 0, s.patient_id, DetailsJson({{"hooked_up_at", TimeText(actor.at)}}));
    return 0;
  });
  return LoadStudy(study);
}

std::optional<StudyEntry> SqlArchive::OpenStudyOf(const DeviceIdentity& d) {
  const auto rows = db_->Query(
      "SELECT s.id FROM studies s JOIN devices d ON d.id = s.device_id WHERE d.family = $1 AND d.device_type = $2 "
      "AND d.protocol = $3 AND d.variant = $4 AND d.version = $5 AND d.label_key = $6 "
      "AND s.state IN ('prepared', 'recording') ORDER BY COALESCE(s.hooked_up_at, s.opened_at) DESC, s.id DESC",
      {d.family, std::int64_t{d.device.nDeviceType}, std::int64_t{d.device.nProtocol}, std::int64_t{d.device.nVariant},
       std::int64_t{d.device.nVersion}, LabelKey(d.label)});
  if (rows.empty()) return std::nullopt;
  return LoadStudy(ToInt(rows[0][0]));
}

std::vector<StudyEntry> SqlArchive::Worklist(const WorklistFilter& filter) {
  // A study's date: its readings' span, else when it was hooked up or opened.
  constexpr std::string_view kFirst =
      "COALESCE((SELECT MIN(start_time) FROM recordings r WHERE r.study_id = s.id AND r.start_time <> ''), "
      "s.hooked_up_at, s.opened_at)";
  constexpr std::string_view kLast =
      "COALESCE((SELECT MAX(end_time) FROM recordings r WHERE r.study_id = s.id AND r.end_time <> ''), "
      "s.hooked_up_at, s.opened_at)";
  std::vector<Value> params = FilterParams(filter.patient, filter.device, filter.from, filter.to);
  params.push_back(filter.state ? std::string(StateName(*filter.state)) : std::string());
  return StudiesOf(db_->Query("SELECT " + std::string(kStudyColumns) +
                                  " FROM studies s JOIN patients p ON p.id = s.patient_id JOIN devices d ON "
                                  "d.id = s.device_id WHERE " +
                                  std::string(kPatientAndDevice) + " AND ($5 = '' OR " + std::string(kLast) +
                                  " >= $5) AND ($6 = '' OR " + std::string(kFirst) +
                                  " <= $6) AND ($7 = '' OR s.state = $7) ORDER BY s.id",
                              params));
}

MoveResult SqlArchive::Move(std::int64_t recording, const PatientTarget& to, const Actor& actor) {
  return InTransaction([&] {
    const auto rows = db_->Query("SELECT study_id, patient_id FROM recordings WHERE id = $1", {recording});
    if (rows.empty())
      throw NotFound("the archive holds no recording " + std::to_string(recording) + " (bplink history lists them)");
    MoveResult moved;
    moved.study = ToInt(rows[0][0]);
    moved.from = ToInt(rows[0][1]);
    if (to.patient != 0) {
      LoadPatient(to.patient);  // throws when there is none
      moved.to = Standing(to.patient);
    } else {
      moved.to = PatientByTexts(LoadPatient(moved.from).texts, to.label);
    }
    if (moved.to == moved.from)
      throw ArchiveError("recording " + std::to_string(recording) + " is filed under " + Describe(moved.from) +
                         " already");
    db_->Execute("UPDATE studies SET patient_id = $2 WHERE id = $1", {moved.study, moved.to});
    db_->Execute("UPDATE recordings SET patient_id = $2 WHERE study_id = $1", {moved.study, moved.to});
    std::string list;
    for (const Row& r : db_->Query("SELECT id FROM recordings WHERE study_id = $1 ORDER BY id", {moved.study})) {
      moved.recordings.push_back(ToInt(r[0]));
      list += (list.empty() ? "" : ", ") + r[0].value_or("");
    }
    Log("move", actor, moved.study, recording, moved.to,
        DetailsJson({{"from_patient", moved.from}, {"to_patient", moved.to}, {"recordings", list},
                     {"from", Describe(moved.from)}, {"to", Describe(moved.to)}}));
    return moved;
  });
}

void SqlArchive::MergePatients(std::int64_t kept, std::int64_t merged, const Actor& actor) {
  InTransaction([&] {
    LoadPatient(kept);  // each throws when there is no such patient
    LoadPatient(merged);
    if (kept == merged) throw ArchiveError("patient " + std::to_string(kept) + " cannot be merged into itself");
    for (const std::int64_t p : {kept, merged})
      if (const std::int64_t standing = Standing(p); standing != p)
        throw ArchiveError("patient " + std::to_string(p) + " was merged into patient " + std::to_string(standing) +
                           " already; name " + std::to_string(standing) + " instead");
    const std::string from = Describe(merged), into = Describe(kept);
    const std::int64_t studies = db_->Execute("UPDATE studies SET patient_id = $1 WHERE patient_id = $2", {kept, merged});
    db_->Execute("UPDATE recordings SET patient_id = $1 WHERE patient_id = $2", {kept, merged});
    // The merged patient, and whoever was merged into it, stand for the kept one.
    db_->Execute("UPDATE patients SET merged_into = $1 WHERE id = $2 OR merged_into = $2", {kept, merged});
    // What the kept patient's record leaves empty, the merged one's fills.
    db_->Execute("UPDATE patients SET name = CASE WHEN name = '' THEN (SELECT name FROM patients m WHERE m.id = $2) "
                 "ELSE name END, birth_date = CASE WHEN birth_date = '' THEN (SELECT birth_date FROM patients m "
                 "WHERE m.id = $2) ELSE birth_date END, sex = CASE WHEN sex = '' THEN (SELECT sex FROM patients m "
                 "WHERE m.id = $2) ELSE sex END WHERE id = $1",
                 {kept, merged});
    Log("merge-patients", actor, 0, 0, kept,
        DetailsJson({{"kept", kept}, {"merged", merged}, {"studies", studies}, {"kept_was", into}, {"merged_was", from}}));
    return 0;
  });
}

}  // namespace bplink::archive::detail
