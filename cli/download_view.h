// A finished (or stopped) download (host::DownloadView) as the program
// writes it: a table, CSV or JSON.
#pragma once

#include <bplink/bplink.h>
#include <bplink/host/download_view.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace bplink::cli {

using host::DownloadedSet;
using host::DownloadView;
using host::InvalidReason;
using host::ViewOf;

// What a set or the SpO2 samples that `mode` would fetch show instead of a count.
std::string NotDownloadedText(int mode);

// The JSON shape report/README.md describes (the report reads it back).
void WriteJson(const DownloadView& view, std::ostream& out);
// A header row, then one row per record and per SpO2 sample: the values a
// clinician reads (diastolic and MAP as the report assigns them, valid or
// not and why); the raw fields stay in the JSON. A text cell a spreadsheet
// would run as a formula is written with a leading apostrophe.
void WriteCsv(const DownloadView& view, std::ostream& out);
// A CSV field by RFC 4180: a field with a comma, quote or line break is
// quoted, quotes doubled. A text a spreadsheet would take for a formula (=,
// +, -, @, or a tab or carriage return first) gets an apostrophe before it,
// which the spreadsheet shows as text; a plain negative number stays a number.
std::string CsvField(std::string text);
// Readable tables for a terminal.
void WriteTable(const DownloadView& view, std::ostream& out);

}  // namespace bplink::cli
