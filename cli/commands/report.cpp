// report: the options of the ambulatory report. Reading, analysing and
// writing are bplink::report::RunReport; this file parses, and for PDF runs
// Chromium on the HTML the library wrote (the library runs no programs).

#include <bplink/report/report.h>

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "commands/archive_access.h"
#include "commands/commands.h"
#include "exit_status.h"
#include "review_options.h"

namespace bplink::cli {
namespace {

namespace fs = std::filesystem;

// The first of the names that is an executable file on PATH, or empty.
fs::path FindOnPath(const std::vector<std::string>& names) {
#if defined(_WIN32)
  constexpr char kSeparator = ';';
  const std::vector<std::string> suffixes = {".exe", ""};
#else
  constexpr char kSeparator = ':';
  const std::vector<std::string> suffixes = {""};
#endif
  const char* path = std::getenv("PATH");
  if (!path) return {};
  for (const std::string& name : names) {
    std::stringstream dirs(path);
    for (std::string dir; std::getline(dirs, dir, kSeparator);) {
      if (dir.empty()) continue;
      for (const std::string& suffix : suffixes) {
        std::error_code ec;
        const fs::path candidate = fs::path(dir) / (name + suffix);
        if (fs::is_regular_file(candidate, ec)) return candidate;
      }
    }
  }
  return {};
}

// Runs the program with its arguments, its output to `log`; the exit
// status, or -1 when it could not start or did not exit.
int Run(const fs::path& program, const std::vector<std::string>& args, const fs::path& log) {
#if defined(_WIN32)
  std::string command = "\"\"" + program.string() + "\"";
  for (const std::string& arg : args) command += " \"" + arg + "\"";
  command += " >\"" + log.string() + "\" 2>&1\"";
  return std::system(command.c_str());
#else
  ChildProgram child{.argv = {program.string()}, .output_to = log.string()};
  child.argv.insert(child.argv.end(), args.begin(), args.end());
  return RunChild(child);
#endif
}

}  // namespace

int WritePdf(report::ReportOptions options, const ReportWriter& write) {
  std::error_code ec;
  const bool to_stdout = options.output.empty() || options.output == "-";
  fs::path target;
  if (!to_stdout) {  // checked first, and told as for any other format
    target = fs::absolute(options.output, ec);
    if (const std::string problem = report::OutputProblem(options.output); !problem.empty()) {
      std::cerr << "bplink report: cannot write " << options.output << ": " << problem << '\n';
      return report::kReportCannotWrite;
    }
  }
  const std::string output = options.output;
  const fs::path chromium = FindOnPath({"chromium", "chromium-browser"});
  if (chromium.empty()) {
    std::cerr << "bplink report: --format pdf needs Chromium (chromium or chromium-browser on PATH; on Debian: "
                 "apt install chromium). Without it, write the page with --format html and print it to PDF "
                 "from a browser.\n";
    return report::kReportNoPdf;
  }
  const fs::path dir = fs::temp_directory_path(ec) / ("bplink-report-" + std::to_string(std::random_device{}()) +
                                                      "-" + std::to_string(std::time(nullptr)));
  if (ec || !fs::create_directories(dir, ec)) {
    std::cerr << "bplink report: cannot make a temporary folder for the PDF: " << ec.message() << '\n';
    return report::kReportCannotWrite;
  }
  // Printed in the temporary folder and copied once whole, so a failure
  // leaves the output file as it was.
  const fs::path pdf = dir / "report.pdf";
  options.format = report::ReportFormat::kHtml;
  options.output = (dir / "report.html").string();
  int status = write(options);
  if (status == report::kReportOk) {
    std::vector<std::string> args = {"--headless", "--disable-gpu", "--no-first-run", "--no-pdf-header-footer",
                                     "--user-data-dir=" + (dir / "profile").string(),
                                     "--print-to-pdf=" + pdf.string(), "file://" + options.output};
#if !defined(_WIN32)
    if (::geteuid() == 0) args.insert(args.begin(), "--no-sandbox");  // Chromium will not run as root otherwise
#endif
    const int chromium_status = Run(chromium, args, dir / "chromium.log");
    if (chromium_status != 0 || !fs::exists(pdf) || fs::file_size(pdf, ec) == 0) {
      std::ifstream log(dir / "chromium.log");
      std::cerr << "bplink report: " << chromium.string() << " did not print the PDF (exit status "
                << chromium_status << "): " << log.rdbuf() << '\n';
      status = report::kReportNoPdf;
    } else if (to_stdout) {
      std::ifstream file(pdf, std::ios::binary);
      std::cout << file.rdbuf();
    } else if (!fs::copy_file(pdf, target, fs::copy_options::overwrite_existing, ec)) {
      std::cerr << "bplink report: cannot write " << output << ": " << ec.message() << '\n';
      status = report::kReportCannotWrite;
    }
  }
  fs::remove_all(dir, ec);
  return status;
}

namespace {

// --tz: a fixed offset, or a zone the machine knows by name.
std::string CheckZone(const std::string& value) {
  if (report::ParseUtcOffset(value)) return {};
#if !defined(_WIN32)
  const char* tzdir = std::getenv("TZDIR");
  std::error_code ec;
  if (value.find("..") == std::string::npos &&
      fs::is_regular_file(fs::path(tzdir ? tzdir : "/usr/share/zoneinfo") / value, ec))
    return {};
  return "expected a UTC offset like +01:00 or a time zone like Europe/Berlin";
#else
  return "expected a UTC offset like +01:00";
#endif
}

report::UtcOffset ZoneOffset(const std::string& value) {
  if (const auto minutes = report::ParseUtcOffset(value))
    return [offset = *minutes](const CalendarTime&) { return offset; };
#if !defined(_WIN32)
  ::setenv("TZ", value.c_str(), 1);  // the program's own zone from here on: the report reads it, nothing else
  ::tzset();
#endif
  return report::MachineUtcOffset;
}

}  // namespace

void AddReportCommand(CLI::App& app) {
  const std::map<std::string, report::ReportFormat> formats = {{"html", report::ReportFormat::kHtml},
                                                               {"json", report::ReportFormat::kJson},
                                                               {"fhir", report::ReportFormat::kFhir},
                                                               {"pdf", report::ReportFormat::kPdf}};
  auto options = std::make_shared<report::ReportOptions>();
  auto zone = std::make_shared<std::string>();
  auto set = std::make_shared<int>(0);
  auto archive = std::make_shared<std::optional<std::string>>();
  auto recording = std::make_shared<std::optional<std::int64_t>>();
  auto review = std::make_shared<ReviewOptions>();
  auto previous = std::make_shared<std::string>();
  CLI::App* command = app.add_subcommand(
      "report", "Analyse a recording, 24-hour or home (CSV of readings or JSON download), and write the report");
  command->add_option("INPUT", options->input, "CSV with time,sys,dia[,map,pulse,awake] or a JSON download");
  command->add_option("--recording", *recording, "a recording from the archive instead of INPUT (its number in "
                                                 "bplink history)");
  command->add_option("--archive", *archive, "the archive --recording is in (default: $BPLINK_ARCHIVE, else "
                                             "$XDG_DATA_HOME/bplink/archive.sqlite)");
  command->add_option("--format", options->format, "html (default), json, fhir, or pdf (printed by Chromium)")
      ->transform(CLI::CheckedTransformer(formats, CLI::ignore_case));
  command->add_option("-o,--output", options->output, "write to FILE instead of standard output");
  command->add_option("--profile", options->profile, "thresholds: esh2023 (default) or aha2017")
      ->check(CLI::IsMember({"esh2023", "aha2017"}));
  command
      ->add_option("--night", options->night,
                   "a fixed night window HH:MM-HH:MM, over the plan and the awake column (--sleep over it)")
      ->check(
          [](const std::string& value) {
            return report::ParseNightWindow(value) ? std::string()
                                                   : "expected two different times like 22:30-06:30";
          },
          "HH:MM-HH:MM");
  command->add_option("--set", *set, "the data set or store to report, from 1 (default: the first with readings)")
      ->check(CLI::PositiveNumber);
  command->add_option("--patient", options->patient_file,
                      "JSON with the patient: {\"name\", \"id\", \"system\", \"birth_date\": \"YYYY-MM-DD\", \"sex\"}");
  command->add_option("--patient-name", options->patient.name, "the patient's name (over --patient's)");
  command->add_option("--patient-id", options->patient.id, "the patient's ID (over --patient's)");
  command->add_option("--patient-system", options->patient.system,
                      "the system the patient's ID belongs to, a URI (over --patient's)");
  command->add_option("--birth-date", options->patient.birth_date, "YYYY-MM-DD (over --patient's)");
  command->add_option("--sex", options->patient.sex, "female, male, other or unknown (over --patient's)")
      ->check(CLI::IsMember({"female", "male", "other", "unknown"}));
  AddReviewOptions(*command, *review);
  command->add_option("--previous", *previous,
                      "the JSON report (--format json) of the patient's previous study, shown beside this one "
                      "(an archived recording's is found in the archive)");
  command->add_option("--tz", *zone, "time zone of the device's clock, for the page's and FHIR's times: +01:00 or "
                                     "Europe/Berlin (default: this machine's)")
      ->check(CheckZone, "ZONE");
  // The report has told the reason on stderr already; the status reaches
  // main() as a CLI::RuntimeError, which ends the parse without a message.
  command->callback([options, zone, set, archive, recording, review, previous] {
    if (options->input.empty() == !recording->has_value())
      throw CommandError(kExitBadInput, "give an INPUT file or --recording N from the archive (bplink history "
                                        "lists the recordings)");
    if (*recording && review->Given())
      throw CommandError(kExitBadInput, "an archived recording's review inputs are kept with its study, so that "
                                        "every report of it is the same: store them with bplink review " +
                                            std::to_string(**recording) + " (the same options)");
    if (*set > 0) options->set = *set;
    options->review = ReviewInputsOf(*review);
    options->previous_file = *previous;
    if (!zone->empty()) {
      options->utc_offset = ZoneOffset(*zone);
      options->zone = *zone;
    }
    ReportWriter write = [](const report::ReportOptions& o) { return report::RunReport(o, std::cout, std::cerr); };
    if (*recording) {
      if (*set > 0) throw CommandError(kExitBadInput, "--set picks from a download; an archived recording is one set");
      write = [filed = ArchivedRecording(*archive, **recording, options->profile)](const report::ReportOptions& o) {
        return report::WriteReport(filed, o, std::cout, std::cerr);
      };
    }
    const int status =
        options->format == report::ReportFormat::kPdf ? WritePdf(*options, write) : write(*options);
    if (status != report::kReportOk) throw CLI::RuntimeError(status);
  });
}

}  // namespace bplink::cli
