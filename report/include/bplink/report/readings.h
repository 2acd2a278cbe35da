// The readings an ambulatory report is computed from, and the loaders that
// produce them: a CSV of readings, a device download held in the library's
// records, and the JSON a download is saved as.
//
// A loader keeps every reading it is given, the ones the device marked
// invalid included: the report counts what it leaves out, so leaving out is
// the analysis' job, not the loader's.
#pragma once

#include <bplink/bplink.h>
#include <bplink/report/review.h>

#include <nlohmann/json_fwd.hpp>

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace bplink::report {

// Input that cannot be read. The message names the file and the line,
// column or JSON member at fault.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Reading {
  CalendarTime time;  // local time, as the device or the file gives it
  double sys = 0;     // mmHg
  double dia = 0;
  std::optional<double> map;
  std::optional<double> pulse;   // beats per minute
  std::optional<bool> awake;     // from a diary or actigraphy
  bool device_valid = true;      // false when the device marked the measurement invalid
  // Why the file it came from marked it invalid (the program's own CSV says
  // why in a column); empty: the device's mark, or not marked.
  std::string invalid_reason;
  // Why the physician left it out (ApplyReview); empty: not by hand.
  std::string hand_excluded;
  // Filled by the analysis: why the reading is not counted (empty when it
  // is), and whether it falls in the night.
  std::string excluded;
  bool night = false;
};

struct SpO2Sample {
  CalendarTime time;
  int spo2 = 0;   // percent
  int pulse = 0;  // beats per minute
};

struct DeviceSummary {
  std::string description;  // a line a person reads, e.g. "ambulatory recorder (HID protocol 1, version 5)"
  std::optional<int> device_type;
  std::string kind;         // "ambulatory recorder"
  std::string family;       // the link and protocol: "USB HID" or "KX71 serial"
  std::string version;      // the protocol version the device reported; empty when none
  std::string serial;       // empty unless the saved download carries one
};

// Who was recorded, from the report's own inputs (a --patient file or
// options); every member may be empty. The device's patient texts stay in
// Recording::patient: what they hold is the clinic's choice.
struct PatientInfo {
  std::string name;
  std::string id;
  std::string birth_date;  // YYYY-MM-DD
  std::string sex;         // female, male, other or unknown
  std::string system = {};  // the system the id belongs to (a URI, e.g. the clinic's record numbers); may be empty
  bool Empty() const { return name.empty() && id.empty() && birth_date.empty() && sex.empty(); }
};

// Minutes after midnight.
struct PlanPeriods {
  int day_start = 0;
  int day_interval = 0;
  int night_start = 0;
  int night_interval = 0;
};

// The same patient's study before this one, shown beside it: its means and
// its class, as its own report gave them.
struct PreviousStudy {
  std::string label;                 // e.g. "recording 12", or the file it came from
  std::string kind;                  // "ambulatory" or "home"
  std::optional<CalendarTime> first; // its first and last counted reading
  std::optional<CalendarTime> last;
  struct Means {
    std::optional<double> sys, dia;
  };
  std::array<Means, 3> means;        // 24 h, day, night; a home study: its mean first
  std::string verdict;               // its class, or "not interpretable"
};

struct Recording {
  std::string source;                 // the file read, or where the download came from
  std::vector<std::string> patient;   // the patient texts the device holds, non-empty ones only
  std::optional<DeviceSummary> device;
  std::optional<PlanPeriods> plan;    // only when the device reported one
  // When the plan was uploaded (the PC clock the upload set the device to);
  // a reading dated earlier cannot belong to this recording.
  std::optional<CalendarTime> plan_start;
  std::vector<Reading> readings;      // in the order given
  std::vector<SpO2Sample> spo2;
  std::string set_label;              // which data set or store of the download, e.g. "set 1 of 2"
  PatientInfo subject;                // from the report's patient inputs, not the device
  // Set when the download stopped part-way (Ctrl-C, a silent device): why.
  // Such a recording is never called valid, whatever it holds.
  std::optional<std::string> incomplete;
  // When the download was made, by the downloading machine's clock; a
  // reading dated later cannot be real (a device clock or plan start set
  // wrong) and is left out.
  std::optional<CalendarTime> downloaded_at;
  // The physician's inputs, once ApplyReview has applied them.
  ReviewInputs review;
  // The physician's inputs the recording was kept with (an archived study's,
  // or those an exported file carries), not applied yet: WriteReport applies
  // them, with those given for the report over them (ReviewOver).
  std::optional<ReviewInputs> kept_review;
  // The physician's signature, every version, when the recording has one.
  std::optional<Signature> signature;
  // The patient's previous study, when the caller knows it.
  std::optional<PreviousStudy> previous;
};

