#include "upload_form.h"

#include <array>

#include "html.h"

namespace bplink::web {
namespace {

struct PatientField {
  const char* name;   // the form's, and the program's option without its dashes
  const char* words;  // its label
  std::string report::PatientInfo::*member;
  const char* hint;
};

// The longest text a patient field takes: more than any name or number,
// less than a form may carry.
constexpr std::size_t kMostPatientText = 200;

constexpr std::array<PatientField, 5> kPatientFields = {{
    {"patient_id", "Patient identifier", &report::PatientInfo::id, "the clinic's number for the patient"},
    {"patient_system", "Identifier system", &report::PatientInfo::system,
     "a URI naming whose numbers they are, e.g. urn:clinic:mrn; may be empty"},
    {"patient_name", "Patient name", &report::PatientInfo::name, ""},
    {"birth_date", "Birth date", &report::PatientInfo::birth_date, "YYYY-MM-DD"},
    {"sex", "Sex", &report::PatientInfo::sex, "female, male, other or unknown"},
}};

constexpr std::array<const char*, 4> kSexes = {"female", "male", "other", "unknown"};

std::string Input(const PatientField& f, const std::string& value) {
  const std::string name = f.name;
  if (name == "sex") {
    std::string out = "<select name=\"sex\" id=\"sex\"><option value=\"\"" + std::string(value.empty() ? " selected" : "") +
                      ">not given</option>";
    for (const char* sex : kSexes)
      out += "<option value=\"" + std::string(sex) + "\"" + (value == sex ? " selected" : "") + ">" + sex + "</option>";
    return out + "</select>";
  }
  const std::string type = name == "birth_date" ? "date" : "text";
  return "<input type=\"" + type + "\" id=\"" + name + "\" name=\"" + name + "\" maxlength=\"" +
         std::to_string(kMostPatientText) + "\" value=\"" + Esc(value) + "\">";
}

}  // namespace

const std::vector<std::string>& UploadFieldNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const PatientField& f : kPatientFields) out.emplace_back(f.name);
    out.emplace_back(kAcceptWarnings);
    return out;
  }();
  return names;
}

std::string PatientFormFields(const report::PatientInfo& shown) {
  std::string out =
      "<fieldset class=\"study-patient\"><legend>The patient: opens a study in the archive (leave empty for "
      "none)</legend>\n";
  for (const PatientField& f : kPatientFields)
    out += "<div class=\"row\"><label for=\"" + std::string(f.name) + "\">" + Esc(f.words) +
           "</label><span class=\"control\">" + Input(f, shown.*f.member) + "</span>" +
           (*f.hint ? "<span class=\"hint\">" + Esc(f.hint) + "</span>" : "") + "</div>\n";
  return out + "</fieldset>\n";
}

report::PatientInfo PatientFromForm(const Fields& form, const std::optional<CalendarTime>& today) {
  report::PatientInfo patient;
  for (const PatientField& f : kPatientFields) {
    std::string value = form.Get(f.name).value_or("");
    // A browser sends what was typed: spaces around a number do not belong to it.
    const auto first = value.find_first_not_of(" \t"), last = value.find_last_not_of(" \t");
    value = first == std::string::npos ? "" : value.substr(first, last - first + 1);
    if (value.size() > kMostPatientText)
      throw report::InputError("the form: " + std::string(f.name) + ": longer than " +
                               std::to_string(kMostPatientText) + " characters");
    patient.*f.member = std::move(value);
  }
  if (const std::string problem = report::CheckPatient(patient, today); !problem.empty())
    throw report::InputError("the form: " + problem);
  // A system names whose identifiers they are: alone it names no patient.
  if (patient.Empty() && !patient.system.empty())
    throw report::InputError("the form: patient_system: give the patient's identifier (patient_id) with it");
  return patient;
}

plan::UploadConsent ConsentFromForm(const Fields& form) {
  const std::optional<std::string> value = form.Get(kAcceptWarnings);
  if (!value) return plan::UploadConsent::kWarningsNotAccepted;
  if (*value != "on") throw report::InputError(std::string("the form: ") + kAcceptWarnings + ": expected \"on\" or nothing");
  return plan::UploadConsent::kWarningsAccepted;
}

}  // namespace bplink::web
