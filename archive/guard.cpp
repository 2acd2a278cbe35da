#include <bplink/archive/guard.h>

#include <algorithm>

namespace bplink::archive {

bool Erases(const Family& family, Erasure what) {
  return what == Erasure::kDelete || family.uploadStartsRecording;
}

std::vector<int> ModesHoldingEverything(const tag_SUPPORT_PROTOCOL& device, std::span<const int> offered) {
  if (device.nDeviceType == kDeviceThreeStores) return {DATAMODE_ZONE_ALL};
  const auto offers = [&offered](int mode) { return std::find(offered.begin(), offered.end(), mode) != offered.end(); };
  std::vector<int> modes;
  for (int mode : offered)
    if (!(mode == DATAMODE_BP && offers(DATAMODE_BP_SPO2))) modes.push_back(mode);
  return modes;
}

ErasureCleared ClearErasure(Erasure what, const Download& held, Archive* archive, bool discard, const Actor& actor) {
  ErasureCleared cleared;
  for (const DownloadedSet& s : held.sets)
    if (s.set) cleared.held += static_cast<std::int64_t>(s.set->vecRecords.size());
  if (held.spo2) cleared.held += static_cast<std::int64_t>(held.spo2->vecRecords.size());
  if (cleared.held == 0) return cleared;
  if (archive) {
    cleared.filed = archive->Store(held, actor, what == Erasure::kUpload ? "file-before-upload" : "file-before-delete");
    return cleared;
  }
  if (!discard)
    throw ErasureRefused("the device holds " + std::to_string(cleared.held) + (cleared.held == 1 ? " reading" : " readings") +
                             " that " + (what == Erasure::kUpload ? "the upload" : "the delete") +
                             " would erase unread, and no archive to file them in",
                         cleared.held);
  cleared.discarded = true;
  return cleared;
}

}  // namespace bplink::archive