// The physician's inputs applied to a recording, all or nothing: the clock
// offset moves every reading and sample, each hand exclusion marks the one
// reading it names, and the rest is kept for the analysis in
// `recording.review`. Throws InputError naming the input at fault (an
// exclusion at a time the recording does not hold, say) and leaves the
// recording as it was.
void ApplyReview(Recording& recording, const ReviewInputs& inputs);
// Takes back the hand exclusion of `inputs` that names the reading `time`
// names (either as a local time or, where one reading has it, a time of
// day), the recording's times as the page shows them (the clock offset of
// `inputs` applied). Throws InputError naming `field` when no exclusion
// names that reading, and leaves `inputs` as they were.
void TakeBackExclusion(ReviewInputs& inputs, const Recording& recording, std::string_view time,
                       const std::string& field);

// ---------------------------------------------------------------------------
// Loaders. Each throws InputError.

// Which data set or store to report: 1-based; nullopt for the first that
// holds readings.
using SetChoice = std::optional<int>;

// A CSV with the header `time,sys,dia` and optionally `map`, `pulse`,
// `awake`, in any order; times in ISO 8601 local time. The CSV the program
// writes is read too: `systolic (mmHg)`, `diastolic (mmHg)`, `MAP (mmHg)`,
// `pulse (bpm)` name the same columns, `valid` (yes/no) and `reason` mark
// the readings left out, `set` names the set of each row (the report takes
// one, as `set` picks; rows of set "SpO2" are oximetry samples with
// `SpO2 (%)`).
Recording LoadCsv(std::istream& in, const std::string& name, SetChoice set = std::nullopt);

// A download as the library hands it over. `plan` is null when the device
// reports none; `spo2` is null or empty when it has no samples.
Recording RecordingFromDownload(const _BP_DATASET& set, const _BP_TRANSPORT_INFO* plan,
                                const _SPO2_DATASET* spo2, std::optional<DeviceSummary> device);
// The same from GetDownLoadData's record, reading the layout the device type
// decides: the first blood-pressure set of an ambulatory recorder, set 1 and
// SpO2 of a monitor with SpO2, store 1 of a three-store monitor (which has
// no plan).
// `set` picks set 1 or 2 of a recorder, store 1 to 3 of a three-store
// monitor; InputError names the sets there are when it is not one of them.
Recording RecordingFromDownload(const _DOWNLOAD_DATAINFO& data, const tag_SUPPORT_PROTOCOL& device,
                                SetChoice set = std::nullopt);

// One record as a reading: diastolic and mean the lower and the higher of
// the record's two further pressures, no pulse where it is 0.
Reading ReadingOf(const _BP_RECORD& record);

// How the report names a device the library identified.
DeviceSummary DescribeDevice(const tag_SUPPORT_PROTOCOL& device);
// Whether the device is an ambulatory recorder (device type 1); the others
// are monitors a patient uses at home.
bool IsAmbulatoryRecorder(const DeviceSummary& device);

// When the plan was uploaded, or nullopt when the device gave no valid time.
std::optional<CalendarTime> PlanStart(const _BP_TRANSPORT_INFO& plan);
// Whether the plan's start bounds the readings of the set of data mode
// `mode`: an ambulatory recorder's second set (mode 3) is a recording of
// its own, measured before the plan now in the device.
bool PlanStartBounds(int mode);

