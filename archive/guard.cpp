#include <bplink/archive/guard.h>

namespace bplink::archive {

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
    throw ErasureRefused(guard::WouldErase(what, cleared.held) + ", and no archive to file them in", cleared.held);
  cleared.discarded = true;
  return cleared;
}

}  // namespace bplink::archive
