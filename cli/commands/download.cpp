// bplink download: fetch what a device stored and write it as a table, CSV
// or JSON, and optionally the ambulatory report. What arrived is written
// also when the transfer failed or was stopped part-way.

#include <cctype>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

#include <bplink/report/report.h>
#include "commands/archive_access.h"
#include "commands/commands.h"
#include "download_view.h"
#include "exit_status.h"
#include "transfer.h"

namespace bplink::cli {
namespace {

enum class Format { kTable, kCsv, kJson };

struct DownloadOptions {
  int mode = DATAMODE_NONE;
  std::optional<Format> format;  // unset: from the output file's extension, else a table
  std::string output;
  std::string report;
  report::ReportFormat report_format = report::ReportFormat::kHtml;
  bool force = false;
  FilingOptions filing;
};

// "-o day.csv" and "-o day.json" say the format without --format.
Format FormatFor(const DownloadOptions& options) {
  if (options.format) return *options.format;
  std::string extension = std::filesystem::path(options.output).extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".csv") return Format::kCsv;
  if (extension == ".json") return Format::kJson;
  return Format::kTable;
}

void RunDownload(const GlobalOptions& global, const DownloadOptions& options) {
  // Found now, not after a whole transfer whose data would then be lost:
  // the archive opened and proven writable, the files writable.
  const auto archive = OpenForFiling(options.filing);
  CheckOutput(options.output);
  CheckOverwrite(options.output, options.force, "an earlier download");
  CheckOutput(options.report);
  Link link(global);
  Session session = Connect(global, link);
  const int mode = ChooseMode(session, options.mode);
  CProtocolBase& protocol = *session.protocol;
  const TransferOutcome outcome =
      RunTransfer(session, [&protocol, mode] { return protocol.PC_Download(static_cast<enum_DataMode>(mode)); },
                  DownloadParts(session, mode));

  _DOWNLOAD_DATAINFO data;
  protocol.GetDownLoadData(&data);
  protocol.GetCurDeviceInfo(session.device);
  DownloadView view = ViewOf(data, session.device, mode, host::PlanRead(session, mode));
  view.complete = outcome.result == kResultOk && !outcome.interrupted;
  view.result = outcome.interrupted ? "stopped by the user" : session.Explain(outcome.result);
  view.downloaded_at = CurrentEnv()->LocalTime();

  // A transfer the user stopped ends as stopped, whatever the family's
  // protocol answered once it was cut short.
  const bool failed = outcome.result != kResultOk && !outcome.interrupted;
  if (failed && view.RecordCount() == 0)
    throw CommandError(session.ExitFor(outcome.result), "download failed: " + session.Explain(outcome.result));

  std::ostringstream text;
  switch (FormatFor(options)) {
    case Format::kTable: WriteTable(view, text); break;
    case Format::kCsv: WriteCsv(view, text); break;
    case Format::kJson: WriteJson(view, text); break;
  }
  WriteOutput(options.output, text.str());
  // What arrived is filed also when the transfer stopped part-way, marked incomplete.
  if (archive) std::cerr << FileDownload(*archive, options.filing, view, session.family->name) << '\n';

  if (!options.report.empty()) {
    report::ReportOptions report_options;
    report_options.format = options.report_format;
    report_options.output = options.report;
    report::Recording recording = report::RecordingFromDownload(data, session.device);
    if (!view.complete) recording.incomplete = view.result;
    recording.downloaded_at = view.downloaded_at;
    const int status = report::WriteReport(std::move(recording), report_options, std::cout, std::cerr);
    if (status != report::kReportOk && !failed && !outcome.interrupted)
      throw CommandError(status, "the report could not be written");
  }

  const std::string kept = std::to_string(view.RecordCount()) + " records that arrived were written";
  if (failed) throw CommandError(session.ExitFor(outcome.result), "download failed: " + session.Explain(outcome.result) + "; the " + kept);
  if (outcome.interrupted) throw CommandError(kExitInterrupted, "download stopped; the " + kept);
}

}  // namespace

void AddDownloadCommand(CLI::App& app, const GlobalOptions& global) {
  auto options = std::make_shared<DownloadOptions>();
  CLI::App* command = app.add_subcommand("download", "Download the stored plan and measurements");
  AddModeOption(*command, options->mode);
  const std::map<std::string, Format> formats{{"table", Format::kTable}, {"csv", Format::kCsv}, {"json", Format::kJson}};
  command->add_option("--format", options->format, "table (default), csv or json; -o FILE.csv or FILE.json "
                                                   "picks csv or json without it")
      ->transform(CLI::CheckedTransformer(formats, CLI::ignore_case));
  command->add_option("-o,--output", options->output,
                      "Write to this file instead of standard output (an existing file: asked on a terminal, "
                      "else only with --force)");
  command->add_flag("--force", options->force, "Overwrite the -o file without asking");
  command->add_option("--report", options->report, "Also write the ambulatory report to this file");
  const std::map<std::string, report::ReportFormat> report_formats{
      {"html", report::ReportFormat::kHtml}, {"json", report::ReportFormat::kJson}, {"fhir", report::ReportFormat::kFhir}};
  command->add_option("--report-format", options->report_format, "html (default), json or fhir")
      ->transform(CLI::CheckedTransformer(report_formats, CLI::ignore_case));
  AddFilingOptions(*command, options->filing);
  command->callback([&global, options] { RunDownload(global, *options); });
}

}  // namespace bplink::cli
