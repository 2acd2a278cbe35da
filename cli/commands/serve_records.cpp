// The workstation's patients, audit log, amendments and sending, on the
// archive the program opened: each a call of the library that `bplink
// archive move`, `merge-patients`, `log`, `bplink review --amend` and
// `bplink send` make.

#include <bplink/host/filing.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

#include "commands/archive_open.h"
#include "commands/serve_studies.h"

#ifdef BPLINK_WITH_SEND
#include <bplink/delivery/send.h>
#endif

namespace bplink::cli {
namespace {

#ifdef BPLINK_WITH_SEND
constexpr int kSendTimeoutMs = 30 * 1000;
#endif

web::PatientRow RowOf(const archive::PatientEntry& p, std::int64_t studies) {
  return {p.id, p.person, p.label, p.texts, studies, p.recordings, p.readings};
}

// The number of studies of each patient.
std::map<std::int64_t, std::int64_t> StudyCounts(archive::Archive& archive) {
  std::map<std::int64_t, std::int64_t> counts;
  for (const archive::StudyEntry& s : archive.Worklist({})) ++counts[s.patient_id];
  return counts;
}

web::PatientDetail DetailOf(archive::Archive& archive, std::int64_t id) {
  const std::vector<archive::StudyEntry> studies = StudiesOfPatient(archive, id);
  web::PatientDetail detail;
  detail.row = RowOf(archive.Patient(id), static_cast<std::int64_t>(studies.size()));
  detail.studies = StudyRows(archive, studies);
  for (const archive::StudyEntry& s : studies)
    for (std::int64_t recording : s.recordings) detail.recordings.emplace_back(recording, s.id);
  return detail;
}

class ArchiveRecords : public web::Records {
 public:
  explicit ArchiveRecords(archive::Location location) : location_(std::move(location)) {}

  std::vector<web::PatientRow> Patients(const std::string& text) override {
    return OnArchive(location_, [&](archive::Archive& a) {
      const std::map<std::int64_t, std::int64_t> counts = StudyCounts(a);
      std::map<std::int64_t, web::PatientRow> rows;
      archive::Filter filter;
      filter.patient = text;
      for (const archive::PatientEntry& p : a.Query(filter).patients)
        rows[p.id] = RowOf(p, counts.contains(p.id) ? counts.at(p.id) : 0);
      // A patient whose recorder is still out has a study and no recording yet.
      archive::WorklistFilter studies;
      studies.patient = text;
      for (const archive::StudyEntry& s : a.Worklist(studies))
        if (!rows.contains(s.patient_id)) rows[s.patient_id] = RowOf(a.Patient(s.patient_id), counts.at(s.patient_id));
      std::vector<web::PatientRow> out;
      for (auto& [id, row] : rows) out.push_back(std::move(row));
      return out;
    });
  }

  web::PatientDetail Patient(std::int64_t id) override {
    return OnArchive(location_, [&](archive::Archive& a) { return DetailOf(a, id); });
  }

  web::MovePreview PreviewMove(std::int64_t recording, std::int64_t to) override {
    return OnArchive(location_, [&](archive::Archive& a) { return Preview(a, recording, to); });
  }

  web::MergePreview PreviewMerge(std::int64_t kept, std::int64_t merged) override {
    if (kept == merged) throw web::Refused("patient " + std::to_string(kept) + " cannot be merged into itself");
    return OnArchive(location_,
                     [&](archive::Archive& a) { return web::MergePreview{DetailOf(a, kept), DetailOf(a, merged)}; });
  }

  web::MovePreview Move(std::int64_t recording, std::int64_t to) override {
    return OnArchive(
        location_,
        [&](archive::Archive& a) {
          web::MovePreview moved = Preview(a, recording, to);
          a.Move(recording, {to, ""}, Actor());
          return moved;
        },
        true);
  }

  void Merge(std::int64_t kept, std::int64_t merged) override {
    OnArchive(location_, [&](archive::Archive& a) { a.MergePatients(kept, merged, Actor()); }, true);
  }

