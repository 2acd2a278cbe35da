// The SQLite engine: one file on this PC, in WAL mode so a reader never
// waits for a writer, with a busy time-out so two programs writing at once
// take turns instead of failing.

#include <sqlite3.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

#include "connection.h"

namespace bplink::archive::detail {
namespace {

constexpr int kBusyTimeoutMs = 30000;  // a whole download of another station

#ifndef _WIN32
constexpr mode_t kOwnerOnlyFolder = 0700;
constexpr mode_t kOwnerOnlyFile = 0600;

std::string OsError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// The folders up to the file and the file itself, created for their owner
// alone: the archive holds health data. What exists already is left as it is.
void CreateOwnerOnly(const std::filesystem::path& path) {
  std::filesystem::path folder;
  for (const auto& part : path.parent_path()) {
    folder /= part;
    if (::mkdir(folder.c_str(), kOwnerOnlyFolder) != 0 && errno != EEXIST)
      throw ArchiveError(OsError("cannot create the folder", folder.string()));
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kOwnerOnlyFile);
  if (fd < 0) throw ArchiveError(OsError("cannot open the archive", path.string()));
  ::close(fd);
}
#else
// A folder under the user's profile is the user's alone already.
void CreateOwnerOnly(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  if (error) throw ArchiveError("cannot create the folder " + path.parent_path().string() + ": " + error.message());
}
#endif

// A file others may read, as a sentence; nothing for one only its owner may.
std::vector<std::string> Exposure(const std::string& path) {
#ifndef _WIN32
  struct stat s {};
  if (::stat(path.c_str(), &s) == 0 && (s.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(s.st_mode & 07777));
    return {"the archive " + path + " may be read by others (mode " + mode + "); it holds health data: chmod 600 " +
            path + " keeps it to you"};
  }
#else
  (void)path;
#endif
  return {};
}

class SqliteConnection : public Connection {
 public:
  SqliteConnection(const std::string& path, bool create) : path_(path) {
    std::error_code error;
    if (create) {
      CreateOwnerOnly(path);
    } else if (!std::filesystem::is_regular_file(path, error)) {
      throw ArchiveError("there is no archive at " + path +
                         (std::filesystem::exists(path, error) ? " (it is not a file)" : " (no such file)") +
                         "; bplink download --archive or upload --archive makes one");
    }
    warnings_ = Exposure(path);
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
      const std::string reason = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw ArchiveError("cannot open the archive " + path + ": " + reason);
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db_, 1);
    EnterWal();
    Execute("PRAGMA foreign_keys=ON", {});
    // In WAL mode NORMAL loses no committed transaction to a crash of the
    // program, only possibly the last ones to a power cut.
    Execute("PRAGMA synchronous=NORMAL", {});
  }

  // Two stations opening a new archive at once: switching it to WAL takes
  // the file for a moment, and SQLite answers the other one "busy" at once
  // instead of waiting. Reading the mode does wait (the busy time-out), and
  // once one program has switched the file stays in WAL.
  void EnterWal() {
    constexpr int kAttempts = 20;
    for (int attempt = 1;; ++attempt) {
      if (JournalMode("PRAGMA journal_mode") == "wal") return;
      try {
        if (JournalMode("PRAGMA journal_mode=WAL") == "wal") return;
      } catch (const ArchiveError&) {
        if (attempt == kAttempts) throw;
      }
      if (attempt == kAttempts) throw ArchiveError("the archive " + path_ + " could not be put in WAL mode");
    }
  }

  std::string JournalMode(std::string_view pragma) {
    const std::vector<Row> rows = Query(pragma, {});
    return rows.empty() || rows[0].empty() || !rows[0][0] ? "" : *rows[0][0];
  }

  ~SqliteConnection() override {
    for (auto& [sql, p] : statements_) sqlite3_finalize(p.statement);
    sqlite3_close(db_);
  }

  std::vector<Row> Query(std::string_view sql, const std::vector<Value>& params) override {
    sqlite3_stmt* statement = Prepare(sql, params);
    std::vector<Row> rows;
    int status;
    while ((status = sqlite3_step(statement)) == SQLITE_ROW) {
      Row row;
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
        row.push_back(text ? std::optional<std::string>(text) : std::nullopt);
      }
      rows.push_back(std::move(row));
    }
    Finish(statement, status, sql);
    return rows;
  }

