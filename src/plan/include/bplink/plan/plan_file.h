// Measurement plans as people write them: the JSON plan file `bplink upload`
// reads (the "plan" member of a JSON download has the same shape), and what
// a given device keeps of a plan and allows in it. Used by the program and
// by the C interface's upload from JSON text; not part of the exported C++
// API.
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
// The fields `plan` sets to something other than the default plan.
FieldNames FieldsSet(const _BP_TRANSPORT_INFO& plan);
// Of `fields`, those whose values differ between the two plans, as a device
// keeps them (an interval of 0 and "none" are the same; option 2 is a switch).
FieldNames FieldsDiffering(const _BP_TRANSPORT_INFO& a, const _BP_TRANSPORT_INFO& b, const FieldNames& fields);
// `fields` without those in `drop`, in their order.
FieldNames Without(const FieldNames& fields, const FieldNames& drop);
// "a, b, c".
std::string Join(const FieldNames& fields);

// Checks the fields a device keeps against what it allows: the intervals of
// its lists (`allowed`, as the interval query answered; the first list for
// the day period and the extra window, the second for the night period),
// where 0 (no measurements) is always allowed. Throws PlanError naming the
// field, its value and the allowed values.
void CheckAllowed(const _BP_TRANSPORT_INFO& plan, const _UPLOAD_NEEDED_DATA& allowed, const FieldNames& kept,
                  const std::string& name);

}  // namespace bplink::plan
