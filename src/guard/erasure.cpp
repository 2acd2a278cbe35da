#include <bplink/guard/erasure.h>

#include <algorithm>

namespace bplink::guard {

bool Erases(const Family& family, Erasure what) { return what == Erasure::kDelete || family.uploadStartsRecording; }

bool DeleteReaches(const Family& family, const tag_SUPPORT_PROTOCOL& device) {
  return family.deletes && (family.link != LinkKind::kUsbHid || device.nDeviceType == kDeviceThreeStores);
}

std::vector<int> ModesHoldingEverything(const tag_SUPPORT_PROTOCOL& device, std::span<const int> offered) {
  if (device.nDeviceType == kDeviceThreeStores) return {DATAMODE_ZONE_ALL};
  const auto offers = [&offered](int mode) { return std::find(offered.begin(), offered.end(), mode) != offered.end(); };
  std::vector<int> modes;
  for (int mode : offered)
    if (!(mode == DATAMODE_BP && offers(DATAMODE_BP_SPO2))) modes.push_back(mode);
  return modes;
}

std::vector<int> ModesToRead(Erasure what, const tag_SUPPORT_PROTOCOL& device, std::span<const int> offered,
                             int mode) {
  if (what == Erasure::kDelete) return {mode};
  return ModesHoldingEverything(device, offered);
}

std::int64_t ReadingsIn(const _DOWNLOAD_DATAINFO& data, const tag_SUPPORT_PROTOCOL& device) {
  const auto n = [](const auto& set) { return static_cast<std::int64_t>(set.vecRecords.size()); };
  switch (device.nDeviceType) {
    case kDeviceThreeStores: return n(data.ZoneSet1) + n(data.ZoneSet2) + n(data.ZoneSet3);
    case kDeviceAmbulatory: return n(data.BPSet) + n(data.BPSet2);
    case kDeviceWithSpO2: return n(data.BPSet) + n(data.SpO2Set);
    default: return n(data.BPSet);
  }
}

std::string WouldErase(Erasure what, std::int64_t held) {
  return "the device holds " + std::to_string(held) + (held == 1 ? " reading" : " readings") + " that " +
         (what == Erasure::kUpload ? "the upload" : "the delete") + " would erase unread";
}

}  // namespace bplink::guard
