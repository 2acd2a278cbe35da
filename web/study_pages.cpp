#include "study_pages.h"

#include <bplink/report/analysis.h>
#include <bplink/report/chart.h>
#include <bplink/report/html_report.h>
#include <bplink/report/review.h>
#include <bplink/report/stats.h>

#include <array>
#include <cctype>

#include "form.h"
#include "record_pages.h"

namespace bplink::web {
namespace {

// The study and recording a form changes, and the session's token.
struct Target {
  std::int64_t study = 0, recording = 0;
  std::string csrf;
  const StudyExtras* extras = nullptr;
};

// The hash's first characters: enough to tell versions apart, and to find
// the whole in the archive.
constexpr std::size_t kHashShown = 12;

constexpr std::array<const char*, 5> kStates = {"prepared", "recording", "downloaded", "reviewed", "signed"};

std::string Mean(const report::Summary& s) { return report::FormatNumber(s.mean, 0); }

// The verdict as the report library gives it: a class only where every
// validity criterion holds, otherwise "not interpretable" and why.
std::string Verdict(const report::Analysis& a) {
  const bool judged = a.interpretable && a.verdict.level != report::kNoVerdict;
  std::string level = a.verdict.level;
  if (!level.empty()) level[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(level[0])));
  std::string out = "<div class=\"verdict " + std::string(!judged ? "none" : a.verdict.exceeded.empty() ? "normal" : "high") +
                    "\"><p class=\"level\">" + Esc(level) + " <span class=\"muted\">(" + Esc(a.profile->title) +
                    ")</span></p>";
  if (!a.interpretable) {
    out += "<p>No class and no dipping category: the recording fails these validity criteria (the means are "
           "for information only):</p><ul class=\"problems\">";
    for (const std::string& problem : a.validity.problems) out += "<li>" + Esc(problem) + "</li>";
    out += "</ul>";
  } else if (!a.verdict.exceeded.empty()) {
    out += "<p>Reasons:</p><ul class=\"reasons\">";
    for (const std::string& reason : a.verdict.exceeded) out += "<li>" + Esc(reason) + "</li>";
    out += "</ul>";
  } else if (judged) {
    out += "<p>Every mean is below its threshold.</p>";
  }
  return out + "</div>\n";
}

std::string Means(const report::Analysis& a) {
  std::string out = "<table class=\"means\">\n<thead><tr><th></th><th>readings</th><th>systolic</th><th>diastolic</th>"
                    "<th>pulse</th></tr></thead>\n<tbody>\n";
  constexpr std::array<const char*, report::kPeriodCount> kNames = {"24 hours", "day", "night"};
  for (int p = 0; p < report::kPeriodCount; ++p) {
    const report::PeriodStats& s = a.periods[p];
    out += "<tr><th scope=\"row\">" + std::string(kNames[p]) + "</th><td>" + std::to_string(s.n) + "</td><td>" +
           Mean(s.sys) + "</td><td>" + Mean(s.dia) + "</td><td>" + Mean(s.pulse) + "</td></tr>\n";
  }
  out += "</tbody>\n</table>\n";
  if (a.dipping_sys)
    out += "<p class=\"dipping\">Nocturnal dipping (systolic): " + report::FormatNumber(a.dipping_sys, 1) + " %" +
           (a.dipping_sys_class ? ", " + Esc(*a.dipping_sys_class) : std::string()) + ".</p>\n";
  return out;
}

// Where a change of the review goes, with what names the recording.
std::string ReviewForm(const Target& t, std::string_view what, std::string_view css_class) {
  return FormOpen("/study/review", t.csrf, css_class) + "<input type=\"hidden\" name=\"s\" value=\"" +
         std::to_string(t.study) + "\"><input type=\"hidden\" name=\"r\" value=\"" + std::to_string(t.recording) +
         "\"><input type=\"hidden\" name=\"what\" value=\"" + Esc(what) + "\">\n";
}

// Every reading, counted or not and why; while the recording is not signed,
// each can be left out with a reason, and one left out by hand taken back.
std::string Readings(const report::Analysis& a, const Target& t, bool editable) {
  std::string out = "<table class=\"readings\">\n<thead><tr><th>time</th><th>systolic</th><th>diastolic</th>"
                    "<th>pulse (bpm)</th><th>period</th><th>counted</th>" +
                    std::string(editable ? "<th></th>" : "") + "</tr></thead>\n<tbody>\n";
  for (const report::Reading& r : a.recording.readings) {
    const bool counted = r.excluded.empty();
    const bool measured = r.sys != 0;  // a failed measurement carries no pressure
    const bool dated = IsValidTime(r.time);
    out += std::string("<tr") + (counted ? "" : r.hand_excluded.empty() ? " class=\"excluded\"" : " class=\"excluded by-hand\"") +
           "><td>" + Esc(dated ? report::FormatDateTime(r.time) : "no date") + "</td><td>" +
           (measured ? report::FormatNumber(r.sys, 0) : "–") + "</td><td>" +
           (measured ? report::FormatNumber(r.dia, 0) : "–") + "</td><td>" + report::FormatNumber(r.pulse, 0) +
           "</td><td>" + (r.night ? "night" : "day") + "</td><td>" + (counted ? "yes" : "no: " + Esc(r.excluded)) +
           "</td>";
    if (editable) {
      out += "<td>";
      const std::string time =
          dated ? "<input type=\"hidden\" name=\"time\" value=\"" + Esc(report::FormatLocalTime(r.time)) + "\">" : "";
      // A reading without a date cannot be named, so it cannot be left out by hand.
      if (dated && !r.hand_excluded.empty()) {
        out += ReviewForm(t, "include", "include") + time + "<button type=\"submit\">Include</button></form>";
      } else if (dated && counted) {
        out += ReviewForm(t, "exclude", "exclude") + time +
               "<input type=\"text\" name=\"reason\" required maxlength=\"200\" placeholder=\"reason\" "
               "aria-label=\"why it is left out\"> <button type=\"submit\">Exclude</button></form>";
      }
      out += "</td>";
    }
    out += "</tr>\n";
  }
  return out + "</tbody>\n</table>\n";
}

// The physician's inputs besides the exclusions: the diary's sleep, the
// office reading, indication and medication.
std::string Inputs(const report::ReviewInputs& kept, const Target& t, bool editable) {
  const auto field = [&](std::string_view name, std::string_view label, const std::string& value,
                         std::string_view hint) {
    return "<div class=\"row\"><label for=\"" + Esc(name) + "-" + std::to_string(t.recording) + "\">" + Esc(label) +
           "</label><input type=\"text\" id=\"" + Esc(name) + "-" + std::to_string(t.recording) + "\" name=\"" +
           Esc(name) + "\" value=\"" + Esc(value) + "\"" + (editable ? "" : " disabled") +
           "><span class=\"hint\">" + Esc(hint) + "</span></div>\n";
  };
  const std::string office =
      kept.office ? std::to_string(kept.office->sys) + "/" + std::to_string(kept.office->dia) : std::string();
  std::string out = "<h3>The physician's inputs</h3>\n" + ReviewForm(t, "inputs", "inputs") +
                    field("sleep", "Sleep (diary)", kept.sleep ? report::FormatWindow(*kept.sleep) : "",
                          report::kSleepForm) +
                    field("office", "Office reading", office, report::kOfficeForm) +
                    field("indication", "Indication", kept.indication, "why the recording was made") +
                    field("medication", "Medication", kept.medication, "blood-pressure medication");
  if (editable) out += "<button type=\"submit\">Keep the inputs</button>\n";
  return out + "</form>\n";
}

// The hidden fields that name the recording a form changes.
std::string Naming(const Target& t) {
  return "<input type=\"hidden\" name=\"s\" value=\"" + std::to_string(t.study) +
         "\"><input type=\"hidden\" name=\"r\" value=\"" + std::to_string(t.recording) + "\">\n";
}

// Every signed version, and the form that signs the report as it stands,
// or, once signed, the one that re-opens it as an amendment.
std::string Signing(const report::Recording& r, const Target& t, bool signed_now) {
  std::string out = "<section class=\"sign\">\n<h3>Interpretation and signature</h3>\n";
  if (r.signature)
    for (const report::SignedVersion& v : r.signature->versions) {
      const bool in_force = r.signature->InForce() == &v;
      out += "<div class=\"signed" + std::string(in_force ? "" : " superseded") + "\"><p class=\"signer\">Version " +
             std::to_string(v.version) + (in_force ? "" : " (superseded)") + ", signed by " + Esc(v.signer) +
             (v.db_role.empty() ? "" : " (database role " + Esc(v.db_role) + ")") +
             (v.station.empty() ? "" : " at " + Esc(v.station)) + " on " + Esc(report::FormatDateTime(v.signed_at)) +
             "; SHA-256 of its inputs <code class=\"hash\" title=\"" + Esc(v.hash) + "\">" +
             Esc(v.hash.substr(0, kHashShown)) + "</code></p><blockquote class=\"interpretation\">" +
             Esc(v.interpretation) + "</blockquote></div>\n";
    }
  const bool amendable = t.extras && t.extras->records;
  if (signed_now && amendable) {
    out += FormOpen("/study/amend", t.csrf, "amend") + Naming(t) + "<label for=\"reason-" +
           std::to_string(t.recording) + "\">Why it is amended</label>\n<input type=\"text\" name=\"reason\" id=\"reason-" +
           std::to_string(t.recording) + "\" required maxlength=\"500\">\n<button type=\"submit\">Amend</button> "
           "<span class=\"hint\">re-opens the review: edit it, then sign a new version; this one is kept, "
           "superseded</span>\n</form>\n";
  } else if (signed_now) {
    out += "<p class=\"hint\">Signed: its readings and inputs stay as signed. An amendment is made with "
           "<code>bplink review --amend</code> and <code>bplink sign</code>.</p>\n";
  } else {
    if (r.signature && r.signature->amending)
      out += "<p class=\"amending\">An amendment of version " + std::to_string(r.signature->versions.back().version) +
             " is under way: edit the review, then sign version " +
             std::to_string(r.signature->versions.back().version + 1) + ".</p>\n";
    out += FormOpen("/study/sign", t.csrf, "sign") + Naming(t) + "<label for=\"interpretation-" +
           std::to_string(t.recording) +
           "\">Interpretation</label>\n<textarea name=\"interpretation\" id=\"interpretation-" +
           std::to_string(t.recording) + "\" rows=\"4\" required></textarea>\n<button type=\"submit\">Sign</button> "
           "<span class=\"hint\">signs the report as shown, with the inputs in force</span>\n</form>\n";
  }
  return out + "</section>\n";
}

std::string Downloads(std::int64_t recording) {
  std::string out = "<p class=\"downloads\">Download: ";
  constexpr std::array<std::pair<std::string_view, const char*>, 4> kWords = {
      {{"pdf", "PDF report"}, {"fhir", "FHIR"}, {"csv", "CSV"}, {"json", "JSON"}}};
  bool first = true;
  for (const auto& [format, words] : kWords) {
    out += std::string(first ? "" : " · ") + "<a class=\"download " + std::string(format) + "\" href=\"" +
           Esc(ExportHref(recording, format)) + "\" download>" + words + "</a>";
    first = false;
  }
  return out + "</p>\n";
}

// The sendings kept with the recording, and its Send form.
std::string Sending(const Target& t) {
  if (!t.extras || !t.extras->records) return "";
  std::vector<LogRow> mine;
  for (const LogRow& e : t.extras->sendings)
    if (e.recording == t.recording) mine.push_back(e);
  return SendSection(t.study, t.recording, mine, t.extras->why_no_sending, t.csrf);
}

std::string RecordingSection(const StudyRecording& r, const Target& t) {
  std::string out = "<section class=\"recording\" id=\"recording-" + std::to_string(r.id) + "\">\n<h2>Recording " +
                    std::to_string(r.id) + "</h2>\n<p class=\"hint\">Downloaded " + Esc(r.downloaded_at) +
                    (r.station.empty() ? "" : " at " + Esc(r.station)) +
                    (r.complete ? "" : "; <strong>filed incomplete</strong> (the download was stopped or failed)") +
                    ".</p>\n" + Downloads(r.id);
  const report::ReviewInputs kept = r.recording.kept_review.value_or(report::ReviewInputs{});
  const bool signed_now = r.recording.signature && r.recording.signature->InForce() != nullptr;
  try {
    // As the report is made: the inputs kept with the recording applied first.
    report::Recording recording = r.recording;
    report::ApplyReview(recording, kept);
    const report::Analysis a = report::Analyse(std::move(recording), *report::FindProfile("esh2023"), std::nullopt);
    out += Verdict(a) + "<p class=\"day-night\">" + Esc(report::DescribeRule(a.rule)) + "</p>\n" + Means(a) +
           "<figure class=\"chart\">" + report::ChartSvg(a) +
           "<figcaption>The 24 hours, night shaded</figcaption></figure>\n<figure class=\"chart hourly\">" +
           report::HourlyChartSvg(a) + "<figcaption>Hourly means</figcaption></figure>\n" +
           Inputs(kept, t, !signed_now) + "<details open><summary>" + std::to_string(a.total) + " readings, " +
           std::to_string(a.counted) + " counted</summary>\n" + Readings(a, t, !signed_now) + "</details>\n" +
           Signing(a.recording, t, signed_now) + Sending(t);
  } catch (const report::InputError& e) {
    out += "<p class=\"note\">" + Esc(e.what()) + "</p>\n";
  }
  return out + "</section>\n";
}

}  // namespace

