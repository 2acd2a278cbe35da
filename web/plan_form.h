// The upload form: a plan as fields a person fills in, offering only what
// this device keeps and allows, and the filled form back to a plan. The
// form's field names are the plan file's ("period1.interval",
// "patient[0]"), so a refusal names the field the same way for a file and
// for the form; the form is read by the plan library's own reader and held
// to the device by its own check.
#pragma once

#include <bplink/plan/plan_file.h>
#include <bplink/records.h>

#include <string>

#include "form.h"

namespace bplink::web {

struct PlanChoices {
  plan::FieldNames kept;        // the fields this device keeps (plan::KeptFields)
  _UPLOAD_NEEDED_DATA allowed;  // its allowed intervals (host::AllowedInPlan)
  _BP_TRANSPORT_INFO shown;     // what the form starts with: the device's plan, or the default one
};

// The form's fields, in the plan's order (no <form> around them).
std::string PlanFormFields(const PlanChoices& choices);

// The plan the form gives: every field the device keeps must be there, no
// other (but `also`, the fields the page adds itself), each read as the plan
// file reader reads it and then held to the intervals the device allows.
// Throws plan::PlanError naming the field, its value and what it may be.
_BP_TRANSPORT_INFO PlanFromForm(const Fields& form, const PlanChoices& choices,
                                const std::vector<std::string>& also);

}  // namespace bplink::web
