// A clinic's day at the workstation, in Debian's Chromium driven by
// playwright-core (devices.js, delete.js, intake.js with study.js, and
// patients.js beside this file), on each archive engine: a SQLite file and a
// real PostgreSQL server. One server and one browser per walk; the
// screenshots go to the build tree. Skipped, saying why, where node, Chromium
// or the npm packages (scripts/setup --tests) are missing.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <sqlite3.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <regex>

#include "postgres_cluster.h"
#include "served.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kScript = "<script>alert(1)</script>";

struct Walk {
  const char* script;  // beside this file
  std::vector<std::string> serve;  // what is served: --sim and its options
};

// Paced so that a download lasts about two seconds: long enough to stop
// half-way on a busy machine, short enough for three of them.
const Walk kDevices{"devices.js", {"--sim", "hid", "--sim-pace", "20"}};
const Walk kDelete{"delete.js", {"--sim", "hid", "--sim-type", "5"}};
// The clinic's day: the study opened from the Devices screen, downloaded
// (stopped once, then whole), reviewed and signed (intake.js, study.js).
const Walk kClinicDay{"intake.js", {"--sim", "hid", "--sim-pace", "20"}};
// A study the program opened and filed, and a second patient's study a plan
// upload opened: moved, merged, amended and sent (patients.js).
const Walk kPatients{"patients.js", {"--sim", "hid"}};

struct Case {
  const char* engine;  // "sqlite" or "postgresql"
  const Walk* walk;
};

std::string Name(const ::testing::TestParamInfo<Case>& info) {
  std::string script = info.param.walk->script;
  return std::string(info.param.engine) + "_" + script.substr(0, script.find('.'));
}

bool OnPath(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a command; its exit status and everything it printed.
std::pair<int, std::string> RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {-1, "cannot run " + command};
  std::array<char, 4096> buffer;
  while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The report fetched from the study page: A4 pages, two or more, each with
// the patient's identifier (pdftotext, from poppler-utils).
void ExpectThePdfNamesThePatientOnEveryPage(const fs::path& pdf) {
  if (!OnPath("pdfinfo") || !OnPath("pdftotext")) {
    ADD_FAILURE() << "poppler-utils (pdfinfo, pdftotext) is not installed (scripts/setup --tests)";
    return;
  }
  const auto [status, info] = RunCommand("pdfinfo " + Quoted(pdf.string()));
  ASSERT_EQ(status, 0) << info;
  EXPECT_THAT(info, ::testing::HasSubstr("(A4)"));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(info, m, std::regex(R"(Pages:\s+([0-9]+))"))) << info;
  const int pages = std::stoi(m[1]);
  EXPECT_GE(pages, 2);
  for (int page = 1; page <= pages; ++page) {
    const auto [ok, text] = RunCommand("pdftotext -f " + std::to_string(page) + " -l " + std::to_string(page) + " " +
                                       Quoted(pdf.string()) + " -");
    EXPECT_EQ(ok, 0) << text;
    EXPECT_THAT(text, ::testing::HasSubstr("P-42")) << "page " << page;
  }
}

