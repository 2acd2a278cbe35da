// The PostgreSQL engine: a database several download stations share.
// Credentials come only from libpq's own places (the password file, the
// service file, the environment); nothing here prints the connection string.

#include <libpq-fe.h>

#include <cstdio>

#include "connection.h"

namespace bplink::archive::detail {
namespace {

// Any number the stations agree on: the lock that serialises schema changes.
constexpr std::int64_t kSchemaLock = 0x62706c696e6b;

std::string Trimmed(const char* text) {
  std::string s = text ? text : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

// The value libpq used for one of the connection's settings, wherever it
// came from: the location, a service file, the environment or its default.
std::string SettingInUse(PGconn* conn, std::string_view keyword) {
  std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> options(PQconninfo(conn), &PQconninfoFree);
  for (const PQconninfoOption* o = options.get(); o && o->keyword; ++o)
    if (o->keyword == keyword) return o->val ? o->val : "";
  return {};
}

// A host libpq reached through a Unix-domain socket: a path (or Linux's
// abstract namespace, '@'). Such a connection never leaves this machine.
bool IsLocalSocket(const char* host) { return host && (host[0] == '/' || host[0] == '@'); }

// The TLS rule, checked on the connection actually made, so that no route
// to an unencrypted connection gets past it: the mode in use (whether the
// location, a service file or PGSSLMODE set it) may not turn TLS off, and a
// connection over the network must be encrypted. Only a Unix-domain socket,
// which carries nothing off the machine, goes without TLS. Empty when the
// connection keeps the rule, else why not.
std::string BreaksTlsRule(PGconn* conn) {
  const std::string mode = SettingInUse(conn, "sslmode");
  if (mode == "disable" || mode == "allow")
    return SslModeRefused(mode, "set in the location, a service file or PGSSLMODE");
  if (PQsslInUse(conn) || IsLocalSocket(PQhost(conn))) return {};
  return std::string("the connection to ") + (PQhost(conn) ? PQhost(conn) : "the server") +
         " is not encrypted (the server offers no TLS, and sslmode=" + mode +
         " went on without it): the archive holds health data, so a connection over the network must use TLS; "
         "turn TLS on at the server (ssl = on), or connect through its Unix-domain socket on the same machine";
}

class PostgresConnection : public Connection {
 public:
  explicit PostgresConnection(const std::string& conninfo) {
    // The location's own settings come first; application_name only names
    // this program in the server's activity view.
    const char* keywords[] = {"dbname", "application_name", nullptr};
    const char* values[] = {conninfo.c_str(), "bplink", nullptr};
    conn_ = PQconnectdbParams(keywords, values, 1);
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
      const std::string reason = conn_ ? Trimmed(PQerrorMessage(conn_)) : "out of memory";
      PQfinish(conn_);
      conn_ = nullptr;
      throw ArchiveError("cannot connect to the PostgreSQL archive: " + reason);
    }
    if (const std::string broken = BreaksTlsRule(conn_); !broken.empty()) {
      PQfinish(conn_);
      conn_ = nullptr;
      throw ArchiveError("the PostgreSQL archive was not used: " + broken);
    }
    Execute("SET client_min_messages = warning", {});
    // No JIT compiling for this session: the archive's statements are
    // lookups of milliseconds, and a table filled since the server last
    // analysed it looks costly enough to the planner that it spends 100 ms
    // and more compiling one (a worklist took 150 ms instead of 20). A
    // server older than JIT (before 11) has no such setting to turn off.
    role_ = Query("SELECT current_user, CASE WHEN current_setting('jit', true) IS NOT NULL "
                  "THEN set_config('jit', 'off', false) END",
                  {})
                .at(0)[0]
                .value_or("");
  }

  ~PostgresConnection() override { PQfinish(conn_); }

  std::vector<Row> Query(std::string_view sql, const std::vector<Value>& params) override {
    Result result = Run(sql, params);
    std::vector<Row> rows;
    const int columns = PQnfields(result.get());
    for (int r = 0; r < PQntuples(result.get()); ++r) {
      Row row;
      for (int c = 0; c < columns; ++c)
        row.push_back(PQgetisnull(result.get(), r, c) ? std::nullopt
                                                       : std::optional<std::string>(PQgetvalue(result.get(), r, c)));
      rows.push_back(std::move(row));
    }
    return rows;
  }

  std::int64_t Execute(std::string_view sql, const std::vector<Value>& params) override {
    Result result = Run(sql, params);
    const std::string changed = PQcmdTuples(result.get());
    return changed.empty() ? 0 : std::stoll(changed);
  }

  void BeginExclusive() override {
    Execute("BEGIN", {});
    Execute("SELECT pg_advisory_xact_lock($1)", {kSchemaLock});
  }
  void Begin() override { Execute("BEGIN", {}); }
  void Commit() override { Execute("COMMIT", {}); }
  void Rollback() override {
    if (PQtransactionStatus(conn_) != PQTRANS_IDLE) Result(PQexec(conn_, "ROLLBACK"), &PQclear);
  }
  std::string_view KeyColumn() const override { return "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"; }
  Engine engine() const override { return Engine::kPostgres; }
  std::string Role() const override { return role_; }

 private:
  Result Run(std::string_view sql, const std::vector<Value>& params) {
    // Each parameter's type is said, so a statement may leave one unused
    // (both of a pair of statements take the same key): the server could
    // not tell its type otherwise. NULL's is the server's guess.
    constexpr Oid kBigint = 20, kDouble = 701, kText = 25, kUnknown = 0;
    std::vector<std::string> texts(params.size());
    std::vector<const char*> pointers(params.size(), nullptr);
    std::vector<Oid> types(params.size(), kUnknown);
    for (std::size_t i = 0; i < params.size(); ++i) {
      const Value& v = params[i];
      if (std::holds_alternative<std::int64_t>(v)) {
        texts[i] = std::to_string(std::get<std::int64_t>(v));
        types[i] = kBigint;
      } else if (std::holds_alternative<double>(v)) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.17g", std::get<double>(v));
        texts[i] = buffer;
        types[i] = kDouble;
      } else if (std::holds_alternative<std::string>(v)) {
        texts[i] = std::get<std::string>(v);
        types[i] = kText;
      } else {
        continue;  // SQL NULL
      }
      pointers[i] = texts[i].c_str();
    }
    const std::string text(sql);
    Result result(PQexecParams(conn_, text.c_str(), static_cast<int>(params.size()), types.data(), pointers.data(),
                               nullptr, nullptr, 0),
                  &PQclear);
    const ExecStatusType status = result.get() ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      const char* state = result.get() ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
      throw DatabaseError("PostgreSQL archive: " + Trimmed(PQerrorMessage(conn_)), state ? state : "");
    }
    return result;
  }

  PGconn* conn_ = nullptr;
  std::string role_;
};

}  // namespace

std::unique_ptr<Connection> OpenPostgres(const std::string& conninfo) {
  return std::make_unique<PostgresConnection>(conninfo);
}

}  // namespace bplink::archive::detail