  std::vector<web::LogRow> Log(const web::LogQuery& query) override {
    return OnArchive(location_, [&](archive::Archive& a) {
      archive::AuditFilter filter;
      filter.study = query.study;
      filter.patient = query.patient;
      // Each patient the entries name, looked up once.
      std::map<std::int64_t, std::string> patients;
      std::vector<web::LogRow> rows;
      for (const archive::AuditEntry& e : a.Log(filter)) {
        if (e.patient != 0 && !patients.contains(e.patient)) patients[e.patient] = PatientText(a.Patient(e.patient));
        rows.push_back({e.id, e.at, e.action, e.user, e.db_role, e.station, e.study, e.recording, e.patient,
                        e.patient ? patients[e.patient] : "", e.details});
      }
      return rows;
    });
  }

  void Amend(std::int64_t recording, const std::string& reason) override {
    OnArchive(location_, [&](archive::Archive& a) { archive::Amend(a, recording, reason, Actor()); });
  }

  std::string WhyNoSending() const override {
#ifdef BPLINK_WITH_SEND
    return "";
#else
    return "this build of bplink has no delivery library (it is built where libcurl is, not on Windows): "
           "send from a Linux workstation, or with bplink send there";
#endif
  }

  web::SendOutcome Send(std::int64_t recording, const web::SendForm& form) override {
#ifdef BPLINK_WITH_SEND
    const delivery::ParsedDestination to = delivery::ParseDestination(form.to);
    if (!to.destination) return {false, "to: " + to.error + "; nothing was sent", ""};
    delivery::SendRequest request;
    request.recording = recording;
    request.destination = *to.destination;
    request.draft = form.draft;
    request.again = form.again;
    request.options.token_file = form.token_file;
    request.options.ca_file = form.ca_file;
    request.options.gdt_receiver = form.gdt_receiver;
    if (!form.gdt_sender.empty()) request.options.gdt_sender = form.gdt_sender;
    request.options.timeout_ms = kSendTimeoutMs;
    if (const char* system = std::getenv(delivery::kStudySystemVariable)) request.study_system = system;
    const delivery::SendResult result = OnArchive(
        location_, [&](archive::Archive& a) { return delivery::SendRecording(a, request, Actor()); });
    const bool sent = result.status == delivery::SendResult::Status::kSent;
    std::string answer;
    if (result.receipt) {
      const delivery::Receipt& r = *result.receipt;
      answer = sent ? delivery::Acknowledgement(r) : !r.ack_code.empty() ? r.ack_code + " " + r.ack_text
                                                 : r.http_status ? "HTTP " + std::to_string(r.http_status) : "";
    }
    return {sent && result.logged, result.message, answer};
#else
    (void)recording;
    (void)form;
    return {false, WhyNoSending(), ""};
#endif
  }

 private:
  static archive::Actor Actor() { return host::ActorHere(host::StationName()); }

  static web::MovePreview Preview(archive::Archive& a, std::int64_t recording, std::int64_t to) {
    web::MovePreview preview;
    preview.recording = recording;
    const archive::StoredRecording stored = a.Load(recording);
    const archive::StudyEntry study = a.LoadStudy(stored.entry.study_id);
    preview.study = study.id;
    preview.recordings = study.recordings;
    preview.study_row = StudyRows(a, {study}).front();
    const std::map<std::int64_t, std::int64_t> counts = StudyCounts(a);
    const auto row = [&](std::int64_t id) { return RowOf(a.Patient(id), counts.contains(id) ? counts.at(id) : 0); };
    preview.from = row(study.patient_id);
    preview.to = row(to);
    return preview;
  }

  archive::Location location_;
};

}  // namespace

std::unique_ptr<web::Records> RecordsAt(const archive::Location& location) {
  return std::make_unique<ArchiveRecords>(location);
}

}  // namespace bplink::cli