std::string TextInput(std::string_view name, std::string_view label, const std::string& value,
                      std::string_view type) {
  return "<label>" + Esc(label) + " <input type=\"" + Esc(type) + "\" name=\"" + Esc(name) + "\" value=\"" +
         Esc(value) + "\"></label>\n";
}

std::string Row(std::string_view label, const std::string& markup) {
  return "<tr><th scope=\"row\">" + Esc(label) + "</th><td>" + markup + "</td></tr>\n";
}

std::string OrNone(const std::string& text) {
  return text.empty() ? "<span class=\"muted\">not recorded</span>" : Esc(text);
}

std::string StudyTable(const std::vector<StudyRow>& rows, std::string_view css_class) {
  std::string out = "<table class=\"" + Esc(css_class) + "\">\n<thead><tr><th>study</th><th>state</th><th>patient</th>"
                    "<th>device</th><th>from</th><th>to</th><th>readings</th></tr></thead>\n<tbody>\n";
  for (const StudyRow& r : rows)
    out += "<tr data-state=\"" + Esc(r.state) + "\"><td><a href=\"" + Esc(StudyHref(r.id)) + "\">Study " +
           std::to_string(r.id) + "</a></td><td><span class=\"state " + Esc(r.state) + "\">" + Esc(r.state) +
           "</span></td><td class=\"patient\">" + Esc(r.patient) + "</td><td>" + Esc(r.device) + "</td><td>" +
           Esc(r.start) + "</td><td>" + Esc(r.end) + "</td><td>" + std::to_string(r.readings) + "</td></tr>\n";
  return out + "</tbody>\n</table>\n";
}

