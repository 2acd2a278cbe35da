// The report command: options, loading, analysis, and writing to a file or
// standard output.

#include "command.h"

#include "analysis.h"
#include "html_report.h"
#include "json_report.h"

#include <CLI/CLI.hpp>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace bplink::report {
namespace {

const std::map<std::string, ReportFormat> kFormats = {
    {"html", ReportFormat::kHtml}, {"json", ReportFormat::kJson}, {"fhir", ReportFormat::kFhir}};

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

void AddReportCommand(CLI::App& app, std::ostream& out, std::ostream& err) {
  auto options = std::make_shared<ReportOptions>();
  CLI::App* report = app.add_subcommand(
      "report", "Analyse an ambulatory recording (CSV of readings or JSON download) and write the report");
  report->add_option("INPUT", options->input, "CSV with time,sys,dia[,map,pulse,awake] or a JSON download")
      ->required();
  report->add_option("--format", options->format, "html (default), json or fhir")
      ->transform(CLI::CheckedTransformer(kFormats, CLI::ignore_case));
  report->add_option("-o,--output", options->output, "write to FILE instead of standard output");
  report->add_option("--profile", options->profile, "thresholds: esh2023 (default) or aha2017")
      ->check(CLI::IsMember({"esh2023", "aha2017"}));
  report
      ->add_option("--night", options->night,
                   "night window HH:MM-HH:MM, used when the input has no awake column and no plan")
      ->check(
          [](const std::string& value) {
            return ParseNightWindow(value) ? std::string() : "expected two different times like 22:30-06:30";
          },
          "HH:MM-HH:MM");
  report->callback([options, &out, &err] {
    const int status = RunReport(*options, out, err);
    if (status != kReportOk) throw CLI::RuntimeError(status);
  });
}

}  // namespace bplink::report
