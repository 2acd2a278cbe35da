// bplink export: a recording, or every recording of a patient, back out of
// the archive: as the download's CSV or JSON, or as its report (HTML, PDF,
// JSON or FHIR) computed from the archived readings with the physician's
// inputs and signature kept with them.

#include <bplink/report/json_report.h>
#include <bplink/report/report.h>

#include <iostream>
#include <map>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "commands/archive_open.h"
#include "commands/commands.h"
#include "download_view.h"
#include "exit_status.h"

namespace bplink::cli {
namespace {

enum class ExportFormat { kCsv, kJson, kHtml, kPdf, kReportJson, kFhir };

struct ExportOptions {
  std::optional<std::string> archive;
  std::optional<std::int64_t> recording;
  std::optional<std::int64_t> patient;
  ExportFormat format = ExportFormat::kCsv;
  std::string output;
};

std::string SetTitle(int mode) {
  if (mode == DATAMODE_BP_SET2) return "Set 2";
  if (mode >= DATAMODE_ZONE1 && mode <= DATAMODE_ZONE3) return "Store " + std::to_string(mode - DATAMODE_ZONE1 + 1);
  return "Set 1";
}

// The recording as a download shows it; its plan is added as the archive
// keeps it (as JSON).
DownloadView ViewOfStored(const archive::StoredRecording& stored) {
  DownloadView view;
  view.device = stored.device.device;
  view.sets = {{stored.entry.set_mode, SetTitle(stored.entry.set_mode), &stored.set}};
  if (!stored.spo2.vecRecords.empty()) view.spo2 = &stored.spo2;
  view.complete = stored.entry.complete;
  view.result = "recording " + std::to_string(stored.entry.id) + " of the archive";
  view.downloaded_at = report::ParseLocalTime(stored.entry.downloaded_at);
  if (!view.complete) view.result += ", filed incomplete";
  return view;
}

// The download's CSV with the patient on every row, as the report reads it back.
std::string Csv(const std::vector<archive::StoredRecording>& recordings, bool with_id) {
  std::string text;
  for (const auto& stored : recordings) {
    std::ostringstream one;
    WriteCsv(ViewOfStored(stored), one);
    std::istringstream lines(one.str());
    const report::PatientInfo& p = stored.recording.subject;
    const std::string patient = "," + CsvField(p.id) + "," + CsvField(p.system) + "," + CsvField(p.name) + "," +
                                CsvField(p.birth_date) + "," + CsvField(p.sex);
    std::string line;
    std::getline(lines, line);  // the header, once
    if (text.empty())
      text = (with_id ? "recording," : "") + line + ",patient id,patient system,patient name,birth date,sex\n";
    while (std::getline(lines, line))
      text += (with_id ? std::to_string(stored.entry.id) + "," : "") + line + patient + "\n";
  }
  return text;
}

// The day and night the report of the recording uses: what the plan it was
// measured on says, as the report's JSON loader reads it back.
nlohmann::json DayNight(const report::Recording& recording) {
  if (!recording.plan) return {{"source", "default"}};
  const report::PlanPeriods& p = *recording.plan;
  return {{"source", "device plan"},
          {"day", {{"start", report::FormatClock(p.day_start)}, {"interval", p.day_interval}}},
          {"night", {{"start", report::FormatClock(p.night_start)}, {"interval", p.night_interval}}}};
}

// The download's JSON with every input the report uses: the plan the
// readings were taken on (with when it went to the device), the day and
// night, the patient, the physician's inputs and signature, and the
// previous study its report shows (`reportable`, as the archive makes the
// report).
nlohmann::json Json(const archive::StoredRecording& stored, const report::Recording& reportable) {
  std::ostringstream one;
  WriteJson(ViewOfStored(stored), one);
  nlohmann::json doc = nlohmann::json::parse(one.str());
  doc["recording"] = stored.entry.id;
  doc["study"] = stored.entry.study_id;
  if (!stored.plan_json.empty()) {
    const nlohmann::json plan = nlohmann::json::parse(stored.plan_json, nullptr, false);
    doc["plan"] = plan.is_object() ? plan : nlohmann::json(nullptr);
  }
  if (doc["plan"].is_object())
    doc["plan"]["start"] = stored.entry.plan_start.empty() ? nlohmann::json(nullptr) : nlohmann::json(stored.entry.plan_start);
  doc["day_night"] = DayNight(stored.recording);
  if (reportable.kept_review) doc["review"] = report::ReviewToJson(*reportable.kept_review);
  if (reportable.signature) doc["signature"] = report::SignatureToJson(*reportable.signature);
  if (reportable.previous) doc["previous"] = report::PreviousStudyToJson(*reportable.previous);
  const report::PatientInfo& p = stored.recording.subject;
  doc["patient"] = {{"number", stored.patient.id}, {"id", p.id},       {"system", p.system},
                    {"name", p.name},               {"birth_date", p.birth_date}, {"sex", p.sex},
                    {"texts", stored.patient.texts}, {"label", stored.patient.label}};
  return doc;
}

}  // namespace

std::string ExportedCsv(const archive::StoredRecording& stored) { return Csv({stored}, false); }

std::string ExportedJson(const archive::StoredRecording& stored, const report::Recording& reportable) {
  return Json(stored, reportable).dump(2) + "\n";
}

namespace {

void RunExport(const ExportOptions& options) {
  if (options.recording.has_value() == options.patient.has_value())
    throw CommandError(kExitBadInput, "give either a RECORDING or --patient ID (bplink history lists both)");
  const bool report_format = options.format == ExportFormat::kHtml || options.format == ExportFormat::kPdf ||
                             options.format == ExportFormat::kReportJson || options.format == ExportFormat::kFhir;
  if (options.patient && report_format)
    throw CommandError(kExitBadInput, "a report covers one recording: give its number instead of --patient "
                                      "(bplink history --patient ID lists them)");

  CheckOutput(options.output);
  const auto archive = OpenArchive(ArchiveLocation(options.archive), archive::OpenMode::kExisting);
  std::vector<archive::StoredRecording> recordings;
  std::vector<report::Recording> reportable;  // each as its report is made
  try {
    if (options.recording) {
      recordings.push_back(archive->Load(*options.recording));
    } else {
      for (const auto& r : archive->Query({std::to_string(*options.patient), "", "", ""}).recordings)
        if (r.patient_id == *options.patient) recordings.push_back(archive->Load(r.id));
      if (recordings.empty())
        throw CommandError(kExitBadInput, "the archive holds no recording of patient " +
                                              std::to_string(*options.patient) + " (bplink history lists them)");
    }
    if (options.format != ExportFormat::kCsv)
      for (const auto& stored : recordings)
        reportable.push_back(archive::ReportableRecording(*archive, stored, ProfileNamed("esh2023")));
  } catch (const archive::ArchiveError& e) {
    throw CommandError(kExitBadInput, e.what());
  }

  if (report_format) {
    report::ReportOptions report_options;
    report_options.output = options.output;
    report_options.format = options.format == ExportFormat::kFhir         ? report::ReportFormat::kFhir
                            : options.format == ExportFormat::kReportJson ? report::ReportFormat::kJson
                                                                          : report::ReportFormat::kHtml;
    const ReportWriter write = [&reportable](const report::ReportOptions& o) {
      return report::WriteReport(reportable[0], o, std::cout, std::cerr);
    };
    const int status = options.format == ExportFormat::kPdf ? WritePdf(report_options, write) : write(report_options);
    if (status != report::kReportOk) throw CommandError(status, "the report could not be written");
    return;
  }
  if (options.format == ExportFormat::kCsv) {
    WriteOutput(options.output, options.recording ? ExportedCsv(recordings[0]) : Csv(recordings, true));
    return;
  }
  if (options.recording) {
    WriteOutput(options.output, ExportedJson(recordings[0], reportable[0]));
    return;
  }
  nlohmann::json doc = {{"patient", *options.patient}, {"recordings", nlohmann::json::array()}};
  for (std::size_t i = 0; i < recordings.size(); ++i) doc["recordings"].push_back(Json(recordings[i], reportable[i]));
  WriteOutput(options.output, doc.dump(2) + "\n");
}

}  // namespace

void AddExportCommand(CLI::App& app) {
  auto options = std::make_shared<ExportOptions>();
  CLI::App* command = app.add_subcommand(
      "export", "Write a recording from the archive (or all of a patient's) as CSV or JSON, or its report");
  AddArchiveOption(*command, options->archive);
  command->add_option("RECORDING", options->recording, "The recording's number, as bplink history shows it");
  command->add_option("--patient", options->patient, "Every recording of this patient (its number in bplink history)");
  const std::map<std::string, ExportFormat> formats{{"csv", ExportFormat::kCsv},
                                                    {"json", ExportFormat::kJson},
                                                    {"html", ExportFormat::kHtml},
                                                    {"pdf", ExportFormat::kPdf},
                                                    {"report-json", ExportFormat::kReportJson},
                                                    {"fhir", ExportFormat::kFhir}};
  command->add_option("--format", options->format,
                      "csv (default) or json, as download writes them (json with every input of the report); "
                      "or the report, with the physician's inputs and signature: html, pdf, report-json or fhir")
      ->transform(CLI::CheckedTransformer(formats, CLI::ignore_case));
  command->add_option("-o,--output", options->output, "Write to this file instead of standard output");
  command->callback([options] { RunExport(*options); });
}

}  // namespace bplink::cli
