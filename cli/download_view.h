// A finished (or stopped) download as the program shows it: which sets the
// device type fills, the plan when the device sent one, SpO2 samples. The
// three outputs (table, CSV, JSON) all read it.
#pragma once

#include <bplink/bplink.h>

#include <ostream>
#include <string>
#include <vector>

namespace bplink::cli {

struct DownloadedSet {
  int mode;           // the data mode that names the set
  std::string title;  // "Set 1", "Store 2"
  const _BP_DATASET* set;
};

struct DownloadView {
  tag_SUPPORT_PROTOCOL device;
  int protocol_version = 0;
  const _BP_TRANSPORT_INFO* plan = nullptr;  // null when the device sent none
  std::vector<DownloadedSet> sets;
  const _SPO2_DATASET* spo2 = nullptr;       // null without SpO2
  bool complete = true;                      // false when stopped or failed part-way
  std::string result;                        // the library's answer, in words

  std::size_t RecordCount() const;
};

// `plan_read`: the transfer of this family and mode reads the plan.
DownloadView ViewOf(const _DOWNLOAD_DATAINFO& data, const tag_SUPPORT_PROTOCOL& device, int mode,
                    bool plan_read);

// The JSON shape report/README.md describes (the report reads it back).
void WriteJson(const DownloadView& view, std::ostream& out);
// A header row, then one row per record and per SpO2 sample.
void WriteCsv(const DownloadView& view, std::ostream& out);
// Readable tables for a terminal.
void WriteTable(const DownloadView& view, std::ostream& out);

}  // namespace bplink::cli
