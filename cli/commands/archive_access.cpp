#include "commands/archive_access.h"
#include "commands/archive_open.h"

#include <bplink/host/filing.h>

#include <cstdlib>

#include "command_error.h"
#include "exit_status.h"

namespace bplink::cli {

archive::Location ArchiveLocation(const std::optional<std::string>& given) {
  std::string text = given.value_or("");
  if (text.empty()) {
    const char* variable = std::getenv(archive::kArchiveVariable);
    text = variable ? variable : "";
  }
  try {
    if (text.empty()) text = archive::DefaultArchivePath(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    return archive::ParseLocation(text);
  } catch (const archive::ArchiveError& e) {
    throw CommandError(kExitBadInput, e.what());
  }
}

std::unique_ptr<archive::Archive> OpenArchive(const archive::Location& location) {
  try {
    return archive::Archive::Open(location);
  } catch (const archive::ArchiveError& e) {
    throw CommandError(kExitCannotWrite, e.what());
  }
}

void AddArchiveOption(CLI::App& command, std::optional<std::string>& location) {
  command.add_option("--archive", location,
                     "The archive: a SQLite file, or a PostgreSQL database (postgresql://host/db or 'service=NAME'); "
                     "default: $BPLINK_ARCHIVE, else $XDG_DATA_HOME/bplink/archive.sqlite");
}

void AddFilingOptions(CLI::App& command, FilingOptions& options) {
  command
      .add_option("--archive", options.archive,
                  "Also file the download in the archive: a SQLite file or a PostgreSQL database; without a "
                  "value, $BPLINK_ARCHIVE, else $XDG_DATA_HOME/bplink/archive.sqlite")
      ->expected(0, 1);
  command.add_option("--device-label", options.device_label,
                     "With --archive: what you call this device, to tell apart devices of one model");
  command.add_option("--patient-label", options.patient_label,
                     "With --archive: what you add to the patient texts the device keeps (e.g. a record number)");
  command.add_option("--station", options.station, "With --archive: this download station's name (default: host name)");
}

void CheckArchiveLocation(const FilingOptions& options) {
  if (options.archive) ArchiveLocation(options.archive);
}

std::string FileDownload(const FilingOptions& options, const DownloadView& view, std::string_view family) {
  archive::Download download = host::ForArchive(view, family);
  download.device_label = options.device_label;
  download.patient_label = options.patient_label;
  download.station = options.station;
  if (download.station.empty()) download.station = host::StationName();

  const auto archive = OpenArchive(ArchiveLocation(options.archive));
  archive::StoreResult stored;
  try {
    stored = archive->Store(download);
  } catch (const archive::ArchiveError& e) {
    throw CommandError(kExitCannotWrite, std::string("the download was not filed: ") + e.what());
  }
  return host::FiledText(stored, view.complete);
}

report::Recording ReportableRecording(const archive::StoredRecording& stored) {
  report::Recording recording = stored.recording;
  if (!stored.entry.complete) recording.incomplete = "it was filed as an incomplete download";
  recording.downloaded_at = report::ParseLocalTime(stored.entry.downloaded_at);
  return recording;
}

report::Recording ArchivedRecording(const std::optional<std::string>& location, std::int64_t id) {
  const auto archive = OpenArchive(ArchiveLocation(location));
  try {
    return ReportableRecording(archive->Load(id));
  } catch (const archive::ArchiveError& e) {
    throw CommandError(kExitBadInput, e.what());
  }
}

}  // namespace bplink::cli
