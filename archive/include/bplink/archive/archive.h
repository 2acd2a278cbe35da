// The archive of downloads: every reading a device gave, kept once, filed
// under the study it was taken in, in a SQLite file (one PC) or a PostgreSQL
// database (several download stations). Both engines hold the same schema
// and behave the same; which one a location names is all a caller chooses.
//
// A study is one patient's ambulatory recording, or one home-monitoring
// period: the patient, the device, the plan as uploaded, where, by whom and
// when the device was hooked up, and a state. `bplink upload --archive` opens
// one; a download files each reading under the study that was open when the
// reading was taken, and opens one from the device's own patient texts when
// none was. Every change of filing is kept in an append-only audit log.
//
// Every operation throws ArchiveError with a message a person reads; no
// message ever holds a password.
#pragma once

#include <bplink/bplink.h>
#include <bplink/report/readings.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace bplink::archive {

class ArchiveError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A download whose readings the archive holds under another patient than
// the one it names (a corrected --patient-label): nothing of it is filed.
// The message names both patients and the command that re-files the
// recordings; `recordings` are those recordings.
class FilingConflict : public ArchiveError {
 public:
  FilingConflict(const std::string& what, std::vector<std::int64_t> recordings)
      : ArchiveError(what), recordings(std::move(recordings)) {}
  std::vector<std::int64_t> recordings;
};

// The archive's schema is older than this program's and this database role
// may not change it (or a read-only command found no archive to open).
class NeedsMigration : public ArchiveError {
 public:
  using ArchiveError::ArchiveError;
};

enum class Engine { kSqlite, kPostgres };

struct Location {
  Engine engine = Engine::kSqlite;
  std::string target;  // the SQLite file, or the PostgreSQL connection string
};

// The variable that names the archive when the command line gives none.
inline constexpr const char* kArchiveVariable = "BPLINK_ARCHIVE";

// $XDG_DATA_HOME/bplink/archive.sqlite, or ~/.local/share/bplink/archive.sqlite
// without XDG_DATA_HOME. Null arguments stand for unset variables.
std::string DefaultArchivePath(const char* xdg_data_home, const char* home);

// A location as the user wrote it: "postgresql://..." or "postgres://..."
// or a "key=value" connection string names a PostgreSQL database, anything
// else a SQLite file. A PostgreSQL location with a password in it is
// refused: a command line and the environment are visible to others, so
// the password belongs in the password file or the service file. So is one
// that turns TLS off (sslmode=disable or allow); the connection made is
// checked again, whatever set its mode (a service file, PGSSLMODE).
Location ParseLocation(std::string_view text);

// The PostgreSQL roles of a clinic beside the archive's owner (who made it
// with `bplink archive migrate` and alone changes its schema): a download
// station files downloads, opens studies and re-files them; a reviewing
// physician reads.
enum class ArchiveRole { kStation, kPhysician };
// The statements the owner runs to give the database role `name` what
// `role` needs, on the tables in schema public, now and (for reading) those
// a later migration adds.
std::vector<std::string> GrantStatements(ArchiveRole role, std::string_view name);

// The schema this program writes. An archive at a lower version is brought
// up to it when opened by a role that may change the schema, or by
// Archive::Migrate; one at a higher version is refused.
int SchemaVersion();

// ---------------------------------------------------------------------------
// Who changes the archive, from where and when: what the audit log keeps of
// every change (beside the database role, which the archive asks itself).

struct Actor {
  std::string user;     // the operating-system user (the program), or the workstation's signed-in user
  std::string station;  // the PC
  CalendarTime at;      // when, by that PC's clock
};

// ---------------------------------------------------------------------------
// Studies.

// A study's course. A study opened by an upload is prepared until the plan
// is on the device, then recording; a download that files its readings makes
// it downloaded (a study a download opens starts there). Reviewed and signed
// belong to the physician's review.
enum class StudyState { kPrepared, kRecording, kDownloaded, kReviewed, kSigned };
// "prepared", "recording", "downloaded", "reviewed", "signed".
std::string_view StateName(StudyState state);
std::optional<StudyState> ParseState(std::string_view name);

// A device as the archive knows it: its family, identity and the label the
// user gave it (compared by the label rule, <bplink/archive/labels.h>).
struct DeviceIdentity {
  std::string family;  // the program's name for the device's family
  tag_SUPPORT_PROTOCOL device;
  std::string label;
};

// What opens a study: the patient (identifier and the system it belongs to,
// name, birth date, sex), the device and the plan as uploaded.
struct StudyRequest {
  report::PatientInfo patient;  // a patient with an identifier is found again by it (and its system)
  DeviceIdentity device;
  const _BP_TRANSPORT_INFO* plan = nullptr;  // null when none
  std::string plan_json;                     // the plan as a plan file writes it; "" when none
};

