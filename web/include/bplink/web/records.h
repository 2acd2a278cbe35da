// The archive's patients, its audit log, the amendment of a signed study and
// its sending, as the workstation shows and changes them. The program
// implements it with the very library calls of `bplink archive move`,
// `bplink archive merge-patients`, `bplink archive log`, `bplink review
// --amend` and `bplink send`, so the web writes none of their rules again.
// Failures are those of studies.h: BadQuery, NotFiled, Refused, NotAllowed,
// std::runtime_error, each in the archive's own words.
#pragma once

#include <bplink/web/studies.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace bplink::web {

struct PatientRow {
  std::int64_t id = 0;
  report::PatientInfo person;       // identifier and its system, name, birth date, sex
  std::string label;                // what the user added to the device's texts
  std::vector<std::string> texts;   // as the device stores them
  std::int64_t studies = 0, recordings = 0, readings = 0;
};

struct PatientDetail {
  PatientRow row;
  std::vector<StudyRow> studies;  // newest first
  // Every recording of those studies and its study, for the move form.
  std::vector<std::pair<std::int64_t, std::int64_t>> recordings;
};

// What a move would re-file: the recording's study, all its recordings,
// from one patient to another.
struct MovePreview {
  std::int64_t recording = 0, study = 0;
  std::vector<std::int64_t> recordings;
  StudyRow study_row;
  PatientRow from, to;
};

// What a merge would re-file: every study of `merged` under `kept`.
struct MergePreview {
  PatientDetail kept, merged;
};

// One entry of the audit log; `details` a JSON object as the archive keeps it.
struct LogRow {
  std::int64_t id = 0;
  std::string at, action, user, db_role, station;
  std::int64_t study = 0, recording = 0, patient = 0;
  std::string patient_text;  // the identifier and name the patient is known by
  std::string details;
};

// The log's filter; 0 does not filter.
struct LogQuery {
  std::int64_t study = 0, patient = 0;
};

// A Send form: what `bplink send` takes that makes sense on a form.
struct SendForm {
  std::string to;                        // https://…/fhir, mllp://host:port or gdt:FOLDER
  bool draft = false, again = false;
  std::string token_file, ca_file;       // FHIR
  std::string gdt_receiver, gdt_sender;  // GDT ids; empty sender: the library's default
};

struct SendOutcome {
  bool sent = false;
  std::string message;  // what went where, or why not; never a secret
  std::string answer;   // the peer's answer in words; "" when none came
};

class Records {
 public:
  virtual ~Records() = default;
  // The patients whose number, identifier, name, label or device texts hold
  // `text` ("" for all), by number.
  virtual std::vector<PatientRow> Patients(const std::string& text) = 0;
  // Throws NotFiled.
  virtual PatientDetail Patient(std::int64_t id) = 0;
  // What moving recording `recording` to patient `to` re-files; changes
  // nothing. Throws NotFiled.
  virtual MovePreview PreviewMove(std::int64_t recording, std::int64_t to) = 0;
  virtual MergePreview PreviewMerge(std::int64_t kept, std::int64_t merged) = 0;
  // As `bplink archive move RECORDING --patient TO` and `bplink archive
  // merge-patients KEPT MERGED`. Throw NotFiled, Refused (a signed study,
  // a patient merged into itself: nothing changed), std::runtime_error.
  virtual MovePreview Move(std::int64_t recording, std::int64_t to) = 0;
  virtual void Merge(std::int64_t kept, std::int64_t merged) = 0;
  // The audit log, oldest first.
  virtual std::vector<LogRow> Log(const LogQuery& query) = 0;
  // Re-opens a signed recording's review as an amendment of its latest
  // version, saying why (archive::Amend). Throws Refused, NotAllowed, NotFiled.
  virtual void Amend(std::int64_t recording, const std::string& reason) = 0;
  // Why this program cannot send ("" when it can).
  virtual std::string WhyNoSending() const = 0;
  // Sends as `bplink send RECORDING --to ...` does; never throws for a
  // sending that did not go (SendOutcome says why).
  virtual SendOutcome Send(std::int64_t recording, const SendForm& form) = 0;
};

}  // namespace bplink::web
