// What the upload form holds beside the plan: the patient the plan is meant
// for, whose fields open a study as `bplink upload --patient-id ...
// --archive` does (the same names: patient_id, patient_system,
// patient_name, birth_date, sex), and the person's "upload all the same"
// for a plan the check warns about (accept_warnings).
#pragma once

#include <bplink/plan/plan_check.h>
#include <bplink/report/readings.h>

#include <optional>
#include <string>
#include <vector>

#include "form.h"

namespace bplink::web {

inline constexpr const char* kAcceptWarnings = "accept_warnings";

// The names of the fields the upload form holds beside the plan's own.
const std::vector<std::string>& UploadFieldNames();

// The patient fields (no <form> around them), filled with `shown`.
std::string PatientFormFields(const report::PatientInfo& shown);

// The patient the form names; empty when it names none (the upload then
// opens no study). Each value is held to the rule every door keeps
// (report::CheckPatient, with `today` for the birth date): throws
// report::InputError naming the field and the form it takes.
report::PatientInfo PatientFromForm(const Fields& form, const std::optional<CalendarTime>& today);

// Whether the person confirmed the plan's warnings: accept_warnings "on";
// absent, not. Throws report::InputError for any other value.
plan::UploadConsent ConsentFromForm(const Fields& form);

}  // namespace bplink::web
