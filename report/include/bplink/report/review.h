// What the physician adds to a recording when reviewing it: the patient's
// sleep and wake times from the diary, readings excluded by hand with a
// reason, the office blood pressure, a correction of the device's clock, and
// the clinical texts the page carries. One struct, written to and read from
// JSON as it stands, so that a study can keep it and a later review edit it;
// ApplyReview (readings.h) applies it to a recording. And the physician's
// signature on the interpretation, every version of it.
//
// Every value is checked where it is set, and a bad one is refused naming the
// field and the form it takes: the same words whether it came from the
// command line or from a file.
#pragma once

#include <bplink/env.h>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bplink::report {

// A night as two times of day, minutes after midnight: asleep from
// night_start, awake from day_start.
struct ClockWindow {
  int night_start = 0;
  int day_start = 0;
  friend bool operator==(const ClockWindow&, const ClockWindow&) = default;
};

// "23:00-06:30"; nullopt when it is not two times of day that differ.
std::optional<ClockWindow> ParseNightWindow(std::string_view text);
std::string FormatWindow(const ClockWindow& window);  // 23:00-06:30

struct OfficeReading {
  int sys = 0;  // mmHg
  int dia = 0;
  friend bool operator==(const OfficeReading&, const OfficeReading&) = default;
};

// A reading the physician leaves out. `time` is as the physician gave it: a
// local time (2024-03-04T12:00, seconds optional) or a time of day (12:00)
// that only one reading of the recording has.
struct HandExclusion {
  std::string time;
  std::string reason;
  friend bool operator==(const HandExclusion&, const HandExclusion&) = default;
};

struct ReviewInputs {
  std::optional<ClockWindow> sleep;          // from the patient's diary; decides day and night
  std::vector<HandExclusion> exclusions;
  std::optional<OfficeReading> office;
  int clock_offset_minutes = 0;              // added to every time the device gave
  std::string indication;
  std::string medication;
  std::string referring_physician;
  friend bool operator==(const ReviewInputs&, const ReviewInputs&) = default;
};

// The forms the values take, as messages name them.
inline constexpr const char* kSleepForm = "HH:MM-HH:MM, falling asleep and waking, like 23:00-06:30";
inline constexpr const char* kOfficeForm = "SYS/DIA in mmHg, the diastolic below the systolic, like 150/95";
inline constexpr const char* kClockOffsetForm =
    "[+|-]H:MM, the time to add to the device's clock, like +1:00 or -0:30";
inline constexpr const char* kExclusionForm =
    "a reading's time, YYYY-MM-DDTHH:MM[:SS], or HH:MM when one reading has it";
// The largest clock correction taken: a clock reset to its first day is
// years off, so this is wide on purpose.
inline constexpr int kMaxClockOffsetMinutes = 100 * 366 * 24 * 60;

// Setters for each field from its text, each throwing InputError that names
// `field` (the option or the JSON member) and the form the value takes. The
// inputs are left as they were when a value is refused.
void SetSleep(ReviewInputs& inputs, std::string_view text, const std::string& field);
void SetOffice(ReviewInputs& inputs, std::string_view text, const std::string& field);
void SetClockOffset(ReviewInputs& inputs, std::string_view text, const std::string& field);
void AddExclusion(ReviewInputs& inputs, std::string_view time, std::string_view reason, const std::string& field);

// Why an office reading cannot be one (the editing limits of stats.h and the
// diastolic below the systolic), or empty.
std::string OfficeProblem(const OfficeReading& office);
std::string FormatClockOffset(int minutes);  // +1:00, -0:30

// {"sleep": "23:00-06:30", "exclusions": [{"time": "...", "reason": "..."}],
//  "office": "150/95", "clock_offset": "+1:00", "indication": "...",
//  "medication": "...", "referring_physician": "..."}; members that are not
// given are left out. Reading it back gives the same inputs; a member that
// is wrong is refused naming `name` and the member (InputError).
nlohmann::json ReviewToJson(const ReviewInputs& inputs);
ReviewInputs ReviewFromJson(const nlohmann::json& doc, const std::string& name);

// `over` given over `base`, as a later review edits an earlier one: each
// value `over` sets (a sleep window, an office reading, a clock offset other
// than 0, a text that is not empty) replaces base's; its exclusions are added
// to base's, the same time given again taking over's reason.
ReviewInputs ReviewOver(ReviewInputs base, const ReviewInputs& over);

// ---------------------------------------------------------------------------
// The signature.

// One signed version of the physician's interpretation.
struct SignedVersion {
  int version = 1;             // 1, then 2, 3 ... for each amendment
  std::string interpretation;  // as the physician wrote it, lines separated by '\n'
  std::string signer;          // the operating-system user who signed
  std::string db_role;         // and the database role (PostgreSQL); empty elsewhere
  std::string station;         // the PC signed on
  CalendarTime signed_at;      // by that PC's clock
  std::string hash;            // SHA-256 of the report's inputs as signed, lower-case hex
  friend bool operator==(const SignedVersion&, const SignedVersion&) = default;
};

// Every version signed, oldest first. The last is the one in force unless an
// amendment is under way (the inputs were changed after it and it has not
// been signed again); the earlier ones are superseded, kept and shown so.
struct Signature {
  std::vector<SignedVersion> versions;
  bool amending = false;
  // The version the report now shown is signed as, or null (none, or an
  // amendment not signed yet).
  const SignedVersion* InForce() const { return versions.empty() || amending ? nullptr : &versions.back(); }
  friend bool operator==(const Signature&, const Signature&) = default;
};

// "final" for the first version, "amended" for a later one: FHIR's
// DiagnosticReport status words.
const char* SignedStatus(const SignedVersion& version);

// {"amending": false, "versions": [{"version": 1, "status": "final",
//  "superseded": false, "interpretation": "...", "signer": "...",
//  "db_role": "...", "station": "...", "signed_at": "2024-03-05T10:15:00",
//  "hash": "..."}]}; status and superseded are derived and not read back.
// A member that is wrong is refused naming `name` and the member (InputError).
nlohmann::json SignatureToJson(const Signature& signature);
Signature SignatureFromJson(const nlohmann::json& doc, const std::string& name);

}  // namespace bplink::report
