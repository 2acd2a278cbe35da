// What the commands that use the archive share: where it is (--archive, else
// BPLINK_ARCHIVE, else the file under the user's data folder), opening it
// with the failure in words, and filing a download.
#pragma once

#include <bplink/archive/archive.h>

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>

#include "download_view.h"

namespace bplink::cli {

// `given`: the --archive value; "" for the option without a value, nullopt
// when it was not given. Throws CommandError (a refused location is bad input).
archive::Location ArchiveLocation(const std::optional<std::string>& given);
std::unique_ptr<archive::Archive> OpenArchive(const archive::Location& location);
// --archive LOCATION for history and export.
void AddArchiveOption(CLI::App& command, std::optional<std::string>& location);

struct FilingOptions {
  std::optional<std::string> archive;  // download --archive [LOCATION]
  std::string device_label;
  std::string patient_label;
  std::string station;                 // "" for this PC's host name
};
void AddFilingOptions(CLI::App& command, FilingOptions& options);

// Files the download and answers "downloaded 78 readings, 3 new". Throws CommandError.
std::string FileDownload(const FilingOptions& options, const DownloadView& view, std::string_view family);

}  // namespace bplink::cli
