// How the program shows a download on a terminal: the device, the plan
// and the record sets as tables.
#pragma once

#include <bplink/bplink.h>
#include <bplink/host/download_view.h>
#include <bplink/host/session.h>

#include <ostream>
#include <string>

namespace bplink::cli {

using host::DeviceFieldText;
using host::DeviceTypeText;

void PrintDevice(std::ostream& out, const tag_SUPPORT_PROTOCOL& device);
void PrintPlan(std::ostream& out, const _BP_TRANSPORT_INFO& plan);
using host::DownloadedSet;
using host::DownloadView;
// A titled table of the set's records, with a count of the valid ones, or
// the mode that fetches a set not downloaded.
void PrintRecords(std::ostream& out, const DownloadView& view, const DownloadedSet& set);

}  // namespace bplink::cli
