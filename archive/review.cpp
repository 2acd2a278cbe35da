// The physician's review and signature of a recording: the inputs kept with
// it, every signed version, the document a signature's hash is taken of,
// and the recording as its report is made from the archive. What a signed
// recording allows is the database's to refuse (SignedRules, schema.cpp);
// here a refusal gets the recording's number and the next step beside it.

#include <bplink/report/analysis.h>
#include <bplink/report/json_report.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "schema.h"
#include "sql_archive.h"

namespace bplink::archive {
namespace {

using nlohmann::json;

// A pressure or rate: a whole number where it is one, so the document does
// not depend on how a fraction is printed.
json Number(double value) {
  constexpr double kLargestExact = 1e15;
  if (value == std::floor(value) && std::fabs(value) < kLargestExact) return static_cast<std::int64_t>(value);
  return value;
}

json OptionalNumber(const std::optional<double>& value) { return value ? Number(*value) : json(nullptr); }

std::string VersionText(const SignatureRecord& s) {
  const report::SignedVersion& v = s.signed_version;
  return "version " + std::to_string(v.version) + ", signed by " + v.signer +
         (v.db_role.empty() ? "" : " (database role " + v.db_role + ")") + " on " + report::FormatLocalTime(v.signed_at);
}

}  // namespace

report::Signature ReviewState::AsSignature() const {
  report::Signature signature;
  for (const SignatureRecord& s : signatures) signature.versions.push_back(s.signed_version);
  signature.amending = amending;
  return signature;
}

std::string SignedContent(const StoredRecording& stored, const report::ReviewInputs& inputs) {
  const PatientEntry& p = stored.patient;
  const report::Recording& r = stored.recording;
  json readings = json::array();
  for (const report::Reading& reading : r.readings)
    readings.push_back({{"time", detail::TimeText(reading.time)},
                        {"sys", Number(reading.sys)},
                        {"dia", Number(reading.dia)},
                        {"map", OptionalNumber(reading.map)},
                        {"pulse", OptionalNumber(reading.pulse)},
                        {"valid", reading.device_valid}});
  json spo2 = json::array();
  for (const report::SpO2Sample& sample : r.spo2)
    spo2.push_back({{"time", detail::TimeText(sample.time)}, {"spo2", sample.spo2}, {"pulse", sample.pulse}});
  json plan = nullptr;
  if (r.plan)
    plan = {{"day_start", report::FormatClock(r.plan->day_start)}, {"day_interval", r.plan->day_interval},
            {"night_start", report::FormatClock(r.plan->night_start)}, {"night_interval", r.plan->night_interval}};
  const auto time_or_null = [](const std::optional<CalendarTime>& t) {
    return t ? json(detail::TimeText(*t)) : json(nullptr);
  };
  const tag_SUPPORT_PROTOCOL& d = stored.device.device;
  const json doc = {
      {"content", 1},
      {"recording", stored.entry.id},
      {"study", stored.entry.study_id},
      {"patient",
       {{"identifier", p.person.id}, {"system", p.person.system}, {"name", p.person.name},
        {"birth_date", p.person.birth_date}, {"sex", p.person.sex}, {"texts", p.texts}, {"label", p.label}}},
      {"device",
       {{"family", stored.device.family}, {"device_type", d.nDeviceType}, {"protocol", d.nProtocol},
        {"variant", d.nVariant}, {"version", d.nVersion}, {"label", stored.device.label}}},
      {"set_mode", stored.entry.set_mode},
      {"plan", plan},
      {"plan_start", time_or_null(r.plan_start)},
      {"downloaded_at", stored.entry.downloaded_at},
      {"complete", stored.entry.complete},
      {"readings", readings},
      {"spo2", spo2},
      {"review", report::ReviewToJson(inputs)},
  };
  return doc.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string Sha256Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1)
    throw ArchiveError("SHA-256 could not be computed (the system's OpenSSL library refused)");
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", digest[i]);
    hex += two;
  }
  return hex;
}

AuditEntry SentEntry(std::int64_t study, std::int64_t recording, const nlohmann::json& receipt) {
  AuditEntry entry;
  entry.action = kSentAction;
  entry.study = study;
  entry.recording = recording;
  entry.details = (receipt.is_object() ? receipt : json{{"receipt", receipt}})
                      .dump(-1, ' ', false, json::error_handler_t::replace);
  return entry;
}

report::Recording ReportableRecording(Archive& archive, std::int64_t id, const report::Profile& profile) {
  return ReportableRecording(archive, archive.Load(id), profile);
}

