#pragma once

#include "connection.h"

namespace bplink::archive::detail {

int LatestVersion();
// Brings the archive up to `target` (at most LatestVersion()) in one
// transaction. Throws ArchiveError for an archive newer than this program.
void Migrate(Connection& db, int target);

}  // namespace bplink::archive::detail
