// The one check a plan passes before any of it is sent to a device, whichever
// door it comes in by: the program's upload, the C interface with a struct or
// a plan file's text, and Python through either. Each door only reads the
// plan in its own form and then calls HoldToDevice; what a device allows, and
// the words a refusal is given in, live here once.
//
// A check has two kinds of finding. An error is a plan the device would not
// take (a value no device stores, an interval it does not offer): nothing is
// sent, whatever the host says. A warning is a plan the device would take
// but that a person should confirm before it is (say, one that cannot give
// a valid recording): it is sent only when the host accepted warnings at its
// door. Every door carries that acceptance through (UploadConsent), so a new
// kind of warning added here reaches each of them without a change there.
#pragma once

#include <bplink/families.h>
#include <bplink/plan/plan_file.h>
#include <bplink/protocol_base.h>

#include <string>
#include <vector>

namespace bplink::plan {

// What the host said at its door about warnings.
enum class UploadConsent { kWarningsNotAccepted, kWarningsAccepted };

struct PlanCheck {
  // 1: the plan was judged: held to the limits of every device and, within
  // them, to what this device allows (which it was asked). Otherwise it was
  // not: 6 (kResultNotInFamily) for a device that keeps no plan, else what
  // asking the device answered.
  int result = kResultOk;
  // What `result` means for this plan, when it is not 1: "this device keeps no plan".
  std::string why_not_judged;
  // Each names the field, its value and what the device allows, and begins
  // with the plan's name (the file, or "plan").
  std::vector<std::string> errors;
  std::vector<std::string> warnings;
  // The fields the device keeps, and those the plan sets that it does not
  // (their values are not stored; a door says so, it is no refusal).
  FieldNames kept;
  FieldNames dropped;

  // Whether the plan may be sent: judged, no error, and no warning unless
  // the host accepted them.
  bool MaySend(UploadConsent consent) const;
  // Why it may not, in one text: the errors, else the warnings, one a line.
  std::string Refusal() const;
  // "the device does not keep a, b"; empty when it keeps all the plan sets.
  std::string DroppedNote() const;
};

// How many readings a plan takes in 24 hours, by day and by night as the
// report splits them when it goes by the plan: day from the first period's
// start to the second's, night from there to the first's. Each period
// measures from its start every interval minutes until the other starts;
// an extra window measures at its own interval in the period's place.
// Only what `kept` names counts (a device that keeps no extra window
// measures none).
struct ReadingsPerDay {
  int day = 0;
  int night = 0;
};
ReadingsPerDay ReadingsOf(const _BP_TRANSPORT_INFO& plan, const FieldNames& kept);

// Why a plan the device would take cannot give a valid recording, each
// naming the fields and beginning with `name`: it measures nothing; day and
// night start at the same time; the night starts in the morning (from
// 04:00 until noon: day and night swapped, most likely); or it takes fewer
// readings by day or by night than the report's validity criteria need
// (<bplink/plan/recording_minimums.h>). Empty for a good plan, and where
// the device keeps neither period (`kept`).
std::vector<std::string> RecordingWarnings(const _BP_TRANSPORT_INFO& plan, const FieldNames& kept,
                                           const std::string& name);

// Asks the device behind `protocol` (of `family`, bound to its link) what a
// plan may hold in data mode `mode` (the interval query; the serial families
// answer with the library's list) and holds `plan` to it. The query may leave
// the device's own plan in the protocol object: hand `plan` over with
// SetUpLoadData after this call, not before. The check's warnings are
// RecordingWarnings. Never throws for a device's answer; the query's
// exceptions are the protocol's (it catches its own).
PlanCheck HoldToDevice(CProtocolBase& protocol, const Family& family, int mode, const _BP_TRANSPORT_INFO& plan,
                       const std::string& name);

}  // namespace bplink::plan
