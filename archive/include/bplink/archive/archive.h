// The archive of downloads: every reading a device gave, kept once, filed
// under its device and patient, in a SQLite file (one PC) or a PostgreSQL
// database (several download stations). Both engines hold the same schema
// and behave the same; which one a location names is all a caller chooses.
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
// the password belongs in the password file or the service file.
Location ParseLocation(std::string_view text);

// The schema this program writes. An archive at a lower version is brought
// up to it when opened; one at a higher version is refused.
int SchemaVersion();

// One device's download, as the library handed it over.
struct DownloadedSet {
  int mode = 0;  // the data mode that names the set
  const _BP_DATASET* set = nullptr;
};

struct Download {
  std::string family;          // the program's name for the device's family
  tag_SUPPORT_PROTOCOL device;
  std::string device_label;    // what the user calls this device; "" when nothing
  const _BP_TRANSPORT_INFO* plan = nullptr;  // null when the device sent none
  std::vector<DownloadedSet> sets;
  const _SPO2_DATASET* spo2 = nullptr;       // null without SpO2; filed with the first set
  bool complete = true;        // false when the transfer was stopped or failed part-way
  std::string patient_label;   // what the user adds to the device's patient texts
  std::string station;         // which PC downloaded it
  CalendarTime downloaded_at;
};

struct StoreResult {
  std::int64_t readings = 0;      // readings in the download
  std::int64_t new_readings = 0;  // of them, not in the archive before
  std::int64_t samples = 0;       // SpO2 samples, likewise
  std::int64_t new_samples = 0;
  std::vector<std::int64_t> recordings;  // the recordings filed or added to
};

// What `history` lists. Empty members do not filter.
struct Filter {
  std::string patient;  // a patient id, or part of a patient text or label
  std::string device;   // a device id, family or label
  std::string from;     // YYYY-MM-DD: recordings that end on or after it
  std::string to;       // YYYY-MM-DD: recordings that start on or before it
};

struct PatientEntry {
  std::int64_t id = 0;
  std::vector<std::string> texts;  // as the device stores them
  std::string label;
  std::int64_t recordings = 0, readings = 0;
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
  std::int64_t device_id = 0, patient_id = 0;
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
// hands them over, and the readings with the values derived from them.
struct StoredRecording {
  RecordingEntry entry;
  DeviceEntry device;
  PatientEntry patient;
  _BP_DATASET set;
  _SPO2_DATASET spo2;
  report::Recording recording;
};

class Archive {
 public:
  virtual ~Archive() = default;
  // Opens the archive, creating it (SQLite: the file and its folder,
  // readable by their owner only) and bringing its schema up to date.
  // `schema_version` below SchemaVersion() leaves a new archive as an older
  // program made it (for testing the migrations).
  static std::unique_ptr<Archive> Open(const Location& location, int schema_version = SchemaVersion());

  // Files a download in one transaction: all of it, or nothing.
  virtual StoreResult Store(const Download& download) = 0;
  virtual History Query(const Filter& filter) = 0;
  // Throws ArchiveError when there is no recording `id`.
  virtual StoredRecording Load(std::int64_t id) = 0;
  virtual Engine engine() const = 0;
  // Who works on the archive: on PostgreSQL the database role this
  // connection logged in as (libpq's own credentials decide it), on SQLite
  // the operating-system user.
  virtual std::string User() = 0;
};

}  // namespace bplink::archive
