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
// Opens the archive: kExisting for a command that only reads (a missing
// archive is an error naming it, and nothing is made), kCreate for one that
// files. Says the archive's warnings on stderr. Throws CommandError.
std::unique_ptr<archive::Archive> OpenArchive(const archive::Location& location, archive::OpenMode mode);
// The report's profile of that id (esh2023, aha2017). Throws CommandError.
const report::Profile& ProfileNamed(const std::string& id);
// A recording as `bplink export RECORDING` writes it: the download's CSV
// with the patient on every row, or its JSON with every input of its report
// (`reportable`, as archive::ReportableRecording makes it). The
// workstation's downloads are these.
std::string ExportedCsv(const archive::StoredRecording& stored);
std::string ExportedJson(const archive::StoredRecording& stored, const report::Recording& reportable);
// A patient and a device in words, as `bplink history` lists them.
std::string PatientText(const archive::PatientEntry& patient);
std::string DeviceText(const archive::DeviceEntry& device);
// --archive LOCATION for the commands that only use the archive.
void AddArchiveOption(CLI::App& command, std::optional<std::string>& location);

}  // namespace bplink::cli
