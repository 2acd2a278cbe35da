// How the program shows a download on a terminal: the device, the plan
// and the record sets as tables.
#pragma once

#include <bplink/bplink.h>

#include <ostream>
#include <string>

namespace bplink::cli {

std::string DeviceTypeText(int deviceType);
// A variant or version, or "not reported" for what detection leaves unset.
std::string DeviceFieldText(int value);

void PrintDevice(std::ostream& out, const tag_SUPPORT_PROTOCOL& device);
void PrintPlan(std::ostream& out, const _BP_TRANSPORT_INFO& plan);
struct DownloadView;
struct DownloadedSet;
// A titled table of the set's records, with a count of the valid ones, or
// the mode that fetches a set not downloaded.
void PrintRecords(std::ostream& out, const DownloadView& view, const DownloadedSet& set);

}  // namespace bplink::cli