report::Recording ReportableRecording(Archive& archive, const StoredRecording& stored, const report::Profile& profile) {
  const std::int64_t id = stored.entry.id;
  const ReviewState state = archive.ReviewOf(id);
  report::Recording recording = stored.recording;
  if (state.review) recording.kept_review = state.review->inputs;
  if (!state.signatures.empty()) recording.signature = state.AsSignature();
  if (const auto previous = archive.PreviousRecording(id)) {
    const StoredRecording before = archive.Load(*previous);
    report::Recording earlier = before.recording;
    const ReviewState its = archive.ReviewOf(*previous);
    try {
      if (its.review) report::ApplyReview(earlier, its.review->inputs);
    } catch (const report::InputError&) {
      earlier = before.recording;  // its inputs were checked when stored: shown as filed, should they not fit
    }
    recording.previous = report::PreviousFromAnalysis(
        report::Analyse(std::move(earlier), profile, std::nullopt),
        "study " + std::to_string(before.entry.study_id) + " (recording " + std::to_string(*previous) + ")");
  }
  return recording;
}

namespace detail {
namespace {

Value OrNull(std::int64_t id) { return id == 0 ? Value(nullptr) : Value(id); }

// The inputs from how they are stored; they were checked when stored.
report::ReviewInputs InputsFrom(const std::optional<std::string>& text, std::int64_t review) {
  const json doc = json::parse(text.value_or("{}"), nullptr, false);
  return report::ReviewFromJson(doc.is_discarded() ? json::object() : doc, "the archive's review " + std::to_string(review));
}

// What changed from `before` to `after`, member by member: {"sleep":
// {"from": null, "to": "23:00-06:30"}, "exclusions": {"added": [...],
// "removed": [...]}}.
json Changes(const report::ReviewInputs& before, const report::ReviewInputs& after) {
  const json from = report::ReviewToJson(before), to = report::ReviewToJson(after);
  json changes = json::object();
  for (const auto* side : {&from, &to})
    for (const auto& [key, value] : side->items()) {
      if (key == "exclusions" || changes.contains(key)) continue;
      const json a = from.value(key, json(nullptr)), b = to.value(key, json(nullptr));
      if (a != b) changes[key] = {{"from", a}, {"to", b}};
    }
  json added = json::array(), removed = json::array();
  for (const auto& e : after.exclusions)
    if (std::find(before.exclusions.begin(), before.exclusions.end(), e) == before.exclusions.end())
      added.push_back({{"time", e.time}, {"reason", e.reason}});
  for (const auto& e : before.exclusions)
    if (std::find(after.exclusions.begin(), after.exclusions.end(), e) == after.exclusions.end())
      removed.push_back({{"time", e.time}, {"reason", e.reason}});
  if (!added.empty() || !removed.empty()) changes["exclusions"] = {{"added", added}, {"removed", removed}};
  return changes;
}

// A refusal of the database's rule, told with the recording it concerns and
// what may be done instead; any other failure as it came.
[[noreturn]] void Rethrow(const ArchiveError& e, std::int64_t recording, const std::string& instead) {
  if (const auto rule = Refusal(e.what()))
    throw ReviewRefused("recording " + std::to_string(recording) + ": " + std::string(kRefusedPrefix) + *rule +
                        (instead.empty() ? "" : "; " + instead));
  throw;
}

}  // namespace

ReviewState SqlArchive::ReviewOf(std::int64_t recording) {
  const auto found = db_->Query("SELECT study_id FROM recordings WHERE id = $1", {recording});
  if (found.empty())
    throw NotFound("the archive holds no recording " + std::to_string(recording) + " (bplink history lists them)");
  ReviewState state;
  state.recording = recording;
  state.study = ToInt(found[0][0]);
  const auto reviews = db_->Query("SELECT id, study_id, inputs, amends, at, os_user, db_role, station FROM reviews "
                                  "WHERE recording_id = $1 ORDER BY id DESC LIMIT 1",
                                  {recording});
  if (!reviews.empty()) {
    const Row& row = reviews[0];
    ReviewRecord r;
    r.id = ToInt(row[0]);
    r.recording = recording;
    r.study = ToInt(row[1]);
    r.inputs = InputsFrom(row[2], r.id);
    r.amends = ToInt(row[3]);
    r.at = row[4].value_or("");
    r.user = row[5].value_or("");
    r.db_role = row[6].value_or("");
    r.station = row[7].value_or("");
    state.review = std::move(r);
  }
  for (const Row& row : db_->Query("SELECT id, study_id, version, amends, interpretation, os_user, db_role, station, "
                                   "signed_at, hash, content FROM signatures WHERE recording_id = $1 ORDER BY version",
                                   {recording})) {
    SignatureRecord s;
    s.id = ToInt(row[0]);
    s.recording = recording;
    s.study = ToInt(row[1]);
    s.signed_version.version = static_cast<int>(ToInt(row[2]));
    s.amends = ToInt(row[3]);
    s.signed_version.interpretation = row[4].value_or("");
    s.signed_version.signer = row[5].value_or("");
    s.signed_version.db_role = row[6].value_or("");
    s.signed_version.station = row[7].value_or("");
    s.signed_version.signed_at = report::ParseLocalTime(row[8].value_or("")).value_or(CalendarTime{});
    s.signed_version.hash = row[9].value_or("");
    s.content = row[10].value_or("");
    state.signatures.push_back(std::move(s));
  }
  state.amending = state.review && !state.signatures.empty() && state.review->amends == state.signatures.back().id;
  return state;
}

void SqlArchive::CheckMayWrite(std::string_view table, std::string_view what) {
  if (db_->engine() != Engine::kPostgres) return;
  const auto rows = db_->Query("SELECT has_table_privilege($1, 'INSERT')", {std::string(table)});
  if (rows.at(0)[0].value_or("") == "t") return;
  throw NotPermitted("this database role (" + db_->Role() + ") may not " + std::string(what) + ": it lacks INSERT on " +
                     std::string(table) + " (a reviewing physician's grants: bplink archive grants physician ROLE)");
}

void SqlArchive::SettleReviewState(std::int64_t study) {
  bool any = false, open = false;
  for (const Row& row : db_->Query("SELECT id FROM recordings WHERE study_id = $1", {study})) {
    const ReviewState state = ReviewOf(ToInt(row[0]));
    if (!state.review && state.signatures.empty()) continue;
    any = true;
    open = open || !state.Signed();
  }
  if (!any) return;
  db_->Execute("UPDATE studies SET state = $2 WHERE id = $1 AND state <> $2",
               {study, std::string(open ? "reviewed" : "signed")});
}

void SqlArchive::InsertReview(std::int64_t recording, std::int64_t study, const report::ReviewInputs& inputs,
                              std::int64_t amends, const Actor& actor) {
  db_->Execute("INSERT INTO reviews (recording_id, study_id, inputs, clock_offset_minutes, amends, at, os_user, "
               "db_role, station) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9)",
               {recording, study, report::ReviewToJson(inputs).dump(-1, ' ', false, json::error_handler_t::replace),
                std::int64_t{inputs.clock_offset_minutes}, OrNull(amends), TimeText(actor.at), actor.user,
                db_->Role(), actor.station});
}

void SqlArchive::Reviewed(std::string_view action, std::int64_t recording, std::int64_t study, const Actor& actor,
                          const std::string& details) {
  SettleReviewState(study);
  const std::int64_t patient = ToInt(db_->Query("SELECT patient_id FROM recordings WHERE id = $1", {recording}).at(0)[0]);
  Log(action, actor, study, recording, patient, details);
}

ReviewResult SqlArchive::Review(std::int64_t recording, const report::ReviewInputs& inputs, bool amend,
                                const Actor& actor) {
  CheckMayWrite("reviews", "store a review");
  return InTransaction([&] {
    const ReviewState before = ReviewOf(recording);
    // Checked by the report's own rules, on the recording as its report reads it.
    report::Recording checked = Load(recording).recording;
    try {
      report::ApplyReview(checked, inputs);
    } catch (const report::InputError& e) {
      throw ReviewRefused(e.what());
    }
    if (amend && before.signatures.empty())
      throw ReviewRefused("recording " + std::to_string(recording) + " is not signed: --amend amends a signed one");
    const report::ReviewInputs old = before.review ? before.review->inputs : report::ReviewInputs{};
    ReviewResult result;
    const bool starts_amendment = amend && before.Signed();
    if (before.review && inputs == old && !starts_amendment) {
      result.state = before;
      result.changes = "{}";
      return result;
    }
    // An amendment names the version it amends; the database refuses a
    // change of a signed recording's inputs that does not.
    const std::int64_t amends =
        (amend || before.amending) && !before.signatures.empty() ? before.signatures.back().id : 0;
    const json changes = Changes(old, inputs);
    try {
      InsertReview(recording, before.study, inputs, amends, actor);
    } catch (const ArchiveError& e) {
      Rethrow(e, recording,
              before.Signed() ? "it is signed (" + VersionText(before.signatures.back()) +
                                    "): give --amend to make an amendment, which is then signed again"
                              : "");
    }
    json details = {{"changes", changes}};
    if (amends != 0) details["amends_version"] = before.signatures.back().signed_version.version;
    Reviewed("review", recording, before.study, actor, details.dump(-1, ' ', false, json::error_handler_t::replace));
    result.state = ReviewOf(recording);
    result.changed = true;
    result.changes = changes.dump(-1, ' ', false, json::error_handler_t::replace);
    return result;
  });
}

SignatureRecord SqlArchive::Sign(std::int64_t recording, const std::string& interpretation, bool amend,
                                 const Actor& actor) {
  if (interpretation.find_first_not_of(" \t\r\n") == std::string::npos)
    throw ReviewRefused("the interpretation is empty: nothing is signed without one");
  CheckMayWrite("signatures", "sign");
  return InTransaction([&] {
    ReviewState state = ReviewOf(recording);
    if (amend && state.signatures.empty())
      throw ReviewRefused("recording " + std::to_string(recording) + " is not signed: --amend amends a signed one");
    const report::ReviewInputs inputs = state.review ? state.review->inputs : report::ReviewInputs{};
    if (amend && state.Signed()) {
      // An amendment of the interpretation alone: the inputs as they stand,
      // stored again as the amendment's.
      InsertReview(recording, state.study, inputs, state.signatures.back().id, actor);
      state = ReviewOf(recording);
    }
    SignatureRecord s;
    s.recording = recording;
    s.study = state.study;
    s.amends = state.signatures.empty() ? 0 : state.signatures.back().id;
    s.content = SignedContent(Load(recording), inputs);
    report::SignedVersion& v = s.signed_version;
    v.version = static_cast<int>(state.signatures.size()) + 1;
    v.interpretation = interpretation;
    v.signer = actor.user;
    v.db_role = db_->Role();
    v.station = actor.station;
    v.signed_at = actor.at;
    v.hash = Sha256Hex(s.content);
    try {
      s.id = ToInt(db_->Query("INSERT INTO signatures (recording_id, study_id, version, amends, review_id, "
                              "interpretation, os_user, db_role, station, signed_at, hash, content) VALUES "
                              "($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12) RETURNING id",
                              {recording, state.study, std::int64_t{v.version}, OrNull(s.amends),
                               OrNull(state.review ? state.review->id : 0), interpretation, v.signer, v.db_role,
                               v.station, TimeText(v.signed_at), v.hash, s.content})
                       .at(0)[0]);
    } catch (const ArchiveError& e) {
      Rethrow(e, recording,
              state.Signed() ? "it is signed (" + VersionText(state.signatures.back()) +
                                   "): an amendment is signed with --amend"
                             : "");
    }
    json details = {{"version", v.version}, {"status", report::SignedStatus(v)}, {"hash", v.hash}};
    if (v.version > 1) details["supersedes_version"] = v.version - 1;
    Reviewed("sign", recording, state.study, actor, details.dump(-1, ' ', false, json::error_handler_t::replace));
    return s;
  });
}

std::string SqlArchive::SignedContentOf(std::int64_t recording) {
  const ReviewState state = ReviewOf(recording);
  return SignedContent(Load(recording), state.review ? state.review->inputs : report::ReviewInputs{});
}

std::optional<std::int64_t> SqlArchive::PreviousRecording(std::int64_t recording) {
  const auto rows = db_->Query(
      "SELECT p.id FROM recordings r JOIN recordings p ON p.patient_id = r.patient_id AND p.study_id <> r.study_id "
      "WHERE r.id = $1 AND r.start_time <> '' AND p.end_time <> '' AND p.end_time < r.start_time "
      "AND EXISTS (SELECT 1 FROM readings x WHERE x.recording_id = p.id) "
      "ORDER BY p.end_time DESC, p.set_mode, p.id LIMIT 1",
      {recording});
  if (rows.empty()) return std::nullopt;
  return ToInt(rows[0][0]);
}

}  // namespace detail

