// A clinic's PostgreSQL archive with least privilege, through the built
// program against a real server: an owner who alone changes the schema, a
// download station and a reviewing physician with the grants `bplink archive
// grants` prints (the physician reviews and signs, the station may not), and
// the TLS rule held on the connection actually made, however its mode was
// set.

#include <bplink/archive/archive.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <sstream>

#include "postgres_cluster.h"
#include "program_runner.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr int kExitCannotWrite = 3;

void ExpectNoFrameSent(const ProgramRun& run) { EXPECT_THAT(run.err, Not(HasSubstr("] > "))) << run.err; }

class PostgresAccess : public ::testing::Test {
 protected:
  void Start(bool tcp) {
    dir_ = TestDir();
    std::string why;
    cluster_ = PostgresCluster::Start(why, tcp);
    if (!cluster_) GTEST_SKIP() << why;
  }

  // Runs statements as `role`; false when the server refused one.
  bool SqlAs(const std::string& role, const std::string& statements) const {
    PGconn* db = PQconnectdb(cluster_->Location(role).c_str());
    PGresult* result = PQexec(db, statements.c_str());
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK || PQresultStatus(result) == PGRES_TUPLES_OK;
    PQclear(result);
    PQfinish(db);
    return ok;
  }

  ProgramRun As(const std::string& role, std::vector<std::string> args) const {
    args.insert(args.end(), {"--archive", cluster_->Location(role)});
    return RunProgram(args);
  }

  std::filesystem::path dir_;
  std::unique_ptr<PostgresCluster> cluster_;
};

TEST_F(PostgresAccess, EachRoleDoesWhatItsGrantsAllowAndNoMore) {
  Start(false);
  cluster_->Sql(std::string("CREATE ROLE owner LOGIN PASSWORD '") + PostgresCluster::kPassword +
                "'; GRANT CREATE ON SCHEMA public TO owner; CREATE ROLE station LOGIN PASSWORD '" +
                PostgresCluster::kPassword + "'; CREATE ROLE physician LOGIN PASSWORD '" + PostgresCluster::kPassword +
                "'");
  const std::string plan = (dir_ / "plan.json").string();
  WriteText(plan, R"({"period2": {"start": "23:00", "interval": 30}})");

  // Before the owner made it, a station finds no archive, and makes none.
  const ProgramRun early = As("station", {"download", "--trace", "--sim", "hid", "-o", "/dev/null"});
  EXPECT_EQ(early.status, kExitCannotWrite);
  EXPECT_THAT(early.err, HasSubstr("ask its owner to run bplink archive migrate"));
  ExpectNoFrameSent(early);

  // The owner makes it; a newer program finds it older and only the owner
  // brings it up to date.
  ASSERT_EQ(As("owner", {"archive", "migrate"}).status, 0);
  for (const char* role : {"station", "physician"}) {
    const ProgramRun grants = RunProgram({"archive", "grants", role, role});
    ASSERT_EQ(grants.status, 0) << grants.err;
    ASSERT_TRUE(SqlAs("owner", grants.out)) << grants.out;
  }
  ASSERT_TRUE(SqlAs("owner", "UPDATE bplink_schema SET version = 2"));
  const ProgramRun stale = As("station", {"history"});
  EXPECT_EQ(stale.status, kExitCannotWrite);
  EXPECT_THAT(stale.err, HasSubstr("the archive needs migrating"));
  EXPECT_THAT(stale.err, HasSubstr("ask its owner to run bplink archive migrate"));
  EXPECT_THAT(stale.err, Not(HasSubstr("permission denied for schema")));
  EXPECT_EQ(As("station", {"archive", "migrate"}).status, kExitCannotWrite);
  ASSERT_TRUE(SqlAs("owner", "UPDATE bplink_schema SET version = " + std::to_string(bplink::archive::SchemaVersion())));

  // The station files, opens studies and re-files them.
  const ProgramRun upload = As("station", {"upload", plan, "--sim", "hid", "--patient-id", "P-1"});
  ASSERT_EQ(upload.status, 0) << upload.err;
  const ProgramRun download = As("station", {"download", "--sim", "hid", "--sim-type", "2", "-o", "/dev/null"});
  ASSERT_EQ(download.status, 0) << download.err;
  EXPECT_THAT(download.err, HasSubstr("78 new"));
  EXPECT_EQ(As("station", {"archive", "move", "1", "--patient-label", "MRN-4"}).status, 0);

  // The physician reads everything, and writes only what the review adds.
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"history"}, {"export", "1", "--format", "json"},
                                             {"report", "--recording", "1", "--format", "json"},
                                             {"archive", "log"}, {"archive", "studies"}}) {
    const ProgramRun run = As("physician", args);
    EXPECT_EQ(run.status, 0) << args[0] << ": " << run.err;
  }
  const ProgramRun refused = As("physician", {"download", "--trace", "--sim", "hid", "-o", "/dev/null"});
  EXPECT_EQ(refused.status, kExitCannotWrite);
  EXPECT_THAT(refused.err, HasSubstr("this database role (physician) may not file in it: it lacks INSERT on devices"));
  ExpectNoFrameSent(refused);
  EXPECT_NE(As("physician", {"archive", "move", "1", "--patient-label", "MRN-5"}).status, 0);
  EXPECT_FALSE(SqlAs("physician", "UPDATE readings SET systolic = 1"));
  EXPECT_FALSE(SqlAs("physician", "UPDATE studies SET patient_id = 1"));

  // The station may neither review nor sign; the physician does both.
  const std::string text = (dir_ / "interpretation.txt").string();
  WriteText(text, "Normal ambulatory blood pressure.");
  const ProgramRun station_review = As("station", {"review", "1", "--sleep", "23:00-06:00"});
  EXPECT_EQ(station_review.status, kExitCannotWrite);
  EXPECT_THAT(station_review.err, HasSubstr("this database role (station) may not store a review: it lacks INSERT on "
                                            "reviews"));
  const ProgramRun station_sign = As("station", {"sign", "1", "--file", text});
  EXPECT_EQ(station_sign.status, kExitCannotWrite);
  EXPECT_THAT(station_sign.err, HasSubstr("this database role (station) may not sign: it lacks INSERT on signatures"));
  EXPECT_FALSE(SqlAs("station", "UPDATE studies SET state = 'signed'")) << "signed only by a signature";
  const ProgramRun reviewed = As("physician", {"review", "1", "--sleep", "23:00-06:00"});
  ASSERT_EQ(reviewed.status, 0) << reviewed.err;
  const ProgramRun signed_study = As("physician", {"sign", "1", "--file", text});
  ASSERT_EQ(signed_study.status, 0) << signed_study.err;
  EXPECT_THAT(signed_study.out, HasSubstr("(database role physician)"));
  // Signed, not even the owner changes what it was signed on.
  EXPECT_FALSE(SqlAs("owner", "UPDATE readings SET systolic = 1 WHERE recording_id = 1"));
  EXPECT_FALSE(SqlAs("owner", "DELETE FROM signatures"));
  EXPECT_FALSE(SqlAs("owner", "TRUNCATE readings CASCADE"));

  // Who did what, by role; and the log only grows, whoever tries.
  const ProgramRun log = As("owner", {"archive", "log", "--json"});
  std::vector<std::string> roles;
  for (const auto& e : nlohmann::json::parse(log.out)) roles.push_back(e["db_role"]);
  EXPECT_THAT(roles, ::testing::Contains("station"));
  EXPECT_THAT(roles, ::testing::Contains("owner"));
  EXPECT_THAT(roles, ::testing::Contains("physician"));
  EXPECT_FALSE(SqlAs("station", "DELETE FROM audit_log"));
  EXPECT_FALSE(SqlAs("station", "DELETE FROM readings"));
  EXPECT_FALSE(SqlAs("owner", "UPDATE audit_log SET action = 'nothing'"));
  EXPECT_FALSE(SqlAs("owner", "TRUNCATE audit_log"));
}

