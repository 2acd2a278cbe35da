// report: the options of the ambulatory report. Reading, analysing and
// writing are bplink::report::RunReport; this file only parses.

#include <bplink/report/report.h>

#include <CLI/CLI.hpp>

#include <iostream>
#include <map>
#include <memory>
#include <string>

#include "commands/commands.h"

namespace bplink::cli {

void AddReportCommand(CLI::App& app) {
  const std::map<std::string, report::ReportFormat> formats = {{"html", report::ReportFormat::kHtml},
                                                               {"json", report::ReportFormat::kJson},
                                                               {"fhir", report::ReportFormat::kFhir}};
  auto options = std::make_shared<report::ReportOptions>();
  CLI::App* command = app.add_subcommand(
      "report", "Analyse an ambulatory recording (CSV of readings or JSON download) and write the report");
  command->add_option("INPUT", options->input, "CSV with time,sys,dia[,map,pulse,awake] or a JSON download")
      ->required();
  command->add_option("--format", options->format, "html (default), json or fhir")
      ->transform(CLI::CheckedTransformer(formats, CLI::ignore_case));
  command->add_option("-o,--output", options->output, "write to FILE instead of standard output");
  command->add_option("--profile", options->profile, "thresholds: esh2023 (default) or aha2017")
      ->check(CLI::IsMember({"esh2023", "aha2017"}));
  command
      ->add_option("--night", options->night,
                   "night window HH:MM-HH:MM, used when the input has no awake column and no plan")
      ->check(
          [](const std::string& value) {
            return report::ParseNightWindow(value) ? std::string()
                                                   : "expected two different times like 22:30-06:30";
          },
          "HH:MM-HH:MM");
  // The report has told the reason on stderr already; the status reaches
  // main() as a CLI::RuntimeError, which ends the parse without a message.
  command->callback([options] {
    const int status = report::RunReport(*options, std::cout, std::cerr);
    if (status != report::kReportOk) throw CLI::RuntimeError(status);
  });
}

}  // namespace bplink::cli
