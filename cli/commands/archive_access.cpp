#include "commands/archive_access.h"
#include "commands/archive_open.h"

#include <bplink/host/filing.h>

#include <cstdlib>
#include <iostream>

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

std::unique_ptr<archive::Archive> OpenArchive(const archive::Location& location, archive::OpenMode mode) {
  try {
    archive::OpenOptions options;
    options.mode = mode;
    options.actor = ProgramActor("");
    auto opened = archive::Archive::Open(location, options);
    for (const std::string& warning : opened->Warnings()) std::cerr << "bplink: warning: " << warning << '\n';
    return opened;
  } catch (const archive::ArchiveError& e) {
    throw CommandError(kExitCannotWrite, e.what());
  }
}

void AddArchiveOption(CLI::App& command, std::optional<std::string>& location) {
  command.add_option("--archive", location,
                     "The archive: a SQLite file, or a PostgreSQL database (postgresql://host/db or 'service=NAME'); "
                     "default: $BPLINK_ARCHIVE, else $XDG_DATA_HOME/bplink/archive.sqlite");
}

void AddFilingOptions(CLI::App& command, FilingOptions& options, bool patient_label) {
  command
      .add_option("--archive", options.archive,
                  "File in the archive: a SQLite file or a PostgreSQL database; without a value, $BPLINK_ARCHIVE, "
                  "else $XDG_DATA_HOME/bplink/archive.sqlite")
      ->expected(0, 1);
  command.add_option("--device-label", options.device_label,
                     "With --archive: what you call this device, to tell apart devices of one model");
  if (patient_label)
    command.add_option("--patient-label", options.patient_label,
                       "With --archive: what you add to the patient texts the device keeps (e.g. a record number)");
  command.add_option("--station", options.station, "With --archive: this download station's name (default: host name)");
}

std::unique_ptr<archive::Archive> OpenForFiling(const FilingOptions& options) {
  if (!options.archive) return nullptr;
  auto opened = OpenArchive(ArchiveLocation(options.archive), archive::OpenMode::kCreate);
  try {
    opened->CheckWritable();
  } catch (const archive::ArchiveError& e) {
    throw CommandError(kExitCannotWrite, std::string(e.what()) + "; nothing was sent to the device");
  }
  return opened;
}

std::string FileDownload(archive::Archive& archive, const FilingOptions& options, const DownloadView& view,
                         std::string_view family) {
  archive::StoreResult stored;
  try {
    stored = archive.Store(DownloadOf(view, family, options), ProgramActor(options.station));
  } catch (const archive::ArchiveError& e) {  // a conflict with its filing among them
    throw CommandError(kExitCannotWrite, std::string("the download was not filed: ") + e.what());
  }
  return host::FiledText(stored, view.complete);
}

const report::Profile& ProfileNamed(const std::string& id) {
  const report::Profile* profile = report::FindProfile(id);
  if (!profile) throw CommandError(kExitBadInput, "unknown profile '" + id + "'; use esh2023 or aha2017");
  return *profile;
}

report::Recording ArchivedRecording(const std::optional<std::string>& location, std::int64_t id,
                                    const std::string& profile) {
  const auto archive = OpenArchive(ArchiveLocation(location), archive::OpenMode::kExisting);
  try {
    return archive::ReportableRecording(*archive, id, ProfileNamed(profile));
  } catch (const archive::ArchiveError& e) {
    throw CommandError(kExitBadInput, e.what());
  }
}

}  // namespace bplink::cli