std::string StudyHref(std::int64_t study) { return "/study?s=" + std::to_string(study); }

std::string ExportHref(std::int64_t recording, std::string_view format) {
  return "/study/export?r=" + std::to_string(recording) + "&format=" + std::string(format);
}

Page WorklistPage(const WorklistQuery& q, const std::vector<StudyRow>& rows) {
  Page page{"Worklist", Screen::kWorklist, "", false};
  std::string& b = page.body;
  b += "<form method=\"get\" action=\"/worklist\" class=\"filter\">\n<label>State <select name=\"state\">"
       "<option value=\"\">any</option>";
  for (const char* state : kStates)
    b += std::string("<option") + (q.state == state ? " selected" : "") + ">" + state + "</option>";
  b += "</select></label>\n" + TextInput("patient", "Patient", q.patient) + TextInput("device", "Device", q.device) +
       TextInput("from", "From", q.from, "date") + TextInput("to", "To", q.to, "date") +
       "<button type=\"submit\">Filter</button> <a href=\"/worklist\">All studies</a>\n</form>\n";
  std::array<int, kStates.size()> counts{};
  for (const StudyRow& r : rows)
    for (std::size_t i = 0; i < kStates.size(); ++i) counts[i] += r.state == kStates[i] ? 1 : 0;
  b += "<p class=\"by-state\">";
  for (std::size_t i = 0; i < kStates.size(); ++i)
    b += std::string(i ? " · " : "") + kStates[i] + " <span class=\"count\">" + std::to_string(counts[i]) + "</span>";
  b += "</p>\n";
  const bool filtered = !(q.state + q.patient + q.device + q.from + q.to).empty();
  if (rows.empty())
    b += filtered ? "<p class=\"empty\">No study matches this filter.</p>\n"
                  : "<p class=\"empty\">The archive keeps no studies yet: a plan uploaded for a patient, or a "
                    "download, opens one.</p>\n";
  else
    b += StudyTable(rows, "worklist");
  return page;
}

