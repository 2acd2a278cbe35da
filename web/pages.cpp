#include "pages.h"

#include <bplink/host/plan_words.h>
#include <bplink/report/analysis.h>
#include <bplink/report/chart.h>
#include <bplink/report/readings.h>
#include <bplink/report/stats.h>

#include <algorithm>

#include "form.h"
#include "study_pages.h"

namespace bplink::web {
namespace {

std::string DeviceHref(const std::string& key) { return "/device?d=" + EncodeQueryValue(key); }

std::string List(const std::vector<int>& values) {
  std::string text;
  for (int v : values) text += (text.empty() ? "" : ", ") + std::to_string(v);
  return text.empty() ? "none" : text;
}

// The plan a device holds, or was sent, as a small table.
std::string PlanTable(const _BP_TRANSPORT_INFO& plan) {
  std::string rows;
  for (const auto& [label, words] : host::PlanWords(plan))
    rows += "<tr><th scope=\"row\">" + Esc(label) + "</th><td>" + Esc(words) + "</td></tr>\n";
  return "<table class=\"facts plan\">\n" + rows + "</table>\n";
}

// The data modes a form offers; `form` names the form, for the field's id.
std::string ModeChoices(const std::vector<int>& modes, std::string_view form) {
  std::vector<Choice> choices;
  for (int mode : modes) choices.push_back({mode, std::to_string(mode) + ": " + host::DataModeName(mode)});
  return Select("mode", choices, modes.empty() ? 0 : modes.front(), std::string(form) + "-mode");
}

// A sentence from a reason that starts in lower case, as messages do.
std::string Sentence(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text;
}

std::string Number(std::optional<double> value) {
  return value ? std::to_string(static_cast<long long>(*value)) : "–";
}

// A set's records: each reading, counted or not and why.
std::string Readings(const host::DownloadView& view, const host::DownloadedSet& set) {
  std::string out = "<table class=\"readings\">\n<thead><tr><th>time</th><th>systolic</th><th>diastolic</th>"
                    "<th>MAP (mmHg)</th><th>pulse (bpm)</th><th>counted</th></tr></thead>\n<tbody>\n";
  for (const _BP_RECORD& r : set.set->vecRecords) {
    const report::Reading reading = report::ReadingOf(r);
    const std::string reason = host::InvalidReason(view, set.mode, r);
    const CalendarTime t{r.nYear, r.wMonth, r.wDay, r.wHour, r.wMinute, r.wSecond};
    const bool measured = r.nSys != 0;
    out += std::string("<tr") + (reason.empty() ? "" : " class=\"excluded\"") + "><td>" +
           Esc(IsValidTime(t) ? report::FormatDateTime(t) : "no date") + "</td><td>" +
           (measured ? Number(reading.sys) : "–") + "</td><td>" + (measured ? Number(reading.dia) : "–") +
           "</td><td>" + (measured ? Number(reading.map) : "–") + "</td><td>" + Number(reading.pulse) + "</td><td>" +
           (reason.empty() ? "yes" : "no: " + Esc(reason)) + "</td></tr>\n";
  }
  return out + "</tbody>\n</table>\n";
}

// The 24-hour chart of what arrived, as the report draws it.
std::string Chart(const Job& job) {
  if (!job.data || !job.view) return "";
  try {
    report::Recording recording = report::RecordingFromDownload(*job.data, job.view->device);
    if (!job.view->complete) recording.incomplete = job.view->result;
    recording.downloaded_at = job.view->downloaded_at;
    const bool dated = std::any_of(recording.readings.begin(), recording.readings.end(),
                                   [](const report::Reading& r) { return IsValidTime(r.time); });
    if (!dated) return "";
    const report::Analysis analysis =
        report::Analyse(std::move(recording), *report::FindProfile("esh2023"), std::nullopt);
    return "<figure class=\"chart\">" + report::ChartSvg(analysis) + "<figcaption>" +
           Esc(analysis.recording.set_label.empty() ? "The readings" : "The readings of " + analysis.recording.set_label) +
           ", as the report draws them</figcaption></figure>\n";
  } catch (const report::InputError&) {
    return "";  // no set holds readings
  }
}

std::string Arrived(const Job& job) {
  if (!job.view) return "";
  const host::DownloadView& view = *job.view;
  std::string out = "<section class=\"arrived\">\n<h2>What arrived</h2>\n<ul class=\"sets\">\n";
  for (const host::DownloadedSet& s : view.sets) {
    out += "<li>" + Esc(s.title) + ": ";
    if (!s.downloaded) {
      out += "not downloaded (data mode " + std::to_string(s.mode) + " fetches it)</li>\n";
      continue;
    }
    std::size_t counted = 0;
    for (const _BP_RECORD& r : s.set->vecRecords) counted += host::InvalidReason(view, s.mode, r).empty() ? 1 : 0;
    out += "<span class=\"count\">" + std::to_string(s.set->vecRecords.size()) + "</span> records";
    if (s.set->Head.nCount != static_cast<int>(s.set->vecRecords.size()))
      out += " of " + std::to_string(s.set->Head.nCount) + " announced";
    out += ", " + std::to_string(counted) + " counted</li>\n";
  }
  if (view.spo2)
    out += "<li>SpO2: " +
           (view.spo2_downloaded ? std::to_string(view.spo2->vecRecords.size()) + " samples"
                                 : "not downloaded (data mode " + std::to_string(view.spo2_mode) + " fetches it)") +
           "</li>\n";
  out += "</ul>\n";
  if (view.plan) out += "<h3>The plan it holds</h3>\n" + PlanTable(*view.plan);
  out += Chart(job);
  for (const host::DownloadedSet& s : view.sets)
    if (s.downloaded && !s.set->vecRecords.empty())
      out += "<details" + std::string(view.sets.size() == 1 ? " open" : "") + "><summary>" + Esc(s.title) +
             ": every reading</summary>\n" + Readings(view, s) + "</details>\n";
  return out + "</section>\n";
}

// The upload form: the plan's fields, the patient's that open a study, and
// with `confirm` the box that sends the plan all the same. (A box, not a
// second button: the page's script disables a form's buttons once it is
// sent, and a disabled button's value is not sent.)
std::string UploadForm(const std::string& key, const PlanChoices& plan, const report::PatientInfo& patient,
                       const std::string& csrf, bool confirm) {
  return FormOpen("/device/upload", csrf, "plan-form") + "<input type=\"hidden\" name=\"d\" value=\"" + Esc(key) +
         "\">\n" + PlanFormFields(plan) + PatientFormFields(patient) +
         (confirm ? "<p class=\"confirm\"><label><input type=\"checkbox\" name=\"" + std::string(kAcceptWarnings) +
                        "\" value=\"on\" id=\"accept-warnings\"> Upload all the same: I have read the warnings "
                        "above</label></p>\n"
                  : "") +
         "<button type=\"submit\">Upload plan</button>\n</form>\n";
}

const char* JobTitle(Job::Kind kind) {
  switch (kind) {
    case Job::Kind::kDownload: return "Download";
    case Job::Kind::kUpload: return "Plan upload";
    case Job::Kind::kCount: return "Before deleting";
    case Job::Kind::kDelete: return "Delete";
  }
  return "Transfer";
}

}  // namespace

std::string DeviceList(const Desk::Listing& listing) {
  std::string found, others;
  for (const DetectedPort& port : listing.ports) {
    if (host::Usable(port)) {
      const Family& family = *FamilyForProtocol(port.device.nProtocol);
      found += "<tr><td>" + Esc(host::LinkName(port)) + "</td><td>" + Esc(host::DeviceTypeText(port.device.nDeviceType)) +
               "</td><td>" + Esc(std::string(family.name)) + " (protocol " + std::to_string(port.device.nProtocol) +
               ")</td><td>" + Esc(host::DeviceFieldText(port.device.nVersion)) + "</td><td><a class=\"button\" href=\"" +
               Esc(DeviceHref(DeviceKey(port))) + "\">Open</a></td></tr>\n";
    } else {
      others += "<li><span class=\"link\">" + Esc(host::LinkName(port)) + "</span>: " + Esc(host::WhyNothing(port)) +
                "</li>\n";
    }
  }
  std::string out;
  if (!listing.error.empty()) out += "<p class=\"problem\">" + Esc(listing.error) + "</p>\n";
  if (found.empty()) {
    out += "<p class=\"empty\">No device found. Connect one, switch it on, and look again.</p>\n";
  } else {
    out += "<table class=\"devices\">\n<thead><tr><th>link</th><th>device</th><th>family</th><th>version</th>"
           "<th></th></tr></thead>\n<tbody>\n" +
           found + "</tbody>\n</table>\n";
  }
  if (!others.empty()) out += "<h2>Other links</h2>\n<ul class=\"others\">\n" + others + "</ul>\n";
  return out;
}

Page DevicesPage(const Desk::Listing& listing, int running_job) {
  Page page{"Devices", Screen::kDevices, "", false};
  if (listing.busy)
    page.body += "<p class=\"note\">A transfer is under way (<a href=\"/jobs/" + std::to_string(running_job) +
                 "\">see it</a>); this list is from before it.</p>\n";
  page.body += "<div id=\"device-list\" data-refresh=\"/devices/list\">\n" + DeviceList(listing) + "</div>\n"
               "<p><a class=\"button\" href=\"/devices\">Look again</a></p>\n";
  return page;
}

Page DevicePage(const DeviceView& d, const std::string& csrf) {
  const host::DeviceInfo& info = d.info;
  Page page{"The " + host::DeviceTypeText(info.device.nDeviceType) + " on " + d.link, Screen::kDevices, "", false};
  std::string& b = page.body;
  b += "<table class=\"facts\">\n<tr><th scope=\"row\">device</th><td>" + Esc(host::DeviceTypeText(info.device.nDeviceType)) +
       " (type " + std::to_string(info.device.nDeviceType) + ")</td></tr>\n<tr><th scope=\"row\">family</th><td>" +
       Esc(d.family) + ", protocol " + std::to_string(info.device.nProtocol) + ", version " +
       Esc(host::DeviceFieldText(info.device.nVersion)) + "</td></tr>\n<tr><th scope=\"row\">protocol version</th><td>" +
       std::to_string(info.version.nMainVersion) + "." + std::to_string(info.version.nSubVersion) +
       "</td></tr>\n<tr><th scope=\"row\">data modes</th><td>";
  std::string modes;
  for (int mode : info.modes) modes += (modes.empty() ? "" : ", ") + std::to_string(mode) + " " + host::DataModeName(mode);
  b += Esc(modes.empty() ? "none" : modes) + "</td></tr>\n</table>\n";

  b += "<section class=\"download\">\n<h2>Download</h2>\n" + FormOpen("/device/download", csrf) +
       "<input type=\"hidden\" name=\"d\" value=\"" + Esc(d.key) + "\">\n<label for=\"download-mode\">Data mode</label> " +
       ModeChoices(d.download_modes, "download") + "\n<button type=\"submit\">Download</button>\n</form>\n"
       "<p class=\"hint\">What arrives is filed in the archive, also when the download is stopped part-way.</p>\n</section>\n";

  b += "<section class=\"plan\">\n<h2>Plan</h2>\n";
  if (info.kept.empty()) {
    b += "<p>This device takes no plan.</p>\n";
  } else {
    b += "<p>Intervals it allows (minutes)" +
         std::string(info.reported ? "" : ", not reported by the device; the usual ones") + ": by day " +
         Esc(List(info.allowed.vecInterval1)) + "; by night " + Esc(List(info.allowed.vecInterval2)) + ".</p>\n";
    if (info.reported)
      b += "<h3>The plan it holds</h3>\n" + PlanTable(info.allowed.Info);
    else
      b += "<p>Its current plan it does not report (a download reads it).</p>\n";
    b += "<h3>Upload a plan</h3>\n<p class=\"hint\">With the patient's fields filled in, the upload opens a study "
         "for the patient; the device's readings are filed under it when it is downloaded.</p>\n" +
         UploadForm(d.key, d.plan, {}, csrf, false);
  }
  b += "</section>\n<section class=\"delete\">\n<h2>Delete</h2>\n";
  if (!d.no_delete.empty()) {
    b += "<p>" + Esc(Sentence(d.no_delete)) + ".</p>\n";
  } else {
    b += FormOpen("/device/delete", csrf) + "<input type=\"hidden\" name=\"d\" value=\"" + Esc(d.key) + "\">\n"
         "<label for=\"delete-mode\">Data mode</label> " + ModeChoices(d.download_modes, "delete") +
         "\n<button type=\"submit\">Delete…</button>\n</form>\n<p class=\"hint\">The records are counted first; "
         "nothing is deleted until you confirm what will be lost.</p>\n";
  }
  b += "</section>\n";
  return page;
}

Page UploadWarningsPage(const UploadAgain& again, const std::string& csrf) {
  Page page{"The plan was not uploaded", Screen::kDevices, "", false};
  page.body = "<section class=\"warnings\">\n<p class=\"problem\" id=\"problem\">This plan cannot give a valid "
              "recording. Nothing was sent to the device.</p>\n<ul class=\"warnings\">\n";
  for (const std::string& warning : again.warnings) page.body += "<li>" + Esc(warning) + "</li>\n";
  page.body += "</ul>\n<p>Change the plan and upload it, or tick <strong>Upload all the same</strong> to "
               "upload it as it is.</p>\n</section>\n<section class=\"plan\">\n" +
               UploadForm(again.key, again.plan, again.patient, csrf, true) +
               "<p><a class=\"button\" href=\"" + Esc(DeviceHref(again.key)) + "\">Back to the device</a></p>\n"
               "</section>\n";
  return page;
}

Page JobPage(const JobView& view, const std::string& csrf) {
  const Job& job = view.job;
  const Desk::Live& live = view.live;
  Page page{std::string(JobTitle(job.kind)) + ": " + job.device, Screen::kDevices, "", !live.done};
  std::string& b = page.body;
  const std::string id = std::to_string(job.id);
  const bool stoppable = job.kind == Job::Kind::kDownload || job.kind == Job::Kind::kCount;
  b += "<div class=\"job\" id=\"job\" data-events=\"/jobs/" + id + "/events\" data-done=\"" +
       (live.done ? "1" : "0") + "\">\n";
  const std::string percent = std::to_string(live.done && job.ok ? 100 : live.percent);
  b += "<p class=\"progress-line\"><progress id=\"progress\" max=\"100\" value=\"" + percent + "\">" + percent +
       " %</progress> <span id=\"percent\">" + percent + " %</span> <span id=\"stage\">" +
       Esc(live.done ? "done" : live.label) + "</span></p>\n";
  if (!live.done && stoppable)
    b += FormOpen("/jobs/" + id + "/stop", csrf, "stop") +
         "<button type=\"submit\" id=\"stop\">Stop</button> <span class=\"hint\">what has arrived is kept and "
         "filed</span>\n</form>\n";
  if (!live.done) {
    b += "<p class=\"hint\" id=\"waiting\">Working with the device…</p>\n</div>\n";
    return page;
  }
  b += "<p class=\"outcome " + std::string(job.ok ? "ok" : "failed") + "\" id=\"outcome\">" + Esc(job.outcome) + "</p>\n";
  for (const std::string& note : job.notes) b += "<p class=\"note filing\">" + Esc(note) + "</p>\n";
  b += "</div>\n";
  const std::string back = "<p><a class=\"button\" href=\"" + Esc(DeviceHref(job.key)) + "\">Back to the device</a></p>\n";
  switch (job.kind) {
    case Job::Kind::kDownload: b += Arrived(job); break;
    case Job::Kind::kUpload:
      if (job.ok && job.study != 0)
        b += "<p><a class=\"button\" id=\"study\" href=\"" + Esc(StudyHref(job.study)) + "\">Study " +
             std::to_string(job.study) + "</a></p>\n";
      if (job.ok) b += "<h2>The plan sent</h2>\n" + PlanTable(job.plan);
      break;
    case Job::Kind::kCount:
      if (job.ok && job.records > 0) {
        b += "<section class=\"confirm\">\n<h2>Delete them?</h2>\n<p class=\"lost\">Deleting removes the " +
             Esc(job.held) + ". They cannot be brought back.</p>\n<p class=\"hint\">Counting them filed "
             "nothing: to keep them in the archive, download them first.</p>\n" + FormOpen("/jobs/" + id + "/delete", csrf) +
             "<input type=\"hidden\" name=\"expect\" value=\"" + std::to_string(job.records) + "\">\n"
             "<button type=\"submit\" class=\"danger\" id=\"confirm-delete\">Delete " +
             std::to_string(job.records) + " records</button>\n<a class=\"button\" href=\"" +
             Esc(DeviceHref(job.key)) + "\">Keep them</a>\n</form>\n</section>\n";
        return page;
      }
      break;
    case Job::Kind::kDelete: break;
  }
  b += back;
  return page;
}

Page NotYetPage(Screen screen) {
  switch (screen) {
    case Screen::kWorklist:
      return {"Worklist", screen,
              "<p class=\"not-yet\">The worklist shows the archive's studies by state: prepared, recording, "
              "downloaded, reviewed, signed. This build of bplink has no archive, so there is none to show.</p>\n",
              false};
    case Screen::kPatients:
      return {"Patients", screen,
              "<p class=\"not-yet\">Moving recordings between patients and merging patients is not served here "
              "yet: <code>bplink archive move</code> and <code>bplink archive merge-patients</code> do it, and "
              "<code>bplink history</code> lists the patients.</p>\n",
              false};
    case Screen::kLog:
      return {"Log", screen,
              "<p class=\"not-yet\">The log of who changed what in the archive is not served here yet: "
              "<code>bplink archive log</code> shows it.</p>\n",
              false};
    default: return ProblemPage("Not found", "There is no such page.");
  }
}

Page ProblemPage(const std::string& title, const std::string& message, const std::string& back) {
  return {title, Screen::kNone,
          "<p class=\"problem\" id=\"problem\">" + Esc(Sentence(message)) + "</p>\n<p><a class=\"button\" href=\"" + Esc(back) +
              "\">Back</a></p>\n",
          false};
}

}  // namespace bplink::web
