// What the program hands the archive: a download as the archive takes it,
// and who files it (the operating-system user, this PC, now). Built with or
// without the archive: the guard that keeps readings from being erased
// unread needs it either way.
#pragma once

#include <bplink/archive/archive.h>

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <string_view>

#include "download_view.h"

namespace bplink::cli {

struct FilingOptions {
  std::optional<std::string> archive;  // --archive [LOCATION]
  std::string device_label;
  std::string patient_label;
  std::string station;                 // "" for this PC's host name
};
// --archive [LOCATION], --device-label, --patient-label (when `patient_label`)
// and --station. Defined beside the archive commands: a program built
// without the archive says so.
void AddFilingOptions(CLI::App& command, FilingOptions& options, bool patient_label = true);

// The download as the archive files it.
archive::Download DownloadOf(const DownloadView& view, std::string_view family, const FilingOptions& options);

// The operating-system user, `station` (else this PC's host name) and now:
// whom the audit log names.
archive::Actor ProgramActor(const std::string& station);

}  // namespace bplink::cli