TEST_F(PostgresAccess, NoRouteGetsAnUnencryptedConnectionOverTheNetwork) {
  Start(true);
  const ProgramRun made = RunProgram({"archive", "migrate", "--archive", cluster_->Location()});
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string tcp = "host=127.0.0.1 port=" + std::to_string(cluster_->Port()) + " dbname=postgres user=bplink";

  // The server offers no TLS yet: "prefer" would go on without it.
  const ProgramRun plain = RunProgram({"history", "--archive", tcp});
  EXPECT_EQ(plain.status, kExitCannotWrite);
  EXPECT_THAT(plain.err, HasSubstr("is not encrypted"));
  // Through the Unix-domain socket nothing leaves the machine.
  EXPECT_EQ(RunProgram({"history", "--archive", cluster_->Location()}).status, 0);

  // TLS off from a service file, and from the environment: refused, even on
  // the socket, whatever the location says.
  const auto services = dir_ / "pg_service.conf";
  WriteText(services, "[clinic]\nhost=" + cluster_->Dir().string() + "\nport=" + std::to_string(cluster_->Port()) +
                          "\ndbname=postgres\nuser=bplink\nsslmode=disable\n");
  setenv("PGSERVICEFILE", services.c_str(), 1);
  const ProgramRun from_service = RunProgram({"history", "--archive", "service=clinic"});
  unsetenv("PGSERVICEFILE");
  EXPECT_EQ(from_service.status, kExitCannotWrite);
  EXPECT_THAT(from_service.err, HasSubstr("sslmode=disable is refused"));
  setenv("PGSSLMODE", "disable", 1);
  const ProgramRun from_environment = RunProgram({"history", "--archive", cluster_->Location()});
  unsetenv("PGSSLMODE");
  EXPECT_EQ(from_environment.status, kExitCannotWrite);
  EXPECT_THAT(from_environment.err, HasSubstr("sslmode=disable is refused"));

  std::string why;
  if (!cluster_->EnableTls(why)) GTEST_SKIP() << why;
  // With TLS at the server the same location is encrypted, and accepted.
  const ProgramRun encrypted = RunProgram({"history", "--archive", tcp});
  EXPECT_EQ(encrypted.status, 0) << encrypted.err;
  setenv("PGSSLMODE", "disable", 1);
  const ProgramRun turned_off = RunProgram({"history", "--archive", tcp});
  unsetenv("PGSSLMODE");
  EXPECT_EQ(turned_off.status, kExitCannotWrite);
  EXPECT_THAT(turned_off.err, HasSubstr("sslmode=disable is refused"));
}

}  // namespace