ReviewResult Amend(Archive& archive, std::int64_t recording, std::string_view reason, const Actor& actor) {
  const auto blank = reason.find_first_not_of(" \t\r\n");
  if (blank == std::string_view::npos)
    throw ReviewRefused("reason: say why the signed report is amended (a sentence); nothing was re-opened");
  const ReviewState before = archive.ReviewOf(recording);
  if (before.amending)
    throw ReviewRefused("recording " + std::to_string(recording) + ": an amendment of version " +
                        std::to_string(before.signatures.back().signed_version.version) +
                        " is under way already: edit it and sign it");
  if (!before.Signed())
    throw ReviewRefused("recording " + std::to_string(recording) + " is not signed: only a signed report is amended");
  const report::ReviewInputs inputs = before.review ? before.review->inputs : report::ReviewInputs{};
  ReviewResult result = archive.Review(recording, inputs, true, actor);
  AuditEntry entry;
  entry.action = "amend";
  entry.study = result.state.study;
  entry.recording = recording;
  entry.patient = archive.LoadStudy(entry.study).patient_id;
  entry.details = json{{"reason", std::string(reason.substr(blank))},
                       {"amends_version", before.signatures.back().signed_version.version}}
                      .dump(-1, ' ', false, json::error_handler_t::replace);
  archive.AppendLog(entry, actor);
  return result;
}

}  // namespace bplink::archive
