// Nothing is erased unread: the rule every door that erases a device's
// readings goes through (the program's upload and delete, and the
// workstation's). Before an upload that starts a new recording, or a delete,
// every reading the device holds is filed in the archive (one
// de-duplicating download); without an archive the erasure goes on only when
// the person said the readings may be lost.
#pragma once

#include <bplink/archive/archive.h>
#include <bplink/families.h>
#include <bplink/guard/erasure.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace bplink::archive {

// Which operations erase, which modes hold every reading, and the words of
// a refusal are the core's (<bplink/guard/erasure.h>), shared with the C
// interface.
using guard::Erasure;
using guard::Erases;
using guard::ModesHoldingEverything;

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
