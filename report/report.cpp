// The whole report: loading, analysis, and writing to a file or a stream.

#include <bplink/report/report.h>

#include <bplink/report/analysis.h>
#include <bplink/report/html_report.h>
#include <bplink/report/json_report.h>

#include <fstream>
#include <sstream>

namespace bplink::report {

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

  const Analysis analysis = Analyse(std::move(recording), *profile, night);
  if (analysis.night_option_ignored)
    err << "bplink report: note: --night not used. " << DescribeRule(analysis.rule) << '\n';

  // The whole report is made before the file is opened, so a failure leaves
  // no half-written file behind.
  std::ostringstream text;
  switch (options.format) {
    case ReportFormat::kHtml: WriteHtmlReport(analysis, text); break;
    case ReportFormat::kJson: WriteJsonReport(analysis, text); break;
    case ReportFormat::kFhir:
      WriteFhirReport(analysis, options.utc_offset ? options.utc_offset : UtcOffset(MachineUtcOffset), text);
      break;
  }
  if (options.output.empty() || options.output == "-") {
    out << text.str();
    return out ? kReportOk : kReportCannotWrite;
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

int RunReport(const ReportOptions& options, std::ostream& out, std::ostream& err) {
  Recording recording;
  try {
    recording = LoadInputFile(options.input);
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
