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
#include <bplink/report/stats.h>

#include <nlohmann/json.hpp>

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

// The archive holds no recording, study or patient of the number given.
class NotFound : public ArchiveError {
 public:
  using ArchiveError::ArchiveError;
};

// This database role lacks a grant the operation needs; the message names
// it and the grants that give it.
class NotPermitted : public ArchiveError {
 public:
  using ArchiveError::ArchiveError;
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
// station files downloads, opens studies and re-files them, and may not
// review or sign; a reviewing physician reads everything and writes only
// what the review adds (review inputs, signatures, the audit log, and the
// study's state), never a reading.
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
  bool reviewed = false;   // the physician has stored inputs for it
  int signed_versions = 0; // versions of its interpretation signed; all but the one in force superseded
  bool amending = false;   // an amendment of the latest version is under way, not signed yet
  std::string plan_start;  // when the plan its readings were taken on was uploaded; "" when not known
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
  // The readings and samples, the patient, device, plan and the plan's start,
  // when it was downloaded and whether whole: every input of the report the
  // archive keeps beside the physician's (ReportableRecording adds those).
  report::Recording recording;
};

// ---------------------------------------------------------------------------
// The physician's review and signature.
//
// What a signed recording allows is one rule, kept by the database itself
// (triggers on both engines), so that no door gets past it, this library's
// callers, another program or a person at the SQL prompt alike: its
// readings, SpO2 samples, patient, plan and download stay as signed; its
// review inputs change only by an amendment of its latest signed version,
// which is signed again as the next version, the earlier ones kept and
// superseded; no review or signature is ever changed or removed. A change
// the rule refuses is an ArchiveError whose message names the rule.

// The physician's inputs stored for a recording: a new row each time they
// are set, the latest in force.
struct ReviewRecord {
  std::int64_t id = 0, recording = 0, study = 0;
  report::ReviewInputs inputs;
  std::int64_t amends = 0;  // the signature an amendment changes; 0: none
  std::string at, user, db_role, station;
};

// One signed version of a recording's interpretation.
struct SignatureRecord {
  std::int64_t id = 0, recording = 0, study = 0;
  report::SignedVersion signed_version;  // version, interpretation, signer, role, station, time, hash
  std::int64_t amends = 0;               // the signature this one amends; 0 for version 1
  std::string content;                   // the inputs signed, as SignedContent wrote them; hash is its SHA-256
};

// Where a recording's review stands: what the workstation shows, and what
// `bplink send` asks before it sends.
struct ReviewState {
  std::int64_t recording = 0, study = 0;
  std::optional<ReviewRecord> review;      // the inputs in force; none before the first review
  std::vector<SignatureRecord> signatures; // every version, oldest first
  bool amending = false;                   // the latest review amends the latest version: not signed again yet
  // Signed, with no amendment under way: the report as it stands is signed.
  bool Signed() const { return !signatures.empty() && !amending; }
  // The version in force: the latest, when Signed(); null otherwise.
  const SignatureRecord* Current() const { return Signed() ? &signatures.back() : nullptr; }
  // Every version as the report shows them.
  report::Signature AsSignature() const;
};

struct ReviewResult {
  ReviewState state;     // after the review
  bool changed = false;  // false: the inputs in force were these already, and nothing was stored
  std::string changes;   // what changed, a JSON object as the audit log keeps it
};

// What a review or signature asks is refused, and nothing was stored: an
// input the recording does not fit (an exclusion at a time it holds no
// reading at; the message names the input and the form it takes), an empty
// interpretation, or a change the signature does not allow (the message
// names the rule and what may be done instead).
class ReviewRefused : public ArchiveError {
 public:
  using ArchiveError::ArchiveError;
};

// The document a signature's hash is taken of: every input of the
// recording's report, as canonical JSON (members in byte order, no white
// space, UTF-8). Its members: "content" (the document's form, 1),
// "recording", "study", "patient" (identifier, system, name, birth date,
// sex, the device's texts and the label), "device" (family, type, protocol,
// variant, version, label), "set_mode", "plan" (the day and night periods,
// or null), "plan_start", "downloaded_at", "complete", "readings" (time,
// sys, dia, map, pulse, valid, in the order filed), "spo2" (time, spo2,
// pulse) and "review" (ReviewToJson of `inputs`). Nothing else: who signed,
// when, or the interpretation change no hash.
std::string SignedContent(const StoredRecording& stored, const report::ReviewInputs& inputs);
// SHA-256 of `bytes`, 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::string_view bytes);

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

