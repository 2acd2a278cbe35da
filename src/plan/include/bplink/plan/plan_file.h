// Measurement plans as people write them: the JSON plan file `bplink upload`
// reads (the "plan" member of a JSON download has the same shape), and what
// a given device keeps of a plan and allows in it. Used by the program and
// by the C interface; not part of the exported C++ API.
#pragma once

#include <bplink/families.h>
#include <bplink/records.h>

#include <istream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace bplink::plan {

// A plan that cannot be used; the message names the source, the field and
// what it may hold.
class PlanError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads and checks a plan file: JSON (// comments allowed) with the members
// "patient", "patient_values", "start", "period1", "period2", "extra",
// "options", "day_warn", "night_warn", "warn_switch", each optional (an
// absent member keeps the default plan's value), no others. "start" is
// accepted and ignored: an upload stamps the PC clock. `name` (the file)
// begins every message. Throws PlanError.
_BP_TRANSPORT_INFO ReadPlanFile(std::istream& in, const std::string& name);
_BP_TRANSPORT_INFO ReadPlanText(std::string_view text, const std::string& name);

// Plan fields by the names a plan file gives them: "patient[0]" ..
// "patient[3]", "patient_values", "period1", "period2", "extra",
// "options[0]" .. "options[3]", "day_warn" (its switch and limits[0..3]),
// "day_warn.limits[4]", "day_warn.limits[5]", the same for "night_warn",
// and "warn_switch"; in that order.
using FieldNames = std::vector<std::string>;

// The fields a device of `family`, as it identified itself, keeps when a
// plan is uploaded in data mode `mode`.
FieldNames KeptFields(const Family& family, const tag_SUPPORT_PROTOCOL& device, int mode);
// Of those, the ones a download in the same mode reads back, and the one
// the interval query reads back ("warn_switch").
FieldNames ReadBackFields(const Family& family, const tag_SUPPORT_PROTOCOL& device, int mode);
// Whether the interval query (PC_DownloadBPInfoTimeInterval) reads the
// plan a device of `family` holds, or hands over the default plan: only HID
// devices that keep an interval table answer with their own.
bool IntervalQueryReadsPlan(const Family& family, const tag_SUPPORT_PROTOCOL& device);
// The fields `plan` sets to something other than the default plan.
FieldNames FieldsSet(const _BP_TRANSPORT_INFO& plan);
// Of `fields`, those whose values differ between the two plans, as a device
// keeps them (an interval of 0 and "none" are the same; option 2 is a switch).
FieldNames FieldsDiffering(const _BP_TRANSPORT_INFO& a, const _BP_TRANSPORT_INFO& b, const FieldNames& fields);
// `fields` without those in `drop`, in their order.
FieldNames Without(const FieldNames& fields, const FieldNames& drop);
// "a, b, c".
std::string Join(const FieldNames& fields);

// The plan with "none" spelled as the interfaces spell it, whatever a device
// sent: an extra window that is not there has -1 in its four times and 0 as
// its interval, and an interval a device reports as unset (255) is 0, no
// measurements. What the C interface and Python hand to a host.
_BP_TRANSPORT_INFO WithNoneSpelledOut(const _BP_TRANSPORT_INFO& plan);

// An interval as a device keeps it: one it reports as unset (255), or a
// negative one, is 0, no measurements.
int IntervalMinutes(int interval);
// Whether `plan` has an extra measuring window: both times set and an
// interval above 0.
bool HasExtraWindow(const _BP_TRANSPORT_INFO& plan);

// The plan `bplink plan template` starts from: the default plan, but for a
// day interval of 30 minutes, since the default plan's 60 gives too few day
// readings for a valid recording (plan_check.h).
_BP_TRANSPORT_INFO TemplatePlan();

// The values of `plan` no device stores, as ReadPlanFile words them after
// `name` ("period1.start: hour 24 is out of range 0..23"): a plan that did
// not come from a file (a C struct, a Python dictionary) is held to the same
// limits. An unset interval (255) counts as 0. Empty when all are in range.
std::vector<std::string> OutOfRange(const _BP_TRANSPORT_INFO& plan, const std::string& name);

// The fields a device keeps that it does not allow as they stand: the
// intervals of its lists (`allowed`, as the interval query answered; the
// first list for the day period and the extra window, the second for the
// night period), where 0 (no measurements) is always allowed. One message
// for each, naming the field, its value and the allowed values, after
// `name`; empty when the device allows them all. HoldToDevice
// (plan_check.h) is what the doors call.
std::vector<std::string> NotAllowed(const _BP_TRANSPORT_INFO& plan, const _UPLOAD_NEEDED_DATA& allowed,
                                    const FieldNames& kept, const std::string& name);

}  // namespace bplink::plan