class Browser : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    const char* chromium = std::getenv("BPLINK_CHROMIUM");
    if (!OnPath("node")) GTEST_SKIP() << "node is not installed; the browser tests need it (scripts/setup --tests)";
    if (!fs::exists(chromium ? chromium : "/usr/bin/chromium"))
      GTEST_SKIP() << "Chromium is not installed (Debian package chromium; scripts/setup --tests)";
    if (!fs::exists(fs::path(BPLINK_WEB_TESTS) / "node_modules" / "playwright-core"))
      GTEST_SKIP() << "run scripts/setup --tests: it installs playwright-core into " << BPLINK_WEB_TESTS
                   << "/node_modules";
    dir_ = TestDir();
    if (std::string(GetParam().engine) == "sqlite") {
      location_ = (dir_ / "archive.sqlite").string();
      const passwd* user = getpwuid(geteuid());
      user_ = user ? user->pw_name : "";
      kind_ = "OS user";
    } else {
      std::string why;
      cluster_ = PostgresCluster::Start(why);
      if (!cluster_) GTEST_SKIP() << why;
      location_ = cluster_->Location();
      user_ = "bplink";  // the role the cluster's location logs in as
      kind_ = "database role";
    }
  }

  // Runs one statement on the archive, past the program.
  void Sql(const std::string& statement) const {
    if (!cluster_) {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(location_.c_str(), &db), SQLITE_OK);
      char* error = nullptr;
      const int status = sqlite3_exec(db, statement.c_str(), nullptr, nullptr, &error);
      const std::string why = error ? error : "";
      sqlite3_free(error);
      sqlite3_close(db);
      ASSERT_EQ(status, SQLITE_OK) << why;
      return;
    }
    PGconn* db = PQconnectdb(location_.c_str());
    PGresult* result = PQexec(db, statement.c_str());
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    const std::string why = PQerrorMessage(db);
    PQclear(result);
    PQfinish(db);
    ASSERT_TRUE(ok) << why;
  }

  // Runs the walk's script while answering its signal: once it has uploaded
  // the plan (the file "uploaded" in `signal`), the study's hook-up is moved
  // to before the simulated recorder's day, which it holds from the start
  // (dated two mornings ago), as if the recorder had been put on then; the
  // file "hooked-up" tells the walk so. Answers the script's exit status and output.
  std::pair<int, std::string> RunWalk(const std::string& command, const fs::path& signal) {
    fs::create_directories(signal);
    auto walk = std::async(std::launch::async, [command] { return RunCommand(command); });
    bool moved = false;
    while (walk.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
      if (!moved && fs::exists(signal / "uploaded")) {
        Sql("UPDATE studies SET hooked_up_at = '2000-01-01T08:00:00' WHERE id = 1");
        WriteText(signal / "hooked-up", "");
        moved = true;
      }
    return walk.get();
  }

  // Study 1 opened by `bplink upload --archive` for P-42, hooked up before
  // the recorder's day, and downloaded by the program.
  void OpenAndDownloadAStudy() {
    const fs::path plan = dir_ / "study-plan.json";
    WriteText(plan, R"({"period1": {"start": "07:00", "interval": 15}, "period2": {"start": "22:00", "interval": 30}})");
    const ProgramRun upload = RunProgram({"upload", plan.string(), "--sim", "hid", "--archive", location_,
                                          "--patient-id", "P-42", "--patient-system", "urn:clinic:mrn",
                                          "--patient-name", kScript});
    ASSERT_EQ(upload.status, 0) << upload.err;
    Sql("UPDATE studies SET hooked_up_at = '2000-01-01T08:00:00' WHERE id = 1");
    const ProgramRun download = RunProgram({"download", "--sim", "hid", "--archive", location_, "-o", "/dev/null"});
    ASSERT_EQ(download.status, 0) << download.err;
    ASSERT_THAT(download.err, ::testing::HasSubstr("78 new"));
  }

  std::filesystem::path dir_;
  std::unique_ptr<PostgresCluster> cluster_;
  std::string location_, user_, kind_;
};

