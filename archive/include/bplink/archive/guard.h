// Nothing is erased unread: the rule every door that erases a device's
// readings goes through (the program's upload and delete, and the
// workstation's). Before an upload that starts a new recording, or a delete,
// every reading the device holds is filed in the archive (one
// de-duplicating download); without an archive the erasure goes on only when
// the person said the readings may be lost.
#pragma once

#include <bplink/archive/archive.h>
#include <bplink/families.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace bplink::archive {

enum class Erasure { kUpload, kDelete };

// Whether `what` erases the readings a device of `family` holds: a delete
// always; an upload where the family table says it starts a new recording
// (Family::uploadStartsRecording).
bool Erases(const Family& family, Erasure what);

// The data modes to download, one after another, so that every reading the
// device holds arrives once, of the modes it offers (`offered`, as
// GetDownLoadDataMode fills them): set 1 with its SpO2 samples rather than
// without, and all of a three-store monitor's stores in one.
std::vector<int> ModesHoldingEverything(const tag_SUPPORT_PROTOCOL& device, std::span<const int> offered);

// The erasure may not go on: the device holds readings that are in no
// archive, and the person did not say they may be lost.
class ErasureRefused : public ArchiveError {
 public:
  ErasureRefused(const std::string& what, std::int64_t held) : ArchiveError(what), held(held) {}
  std::int64_t held;
};

struct ErasureCleared {
  std::int64_t held = 0;              // readings and SpO2 samples the device holds
  std::optional<StoreResult> filed;   // with an archive: their filing
  bool discarded = false;             // erased unread, as the person said they may be
};

// Clears an erasure of the device `held` was downloaded from (every reading
// it holds that the erasure would take): with an archive, files them first
// (logged as "file-before-upload" or "file-before-delete"); without one,
// throws ErasureRefused unless `discard` (the person said they may be
// lost). Throws ArchiveError when filing fails; the erasure must not go on
// then.
ErasureCleared ClearErasure(Erasure what, const Download& held, Archive* archive, bool discard, const Actor& actor);

}  // namespace bplink::archive
