// The little the archive asks of a database engine: run a statement with
// parameters, read its rows as text, count what it changed, and hold a
// transaction. Both engines take the same SQL: parameters are written $1,
// $2, ... which PostgreSQL reads as positions and SQLite as names.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <bplink/archive/archive.h>

namespace bplink::archive::detail {

using Value = std::variant<std::nullptr_t, std::int64_t, double, std::string>;
using Row = std::vector<std::optional<std::string>>;

// A statement the database refused, with PostgreSQL's SQLSTATE ("42501": the
// role lacks a privilege); SQLite's refusals have none.
class DatabaseError : public ArchiveError {
 public:
  DatabaseError(const std::string& what, std::string sqlstate) : ArchiveError(what), sqlstate(std::move(sqlstate)) {}
  std::string sqlstate;
};
inline constexpr std::string_view kInsufficientPrivilege = "42501";

class Connection {
 public:
  virtual ~Connection() = default;
  // Rows of a statement that returns some; every cell as text, NULL empty.
  virtual std::vector<Row> Query(std::string_view sql, const std::vector<Value>& params = {}) = 0;
  // Rows the statement inserted, updated or deleted.
  virtual std::int64_t Execute(std::string_view sql, const std::vector<Value>& params = {}) = 0;
  // A transaction that also keeps every other writer out until it ends:
  // schema changes take it, so two programs opening one new archive do not
  // both create it.
  virtual void BeginExclusive() = 0;
  // A transaction for storing one download.
  virtual void Begin() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  // The column type of a table's generated key.
  virtual std::string_view KeyColumn() const = 0;
  virtual Engine engine() const = 0;
  // The database role this connection acts as; "" where the engine has none.
  virtual std::string Role() const { return {}; }
  // SQLite checks foreign keys unless told not to, which a schema change
  // that rebuilds a table must (outside any transaction); PostgreSQL ignores it.
  virtual void CheckForeignKeys(bool) {}
  // A sentence about the archive a person should know (SQLite: a file others
  // may read), or nothing.
  virtual std::vector<std::string> Warnings() const { return {}; }
};

// `create`: make the file (and its folders) when it is missing; otherwise a
// missing file is an error that names it.
std::unique_ptr<Connection> OpenSqlite(const std::string& path, bool create);
std::unique_ptr<Connection> OpenPostgres(const std::string& conninfo);

std::int64_t ToInt(const std::optional<std::string>& cell);

// Why an sslmode that turns TLS off is refused; `where` says what set it.
inline std::string SslModeRefused(std::string_view mode, std::string_view where) {
  return "sslmode=" + std::string(mode) + " is refused (" + std::string(where) +
         "): the archive holds health data, so the connection must use TLS whenever it leaves this machine; "
         "allowed: prefer (the default), require, verify-ca, verify-full";
}

}  // namespace bplink::archive::detail
