// Where the archive is, for every command that uses it: --archive, else
// BPLINK_ARCHIVE, else the file under the user's data folder; and opening it
// with the failure in words.
#pragma once

#include <bplink/archive/archive.h>

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>

namespace bplink::cli {

// `given`: the --archive value; "" for the option without a value, nullopt
// when it was not given. Throws CommandError (a refused location is bad input).
archive::Location ArchiveLocation(const std::optional<std::string>& given);
// Throws CommandError.
std::unique_ptr<archive::Archive> OpenArchive(const archive::Location& location);
// A filed recording as the report takes it: marked incomplete when it was
// filed so, with the time it was downloaded.
report::Recording ReportableRecording(const archive::StoredRecording& stored);
// --archive LOCATION for history and export.
void AddArchiveOption(CLI::App& command, std::optional<std::string>& location);

}  // namespace bplink::cli
