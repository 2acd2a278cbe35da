// A finished (or stopped) download as the program shows it: which sets the
// device type fills, the plan when the device sent one, SpO2 samples. The
// three outputs (table, CSV, JSON) all read it.
#pragma once

#include <bplink/bplink.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace bplink::cli {

struct DownloadedSet {
  int mode;           // the data mode that names the set
  std::string title;  // "Set 1", "Store 2"
  const _BP_DATASET* set;
  bool downloaded = true;  // false: another data mode (`mode`) fetches it
};

struct DownloadView {
  tag_SUPPORT_PROTOCOL device;
  int protocol_version = 0;
  const _BP_TRANSPORT_INFO* plan = nullptr;  // null when the device sent none
  std::vector<DownloadedSet> sets;
  const _SPO2_DATASET* spo2 = nullptr;       // null without SpO2
  int spo2_mode = DATAMODE_BP_SPO2;          // the data mode that fetches the samples
  bool spo2_downloaded = true;
  bool complete = true;                      // false when stopped or failed part-way
  std::string result;                        // the library's answer, in words
  // The PC's clock when the download ended: a reading dated later cannot
  // be real (a device clock or plan start set wrong) and is flagged.
  std::optional<CalendarTime> downloaded_at;

  std::size_t RecordCount() const;
};

// `plan_read`: the transfer of this family and mode reads the plan. A set
// or the SpO2 samples that `mode` does not fetch, and that arrived empty,
// are marked not downloaded.
DownloadView ViewOf(const _DOWNLOAD_DATAINFO& data, const tag_SUPPORT_PROTOCOL& device, int mode,
                    bool plan_read);

// Why the program counts a record of the set of data mode `mode` invalid
// (the report's own reasons, a reading dated after the download or before
// the plan's start among them), or empty.
std::string InvalidReason(const DownloadView& view, int mode, const _BP_RECORD& record);
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
