// The audit log: one row for every change of filing, never changed or
// removed (the schema refuses it: see schema.cpp), read back oldest first.

#include <nlohmann/json.hpp>

#include "sql_archive.h"

namespace bplink::archive::detail {
namespace {

Value OrNull(std::int64_t id) { return id == 0 ? Value(nullptr) : Value(id); }

}  // namespace

void SqlArchive::Log(std::string_view action, const Actor& actor, std::int64_t study, std::int64_t recording,
                     std::int64_t patient, const std::string& details) {
  db_->Execute("INSERT INTO audit_log (at, action, os_user, db_role, station, study_id, recording_id, patient_id, "
               "details) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9)",
               {TimeText(actor.at), std::string(action), actor.user, db_->Role(), actor.station, OrNull(study),
                OrNull(recording), OrNull(patient), details});
}

void SqlArchive::AppendLog(const AuditEntry& entry, const Actor& actor) {
  if (entry.action.empty()) throw ArchiveError("an audit log entry needs an action");
  const std::string details = entry.details.empty() ? "{}" : entry.details;
  if (!nlohmann::json::accept(details) || !nlohmann::json::parse(details).is_object())
    throw ArchiveError("an audit log entry's details must be a JSON object");
  Log(entry.action, actor, entry.study, entry.recording, entry.patient, details);
}

std::vector<AuditEntry> SqlArchive::Log(const AuditFilter& filter) {
  // A recording's entries are its study's too; a patient's, those of its studies.
  const auto rows = db_->Query(
      "SELECT id, at, action, os_user, db_role, station, study_id, recording_id, patient_id, details FROM audit_log "
      "WHERE ($1 = 0 OR study_id = $1) "
      "AND ($2 = 0 OR recording_id = $2 OR study_id = (SELECT study_id FROM recordings WHERE id = $2)) "
      "AND ($3 = 0 OR patient_id = $3 OR study_id IN (SELECT id FROM studies WHERE patient_id = $3)) "
      "AND ($4 = '' OR action = $4) ORDER BY id",
      {filter.study, filter.recording, filter.patient, filter.action});
  std::vector<AuditEntry> entries;
  for (const Row& row : rows) {
    AuditEntry e;
    e.id = ToInt(row[0]);
    e.at = row[1].value_or("");
    e.action = row[2].value_or("");
    e.user = row[3].value_or("");
    e.db_role = row[4].value_or("");
    e.station = row[5].value_or("");
    e.study = ToInt(row[6]);
    e.recording = ToInt(row[7]);
    e.patient = ToInt(row[8]);
    e.details = row[9].value_or("{}");
    entries.push_back(std::move(e));
  }
  return entries;
}

}  // namespace bplink::archive::detail
