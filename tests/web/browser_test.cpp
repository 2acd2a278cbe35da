// A clinic's day at the Devices screen, in Debian's Chromium driven by
// playwright-core (devices.js, delete.js beside this file), on each archive
// engine: a SQLite file and a real PostgreSQL server. One server and one
// browser per walk; the screenshots go to the build tree. Skipped, saying
// why, where node, Chromium or the npm packages (scripts/setup --tests) are
// missing.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>

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
  args.insert(args.end(), {"--archive", location_});
  std::string why;
  std::unique_ptr<Served> served = Served::Start(args, dir_, why);
  ASSERT_TRUE(served) << why;

  const fs::path shots = fs::path(BPLINK_SCREENSHOTS) / GetParam().engine;
  const auto [status, output] =
      RunCommand("node " + Quoted((fs::path(BPLINK_WEB_TESTS) / walk.script).string()) + " --url " + Quoted(served->Url()) +
          " --shots " + Quoted(shots.string()) + " --user " + Quoted(user_) + " --kind " + Quoted(kind_));
  EXPECT_EQ(status, 0) << output;

  const ProgramRun stopped = served->Stop();
  EXPECT_EQ(stopped.status, 0) << stopped.err;
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
                                           Case{"postgresql", &kDevices}, Case{"postgresql", &kDelete}),
                         Name);

}  // namespace
