// A finished (or stopped) download as a host shows and files it: which sets
// the device type fills, the plan when the device sent one, SpO2 samples,
// and whether it is whole. The program's table, CSV and JSON, the
// workstation's page and the archive's filing all read it.
#pragma once

#include <bplink/bplink.h>
#include <bplink/host/session.h>

#include <optional>
#include <string>
#include <vector>

namespace bplink::host {

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
// are marked not downloaded. Points into `data`.
DownloadView ViewOf(const _DOWNLOAD_DATAINFO& data, const tag_SUPPORT_PROTOCOL& device, int mode,
                    bool plan_read);

// Whether a download of `mode` from the session's device reads its plan:
// the HID family reads it in data modes 1 and 2 only; three-store monitors
// and recorders of variant 1 keep none.
bool PlanRead(const Session& session, int mode);

// Why a record of the set of data mode `mode` is not counted (the report's
// own reasons, a reading dated after the download or before the plan's start
// among them), or empty.
std::string InvalidReason(const DownloadView& view, int mode, const _BP_RECORD& record);

}  // namespace bplink::host