struct StudyEntry {
  std::int64_t id = 0;
  std::int64_t patient_id = 0, device_id = 0;
  StudyState state = StudyState::kPrepared;
  std::string plan_json;     // as uploaded; "" when the study was opened by a download
  std::string hooked_up_at;  // local time; "" when not known (a study a download opened)
  std::string opened_at, station, user, db_role;  // when, where and by whom it was opened
  std::string start, end;                          // its readings' first and last, "" without any
  std::vector<std::int64_t> recordings;
  std::int64_t readings = 0;
};

// The worklist: studies by state, patient, device and date. Empty members
// do not filter; patient and device as Filter's.
struct WorklistFilter {
  std::optional<StudyState> state;
  std::string patient, device, from, to;
};

// ---------------------------------------------------------------------------
// Filing.

// One device's download, as the library handed it over.
struct DownloadedSet {
  int mode = 0;  // the data mode that fetched the set
  const _BP_DATASET* set = nullptr;
};

struct Download {
  std::string family;          // the program's name for the device's family
  tag_SUPPORT_PROTOCOL device;
  std::string device_label;    // what the user calls this device; "" when nothing
  const _BP_TRANSPORT_INFO* plan = nullptr;  // null when the device sent none
  std::string plan_json;       // the same as a plan file writes it; "" when none
  std::vector<DownloadedSet> sets;
  const _SPO2_DATASET* spo2 = nullptr;       // null without SpO2; filed with the first set
  bool complete = true;        // false when the transfer was stopped or failed part-way
  std::string patient_label;   // what the user adds to the device's patient texts
  CalendarTime downloaded_at;
};

struct StoreResult {
  std::int64_t readings = 0;      // readings in the download
  std::int64_t new_readings = 0;  // of them, not in the archive before
  std::int64_t samples = 0;       // SpO2 samples, likewise
  std::int64_t new_samples = 0;
  std::vector<std::int64_t> recordings;  // the recordings filed or added to
  std::vector<std::int64_t> studies;     // and their studies
};

// ---------------------------------------------------------------------------
// Reading the archive back.

// What `history` lists. Empty members do not filter.
struct Filter {
  std::string patient;  // a patient's number, or part of its identifier, name, label or texts
  std::string device;   // a device's number, family or label
  std::string from;     // YYYY-MM-DD: recordings that end on or after it
  std::string to;       // YYYY-MM-DD: recordings that start on or before it
};

struct PatientEntry {
  std::int64_t id = 0;
  std::vector<std::string> texts;  // as the device stores them
  std::string label;
  report::PatientInfo person;      // identifier and its system, name, birth date, sex; empty when not known
  std::int64_t recordings = 0, readings = 0;
  // The identifier the patient is known by: the identifier, else the label.
  std::string Known() const { return person.id.empty() ? label : person.id; }
};

struct DeviceEntry {
  std::int64_t id = 0;
  std::string family;
  tag_SUPPORT_PROTOCOL device;
  std::string label;
  std::int64_t recordings = 0, readings = 0;
};

struct RecordingEntry {
  std::int64_t id = 0;
  std::int64_t device_id = 0, patient_id = 0, study_id = 0;
  StudyState state = StudyState::kDownloaded;  // its study's
  int set_mode = 0;
  std::string start, end;  // local times of its first and last reading
  bool complete = false;
  std::string downloaded_at, station;  // when and where it was first filed
  std::int64_t readings = 0, samples = 0;
};

struct History {
  std::vector<PatientEntry> patients;
  std::vector<DeviceEntry> devices;
  std::vector<RecordingEntry> recordings;
};

// One recording back out of the archive: the raw records, as a download
// hands them over, and the readings with the values derived from them; its
// patient as the report shows it (Recording::subject) and the plan it was
// measured on.
struct StoredRecording {
  RecordingEntry entry;
  DeviceEntry device;
  PatientEntry patient;
  std::string plan_json;  // the plan its readings were taken on; "" when not known
  _BP_DATASET set;
  _SPO2_DATASET spo2;
  report::Recording recording;
};

// ---------------------------------------------------------------------------
// The audit log.

struct AuditEntry {
  std::int64_t id = 0;
  std::string at;                 // local time, by the station's clock
  std::string action;             // "download", "import", "open-study", "hook-up", "move", "merge-patients", ...
  std::string user, db_role, station;
  std::int64_t study = 0, recording = 0, patient = 0;  // 0: none
  std::string details;            // a JSON object
};

