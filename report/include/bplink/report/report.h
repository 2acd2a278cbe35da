// The whole report in one call: read a recording, analyse it and write it
// in the format asked for, to a file or a stream. The program's `report`
// command and `download --report` are a thin layer of options over these.
//
// An input that cannot be read, a bad option or an output that cannot be
// written is told on `err` in a line a person reads (starting "bplink
// report: ") and answered with its exit status.
#pragma once

#include <bplink/report/fhir_report.h>
#include <bplink/report/readings.h>

#include <iosfwd>
#include <string>

namespace bplink::report {

// PDF is the HTML page printed by a browser; the library writes the HTML
// and the program runs the browser, so here kPdf writes HTML.
enum class ReportFormat { kHtml, kJson, kFhir, kPdf };

struct ReportOptions {
  std::string input;                 // a CSV of readings or a JSON download
  ReportFormat format = ReportFormat::kHtml;
  std::string output;                // empty or "-": the `out` stream
  std::string profile = "esh2023";   // esh2023 or aha2017
  std::string night;                 // "HH:MM-HH:MM"; empty when not given
  UtcOffset utc_offset;              // the device's zone, for the times shown; empty: the machine's
  std::string zone;                  // its name as given (--tz), for the page; empty: the machine's
  SetChoice set;                     // the data set or store; empty: the first with readings
  std::string patient_file;          // a JSON of PatientInfo; empty: none
  PatientInfo patient;               // options; each member given wins over the file's
  ReviewInputs review;               // the physician's inputs, applied by ApplyReview
  std::string previous_file;         // the JSON report of the patient's previous study; empty: none
  std::optional<CalendarTime> made;  // the report's date, in its zone; empty: now
};

// Exit statuses. Bad input covers an unreadable input file as well as bad
// options (an unknown profile, a malformed --night, a review input the
// recording does not fit).
inline constexpr int kReportOk = 0;
inline constexpr int kReportBadInput = 2;
inline constexpr int kReportCannotWrite = 3;
// --format pdf: no Chromium on PATH, or it failed to print: this system
// cannot, as for the program's other exit status 1.
inline constexpr int kReportNoPdf = 1;

int RunReport(const ReportOptions& options, std::ostream& out, std::ostream& err);

// Why a file cannot be written at `path` ("no such directory /x", "is a
// directory", the system's reason such as "Read-only file system"), or empty
// when it can. Probes by opening for appending; a file it had to create is
// removed again.
std::string OutputProblem(const std::string& path);
// The analysis a report of `recording` shows: the patient and the
// physician's inputs (those kept with the recording, then those given)
// applied, judged by options.profile with options.night. Every door that
// sends or shows a report of a loaded recording makes it here, so they
// agree. Throws InputError naming the bad input.
Analysis ReportAnalysis(Recording recording, const ReportOptions& options);
// The report of a recording already loaded; options.input and options.set
// are not read.
int WriteReport(Recording recording, const ReportOptions& options, std::ostream& out, std::ostream& err);

}  // namespace bplink::report
