// The subcommands of the bplink program. Each adds itself to the app; when
// it runs it either succeeds or throws CommandError with the exit status.
#pragma once

#include <bplink/report/report.h>

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

#include "command_error.h"
#include "options.h"
#include "session.h"

namespace bplink::cli {

void AddDetectCommand(CLI::App& app, const GlobalOptions& global);
void AddInfoCommand(CLI::App& app, const GlobalOptions& global);
void AddDownloadCommand(CLI::App& app, const GlobalOptions& global);
void AddUploadCommand(CLI::App& app, const GlobalOptions& global);
void AddPlanCommand(CLI::App& app, const GlobalOptions& global);
void AddDeleteCommand(CLI::App& app, const GlobalOptions& global);
void AddSimCommand(CLI::App& app, const GlobalOptions& global);
void AddServeCommand(CLI::App& app, const GlobalOptions& global);
void AddReportCommand(CLI::App& app);
void AddHistoryCommand(CLI::App& app);
void AddExportCommand(CLI::App& app);
void AddArchiveCommand(CLI::App& app);
void AddReviewCommand(CLI::App& app);
void AddSignCommand(CLI::App& app);
// Where the archive and the delivery library are built (BPLINK_WITH_SEND).
void AddSendCommand(CLI::App& app);

// --mode N, for the commands that run a transfer.
void AddModeOption(CLI::App& command, int& mode);
// The data mode a transfer uses: the one asked for, which the device must
// offer, or the first it offers. Throws CommandError.
int ChooseMode(const Session& session, int asked);
// Reads and checks a plan file. Throws CommandError naming the field.
_BP_TRANSPORT_INFO LoadPlan(const std::string& path);
// Throws CommandError (cannot write, and why) unless a file can be written
// at `path`; "" and "-" are standard output. Run before a device is touched.
void CheckOutput(const std::string& path);
// Throws CommandError unless `path` may be written over: it is no file yet
// (or standard output, or a device such as /dev/null), `force` was given, or
// the person said so on a terminal. `what` says what the file may hold.
void CheckOverwrite(const std::string& path, bool force, const std::string& what);
// Writes `text` to `path`, or to standard output for "" or "-". Throws CommandError.
void WriteOutput(const std::string& path, const std::string& text);

// Writes a report as the options ask: from the input file, or from a
// recording already loaded. Answers the report's status.
using ReportWriter = std::function<int(const report::ReportOptions&)>;
// The HTML page `write` makes, printed to PDF (options.output) by headless
// Chromium; says why on stderr when it cannot. Answers the report's status.
int WritePdf(report::ReportOptions options, const ReportWriter& write);

}  // namespace bplink::cli
