#pragma once

#include "connection.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// One rule of what a signed recording allows, enforced by the database (a
// trigger on each engine): a change of `table` by `event` is refused, with
// `message`, when the SQL condition `refused` (on NEW and OLD) holds.
struct SignedRule {
  std::string_view name, table, event, refused, message;
};
const std::vector<SignedRule>& SignedRules();
// Every refusal's message starts so, and PostgreSQL's carries this SQLSTATE.
inline constexpr std::string_view kRefusedPrefix = "the archive refuses: ";
inline constexpr std::string_view kRefusedState = "BP001";
// The rule a database error reports, without what the engine added; none
// when the error is no refusal of a rule.
std::optional<std::string> Refusal(std::string_view what);

}  // namespace bplink::archive::detail
