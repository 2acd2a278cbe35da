// The fixture every test of the archive through the built program shares:
// a SQLite file, or a real PostgreSQL server started for the test, the
// program run against it, and the archive read past the program.
#pragma once

#include <bplink/archive/archive.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "postgres_cluster.h"
#include "program_runner.h"

namespace bplink::archive {
// The engine by name in the test list.
inline void PrintTo(Engine engine, std::ostream* out) { *out << (engine == Engine::kSqlite ? "sqlite" : "postgresql"); }
}  // namespace bplink::archive

namespace archive_test {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr int kExitBadInput = 2;
constexpr int kExitCannotWrite = 3;
constexpr int kExitInterrupted = 130;
constexpr int kExitWouldLose = 7;

inline unsigned ModeOf(const std::filesystem::path& path) {
  struct stat s {};
  EXPECT_EQ(stat(path.c_str(), &s), 0) << path;
  return s.st_mode & 0777;
}

class ArchiveProgram : public ::testing::TestWithParam<bplink::archive::Engine> {
 protected:
  void SetUp() override {
    dir_ = TestDir();
    if (GetParam() == bplink::archive::Engine::kSqlite) {
      location_ = (dir_ / "private" / "clinic" / "archive.sqlite").string();
      return;
    }
    std::string why;
    cluster_ = PostgresCluster::Start(why);
    if (!cluster_) GTEST_SKIP() << why;
    location_ = cluster_->Location();
  }

  // Whatever the program said, in any test, never holds the password.
  void TearDown() override {
    for (const auto& text : said_) EXPECT_THAT(text, Not(HasSubstr(PostgresCluster::kPassword)));
  }

  ProgramRun Run(std::vector<std::string> args) { return Said(RunProgram(WithArchive(std::move(args)))); }
  ProgramRun Said(ProgramRun run) {
    said_.push_back(run.out + run.err);
    return run;
  }
  std::vector<std::string> WithArchive(std::vector<std::string> args) const {
    args.insert(args.end(), {"--archive", location_});
    return args;
  }
  bool Postgres() const { return GetParam() == bplink::archive::Engine::kPostgres; }
  // `bplink download` of the simulated device, filed.
  ProgramRun Fetch(const std::string& type, int records) {
    return Run({"download", "--sim", "hid", "--sim-type", type, "--sim-records", std::to_string(records), "-o",
                "/dev/null"});
  }
  nlohmann::json History(std::vector<std::string> filters = {}) {
    filters.insert(filters.begin(), {"history", "--json"});
    const ProgramRun run = Run(filters);
    EXPECT_EQ(run.status, 0) << run.err;
    return nlohmann::json::parse(run.out);
  }

  // One value from the archive, read past the program.
  std::string Sql(const std::string& statement) const {
    std::string value;
    if (GetParam() == bplink::archive::Engine::kSqlite) {
      sqlite3* db = nullptr;
      EXPECT_EQ(sqlite3_open(location_.c_str(), &db), SQLITE_OK);
      sqlite3_exec(
          db, statement.c_str(),
          [](void* out, int, char** cells, char**) {
            *static_cast<std::string*>(out) = cells[0] ? cells[0] : "";
            return 0;
          },
          &value, nullptr);
      sqlite3_close(db);
      return value;
    }
    PGconn* db = PQconnectdb(location_.c_str());
    PGresult* result = PQexec(db, statement.c_str());
    if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) > 0) value = PQgetvalue(result, 0, 0);
    PQclear(result);
    PQfinish(db);
    return value;
  }

  std::filesystem::path dir_;
  std::string location_;
  std::unique_ptr<PostgresCluster> cluster_;
  std::vector<std::string> said_;
};

}  // namespace archive_test