Page StudyPage(const StudyDetail& d, const std::string& csrf, const StudyExtras& extras) {
  Page page{"Study " + std::to_string(d.row.id) + ": " + d.row.patient, Screen::kWorklist, "", false};
  std::string& b = page.body;
  const report::PatientInfo& p = d.person;
  std::string texts;
  for (const std::string& t : d.texts) texts += (texts.empty() ? "" : " / ") + t;
  b += "<table class=\"facts study\">\n" + Row("state", "<span class=\"state " + Esc(d.row.state) + "\">" +
                                                             Esc(d.row.state) + "</span>") +
       Row("patient", OrNone(p.name)) +
       Row("patient ID", OrNone(p.id) + (p.system.empty() ? "" : " <span class=\"muted\">(" + Esc(p.system) + ")</span>")) +
       Row("birth date", OrNone(p.birth_date)) + Row("sex", OrNone(p.sex)) +
       Row("patient texts on the device", OrNone(texts)) + Row("device", Esc(d.row.device)) +
       Row("hooked up", OrNone(d.hooked_up_at)) +
       Row("opened", Esc(d.opened_at) + " by " + Esc(d.opened_by) + (d.station.empty() ? "" : " at " + Esc(d.station))) +
       (extras.records ? Row("records", "<a class=\"patient-link\" href=\"" + Esc(PatientHref(d.row.patient_number)) +
                                            "\">Patient " + std::to_string(d.row.patient_number) +
                                            "</a> · <a class=\"log-link\" href=\"" +
                                            Esc(LogHref({d.row.id, 0})) + "\">this study's log</a>")
                       : std::string()) +
       "</table>\n";
  if (d.recordings.empty())
    b += "<p class=\"empty\">No readings are filed under this study yet: download the recorder.</p>\n";
  for (const StudyRecording& r : d.recordings) b += RecordingSection(r, {d.row.id, r.id, csrf, &extras});
  b += "<section class=\"previous\">\n<h2>The patient's other studies</h2>\n";
  b += d.previous.empty() ? "<p class=\"empty\">None.</p>\n" : StudyTable(d.previous, "previous");
  b += "</section>\n";
  return page;
}

}  // namespace bplink::web
