// The archive commands in a program built without the archive (no SQLite or
// PostgreSQL client library where it was built): `--archive` says so, as
// does `report --recording`, and `history`, `export`, `archive`, `review`
// and `sign` are not offered. The guard that keeps readings from being erased unread works
// without it: it refuses unless --discard.

#include "commands/archive_access.h"
#include "commands/commands.h"
#include "exit_status.h"

namespace bplink::cli {
namespace {

[[noreturn]] void Absent() {
  throw CommandError(kExitBadInput, "this bplink was built without the archive (it needs the SQLite and "
                                    "PostgreSQL client libraries where it is built)");
}

}  // namespace

void AddFilingOptions(CLI::App& command, FilingOptions& options, bool) {
  command.add_option("--archive", options.archive, "Not available: this bplink was built without the archive")
      ->expected(0, 1);
}

std::unique_ptr<archive::Archive> OpenForFiling(const FilingOptions& options) {
  if (options.archive) Absent();
  return nullptr;
}

std::string FileDownload(archive::Archive&, const FilingOptions&, const DownloadView&, std::string_view) { Absent(); }

report::Recording ArchivedRecording(const std::optional<std::string>&, std::int64_t, const std::string&) { Absent(); }

void AddHistoryCommand(CLI::App&) {}
void AddExportCommand(CLI::App&) {}
void AddArchiveCommand(CLI::App&) {}
void AddReviewCommand(CLI::App&) {}
void AddSignCommand(CLI::App&) {}

}  // namespace bplink::cli