TEST_P(Browser, WalksTheDevicesScreen) {
  const Walk& walk = *GetParam().walk;
  std::vector<std::string> args = walk.serve;
  const fs::path plan = dir_ / "plan.json";
  WriteText(plan, std::string(R"({"patient": [")") + kScript + R"(", "ID-0042"], "period1": {"interval": 15}})");
  if (&walk == &kDevices) args.insert(args.end(), {"--sim-plan", plan.string()});
  if (&walk == &kPatients) {
    ASSERT_NO_FATAL_FAILURE(OpenAndDownloadAStudy());
    const fs::path plan = dir_ / "second-plan.json";
    WriteText(plan, R"({"period1": {"start": "07:00", "interval": 15}, "period2": {"start": "22:00", "interval": 30}})");
    const ProgramRun upload = RunProgram({"upload", plan.string(), "--sim", "hid", "--archive", location_,
                                          "--patient-id", "P-43", "--patient-name", "Second Patient"});
    ASSERT_EQ(upload.status, 0) << upload.err;
  }
  args.insert(args.end(), {"--archive", location_});
  std::string why;
  std::unique_ptr<Served> served = Served::Start(args, dir_, why);
  ASSERT_TRUE(served) << why;

  // On PostgreSQL a download station's workstation beside the physician's:
  // its database role may not sign.
  std::unique_ptr<Served> station;
  std::string station_url;
  if (&walk == &kClinicDay && cluster_) {
    cluster_->Sql(std::string("CREATE ROLE station LOGIN PASSWORD '") + PostgresCluster::kPassword + "'");
    const ProgramRun grants = RunProgram({"archive", "grants", "station", "station"});
    ASSERT_EQ(grants.status, 0) << grants.err;
    cluster_->Sql(grants.out);
    const fs::path station_dir = dir_ / "station";
    fs::create_directories(station_dir);
    station = Served::Start({"--sim", "hid", "--archive", cluster_->Location("station")}, station_dir, why);
    ASSERT_TRUE(station) << why;
    station_url = " --station-url " + Quoted(station->Url());
  }

  const fs::path shots = fs::path(BPLINK_SCREENSHOTS) / GetParam().engine;
  const auto [status, output] =
      RunWalk("node " + Quoted((fs::path(BPLINK_WEB_TESTS) / walk.script).string()) + " --url " + Quoted(served->Url()) +
                  " --shots " + Quoted(shots.string()) + " --user " + Quoted(user_) + " --kind " + Quoted(kind_) +
                  " --saved " + Quoted((dir_ / "saved").string()) + " --signal " + Quoted((dir_ / "signal").string()) +
                  station_url,
              dir_ / "signal");
  EXPECT_EQ(status, 0) << output;

  const ProgramRun stopped = served->Stop();
  EXPECT_EQ(stopped.status, 0) << stopped.err;
  if (&walk == &kClinicDay) {
    ExpectThePdfNamesThePatientOnEveryPage(dir_ / "saved" / "study.pdf");
    // What the page showed signed is signed in the archive, once.
    const ProgramRun history = RunProgram({"history", "--json", "--archive", location_});
    ASSERT_EQ(history.status, 0) << history.err;
    const nlohmann::json recordings = nlohmann::json::parse(history.out)["recordings"];
    ASSERT_EQ(recordings.size(), 1u) << recordings.dump(2);
    EXPECT_EQ(recordings[0]["state"], "signed");
    EXPECT_EQ(recordings[0]["signed_versions"], 1);
    const auto [shown, text] = RunCommand("pdftotext " + Quoted((dir_ / "saved" / "study.pdf").string()) + " -");
    EXPECT_THAT(text, ::testing::HasSubstr("Normal ambulatory blood pressure."));
  }
  if (&walk == &kPatients) {
    // What the pages did is what the archive's own log and history hold.
    const ProgramRun log = RunProgram({"archive", "log", "--json", "--archive", location_});
    ASSERT_EQ(log.status, 0) << log.err;
    std::vector<std::string> actions;
    for (const auto& e : nlohmann::json::parse(log.out)) {
      const std::string action = e["action"];
      if (action == "move" || action == "merge-patients" || action == "amend" || action == "sent") actions.push_back(action);
      if (action == "amend") {
        EXPECT_EQ(e["details"]["reason"], std::string(kScript) + " diary times were missing");
      }
    }
    EXPECT_THAT(actions, ::testing::ElementsAre("move", "merge-patients", "amend", "sent"));
    const ProgramRun history = RunProgram({"history", "--json", "--archive", location_});
    ASSERT_EQ(history.status, 0) << history.err;
    const nlohmann::json filed = nlohmann::json::parse(history.out);
    ASSERT_EQ(filed["recordings"].size(), 1u) << history.out;
    EXPECT_EQ(filed["recordings"][0]["signed_versions"], 2);
    EXPECT_EQ(filed["recordings"][0]["patient"], 1);
  }
  if (&walk == &kDelete) {
    // The deleted records were filed first: the archive holds all 78.
    const ProgramRun history = RunProgram({"history", "--json", "--archive", location_});
    ASSERT_EQ(history.status, 0) << history.err;
    const nlohmann::json filed = nlohmann::json::parse(history.out);
    int readings = 0;
    for (const auto& patient : filed["patients"]) readings += patient["readings"].get<int>();
    EXPECT_EQ(readings, 78) << history.out;
  }
  if (&walk != &kDevices) return;
  // What the page said was filed is in the archive, under the device's patient.
  const ProgramRun history = RunProgram({"history", "--json", "--archive", location_});
  ASSERT_EQ(history.status, 0) << history.err;
  const nlohmann::json filed = nlohmann::json::parse(history.out);
  bool found = false;
  for (const auto& patient : filed["patients"])
    if (patient["texts"].dump().find("alert(1)") != std::string::npos && patient["readings"] == 78) found = true;
  EXPECT_TRUE(found) << filed.dump(2);
}

INSTANTIATE_TEST_SUITE_P(Workstation, Browser,
                         ::testing::Values(Case{"sqlite", &kDevices}, Case{"sqlite", &kDelete},
                                           Case{"sqlite", &kClinicDay}, Case{"sqlite", &kPatients},
                                           Case{"postgresql", &kDevices}, Case{"postgresql", &kDelete},
                                           Case{"postgresql", &kClinicDay}, Case{"postgresql", &kPatients}),
                         Name);

}  // namespace
