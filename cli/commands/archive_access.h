// The archive as the commands that reach a device use it: opened before the
// device is touched, and a download filed in it. A program built without
// the archive has the options and says so when they are used
// (commands/archive_absent.cpp).
#pragma once

#include <bplink/archive/archive.h>
#include <bplink/report/readings.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "download_view.h"
#include "filing.h"

namespace bplink::cli {

// The archive --archive names, opened (made when missing) and proven
// writable, with what a person should know about it said on stderr; null
// without --archive. Run before the device is touched. Throws CommandError.
std::unique_ptr<archive::Archive> OpenForFiling(const FilingOptions& options);

// Files the download and answers "downloaded 78 readings, 3 new". Throws CommandError.
std::string FileDownload(archive::Archive& archive, const FilingOptions& options, const DownloadView& view,
                         std::string_view family);

// The recording the archive (at --archive's `location`) holds as number
// `id`, as its report is made (archive::ReportableRecording; the previous
// study judged by `profile`), for `bplink report`. Throws CommandError.
report::Recording ArchivedRecording(const std::optional<std::string>& location, std::int64_t id,
                                    const std::string& profile);

}  // namespace bplink::cli
