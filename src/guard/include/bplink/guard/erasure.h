// Nothing is erased unread: the part of the rule that needs no archive,
// which every door that erases a device's readings goes through (the
// program's upload and delete, the workstation's, and the C interface and
// Python, whose hosts have no archive). Which operations erase, which data
// modes bring every reading the device holds, how they are counted, and the
// words a refusal is given in live here once; filing them first is the
// archive's part (<bplink/archive/guard.h>).
#pragma once

#include <bplink/families.h>
#include <bplink/protocol_base.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace bplink::guard {

enum class Erasure { kUpload, kDelete };

// Whether `what` erases the readings a device of `family` holds: a delete
// always; an upload where the family table says it starts a new recording
// (Family::uploadStartsRecording).
bool Erases(const Family& family, Erasure what);

// Whether a delete reaches the readings of `device` (of `family`): its
// family has a delete command, and of the USB HID devices only the
// three-store monitor takes one. Where it does not, the delete is refused
// by the device, and there is nothing to guard.
bool DeleteReaches(const Family& family, const tag_SUPPORT_PROTOCOL& device);

// The data modes to download, one after another, so that every reading the
// device holds arrives once, of the modes it offers (`offered`, as
// GetDownLoadDataMode fills them): set 1 with its SpO2 samples rather than
// without, and all of a three-store monitor's stores in one.
std::vector<int> ModesHoldingEverything(const tag_SUPPORT_PROTOCOL& device, std::span<const int> offered);

// The modes `what` must read first on a device that offers `offered`: every
// reading it holds for an upload (ModesHoldingEverything), the mode it
// deletes (`mode`) for a delete.
std::vector<int> ModesToRead(Erasure what, const tag_SUPPORT_PROTOCOL& device, std::span<const int> offered,
                             int mode);

// The readings and SpO2 samples one download from `device` brought, in the
// sets its device type fills (as the download's view counts them).
std::int64_t ReadingsIn(const _DOWNLOAD_DATAINFO& data, const tag_SUPPORT_PROTOCOL& device);

// "the device holds 3 readings that the upload would erase unread": why an
// erasure may not go on, the same words at every door.
std::string WouldErase(Erasure what, std::int64_t held);

// What a door without an archive found before an erasure: `result` 1 once
// every mode was read (else the protocol's answer, and nothing may be
// erased), and how many readings the erasure would take.
struct HeldCount {
  int result = kResultOk;
  std::int64_t held = 0;
};

// Reads what `what` would erase from the device behind `protocol` (bound to
// its link, identified), one download per mode of ModesToRead (`mode`: the
// mode a delete deletes), and counts it. `download` runs one download the
// door's way (its progress, its stop) and answers the protocol's result.
template <typename DownloadOne>
HeldCount CountHeld(CProtocolBase& protocol, Erasure what, int mode, DownloadOne download) {
  HeldCount count;
  int offered_flags[kDataModeCount] = {};
  count.result = protocol.GetDownLoadDataMode(offered_flags);
  if (count.result != kResultOk) return count;
  std::vector<int> offered;
  for (int m = DATAMODE_BP; m < kDataModeCount; ++m)
    if (offered_flags[m] == 1) offered.push_back(m);
  tag_SUPPORT_PROTOCOL device;
  protocol.GetCurDeviceInfo(device);
  for (const int m : ModesToRead(what, device, offered, mode)) {
    count.result = download(m);
    if (count.result != kResultOk) return count;
    _DOWNLOAD_DATAINFO data;
    protocol.GetDownLoadData(&data);
    protocol.GetCurDeviceInfo(device);
    count.held += ReadingsIn(data, device);
  }
  return count;
}

}  // namespace bplink::guard