struct AuditFilter {
  std::int64_t study = 0, recording = 0, patient = 0;  // 0: any
  std::string action;                                  // "": any
};

// ---------------------------------------------------------------------------

// Where `archive move` puts a recording: under the patient numbered
// `patient`, or, when that is 0, under the patient the recording's device
// texts and `label` name (made when new).
struct PatientTarget {
  std::int64_t patient = 0;
  std::string label;
};

struct MoveResult {
  std::int64_t study = 0;
  std::vector<std::int64_t> recordings;  // every recording of the study moves with it
  std::int64_t from = 0, to = 0;         // patients
};

struct MigrateResult {
  int from = 0, to = 0;  // schema versions
};

enum class OpenMode {
  kCreate,    // a SQLite file is made (with its folder) when missing; a new database gets the schema
  kExisting,  // for commands that only read: a missing archive is an error that names the location
};

struct OpenOptions {
  OpenMode mode = OpenMode::kCreate;
  // Below SchemaVersion(), a new archive is left as an older program made it
  // (for testing the migrations).
  int schema_version = SchemaVersion();
  Actor actor;  // who migrates, when the archive is migrated on opening
};

class Archive {
 public:
  virtual ~Archive() = default;
  // Opens the archive. A SQLite file and its folder are created readable by
  // their owner only. An older schema is brought up to date when this role
  // may change the schema; otherwise NeedsMigration ("ask its owner to run
  // bplink archive migrate"). No schema statement runs on an archive that
  // is up to date, so a role with read grants only can open it.
  static std::unique_ptr<Archive> Open(const Location& location, const OpenOptions& options = {});
  // Brings the archive's schema up to this program's, creating it where
  // there is none: the owner's command. Logged.
  static MigrateResult Migrate(const Location& location, const Actor& actor);

  // Proves that a download can be filed before any device is touched: a
  // write in a transaction that is rolled back (PostgreSQL: and every grant
  // filing needs). Throws ArchiveError naming what is missing.
  virtual void CheckWritable() = 0;
  // What a person should know about the archive opened (a SQLite file that
  // others may read); each a sentence.
  virtual std::vector<std::string> Warnings() const = 0;

  // Files a download in one transaction: all of it, or nothing. Each reading
  // goes under the study of its device that was open when it was taken (the
  // latest hooked up before it); a reading already filed stays where it is,
  // and one no study covers continues the device's latest recording of the
  // same patient or opens a study from the device's own patient texts.
  // A download whose patient label disagrees with how its readings are filed
  // throws FilingConflict. A complete download moves the studies it filed
  // to downloaded. `action` names the filing in the audit log ("download",
  // "import", "file-before-erase").
  virtual StoreResult Store(const Download& download, const Actor& actor, std::string_view action = "download") = 0;

  // Opens a study in state prepared (or takes the device's prepared study of
  // the same patient again); StartRecording once the plan is on the device
  // hooks it up at actor.at. Logged.
  virtual StudyEntry OpenStudy(const StudyRequest& request, const Actor& actor) = 0;
  virtual StudyEntry StartRecording(std::int64_t study, const Actor& actor) = 0;
  // The device's latest study still prepared or recording, if any.
  virtual std::optional<StudyEntry> OpenStudyOf(const DeviceIdentity& device) = 0;
  virtual StudyEntry LoadStudy(std::int64_t id) = 0;
  virtual std::vector<StudyEntry> Worklist(const WorklistFilter& filter) = 0;

  // Re-files the study recording `recording` belongs to (all its
  // recordings) under another patient. Logged.
  virtual MoveResult Move(std::int64_t recording, const PatientTarget& to, const Actor& actor) = 0;
  // Files every study of patient `merged` under `kept`; `merged` then stands
  // for `kept` (a later download naming it files under `kept`). Logged.
  virtual void MergePatients(std::int64_t kept, std::int64_t merged, const Actor& actor) = 0;

  // The audit log: append an entry (the archive adds the database role and
  // the time of `actor`), and read it back, oldest first.
  virtual void AppendLog(const AuditEntry& entry, const Actor& actor) = 0;
  virtual std::vector<AuditEntry> Log(const AuditFilter& filter) = 0;

  virtual History Query(const Filter& filter) = 0;
  // Throws ArchiveError when there is no recording `id`.
  virtual StoredRecording Load(std::int64_t id) = 0;
  virtual Engine engine() const = 0;
  // The database role this connection acts as on PostgreSQL (libpq's own
  // credentials decide it; the grants decide what it may do); "" on SQLite,
  // where the operating-system user works on the file.
  virtual std::string DatabaseRole() const = 0;
};

}  // namespace bplink::archive
