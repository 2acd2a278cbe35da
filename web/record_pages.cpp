#include "record_pages.h"

#include <nlohmann/json.hpp>

#include "study_pages.h"

namespace bplink::web {
namespace {

std::string Number(std::int64_t n) { return n == 0 ? std::string() : std::to_string(n); }

// How a patient is named in a sentence: "patient 3 (P-42, Jane Doe)".
std::string Named(const PatientRow& p) {
  std::string known = p.person.id.empty() ? p.label : p.person.id;
  if (!p.person.name.empty()) known += (known.empty() ? "" : ", ") + p.person.name;
  if (known.empty())
    for (const std::string& t : p.texts) known += (known.empty() ? "" : " / ") + t;
  return "patient " + std::to_string(p.id) + (known.empty() ? "" : " (" + known + ")");
}

std::string Numbers(const std::vector<std::int64_t>& ids) {
  std::string text;
  for (const std::int64_t id : ids) text += (text.empty() ? "" : ", ") + std::to_string(id);
  return text;
}

std::string Hidden(std::string_view name, std::int64_t value) {
  return "<input type=\"hidden\" name=\"" + Esc(name) + "\" value=\"" + std::to_string(value) + "\">";
}

std::string NumberInput(std::string_view name, std::string_view label, std::int64_t value) {
  return "<label>" + Esc(label) + " <input type=\"number\" min=\"1\" name=\"" + Esc(name) + "\" value=\"" +
         Number(value) + "\"></label>\n";
}

// Who made a log entry: the OS user, and the database role where there is one.
std::string Who(const LogRow& e) {
  return Esc(e.user) + (e.db_role.empty() ? "" : " <span class=\"role\">(database role " + Esc(e.db_role) + ")</span>");
}

// A log entry's details: its JSON object, its members one a line.
std::string Details(const std::string& details) {
  const nlohmann::json doc = nlohmann::json::parse(details, nullptr, false);
  if (!doc.is_object()) return Esc(details);
  std::string out;
  for (const auto& [key, value] : doc.items())
    out += (out.empty() ? "" : "<br>") + Esc(key) + ": " +
           Esc(value.is_string() ? value.get<std::string>()
                                 : value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  return out;
}

// The text of a member of a sending's receipt; "" when it has none.
std::string Member(const nlohmann::json& doc, const char* name) {
  if (!doc.contains(name)) return "";
  const nlohmann::json& v = doc[name];
  return v.is_string() ? v.get<std::string>() : v.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string PatientHref(std::int64_t patient) { return "/patient?p=" + std::to_string(patient); }

std::string LogHref(const LogQuery& query) {
  if (query.study != 0) return "/log?study=" + std::to_string(query.study);
  if (query.patient != 0) return "/log?patient=" + std::to_string(query.patient);
  return "/log";
}

Page PatientsPage(const std::string& text, const std::vector<PatientRow>& rows) {
  Page page{"Patients", Screen::kPatients, "", false};
  std::string& b = page.body;
  b += "<form method=\"get\" action=\"/patients\" class=\"filter\">\n" +
       TextInput("q", "Number, identifier, name or label", text) +
       "<button type=\"submit\">Filter</button> <a href=\"/patients\">All patients</a>\n</form>\n";
  if (rows.empty()) {
    b += text.empty() ? "<p class=\"empty\">The archive keeps no patients yet.</p>\n"
                      : "<p class=\"empty\">No patient matches this filter.</p>\n";
    return page;
  }
  b += "<table class=\"patients\">\n<thead><tr><th>patient</th><th>identifier</th><th>name</th><th>birth date</th>"
       "<th>sex</th><th>label and device texts</th><th>studies</th><th>recordings</th><th>readings</th></tr></thead>\n"
       "<tbody>\n";
  for (const PatientRow& p : rows) {
    std::string texts = p.label;
    for (const std::string& t : p.texts) texts += (texts.empty() ? "" : " / ") + t;
    b += "<tr data-patient=\"" + std::to_string(p.id) + "\"><td><a href=\"" + Esc(PatientHref(p.id)) + "\">Patient " +
         std::to_string(p.id) + "</a></td><td>" + Esc(p.person.id) +
         (p.person.system.empty() ? "" : " <span class=\"muted\">(" + Esc(p.person.system) + ")</span>") +
         "</td><td class=\"name\">" + Esc(p.person.name) + "</td><td>" + Esc(p.person.birth_date) + "</td><td>" +
         Esc(p.person.sex) + "</td><td>" + Esc(texts) + "</td><td class=\"studies\">" + std::to_string(p.studies) +
         "</td><td>" + std::to_string(p.recordings) + "</td><td>" + std::to_string(p.readings) + "</td></tr>\n";
  }
  b += "</tbody>\n</table>\n";
  return page;
}

Page PatientPage(const PatientDetail& d) {
  const PatientRow& p = d.row;
  Page page{"Patient " + std::to_string(p.id) + (p.person.name.empty() ? "" : ": " + p.person.name),
            Screen::kPatients, "", false};
  std::string& b = page.body;
  std::string texts;
  for (const std::string& t : p.texts) texts += (texts.empty() ? "" : " / ") + t;
  b += "<table class=\"facts patient\">\n" + Row("name", OrNone(p.person.name)) +
       Row("patient ID", OrNone(p.person.id) +
                             (p.person.system.empty() ? "" : " <span class=\"muted\">(" + Esc(p.person.system) + ")</span>")) +
       Row("birth date", OrNone(p.person.birth_date)) + Row("sex", OrNone(p.person.sex)) +
       Row("label", OrNone(p.label)) + Row("patient texts on the device", OrNone(texts)) +
       Row("log", "<a class=\"log-link\" href=\"" + Esc(LogHref({0, p.id})) + "\">this patient's log</a>") +
       "</table>\n<h2>Studies</h2>\n";
  b += d.studies.empty() ? "<p class=\"empty\">None.</p>\n" : StudyTable(d.studies, "studies");
  // Each form asks for its confirmation first: a GET, which changes nothing.
  if (!d.recordings.empty()) {
    std::vector<Choice> choices;
    for (const auto& [recording, study] : d.recordings)
      choices.push_back({static_cast<int>(recording),
                         "Recording " + std::to_string(recording) + " (study " + std::to_string(study) + ")"});
    b += "<h2>Move a recording to another patient</h2>\n<form method=\"get\" action=\"/patients/move\" "
         "class=\"move\">\n<label>Recording " +
         Select("r", choices, choices.front().value) + "</label>\n" + NumberInput("to", "to patient", 0) +
         "<button type=\"submit\">Move…</button> <span class=\"hint\">its whole study moves; you confirm "
         "first</span>\n</form>\n";
  }
  b += "<h2>Merge another patient into this one</h2>\n"
       "<form method=\"get\" action=\"/patients/merge\" class=\"merge\">\n" +
       Hidden("kept", p.id) + NumberInput("merged", "Patient", 0) +
       "<button type=\"submit\">Merge…</button> <span class=\"hint\">every study of that patient is filed under "
       "this one; you confirm first</span>\n</form>\n";
  return page;
}

Page MoveConfirmPage(const MovePreview& m, const std::string& csrf) {
  Page page{"Move study " + std::to_string(m.study), Screen::kPatients, "", false};
  page.body = "<p class=\"confirm\" id=\"confirm\">Study " + std::to_string(m.study) + " (" + Esc(m.study_row.state) +
              "; recordings " + Numbers(m.recordings) + ", " + std::to_string(m.study_row.readings) +
              " readings) moves from " + Esc(Named(m.from)) + " to " + Esc(Named(m.to)) +
              ". The move is kept in the audit log.</p>\n" + FormOpen("/patients/move", csrf, "confirm") +
              Hidden("r", m.recording) + Hidden("to", m.to.id) +
              "\n<button type=\"submit\">Move</button> <a class=\"button\" href=\"" + Esc(PatientHref(m.from.id)) +
              "\">Cancel</a>\n</form>\n";
  return page;
}

Page MergeConfirmPage(const MergePreview& m, const std::string& csrf) {
  Page page{"Merge patient " + std::to_string(m.merged.row.id) + " into patient " + std::to_string(m.kept.row.id),
            Screen::kPatients, "", false};
  std::vector<std::int64_t> studies;
  for (const StudyRow& s : m.merged.studies) studies.push_back(s.id);
  page.body = "<p class=\"confirm\" id=\"confirm\">Every study of " + Esc(Named(m.merged.row)) +
              (studies.empty() ? " (none)" : " (studies " + Numbers(studies) + ")") + " is filed under " +
              Esc(Named(m.kept.row)) + ", who stands for " + Esc(Named(m.merged.row)) +
              " from then on. The merge is kept in the audit log.</p>\n" + FormOpen("/patients/merge", csrf, "confirm") +
              Hidden("kept", m.kept.row.id) + Hidden("merged", m.merged.row.id) +
              "\n<button type=\"submit\">Merge</button> <a class=\"button\" href=\"" + Esc(PatientHref(m.kept.row.id)) +
              "\">Cancel</a>\n</form>\n";
  return page;
}

Page LogPage(const LogQuery& q, const std::vector<LogRow>& rows) {
  Page page{q.study ? "Log of study " + std::to_string(q.study)
                    : q.patient ? "Log of patient " + std::to_string(q.patient) : "Log",
            Screen::kLog, "", false};
  std::string& b = page.body;
  b += "<form method=\"get\" action=\"/log\" class=\"filter\">\n" + NumberInput("study", "Study", q.study) +
       NumberInput("patient", "Patient", q.patient) +
       "<button type=\"submit\">Filter</button> <a href=\"/log\">The whole log</a>\n</form>\n";
  if (rows.empty()) {
    b += "<p class=\"empty\">No entry.</p>\n";
    return page;
  }
  b += "<table class=\"log\">\n<thead><tr><th>entry</th><th>when</th><th>who</th><th>station</th><th>what</th>"
       "<th>study</th><th>recording</th><th>patient</th><th>details</th></tr></thead>\n<tbody>\n";
  for (const LogRow& e : rows)
    b += "<tr data-action=\"" + Esc(e.action) + "\"><td>" + std::to_string(e.id) + "</td><td>" + Esc(e.at) +
         "</td><td class=\"actor\">" + Who(e) + "</td><td>" + Esc(e.station) + "</td><td class=\"action\">" +
         Esc(e.action) + "</td><td>" +
         (e.study ? "<a href=\"" + Esc(StudyHref(e.study)) + "\">" + std::to_string(e.study) + "</a>" : "") +
         "</td><td>" + Number(e.recording) + "</td><td class=\"patient\">" +
         (e.patient ? "<a href=\"" + Esc(PatientHref(e.patient)) + "\">" + std::to_string(e.patient) + "</a> " +
                          Esc(e.patient_text)
                    : "") +
         "</td><td class=\"details\">" + Details(e.details) + "</td></tr>\n";
  b += "</tbody>\n</table>\n";
  return page;
}

std::string SendSection(std::int64_t study, std::int64_t recording, const std::vector<LogRow>& sendings,
                        const std::string& why_not, const std::string& csrf) {
  std::string out = "<section class=\"send\">\n<h3>Send to the patient's record</h3>\n";
  if (!sendings.empty()) {
    out += "<table class=\"sendings\">\n<thead><tr><th>when</th><th>who</th><th>to</th><th>version</th>"
           "<th>outcome</th><th>answer</th></tr></thead>\n<tbody>\n";
    for (const LogRow& e : sendings) {
      const nlohmann::json receipt = nlohmann::json::parse(e.details, nullptr, false);
      if (!receipt.is_object()) continue;
      const std::string outcome = Member(receipt, "outcome");
      std::string answer = Member(receipt, "reason");
      for (const char* name : {"gdt_file", "ack_code", "message_control_id", "http_status"})
        if (const std::string v = Member(receipt, name); !v.empty()) answer += (answer.empty() ? "" : "; ") + v;
      const std::string version = Member(receipt, "version");
      out += "<tr class=\"" + Esc(outcome) + "\"><td>" + Esc(e.at) + "</td><td>" + Who(e) + "</td><td>" +
             Esc(Member(receipt, "destination")) + "</td><td>" + (version == "0" ? "draft" : Esc(version)) +
             "</td><td class=\"outcome\">" + Esc(outcome) + "</td><td>" + Esc(answer) + "</td></tr>\n";
    }
    out += "</tbody>\n</table>\n";
  }
  if (!why_not.empty())
    return out + "<p class=\"hint no-send\">Sending is not offered here: " + Esc(why_not) + ".</p>\n</section>\n";
  const std::string id = std::to_string(recording);
  const auto field = [&](std::string_view name, std::string_view label, std::string_view hint, bool required = false) {
    return "<div class=\"row\"><label for=\"" + Esc(name) + "-" + id + "\">" + Esc(label) +
           "</label><input type=\"text\" id=\"" + Esc(name) + "-" + id + "\" name=\"" + Esc(name) + "\"" +
           (required ? " required" : "") +
           "><span class=\"hint\">" + Esc(hint) + "</span></div>\n";
  };
  const auto box = [&](std::string_view name, std::string_view label) {
    return "<label class=\"check\"><input type=\"checkbox\" name=\"" + Esc(name) + "\" value=\"1\"> " + Esc(label) +
           "</label>\n";
  };
  return out + FormOpen("/study/send", csrf, "send") + Hidden("s", study) + Hidden("r", recording) + "\n" +
         field("to", "Destination", "https://HOST/fhir, mllp://HOST:PORT or gdt:FOLDER", true) +
         field("gdt_receiver", "GDT receiver id", "the practice system's GDT id (required for gdt:)") +
         field("gdt_sender", "GDT sender id", "this program's GDT id (default BPLINK)") +
         field("token_file", "Token file", "FHIR: a file holding the bearer token") +
         field("ca", "CA file", "FHIR: the clinic's own certificate authority (PEM)") +
         box("draft", "a draft: send a study that is not signed, as preliminary") +
         box("again", "again: to a destination that acknowledged this version before") +
         "<button type=\"submit\">Send</button>\n</form>\n</section>\n";
}

Page SentPage(std::int64_t study, const SendOutcome& outcome) {
  Page page{outcome.sent ? "Sent" : "Not sent", Screen::kWorklist, "", false};
  page.body = "<p class=\"" + std::string(outcome.sent ? "sent" : "problem") + "\" id=\"" +
              (outcome.sent ? "sent" : "problem") + "\">" + Esc(outcome.message) +
              (outcome.answer.empty() ? "" : ": " + Esc(outcome.answer)) + ".</p>\n<p><a class=\"button\" href=\"" +
              Esc(StudyHref(study)) + "\">Back to the study</a></p>\n";
  return page;
}

}  // namespace bplink::web