// A study's result sent to the patient's record: the audit log entry that
// keeps it, with the delivery's receipt (delivery::Receipt::ToJson()) as its
// details. Append it with Archive::AppendLog once the receipt says
// acknowledged (or to keep a refusal too: the receipt says which).
inline constexpr const char* kSentAction = "sent";
AuditEntry SentEntry(std::int64_t study, std::int64_t recording, const nlohmann::json& receipt);

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
  // One patient or device by its number, also one no recording is filed
  // under yet (a study prepared or out on the patient). Throw NotFound.
  virtual PatientEntry Patient(std::int64_t id) = 0;
  virtual DeviceEntry Device(std::int64_t id) = 0;
  // Patient(id) and Device(id) for each of `ids`, in their order (a number
  // may come twice), read at once rather than one by one: for naming the
  // rows of a list. Throw NotFound for the first number there is none of.
  virtual std::vector<PatientEntry> Patients(const std::vector<std::int64_t>& ids);
  virtual std::vector<DeviceEntry> Devices(const std::vector<std::int64_t>& ids);
  // Throws ArchiveError when there is no recording `id`.
  virtual StoredRecording Load(std::int64_t id) = 0;
  virtual Engine engine() const = 0;
  // The database role this connection acts as on PostgreSQL (libpq's own
  // credentials decide it; the grants decide what it may do); "" on SQLite,
  // where the operating-system user works on the file.
  virtual std::string DatabaseRole() const = 0;

  // The physician's review and signature of recording `recording`.
  virtual ReviewState ReviewOf(std::int64_t recording) = 0;
  // Stores `inputs`, whole, as the recording's review, once the report's own
  // rules find they fit it (ReviewRefused otherwise, and nothing changes);
  // moves its study to reviewed; logged ("review") with what changed. Inputs
  // equal to those in force store nothing. A signed recording's inputs
  // change only with `amend`, which starts an amendment of its latest
  // version (one under way goes on without it).
  virtual ReviewResult Review(std::int64_t recording, const report::ReviewInputs& inputs, bool amend,
                              const Actor& actor) = 0;
  // Signs `interpretation` on the inputs in force, as the next version: 1,
  // or, where an amendment is under way (or `amend` starts one on the
  // inputs as they stand), the next, superseding the one before. The signer
  // is actor.user and this connection's database role, the time actor.at,
  // the hash SHA-256 of SignedContent. Moves the study to signed once every
  // recording of it that was reviewed is signed. Logged ("sign").
  virtual SignatureRecord Sign(std::int64_t recording, const std::string& interpretation, bool amend,
                               const Actor& actor) = 0;
  // What a signature on the recording now would hash: SignedContent of it
  // and the inputs in force.
  virtual std::string SignedContentOf(std::int64_t recording) = 0;
  // The same patient's latest recording, of another study, that ended before
  // this one began: the previous study its report shows beside it.
  virtual std::optional<std::int64_t> PreviousRecording(std::int64_t recording) = 0;
};

// Re-opens signed recording `recording`'s review as an amendment of its
// latest version, on the inputs in force (which the physician then edits
// and signs again as the next version), and keeps `reason` in the audit log
// ("amend"). A reason is required: an amendment without one is refused, as
// is one of a recording that is not signed, or whose amendment is under
// way already (ReviewRefused, nothing stored).
ReviewResult Amend(Archive& archive, std::int64_t recording, std::string_view reason, const Actor& actor);

// A recording as its report is made from the archive, the same for every
// door (`report --recording`, every `export`, the workstation): what the
// archive keeps of it (marked incomplete where it was filed so), the
// physician's inputs kept with it (Recording::kept_review, which
// report::WriteReport applies), every version of its signature, and the
// patient's previous study analysed by `profile`. Throws ArchiveError.
report::Recording ReportableRecording(Archive& archive, std::int64_t recording, const report::Profile& profile);
// The same for a recording the caller loaded already (Archive::Load), which
// is not read a second time.
report::Recording ReportableRecording(Archive& archive, const StoredRecording& stored, const report::Profile& profile);

}  // namespace bplink::archive
