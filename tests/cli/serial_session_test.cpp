// The program against each serial family's simulated device, served by
// `bplink sim` on a pseudo-terminal and reached through the real serial
// transport with --port: what a person does with a device on a cable.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

#include "program_runner.h"

using ::testing::AllOf;
using ::testing::HasSubstr;

namespace {

constexpr int kExitRefused = 6;
constexpr int kRecords = 4;
// Receive time-outs are real time on a pty; the line answers in far less.
const std::string kTimeoutMs = "120";

struct FamilyCase {
  std::string family;
  int protocol;
  std::string class_name;
  std::string modes;          // a data mode `info` lists
  std::size_t sets;           // data sets the default download fills
  bool takes_plan;
  bool keeps_extra;           // the plan's extra window survives an upload
};

const FamilyCase kFamilies[] = {
    {"kx71", 6, "CProtocolCOMKX71", "1  blood pressure", 2, true, false},
    {"kv32", 7, "CProtocolCOMKV32", "2  blood pressure with SpO2", 1, true, true},
    {"vestra16", 8, "CProtocolCOMVESTRA16", "1  blood pressure", 1, true, true},
    {"vestra16c", 9, "CProtocolCOMVESTRA16C", "1  blood pressure", 1, true, true},
    {"vestra18", 10, "CProtocolCOMVESTRA18", "4  store 1", 3, false, false},
};

std::string Name(const ::testing::TestParamInfo<FamilyCase>& info) { return info.param.family; }
void PrintTo(const FamilyCase& c, std::ostream* out) { *out << c.family; }

int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

std::size_t Records(const nlohmann::json& doc) {
  std::size_t n = 0;
  for (const auto& set : doc["sets"]) n += set["records"].size();
  return n;
}

class SerialFamily : public ::testing::TestWithParam<FamilyCase> {
 protected:
  // `bplink ARGS --port PTY`, with a short time-out.
  ProgramRun Run(std::vector<std::string> args) const {
    args.insert(args.end(), {"--port", port_, "--timeout", kTimeoutMs});
    return RunProgram(args);
  }
  // The same, with the protocol named: detection skipped.
  ProgramRun RunKnown(std::vector<std::string> args) const {
    args.insert(args.end(), {"--protocol", std::to_string(GetParam().protocol)});
    return Run(std::move(args));
  }

  std::string port_;
};

TEST_P(SerialFamily, OnAPseudoTerminalAsAPersonUsesIt) {
  const FamilyCase& c = GetParam();
  const auto dir = TestDir();
  // The device keeps one plan to begin with; another is uploaded later.
  WriteText(dir / "kept.json", R"({"patient": ["KEPT"], "period1": {"start": "08:00", "interval": 30}})");
  std::vector<std::string> serve = {"sim", c.family, "--sim-records", std::to_string(kRecords)};
  if (c.takes_plan) serve.insert(serve.end(), {"--sim-plan", (dir / "kept.json").string()});
  RunningProgram sim(serve, dir);
  ASSERT_TRUE(sim.AwaitErr("Ctrl-C to stop", 1)) << sim.Wait().err;
  port_ = sim.Out().substr(0, sim.Out().find('\n'));
  ASSERT_THAT(port_, HasSubstr("/dev/"));

  const ProgramRun detect = Run({"detect"});
  ASSERT_EQ(detect.status, 0) << detect.err;
  EXPECT_THAT(detect.out, HasSubstr("protocol     " + std::to_string(c.protocol) + " (" + c.family + " family, " +
                                    c.class_name + ")"));

  // Detection is the same for every command; the rest skip it, as a person may once they know.
  const ProgramRun info = RunKnown({"info"});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_THAT(info.out, AllOf(HasSubstr(c.modes), HasSubstr(c.takes_plan ? "Intervals" : "Plan: this device takes none")));

  // The JSON and the CSV show the same download, every set of it.
  const ProgramRun json = RunKnown({"download", "--format", "json", "-o", (dir / "d.json").string()});
  ASSERT_EQ(json.status, 0) << json.err;
  const auto doc = ReadJson(dir / "d.json");
  EXPECT_EQ(doc["complete"], true);
  EXPECT_EQ(doc["device"]["protocol"], c.protocol);
  ASSERT_EQ(doc["sets"].size(), c.sets);
  EXPECT_EQ(doc["sets"][0]["records"].size(), static_cast<std::size_t>(kRecords));
  EXPECT_EQ(doc["sets"][0]["head"]["count"], kRecords);
  if (c.takes_plan) {
    EXPECT_EQ(doc["plan"]["patient"][0], "KEPT");
    EXPECT_EQ(doc["plan"]["period1"], (nlohmann::json{{"start", "08:00"}, {"interval", 30}}));
  }
  const ProgramRun csv = RunKnown({"download", "--format", "csv"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(Lines(csv.out), static_cast<int>(Records(doc)) + 1);
  EXPECT_THAT(csv.out, HasSubstr("," + std::to_string(doc["sets"][0]["records"][0]["sys"].get<int>()) + ","));

  WriteText(dir / "plan.json", R"({
    "patient": ["ANNA MUELLER", "ID-7"],
    "period1": {"start": "06:30", "interval": 20},
    "period2": {"start": "23:15", "interval": 60},
    "extra": {"start": "12:00", "end": "13:30", "interval": 10}
  })");
  // --verify downloads the plan back and fails unless it is what was sent.
  const ProgramRun upload = RunKnown({"upload", (dir / "plan.json").string(), "--verify"});
  if (!c.takes_plan) {
    EXPECT_EQ(upload.status, kExitRefused);
    EXPECT_THAT(upload.err, HasSubstr("not supported by this device"));
  } else {
    ASSERT_EQ(upload.status, 0) << upload.err << upload.out;
    const auto plan = nlohmann::json::parse(upload.out.substr(upload.out.find('{')));
    EXPECT_EQ(plan["patient"][0], "ANNA MUELLER");
    EXPECT_EQ(plan["period1"], (nlohmann::json{{"start", "06:30"}, {"interval", 20}}));
    EXPECT_EQ(plan["extra"].is_null(), !c.keeps_extra);
  }

  // No serial family deletes; the program says so without asking the device.
  const ProgramRun erase = RunKnown({"delete", "--yes", "--trace"});
  EXPECT_EQ(erase.status, kExitRefused);
  EXPECT_THAT(erase.err, AllOf(HasSubstr("does not let a host delete"), ::testing::Not(HasSubstr("open "))));

  sim.Signal(SIGINT);
  EXPECT_EQ(sim.Wait().status, 0);
}

INSTANTIATE_TEST_SUITE_P(Families, SerialFamily, ::testing::ValuesIn(kFamilies), Name);

}  // namespace
