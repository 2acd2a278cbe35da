#pragma once

#include "connection.h"

namespace bplink::archive::detail {

int LatestVersion();
// Throws ArchiveError when `found` is newer than this program's version.
void RefuseNewer(int found);
// The archive's schema version; 0 where the database or file holds no
// archive yet. Runs no schema statement, so a role with read grants may ask.
int ReadVersion(Connection& db);
// Whether this connection's role may change the schema: always for a SQLite
// file (its owner opened it); for PostgreSQL the owner of the archive's
// tables, or, before there are any, a role that may create tables.
bool MayChangeSchema(Connection& db);
// Brings the archive up to `target` (at most LatestVersion()) in one
// transaction and answers the version it found. Throws ArchiveError for an
// archive newer than this program.
int Migrate(Connection& db, int target);
// Sets a recording's first and last reading from the readings it holds.
void RefreshSpan(Connection& db, std::int64_t recording);

}  // namespace bplink::archive::detail
