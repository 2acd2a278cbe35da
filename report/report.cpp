// The whole report: loading, analysis, and writing to a file or a stream.

#include <bplink/report/report.h>

#include <bplink/report/analysis.h>
#include <bplink/report/html_report.h>
#include <bplink/report/json_report.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace bplink::report {
namespace {

std::ifstream OpenInput(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw InputError(path + ": is a directory, not a file");
  std::ifstream file(path, std::ios::binary);
  if (!file) throw InputError(path + ": cannot open the file");
  return file;
}

// What the recording knows of its patient (an archived one does), the
// --patient file over it, then the options over that.
PatientInfo PatientOf(const ReportOptions& options, PatientInfo p, const CalendarTime& today) {
  if (!options.patient_file.empty()) {
    std::ifstream file = OpenInput(options.patient_file);
    p = PatientOver(std::move(p), LoadPatientJson(file, options.patient_file));
  }
  p = PatientOver(std::move(p), options.patient);
  if (const std::string problem = CheckPatient(p, today); !problem.empty()) throw InputError("patient: " + problem);
  return p;
}

PreviousStudy PreviousOf(const std::string& path) {
  std::ifstream file = OpenInput(path);
  nlohmann::json doc;
  try {
    doc = nlohmann::json::parse(file);
  } catch (const nlohmann::json::exception& e) {
    throw InputError(path + ": not valid JSON: " + e.what());
  }
  return PreviousFromReportJson(doc, path);
}

}  // namespace

Analysis ReportAnalysis(Recording recording, const ReportOptions& options) {
  const Profile* profile = FindProfile(options.profile);
  if (!profile) throw InputError("unknown profile '" + options.profile + "'; use esh2023 or aha2017");
  std::optional<ClockWindow> night;
  if (!options.night.empty()) {
    night = ParseNightWindow(options.night);
    if (!night) throw InputError("--night '" + options.night + "' is not two different times like 22:30-06:30");
  }
  const DeviceZone zone{options.zone, options.utc_offset};
  recording.subject = PatientOf(options, std::move(recording.subject), options.made.value_or(NowIn(zone)));
  // What the recording was kept with, then what was given for this report.
  const ReviewInputs inputs =
      recording.kept_review ? ReviewOver(*recording.kept_review, options.review) : options.review;
  ApplyReview(recording, inputs);
  if (!options.previous_file.empty()) recording.previous = PreviousOf(options.previous_file);
  return Analyse(std::move(recording), *profile, night);
}

int WriteReport(Recording recording, const ReportOptions& options, std::ostream& out, std::ostream& err) {
  const DeviceZone zone{options.zone, options.utc_offset};
  const CalendarTime made = options.made.value_or(NowIn(zone));
  std::optional<Analysis> made_analysis;
  try {
    ReportOptions at_once = options;
    at_once.made = made;  // one "now" for the patient's checks and the page
    made_analysis = ReportAnalysis(std::move(recording), at_once);
  } catch (const InputError& e) {
    err << "bplink report: " << e.what() << '\n';
    return kReportBadInput;
  }
  const Analysis& analysis = *made_analysis;

  // The whole report is made before the file is opened, so a failure leaves
  // no half-written file behind.
  std::ostringstream text;
  switch (options.format) {
    case ReportFormat::kHtml:
    case ReportFormat::kPdf: WriteHtmlReport(analysis, made, zone, text); break;
    case ReportFormat::kJson: WriteJsonReport(analysis, text); break;
    case ReportFormat::kFhir: WriteFhirReport(analysis, [&zone](const CalendarTime& t) { return zone.At(t); }, text); break;
  }
  if (options.output.empty() || options.output == "-") {
    out << text.str();
    return out ? kReportOk : kReportCannotWrite;
  }
  if (const std::string problem = OutputProblem(options.output); !problem.empty()) {
    err << "bplink report: cannot write " << options.output << ": " << problem << '\n';
    return kReportCannotWrite;
  }
  std::ofstream file(options.output, std::ios::binary);
  file << text.str();
  file.close();
  if (!file) {
    err << "bplink report: cannot write " << options.output << '\n';
    return kReportCannotWrite;
  }
  return kReportOk;
}

std::string OutputProblem(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path target(path);
  if (fs::is_directory(target, ec)) return "is a directory";
  const fs::path parent = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  if (!fs::exists(parent, ec)) return "no such directory " + parent.string();
  if (!fs::is_directory(parent, ec)) return parent.string() + " is not a directory";
  const bool existed = fs::exists(target, ec);
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (!file) return errno ? std::strerror(errno) : "cannot open it for writing";
  std::fclose(file);
  if (!existed) fs::remove(target, ec);
  return {};
}

int RunReport(const ReportOptions& options, std::ostream& out, std::ostream& err) {
  Recording recording;
  try {
    recording = LoadInputFile(options.input, options.set);
  } catch (const InputError& e) {
    err << "bplink report: " << e.what() << '\n';
    return kReportBadInput;
  } catch (const std::exception& e) {  // e.g. memory for an absurdly large file
    err << "bplink report: " << options.input << ": " << e.what() << '\n';
    return kReportBadInput;
  }
  return WriteReport(std::move(recording), options, out, err);
}

}  // namespace bplink::report
