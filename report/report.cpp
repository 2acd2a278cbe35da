// The whole report: loading, analysis, and writing to a file or a stream.

#include <bplink/report/report.h>

#include <bplink/report/analysis.h>
#include <bplink/report/html_report.h>
#include <bplink/report/json_report.h>

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace bplink::report {
namespace {

CalendarTime LocalNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm t{};
#if defined(_WIN32)
  localtime_s(&t, &now);
#else
  localtime_r(&now, &t);
#endif
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

// What the recording knows of its patient (an archived one does), the
// --patient file over it, then the options over that.
PatientInfo PatientOf(const ReportOptions& options, PatientInfo p) {
  if (!options.patient_file.empty()) {
    std::error_code ec;
    if (std::filesystem::is_directory(options.patient_file, ec))
      throw InputError(options.patient_file + ": is a directory, not a file");
    std::ifstream file(options.patient_file, std::ios::binary);
    if (!file) throw InputError(options.patient_file + ": cannot open the file");
    p = PatientOver(std::move(p), LoadPatientJson(file, options.patient_file));
  }
  p = PatientOver(std::move(p), options.patient);
  if (const std::string problem = CheckPatient(p); !problem.empty()) throw InputError("patient: " + problem);
  return p;
}

}  // namespace

int WriteReport(Recording recording, const ReportOptions& options, std::ostream& out, std::ostream& err) {
  const Profile* profile = FindProfile(options.profile);
  if (!profile) {
    err << "bplink report: unknown profile '" << options.profile << "'; use esh2023 or aha2017\n";
    return kReportBadInput;
  }
  std::optional<ClockWindow> night;
  if (!options.night.empty()) {
    night = ParseNightWindow(options.night);
    if (!night) {
      err << "bplink report: --night '" << options.night << "' is not two different times like 22:30-06:30\n";
      return kReportBadInput;
    }
  }

  try {
    recording.subject = PatientOf(options, std::move(recording.subject));
  } catch (const InputError& e) {
    err << "bplink report: " << e.what() << '\n';
    return kReportBadInput;
  }

  const Analysis analysis = Analyse(std::move(recording), *profile, night);
  if (analysis.night_option_ignored)
    err << "bplink report: note: --night not used. " << DescribeRule(analysis.rule) << '\n';

  // The whole report is made before the file is opened, so a failure leaves
  // no half-written file behind.
  std::ostringstream text;
  switch (options.format) {
    case ReportFormat::kHtml:
    case ReportFormat::kPdf: WriteHtmlReport(analysis, options.made.value_or(LocalNow()), text); break;
    case ReportFormat::kJson: WriteJsonReport(analysis, text); break;
    case ReportFormat::kFhir:
      WriteFhirReport(analysis, options.utc_offset ? options.utc_offset : UtcOffset(MachineUtcOffset), text);
      break;
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
