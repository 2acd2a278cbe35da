#include "commands/serve_studies.h"

#include <bplink/host/filing.h>
#include <bplink/report/report.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "commands/archive_open.h"
#include "commands/commands.h"

namespace bplink::cli {

// The archive opened for one request: each has a connection of its own.
std::unique_ptr<archive::Archive> OpenedForRequest(const archive::Location& location) {
  try {
    return archive::Archive::Open(location, {archive::OpenMode::kExisting, archive::SchemaVersion(), {}});
  } catch (const archive::ArchiveError& e) {
    throw std::runtime_error(e.what());
  }
}

// The studies with their patients and devices in words: only theirs are read.
std::vector<web::StudyRow> StudyRows(archive::Archive& archive, const std::vector<archive::StudyEntry>& studies) {
  std::vector<web::StudyRow> rows;
  if (studies.empty()) return rows;
  std::vector<std::int64_t> patient_ids, device_ids;
  for (const archive::StudyEntry& s : studies) {
    patient_ids.push_back(s.patient_id);
    device_ids.push_back(s.device_id);
  }
  const std::vector<archive::PatientEntry> patients = archive.Patients(patient_ids);
  const std::vector<archive::DeviceEntry> devices = archive.Devices(device_ids);
  for (std::size_t i = 0; i < studies.size(); ++i) {
    const archive::StudyEntry& s = studies[i];
    web::StudyRow row;
    row.id = s.id;
    row.state = archive::StateName(s.state);
    row.patient_number = s.patient_id;
    row.patient = PatientText(patients[i]);
    row.device = DeviceText(devices[i]);
    row.start = s.start.empty() ? s.hooked_up_at : s.start;
    row.end = s.end;
    row.readings = s.readings;
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<archive::StudyEntry> StudiesOfPatient(archive::Archive& archive, std::int64_t patient) {
  archive::WorklistFilter theirs;
  theirs.patient = std::to_string(patient);
  std::vector<archive::StudyEntry> studies = archive.Worklist(theirs);
  std::erase_if(studies, [&](const archive::StudyEntry& s) { return s.patient_id != patient; });
  std::reverse(studies.begin(), studies.end());
  return studies;
}

namespace {

class ArchiveStudies : public web::Studies {
 public:
  explicit ArchiveStudies(archive::Location location) : location_(std::move(location)) {}

  std::vector<web::StudyRow> Worklist(const web::WorklistQuery& query) override {
    archive::WorklistFilter filter{std::nullopt, query.patient, query.device, query.from, query.to};
    if (!query.state.empty()) {
      filter.state = archive::ParseState(query.state);
      if (!filter.state) throw web::BadQuery("state: expected prepared, recording, downloaded, reviewed or signed");
    }
    for (const auto& [field, date] : {std::pair{"from", query.from}, std::pair{"to", query.to}})
      if (!date.empty() && !report::ParseLocalTime(date + "T00:00"))
        throw web::BadQuery(std::string(field) + ": expected a date YYYY-MM-DD, like 2024-03-01");
    const auto archive = OpenedForRequest(location_);
    try {
      return StudyRows(*archive, archive->Worklist(filter));
    } catch (const archive::ArchiveError& e) {
      throw std::runtime_error(e.what());
    }
  }

  web::StudyDetail Study(std::int64_t id) override {
    const auto archive = OpenedForRequest(location_);
    web::StudyDetail detail;
    archive::StudyEntry study;
    try {
      study = archive->LoadStudy(id);
    } catch (const archive::NotFound& e) {
      throw web::NotFiled(e.what());
    } catch (const archive::ArchiveError& e) {
      throw std::runtime_error(e.what());
    }
    try {
      detail.row = StudyRows(*archive, {study}).front();
      detail.hooked_up_at = study.hooked_up_at;
      detail.opened_at = study.opened_at;
      detail.opened_by = study.db_role.empty() ? study.user : study.user + " (database role " + study.db_role + ")";
      detail.station = study.station;
      detail.plan_json = study.plan_json;
      const archive::PatientEntry patient = archive->Patient(study.patient_id);
      detail.person = patient.person;
      detail.texts = patient.texts;
      for (std::int64_t recording : study.recordings) {
        const archive::StoredRecording stored = archive->Load(recording);
        detail.recordings.push_back({recording, stored.entry.complete, stored.entry.downloaded_at,
                                     stored.entry.station,
                                     archive::ReportableRecording(*archive, stored, ProfileNamed("esh2023"))});
      }
      std::vector<archive::StudyEntry> others = StudiesOfPatient(*archive, study.patient_id);
      std::erase_if(others, [&](const archive::StudyEntry& other) { return other.id == study.id; });
      detail.previous = StudyRows(*archive, others);
    } catch (const archive::ArchiveError& e) {
      throw std::runtime_error(e.what());
    }
    return detail;
  }

  web::Exported Export(std::int64_t recording, std::string_view format) override {
    if (std::ranges::find(web::kExportFormats, format) == std::end(web::kExportFormats))
      throw web::BadQuery("format: expected pdf, csv, json or fhir");
    const auto archive = OpenedForRequest(location_);
    archive::StoredRecording stored;
    report::Recording reportable;
    try {
      stored = archive->Load(recording);
      reportable = archive::ReportableRecording(*archive, stored, ProfileNamed("esh2023"));
    } catch (const archive::NotFound& e) {
      throw web::NotFiled(e.what());
    } catch (const archive::ArchiveError& e) {
      throw std::runtime_error(e.what());
    }
    const std::string name = "recording-" + std::to_string(recording);
    if (format == "csv") return {ExportedCsv(stored), "text/csv; charset=utf-8", name + ".csv"};
    if (format == "json") return {ExportedJson(stored, reportable), "application/json", name + ".json"};
    // The report as `bplink export N --format pdf|fhir` writes it.
    report::ReportOptions options;
    std::ostringstream out, err;
    const ReportWriter write = [&](const report::ReportOptions& o) {
      return report::WriteReport(reportable, o, out, err);
    };
    if (format == "fhir") {
      options.format = report::ReportFormat::kFhir;
      if (write(options) != report::kReportOk) throw std::runtime_error(Said(err, "the FHIR report could not be written"));
      return {out.str(), "application/fhir+json", name + "-fhir.json"};
    }
    // Chromium prints into a file of the workstation's own, read back whole.
    std::error_code ec;
    const std::filesystem::path pdf =
        std::filesystem::temp_directory_path(ec) /
        ("bplink-serve-" + std::to_string(std::random_device{}()) + "-" + name + ".pdf");
    options.output = pdf.string();
    const int status = WritePdf(options, write);
    std::ifstream file(pdf, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    file.close();
    std::filesystem::remove(pdf, ec);
    if (status != report::kReportOk || bytes.str().empty())
      throw std::runtime_error("the PDF could not be made: Chromium did not print it (bplink serve's output says why)");
    return {bytes.str(), "application/pdf", name + ".pdf"};
  }

  void Review(std::int64_t recording, const report::ReviewInputs& inputs) override {
    OnArchive(location_, [&](archive::Archive& a) { a.Review(recording, inputs, false, host::ActorHere(host::StationName())); });
  }

  void Sign(std::int64_t recording, const std::string& interpretation) override {
    OnArchive(location_, [&](archive::Archive& a) { a.Sign(recording, interpretation, false, host::ActorHere(host::StationName())); });
  }

 private:
  // What the stream of a failed report said, its last line's end taken off.
  static std::string Said(const std::ostringstream& err, const std::string& otherwise) {
    std::string why = err.str();
    while (!why.empty() && why.back() == '\n') why.pop_back();
    return why.empty() ? otherwise : why;
  }

  archive::Location location_;
};

}  // namespace

std::unique_ptr<web::Studies> StudiesAt(const archive::Location& location) {
  return std::make_unique<ArchiveStudies>(location);
}

}  // namespace bplink::cli