  std::int64_t Execute(std::string_view sql, const std::vector<Value>& params) override {
    sqlite3_stmt* statement = Prepare(sql, params);
    int status;
    while ((status = sqlite3_step(statement)) == SQLITE_ROW) {
    }
    Finish(statement, status, sql);
    return sqlite3_changes64(db_);
  }

  // IMMEDIATE takes the write lock at once: a transaction that first reads
  // and then writes could otherwise find another writer ahead of it and fail
  // without waiting.
  void BeginExclusive() override { Execute("BEGIN IMMEDIATE", {}); }
  void Begin() override { Execute("BEGIN IMMEDIATE", {}); }
  void Commit() override { Execute("COMMIT", {}); }
  void Rollback() override {
    if (!sqlite3_get_autocommit(db_)) Execute("ROLLBACK", {});
  }
  std::string_view KeyColumn() const override { return "INTEGER PRIMARY KEY"; }
  Engine engine() const override { return Engine::kSqlite; }
  void CheckForeignKeys(bool on) override { Execute(on ? "PRAGMA foreign_keys=ON" : "PRAGMA foreign_keys=OFF", {}); }
  std::vector<std::string> Warnings() const override { return warnings_; }

 private:
  // A prepared statement, and where each of $1, $2, ... sits in it: SQLite
  // numbers a named parameter by its first appearance.
  struct Prepared {
    sqlite3_stmt* statement = nullptr;
    std::vector<int> index;  // index[n - 1]: the place of $n, 0 when unused
  };

  sqlite3_stmt* Prepare(std::string_view sql, const std::vector<Value>& params) {
    auto found = statements_.find(sql);
    if (found == statements_.end()) {
      const std::string text(sql);
      Prepared p;
      if (sqlite3_prepare_v2(db_, text.c_str(), static_cast<int>(text.size()), &p.statement, nullptr) != SQLITE_OK)
        throw ArchiveError("archive " + path_ + ": " + sqlite3_errmsg(db_));
      for (int i = 1; i <= sqlite3_bind_parameter_count(p.statement); ++i) {
        const char* name = sqlite3_bind_parameter_name(p.statement, i);
        const std::size_t n = name && name[0] == '$' ? std::stoul(name + 1) : 0;
        if (n == 0) continue;
        if (p.index.size() < n) p.index.resize(n, 0);
        p.index[n - 1] = i;
      }
      found = statements_.emplace(text, p).first;
    }
    const Prepared& p = found->second;
    sqlite3_reset(p.statement);
    sqlite3_clear_bindings(p.statement);
    for (std::size_t i = 0; i < params.size() && i < p.index.size(); ++i) {
      const int index = p.index[i];
      if (index == 0) continue;  // the statement does not use this one
      const Value& v = params[i];
      if (std::holds_alternative<std::int64_t>(v)) {
        sqlite3_bind_int64(p.statement, index, std::get<std::int64_t>(v));
      } else if (std::holds_alternative<double>(v)) {
        sqlite3_bind_double(p.statement, index, std::get<double>(v));
      } else if (std::holds_alternative<std::string>(v)) {
        const std::string& text = std::get<std::string>(v);
        sqlite3_bind_text(p.statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      } else {
        sqlite3_bind_null(p.statement, index);
      }
    }
    return p.statement;
  }

  void Finish(sqlite3_stmt* statement, int status, std::string_view sql) {
    sqlite3_reset(statement);
    if (status == SQLITE_DONE) return;
    std::string reason = sqlite3_errmsg(db_);
    if ((status & 0xFF) == SQLITE_BUSY) reason += " (another program kept the archive busy too long)";
    throw ArchiveError("archive " + path_ + ": " + reason + " (in: " + std::string(sql.substr(0, 60)) + ")");
  }

  std::string path_;
  std::vector<std::string> warnings_;
  sqlite3* db_ = nullptr;
  std::map<std::string, Prepared, std::less<>> statements_;
};

}  // namespace

std::unique_ptr<Connection> OpenSqlite(const std::string& path, bool create) {
  return std::make_unique<SqliteConnection>(path, create);
}

std::int64_t ToInt(const std::optional<std::string>& cell) {
  return cell && !cell->empty() ? std::stoll(*cell) : 0;
}

}  // namespace bplink::archive::detail
