// Filing a download in the archive: what `download --archive` adds. A
// program built without the archive has the options and says so when they
// are used (commands/archive_absent.cpp).
#pragma once

#include <bplink/report/readings.h>

#include <CLI/CLI.hpp>

#include <cstdint>

#include <optional>
#include <string>
#include <string_view>

#include "download_view.h"

namespace bplink::cli {

struct FilingOptions {
  std::optional<std::string> archive;  // download --archive [LOCATION]
  std::string device_label;
  std::string patient_label;
  std::string station;                 // "" for this PC's host name
};
void AddFilingOptions(CLI::App& command, FilingOptions& options);
// Refuses a location (a password in it, say) before the device is touched.
// Throws CommandError.
void CheckArchiveLocation(const FilingOptions& options);

// The recording the archive (at --archive's `location`) holds as number
// `id`, for `bplink report`. Throws CommandError.
report::Recording ArchivedRecording(const std::optional<std::string>& location, std::int64_t id);

// Files the download and answers "downloaded 78 readings, 3 new". Throws CommandError.
std::string FileDownload(const FilingOptions& options, const DownloadView& view, std::string_view family);

}  // namespace bplink::cli
