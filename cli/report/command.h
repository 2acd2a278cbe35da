// `bplink report`: read a recording, analyse it and write the report.
//
// AddReportCommand registers the subcommand on the program's CLI11 app;
// RunReport and WriteReport do the work and answer with an exit status, so
// `bplink download --report FILE` can use them on a download in memory.
#pragma once

#include "fhir_report.h"
#include "readings.h"

#include <iosfwd>
#include <iostream>
#include <string>

namespace CLI {
class App;
}

namespace bplink::report {

enum class ReportFormat { kHtml, kJson, kFhir };

struct ReportOptions {
  std::string input;                 // a CSV of readings or a JSON download
  ReportFormat format = ReportFormat::kHtml;
  std::string output;                // empty: standard output
  std::string profile = "esh2023";   // esh2023 or aha2017
  std::string night;                 // "HH:MM-HH:MM"; empty when not given
  UtcOffset utc_offset;              // for FHIR times; empty: the machine's time zone
};

// Exit statuses. Bad input covers an unreadable input file as well as bad
// options (an unknown profile, a malformed --night).
inline constexpr int kReportOk = 0;
inline constexpr int kReportBadInput = 2;
inline constexpr int kReportCannotWrite = 3;

int RunReport(const ReportOptions& options, std::ostream& out, std::ostream& err);
// The report of a recording already loaded; options.input is not read.
int WriteReport(Recording recording, const ReportOptions& options, std::ostream& out, std::ostream& err);

// Registers `report INPUT [--format html|json|fhir] [-o FILE]
// [--profile esh2023|aha2017] [--night HH:MM-HH:MM]`. A failing report ends
// the parse with CLI::RuntimeError carrying the exit status, which the
// program's `return app.exit(e);` passes on. The streams must outlive `app`.
void AddReportCommand(CLI::App& app, std::ostream& out = std::cout, std::ostream& err = std::cerr);

}  // namespace bplink::report
