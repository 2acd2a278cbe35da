// The studies of the archive as the workstation shows them: the worklist,
// one study with its recordings ready for the report library, and a
// recording written out as `bplink export` and `bplink report --recording`
// write it. The program implements it on the archive with the very code of
// those commands, so the web writes none of it a second time.
#pragma once

#include <bplink/report/readings.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace bplink::web {

// A request the archive cannot answer as asked (a state that is none, a
// date that is not YYYY-MM-DD): the message names the field and its form.
class BadQuery : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// No study or recording with that number.
class NotFiled : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// A review or signature the archive refused, nothing stored: an input the
// recording does not fit, or a change its signature does not allow; the
// message says which and what may be done instead.
class Refused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The database role this workstation connects with may not do it (a
// station's role signing): the message names the grant it lacks.
class NotAllowed : public Refused {
 public:
  using Refused::Refused;
};

// The worklist's filter; empty members do not filter. `state` is a state's
// name ("prepared" .. "signed"), `patient` and `device` as `bplink history`
// takes them, `from` and `to` dates YYYY-MM-DD.
struct WorklistQuery {
  std::string state, patient, device, from, to;
};

struct StudyRow {
  std::int64_t id = 0;
  std::string state;    // "downloaded"
  std::int64_t patient_number = 0;
  std::string patient;  // the identifier and name the patient is known by
  std::string device;   // "kx71 ambulatory recorder", with the user's label
  std::string start, end;  // of its readings; "" without any
  std::int64_t readings = 0;
};

// A recording of the study as `bplink report --recording` reports it: with
// the physician's inputs kept with it (Recording::kept_review) and every
// version of its signature (Recording::signature).
struct StudyRecording {
  std::int64_t id = 0;
  bool complete = true;
  std::string downloaded_at, station;
  report::Recording recording;
};

struct StudyDetail {
  StudyRow row;
  report::PatientInfo person;          // identifier, system, name, birth date, sex
  std::vector<std::string> texts;      // the patient texts the device stores
  std::string hooked_up_at, opened_at, opened_by, station;
  std::string plan_json;               // as uploaded; "" when a download opened it
  std::vector<StudyRecording> recordings;
  std::vector<StudyRow> previous;      // the patient's other studies, newest first
};

// A file to download: its bytes, media type and name.
struct Exported {
  std::string bytes;
  std::string type;
  std::string file_name;
};

// The export formats of a recording, as `bplink export` and `bplink report
// --recording` name them.
inline constexpr std::string_view kExportFormats[] = {"pdf", "csv", "json", "fhir"};

class Studies {
 public:
  virtual ~Studies() = default;
  // Throws BadQuery, std::runtime_error (the archive failed, in words).
  virtual std::vector<StudyRow> Worklist(const WorklistQuery& query) = 0;
  // Throws NotFiled, std::runtime_error.
  virtual StudyDetail Study(std::int64_t id) = 0;
  // `format` one of kExportFormats. Throws BadQuery, NotFiled, std::runtime_error.
  virtual Exported Export(std::int64_t recording, std::string_view format) = 0;
  // Keeps `inputs`, whole, as the recording's review, as `bplink review`
  // does. Throws NotFiled, Refused, NotAllowed, std::runtime_error.
  virtual void Review(std::int64_t recording, const report::ReviewInputs& inputs) = 0;
  // Signs `interpretation` on the inputs in force, as `bplink sign` does.
  // Throws NotFiled, Refused, NotAllowed, std::runtime_error.
  virtual void Sign(std::int64_t recording, const std::string& interpretation) = 0;
};

}  // namespace bplink::web
