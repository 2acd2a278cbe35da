// The archive over one connection, the same for both engines. Its
// operations are spread over archive.cpp (opening, reading back), filing.cpp
// (filing a download), studies.cpp (studies, moving and merging) and
// audit.cpp (the log).
#pragma once

#include <bplink/archive/archive.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "connection.h"

namespace bplink::archive::detail {

// A time the device did not give (all zero) is stored as "".
std::string TimeText(const CalendarTime& t);
std::string Joined(const std::vector<std::string>& lines);
std::vector<std::string> Lines(const std::string& text);
// The one set a data mode names: set 1 fetched with its SpO2 samples is set 1.
int SetOf(int mode);
// The day and night periods a plan gives the report, or none.
std::optional<report::PlanPeriods> PeriodsOf(const _BP_TRANSPORT_INFO* plan);
// A JSON object's text from pairs of member and value (strings and numbers).
std::string DetailsJson(const std::vector<std::pair<std::string, Value>>& members);

// The patient and device filters of Query and Worklist, a condition on
// patients p and devices d: $1 and $2 the patient (its number, or part of its
// identifier, name, label or texts; also of a patient merged into it), $3 and
// $4 the device (number, family or label), each by the label rule; and $5,
// $6 the dates, which the caller compares. FilterParams gives $1 to $6.
extern const std::string_view kPatientAndDevice;
// `ids` as the lists an SQL "IN (...)" takes, a few hundred numbers each, so
// that no statement grows with the archive.
std::vector<std::string> InLists(const std::set<std::int64_t>& ids);
std::vector<Value> FilterParams(const std::string& patient, const std::string& device, const std::string& from,
                                const std::string& to);

class SqlArchive : public Archive {
 public:
  explicit SqlArchive(std::unique_ptr<Connection> db) : db_(std::move(db)) {}

  void CheckWritable() override;
  std::vector<std::string> Warnings() const override { return db_->Warnings(); }
  StoreResult Store(const Download& download, const Actor& actor, std::string_view action) override;
  StudyEntry OpenStudy(const StudyRequest& request, const Actor& actor) override;
  StudyEntry StartRecording(std::int64_t study, const Actor& actor) override;
  std::optional<StudyEntry> OpenStudyOf(const DeviceIdentity& device) override;
  StudyEntry LoadStudy(std::int64_t id) override;
  std::vector<StudyEntry> Worklist(const WorklistFilter& filter) override;
  MoveResult Move(std::int64_t recording, const PatientTarget& to, const Actor& actor) override;
  void MergePatients(std::int64_t kept, std::int64_t merged, const Actor& actor) override;
  void AppendLog(const AuditEntry& entry, const Actor& actor) override;
  std::vector<AuditEntry> Log(const AuditFilter& filter) override;
  History Query(const Filter& filter) override;
  PatientEntry Patient(std::int64_t id) override { return LoadPatient(id); }
  DeviceEntry Device(std::int64_t id) override;
  std::vector<PatientEntry> Patients(const std::vector<std::int64_t>& ids) override;
  std::vector<DeviceEntry> Devices(const std::vector<std::int64_t>& ids) override;
  StoredRecording Load(std::int64_t id) override;
  Engine engine() const override { return db_->engine(); }
  std::string DatabaseRole() const override { return db_->Role(); }
  ReviewState ReviewOf(std::int64_t recording) override;
  ReviewResult Review(std::int64_t recording, const report::ReviewInputs& inputs, bool amend,
                      const Actor& actor) override;
  SignatureRecord Sign(std::int64_t recording, const std::string& interpretation, bool amend,
                       const Actor& actor) override;
  std::string SignedContentOf(std::int64_t recording) override;
  std::optional<std::int64_t> PreviousRecording(std::int64_t recording) override;

  Connection& db() { return *db_; }

 private:
  // Runs `work` in one transaction: all of it, or nothing.
  template <typename Work>
  auto InTransaction(Work&& work) {
    db_->Begin();
    try {
      auto result = work();
      db_->Commit();
      return result;
    } catch (...) {
      db_->Rollback();
      throw;
    }
  }

  // A row known by its unique key: inserted unless there, then its id.
  std::int64_t Upsert(std::string_view insert, std::string_view select, const std::vector<Value>& key);
  std::int64_t DeviceId(const DeviceIdentity& device);
  // The patient a device's texts and a label name (made when new), or the
  // one it was merged into.
  std::int64_t PatientByTexts(const std::vector<std::string>& texts, const std::string& label);
  // The patient an identifier (in its system) names, made or updated with
  // the other members given; a patient without an identifier is a new one.
  std::int64_t PatientByIdentity(const report::PatientInfo& person);
  // Follows merged_into to the patient that stands.
  std::int64_t Standing(std::int64_t patient);
  // Whether `label` names the patient: its label or identifier, by the label rule.
  bool AnswersTo(std::int64_t patient, const std::string& label);
  std::string Describe(std::int64_t patient);
  // The study's state once a recording of it was reviewed or signed: signed
  // when every recording of it that has a review or signature is signed.
  void SettleReviewState(std::int64_t study);
  // Throws ArchiveError naming what this role lacks to write `table`, with
  // the grants that give it.
  void CheckMayWrite(std::string_view table, std::string_view what);
  void Log(std::string_view action, const Actor& actor, std::int64_t study, std::int64_t recording,
           std::int64_t patient, const std::string& details);

  PatientEntry LoadPatient(std::int64_t id);
  static RecordingEntry RecordingOf(const Row& row);
  // The studies of rows of kStudyColumns, each with its recordings, read
  // for all of them at once.
  std::vector<StudyEntry> StudiesOf(const std::vector<Row>& rows);
  void LoadReadings(std::int64_t id, StoredRecording& stored);
  void LoadSamples(std::int64_t id, StoredRecording& stored);

  // A study a download opens (state downloaded) for the patient on the
  // device; logged with `details` added.
  std::int64_t OpenDownloadedStudy(std::int64_t patient, std::int64_t device, const Actor& actor,
                                   std::vector<std::pair<std::string, Value>> details);
  // Stores `inputs` as the recording's latest review (`amends`: the
  // signature an amendment changes, 0 for none).
  void InsertReview(std::int64_t recording, std::int64_t study, const report::ReviewInputs& inputs,
                    std::int64_t amends, const Actor& actor);
  // After a review or signature: the study's state settled, and the change
  // logged as `action` with `details`.
  void Reviewed(std::string_view action, std::int64_t recording, std::int64_t study, const Actor& actor,
                const std::string& details);

  struct SetFiling;
  // What one download filed so far, over its sets.
  struct Filing {
    std::map<std::int64_t, std::int64_t> opened;  // the studies it opened, by patient: its other sets join them
    struct Place {
      std::int64_t study = 0, patient = 0;
    };
    std::map<std::int64_t, Place> recordings;  // every recording it filed in or found its readings in
  };
  void FileSet(const Download& download, const DownloadedSet& s, const _SPO2_DATASET* spo2, std::int64_t device_id,
               const Actor& actor, Filing& filing, StoreResult& result);

  std::unique_ptr<Connection> db_;
};

}  // namespace bplink::archive::detail