// A download saved as JSON, in the shape report/README.md describes. A
// recording exported from the archive also carries its patient (`patient`,
// read into Recording::subject) and the day and night the report uses
// (`day_night`, over the plan's periods).
Recording LoadDownloadJson(std::istream& in, const std::string& name, SetChoice set = std::nullopt);

// A file of either kind: JSON when its first non-blank character is '{'.
Recording LoadInputFile(const std::string& path, SetChoice set = std::nullopt);

// {"name": ..., "id": ..., "system": ..., "birth_date": "YYYY-MM-DD",
// "sex": "female"}, every member optional; errors name the member.
PatientInfo LoadPatientJson(std::istream& in, const std::string& name);
// The same members from a JSON object already parsed; `path` names it in errors.
PatientInfo PatientFromJson(const nlohmann::json& doc, const std::string& name);
// Each member of `over` that is not empty, over `base`.
PatientInfo PatientOver(PatientInfo base, const PatientInfo& over);
// The member at fault and its allowed values, or empty when `p` is good. A
// birth date after `today` is refused.
std::string CheckPatient(const PatientInfo& p, const std::optional<CalendarTime>& today = std::nullopt);

// ---------------------------------------------------------------------------
// Helpers the loaders and the writers share.

// Units of time.
inline constexpr int kSecondsPerMinute = 60;
inline constexpr int kMinutesPerHour = 60;
inline constexpr int kHoursPerDay = 24;
inline constexpr int kMinutesPerDay = kHoursPerDay * kMinutesPerHour;
inline constexpr std::int64_t kSecondsPerHour = kSecondsPerMinute * kMinutesPerHour;
inline constexpr std::int64_t kSecondsPerDay = kSecondsPerHour * kHoursPerDay;

// What some editors put before the first line of a UTF-8 file.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// "2024-03-01T08:30:00" or "2024-03-01 08:30" (seconds optional).
std::optional<CalendarTime> ParseLocalTime(std::string_view text);
std::string FormatLocalTime(const CalendarTime& t);            // 2024-03-01T08:30:00
// For people: "4 Mar 2024 09:00", and "4 Mar 09:00" where the year is plain.
std::string FormatDateTime(const CalendarTime& t);
std::string FormatDayTime(const CalendarTime& t);
std::string FormatDate(const CalendarTime& t);                 // 4 Mar 2024
std::string FormatClock(int minutes_after_midnight);           // 08:30
// Minutes east of UTC at a local time.
using UtcOffset = std::function<int(const CalendarTime&)>;
// The offset the machine's time zone (TZ) has at that local time.
int MachineUtcOffset(const CalendarTime& local);
// "+01:00", "-05:30", "Z" or "UTC" as minutes east of UTC; nullopt otherwise.
std::optional<int> ParseUtcOffset(std::string_view text);
std::string FormatUtcOffset(int minutes);  // UTC+01:00
// The zone the device's clock kept: `name` as the user gave it (empty: this
// machine's zone), `offset` its offsets (empty: the machine's).
struct DeviceZone {
  std::string name;
  UtcOffset offset;
  int At(const CalendarTime& local) const { return offset ? offset(local) : MachineUtcOffset(local); }
  std::string Name() const { return name.empty() ? "this computer's time zone" : name; }
};
// Now, in the zone: the Env's local time moved to UTC by the machine's zone,
// then to `zone`.
CalendarTime NowIn(const DeviceZone& zone);

// Seconds from a fixed origin, for ordering and spacing readings, and back.
std::int64_t SecondsOf(const CalendarTime& t);
CalendarTime TimeOf(std::int64_t seconds);
// A device text field (single-byte characters, zero-terminated within
// `size`) as UTF-8; bytes above 0x7F are taken as Latin-1, the closest guess
// for a device that does not say its code page.
std::string TextFromDevice(const char* field, std::size_t size);

}  // namespace bplink::report
