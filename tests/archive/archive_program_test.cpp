// The archive through the built program, on both engines: a SQLite file, and
// a real PostgreSQL server started for the test. What is checked is what a
// clinic relies on: each reading stored once however often and from however
// many stations it is downloaded, nothing half-written when a download dies,
// an older archive brought up to date, and the data and the password kept
// private.

#include "archive_fixture.h"

#include <csignal>

using namespace archive_test;

namespace {

TEST_P(ArchiveProgram, FilesEachReadingOnceAndGivesItBackAsDownloaded) {
  // A home monitor: its store grows between downloads.
  EXPECT_THAT(Fetch("2", 10).err, HasSubstr("downloaded 10 readings, 10 new"));
  EXPECT_THAT(Fetch("2", 15).err, HasSubstr("downloaded 15 readings, 5 new"));
  EXPECT_THAT(Fetch("2", 15).err, HasSubstr("downloaded 15 readings, 0 new"));
  // An ambulatory recorder brought back with the same recording.
  EXPECT_THAT(Fetch("1", 40).err, HasSubstr("downloaded 40 readings, 40 new"));
  const ProgramRun again = Fetch("1", 40);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_THAT(again.err, HasSubstr("downloaded 40 readings, 0 new"));

  const auto history = History();
  ASSERT_EQ(history["recordings"].size(), 2u);
  ASSERT_EQ(history["devices"].size(), 2u);
  EXPECT_EQ(history["recordings"][0]["readings"].get<int>() + history["recordings"][1]["readings"].get<int>(), 55);
  EXPECT_EQ(history["patients"][0]["readings"], 55);
  EXPECT_EQ(History({"--device", "nothing-like-it"})["recordings"].size(), 0u);
  EXPECT_EQ(History({"--patient", "demo patient", "--from", "2000-01-01"})["recordings"].size(), 2u);
  EXPECT_EQ(History({"--to", "2000-01-01"})["recordings"].size(), 0u);

  // Every field back as the download wrote it, and the same report from the
  // archived readings as from the download.
  const ProgramRun direct = Said(RunProgram({"download", "--sim", "hid", "--sim-records", "40", "--format", "json",
                                             "--report", (dir_ / "r.json").string(), "--report-format", "json"}));
  const auto recorder = history["devices"][0]["device_type"] == 1 ? history["devices"][0]["id"]
                                                                  : history["devices"][1]["id"];
  const auto& recording = history["recordings"][0]["device"] == recorder ? history["recordings"][0]
                                                                         : history["recordings"][1];
  const ProgramRun exported = Run({"export", std::to_string(recording["id"].get<int>()), "--format", "json"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(nlohmann::json::parse(exported.out)["sets"][0]["records"],
            nlohmann::json::parse(direct.out)["sets"][0]["records"]);
  const ProgramRun report =
      Run({"export", std::to_string(recording["id"].get<int>()), "--format", "report-json"});
  ASSERT_EQ(report.status, 0) << report.err;
  auto from_archive = nlohmann::json::parse(report.out);
  EXPECT_EQ(from_archive["recording"]["source"], "archive recording " + std::to_string(recording["id"].get<int>()));
  from_archive["recording"]["source"] = "device download";
  // The download names why it chose the set; the archive names the set it filed.
  EXPECT_EQ(from_archive["recording"]["set"], "set 1");
  from_archive["recording"]["set"] = ReadJson(dir_ / "r.json")["recording"]["set"];
  EXPECT_EQ(from_archive, ReadJson(dir_ / "r.json"));
  // `bplink report` takes the same recording from the archive.
  const ProgramRun reported =
      Run({"report", "--recording", std::to_string(recording["id"].get<int>()), "--format", "json"});
  ASSERT_EQ(reported.status, 0) << reported.err;
  EXPECT_EQ(nlohmann::json::parse(reported.out), nlohmann::json::parse(report.out));
  EXPECT_EQ(Run({"report", "--recording", "1", "r.csv"}).status, kExitBadInput);
  EXPECT_EQ(Run({"export", "999"}).status, kExitBadInput);
}

TEST_P(ArchiveProgram, KeepsTheArchiveAndTheCredentialsPrivate) {
  ASSERT_EQ(Fetch("1", 5).status, 0);
  // BPLINK_ARCHIVE names the archive when --archive does not.
  setenv("BPLINK_ARCHIVE", location_.c_str(), 1);
  const ProgramRun listed = Said(RunProgram({"history", "--json"}));
  unsetenv("BPLINK_ARCHIVE");
  EXPECT_EQ(nlohmann::json::parse(listed.out)["recordings"][0]["readings"], 5) << listed.err;
  if (GetParam() == bplink::archive::Engine::kSqlite) {
    // The default archive, under the user's data folder.
    setenv("XDG_DATA_HOME", (dir_ / "private").c_str(), 1);
    const ProgramRun run = RunProgram({"download", "--archive", "--sim", "hid", "--sim-records", "5", "-o", "-"});
    unsetenv("XDG_DATA_HOME");
    EXPECT_THAT(run.err, HasSubstr("downloaded 5 readings, 5 new"));
    EXPECT_EQ(ModeOf(dir_ / "private"), 0700u);
    for (const auto& folder : {dir_ / "private" / "clinic", dir_ / "private" / "bplink"}) {
      EXPECT_EQ(ModeOf(folder), 0700u);
      for (const auto& entry : std::filesystem::directory_iterator(folder))
        EXPECT_EQ(ModeOf(entry.path()), 0600u) << entry.path();  // the WAL files too
    }
    return;
  }
  // A password on the command line is refused before any device is touched,
  // and pointed to where it belongs; so is a connection without TLS.
  const std::string host = location_.substr(location_.find("?host="));
  for (const std::string& location :
       {"postgresql://bplink:" + std::string(PostgresCluster::kPassword) + "@/postgres" + host,
        "dbname=postgres password=" + std::string(PostgresCluster::kPassword)}) {
    const ProgramRun refused =
        Said(RunProgram({"download", "--archive", location, "--sim", "hid", "--sim-records", "5"}));
    EXPECT_EQ(refused.status, kExitBadInput);
    EXPECT_THAT(refused.err, HasSubstr("password file"));
    EXPECT_EQ(refused.out, "");
  }
  EXPECT_THAT(Said(RunProgram({"history", "--archive", location_ + "&sslmode=disable"})).err,
              HasSubstr("sslmode=disable is refused"));
  // A wrong password in the password file: the server's refusal, told
  // without any password.
  const auto wrong = dir_ / "wrong.pgpass";
  WriteText(wrong, "*:*:*:bplink:not-the-password\n");
  std::filesystem::permissions(wrong, std::filesystem::perms::owner_read);
  const std::string right = getenv("PGPASSFILE");
  setenv("PGPASSFILE", wrong.c_str(), 1);
  const ProgramRun denied = Run({"history"});
  setenv("PGPASSFILE", right.c_str(), 1);
  EXPECT_EQ(denied.status, kExitCannotWrite);
  EXPECT_THAT(denied.err, HasSubstr("password authentication failed"));
  EXPECT_THAT(denied.err, Not(HasSubstr("not-the-password")));
}

TEST_P(ArchiveProgram, TwoStationsAtOnceStoreEachReadingOnce) {
  constexpr int kRecords = 2000;
  std::vector<std::unique_ptr<RunningProgram>> stations;
  for (const char* name : {"a", "b"}) {
    std::filesystem::create_directories(dir_ / name);
    stations.push_back(std::make_unique<RunningProgram>(
        WithArchive({"download", "--sim", "hid", "--sim-records", std::to_string(kRecords), "--station", name,
                     "-o", "/dev/null"}),
        dir_ / name));
  }
  int stored = 0;
  for (auto& station : stations) {
    const ProgramRun run = Said(station->Wait());
    ASSERT_EQ(run.status, 0) << run.err;
    int total = 0, fresh = 0;
    ASSERT_EQ(std::sscanf(run.err.c_str(), "downloaded %d readings, %d new", &total, &fresh), 2) << run.err;
    EXPECT_EQ(total, kRecords);
    stored += fresh;
  }
  EXPECT_EQ(stored, kRecords);
  const auto history = History();
  ASSERT_EQ(history["recordings"].size(), 1u);
  EXPECT_EQ(history["recordings"][0]["readings"], kRecords);
}

TEST_P(ArchiveProgram, ADownloadKilledOrStoppedLeavesNothingHalfWritten) {
  ASSERT_EQ(Fetch("2", 3).status, 0);  // the archive exists before the download that dies
  const std::vector<std::string> slow = WithArchive(
      {"download", "--sim", "hid", "--sim-records", "3000", "--sim-pace", "2", "--trace", "-o", "/dev/null"});
  {
    std::filesystem::create_directories(dir_ / "killed");
    RunningProgram killed(slow, dir_ / "killed");
    ASSERT_TRUE(killed.AwaitErr("\n", 60));  // records are arriving
    killed.Signal(SIGKILL);
    killed.Wait();
  }
  if (GetParam() == bplink::archive::Engine::kSqlite) {
    EXPECT_EQ(Sql("PRAGMA integrity_check"), "ok");
  }
  // The monitor's recording is device 1's; anything of the killed download is marked incomplete.
  const auto after_kill = History();
  for (const auto& r : after_kill["recordings"])
    if (r["device"] != 1) {
      EXPECT_EQ(r["complete"], false) << r;
    }

  // Ctrl-C: what arrived is filed as an incomplete recording, which the next
  // download completes.
  std::filesystem::create_directories(dir_ / "stopped");
  RunningProgram stopped(slow, dir_ / "stopped");
  ASSERT_TRUE(stopped.AwaitErr("\n", 60));
  stopped.Signal(SIGINT);
  const ProgramRun run = Said(stopped.Wait());
  EXPECT_EQ(run.status, kExitInterrupted);
  EXPECT_THAT(run.err, HasSubstr("filed as an incomplete recording"));
  const auto partial = History({"--device", "2"})["recordings"];
  ASSERT_EQ(partial.size(), 1u);
  EXPECT_EQ(partial[0]["complete"], false);
  const int arrived = partial[0]["readings"];
  EXPECT_GT(arrived, 0);

  const ProgramRun whole = Fetch("1", 3000);
  EXPECT_THAT(whole.err, HasSubstr("downloaded 3000 readings, " + std::to_string(3000 - arrived) + " new"));
  const auto completed = History({"--device", "2"})["recordings"];
  ASSERT_EQ(completed.size(), 1u);
  EXPECT_EQ(completed[0]["complete"], true);
  EXPECT_EQ(completed[0]["readings"], 3000);
}

INSTANTIATE_TEST_SUITE_P(Engines, ArchiveProgram,
                         ::testing::Values(bplink::archive::Engine::kSqlite, bplink::archive::Engine::kPostgres),
                         [](const auto& info) {
                           return info.param == bplink::archive::Engine::kSqlite ? "sqlite" : "postgresql";
                         });

}  // namespace
