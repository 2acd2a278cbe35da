// The program against the simulated devices, end to end: what a person runs
// and what the program's own files say. The HID devices run inside the
// program; each serial family's device is served by `bplink sim` on a
// pseudo-terminal and reached through the real serial transport with --port,
// as a device on a cable is.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <regex>
#include <string>
#include <vector>

#include "program_runner.h"

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

constexpr int kExitBadInput = 2, kExitRefused = 6;
constexpr int kRecorderRecords = 40;
constexpr int kSerialRecords = 4;
// Receive time-outs are real time on a pty; the line answers in far less.
const std::string kTimeoutMs = "120";

// `bplink ARGS` against the simulated ambulatory recorder, whose second set is empty.
ProgramRun Recorder(std::vector<std::string> args) {
  args.insert(args.end(), {"--sim", "hid", "--sim-records", std::to_string(kRecorderRecords)});
  ProgramRun run = RunProgram(args);
  ExpectPlain(run, {"Set 2"});
  return run;
}

TEST(HidSession, DetectAndInfoDescribeTheRecorderAndTraceShowsEveryFrame) {
  const ProgramRun detect = Recorder({"detect", "--trace"});
  ASSERT_EQ(detect.status, 0) << detect.err;
  EXPECT_THAT(detect.out, AllOf(HasSubstr("ambulatory recorder"), HasSubstr("device type  1"),
                                HasSubstr("protocol     1 (hid family, CProtocol_NEW)")));
  EXPECT_THAT(detect.err, AllOf(HasSubstr("open device 0"), HasSubstr("> 40 8F FF FE FD FC  |@.....|"),
                                HasSubstr("< 41 00 05"), HasSubstr("close")));
  EXPECT_TRUE(std::regex_search(detect.err, std::regex(R"(\n\[ +[0-9]+\.[0-9]{3} ms\] > 42)"))) << detect.err;

  const ProgramRun info = Recorder({"info"});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_THAT(info.out, AllOf(HasSubstr("1  blood pressure"), HasSubstr("3  second set"),
                              Not(HasSubstr("4  store 1")), HasSubstr("Intervals")));
  // A recorder of version 2 keeps no interval table: the query reads no
  // plan, so none is shown as if it were the device's.
  EXPECT_THAT(info.out, AllOf(HasSubstr("not reported by the device; the usual ones"),
                              HasSubstr("Current plan: not reported by the device"), Not(HasSubstr("day period"))));
}

TEST(HidSession, DownloadsInEveryFormatAndTheReport) {
  const auto dir = TestDir();
  const ProgramRun table = Recorder({"download"});
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_THAT(table.out, AllOf(HasSubstr("Set 1: 40 records"), HasSubstr("DEMO PATIENT"), HasSubstr("every 15 min")));

  // The CSV, and the ambulatory report of the same download beside it.
  const ProgramRun csv =
      Recorder({"download", "--format", "csv", "--report", (dir / "r.json").string(), "--report-format", "json"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(Lines(csv.out), kRecorderRecords + 1);
  EXPECT_EQ(ReadJson(dir / "r.json")["readings"]["total"].get<int>(), kRecorderRecords);

  const ProgramRun json = Recorder({"download", "--format", "json", "-o", (dir / "d.json").string()});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out, "");
  const auto doc = ReadJson(dir / "d.json");
  EXPECT_EQ(doc["device"]["device_type"], 1);
  ASSERT_EQ(doc["sets"].size(), 2u);
  EXPECT_EQ(doc["sets"][1]["mode"], 3);
  EXPECT_EQ(doc["plan"]["period1"]["interval"], 15);
  // The table and the JSON show the same first reading.
  EXPECT_THAT(table.out, HasSubstr(std::to_string(doc["sets"][0]["records"][0]["sys"].get<int>())));

  // The report reads the program's own JSON.
  const ProgramRun report = RunProgram({"report", (dir / "d.json").string(), "--format", "json"});
  ASSERT_EQ(report.status, 0) << report.err;
  ExpectPlain(report);
  EXPECT_EQ(nlohmann::json::parse(report.out)["readings"]["total"].get<int>(), kRecorderRecords);
}

TEST(HidSession, ADownloadedPlanUploadsAsItStands) {
  const auto dir = TestDir();
  // A downloaded plan is a plan file as it stands: edit one field, upload it back.
  const ProgramRun download = Recorder({"download", "--format", "json", "-o", (dir / "d.json").string()});
  ASSERT_EQ(download.status, 0) << download.err;
  nlohmann::json plan = ReadJson(dir / "d.json")["plan"];
  plan["period2"]["interval"] = 60;
  WriteText(dir / "downloaded.json", plan.dump());
  const ProgramRun again = Recorder({"upload", (dir / "downloaded.json").string(), "--verify"});
  EXPECT_EQ(again.status, 0) << again.err;  // --verify fails unless the device kept what was sent
}

TEST(HidSession, DeleteOnlyWhereTheDeviceAllowsItAndOnlyWhenTold) {
  const ProgramRun recorder = Recorder({"delete", "--yes"});
  EXPECT_EQ(recorder.status, kExitRefused);
  EXPECT_THAT(recorder.err, HasSubstr("does not let a host delete"));

  // With no terminal to ask on (standard input is not one here), nothing
  // happens without --yes: the device is not even opened.
  const std::vector<std::string> stores = {"delete", "--sim", "hid", "--sim-type", "5", "--mode", "5", "--trace"};
  const ProgramRun unasked = RunProgram(stores);
  EXPECT_EQ(unasked.status, kExitBadInput);
  EXPECT_THAT(unasked.err, AllOf(HasSubstr("nothing deleted"), HasSubstr("--yes"), Not(HasSubstr("open "))));

  // The delete says what it deleted: what the store held, now gone (and,
  // filed in no archive, lost: --discard).
  std::vector<std::string> told = stores;
  told.insert(told.end(), {"--yes", "--discard"});
  const ProgramRun deleted = RunProgram(told);
  EXPECT_EQ(deleted.status, 0) << deleted.err;
  EXPECT_THAT(deleted.out, HasSubstr("Deleted 39 records (store 2)"));
  ExpectPlain(deleted);
}

TEST(HidSession, EachDeviceTypeOffersItsOwnModes) {
  const ProgramRun spo2 = RunProgram({"info", "--sim", "hid", "--sim-type", "3"});
  ASSERT_EQ(spo2.status, 0) << spo2.err;
  EXPECT_THAT(spo2.out, AllOf(HasSubstr("monitor with SpO2"), HasSubstr("2  blood pressure with SpO2")));
  // All three stores at once: never offered, but taken (`delete --mode 7`, `download --mode 7`).
  const ProgramRun stores = RunProgram({"info", "--sim", "hid", "--sim-type", "5"});
  ASSERT_EQ(stores.status, 0) << stores.err;
  EXPECT_THAT(stores.out, AllOf(HasSubstr("6  store 3"), HasSubstr("7  all three stores")));

  const ProgramRun refused = RunProgram({"download", "--sim", "hid", "--sim-type", "2", "--mode", "3"});
  EXPECT_EQ(refused.status, kExitRefused);
  EXPECT_THAT(refused.err, HasSubstr("does not offer data mode 3; it offers 1 (blood pressure)"));
}

// Served on a pseudo-terminal: where the system has them.
#if !defined(_WIN32)
// On a terminal: a download of several parts (here the three stores) has one
// bar that only rises and names the part under way, and --trace lines each
// start a line of their own, never behind the bar.
TEST(Terminal, TheBarRisesOnceOverEveryPartAndTraceLinesStandAlone) {
  const auto dir = TestDir();
  const ProgramRun run = RunningProgram({"download", "--sim", "hid", "--sim-type", "5", "--mode", "7", "--sim-pace", "2",
                                         "--trace", "--format", "json", "-o", (dir / "d.json").string()},
                                        dir, true)
                             .Wait();
  ASSERT_EQ(run.status, 0) << run.err;
  static const std::regex kBar(R"(\[[#.]{30}\] ([0-9]+)%  ([^\r\n\x1b]*))");
  std::vector<int> percents;
  std::vector<std::string> parts;
  for (auto it = std::sregex_iterator(run.err.begin(), run.err.end(), kBar); it != std::sregex_iterator(); ++it) {
    percents.push_back(std::stoi((*it)[1]));
    if (parts.empty() || parts.back() != (*it)[2]) parts.push_back((*it)[2]);
  }
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << ::testing::PrintToString(percents);
  EXPECT_THAT(parts, ::testing::ElementsAre("store 1 (1 of 3)", "store 2 (2 of 3)", "store 3 (3 of 3)"));
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(percents.back(), 100) << "a whole transfer ends with a full bar";

  // A trace line starts where a line does, or where the bar was just erased.
  int traced = 0;
  static const std::regex kStamp(R"(\[ *[0-9]+\.[0-9]{3} ms\] )");
  for (auto it = std::sregex_iterator(run.err.begin(), run.err.end(), kStamp); it != std::sregex_iterator(); ++it) {
    const std::string before = run.err.substr(0, static_cast<std::size_t>(it->position()));
    EXPECT_TRUE(before.empty() || before.ends_with("\n") || before.ends_with("\r\033[K")) << it->position();
    ++traced;
  }
  EXPECT_GT(traced, 143);  // a line for each record at least
}

struct FamilyCase {
  std::string family;
  int protocol;
  std::string class_name;
  std::string modes;          // a data mode `info` lists
  std::size_t sets;           // data sets the default download fills
  bool takes_plan;
};

const FamilyCase kFamilies[] = {
    {"kx71", 6, "CProtocolCOMKX71", "1  blood pressure", 2, true},
    {"kv32", 7, "CProtocolCOMKV32", "2  blood pressure with SpO2", 1, true},
    {"vestra16", 8, "CProtocolCOMVESTRA16", "1  blood pressure", 1, true},
    {"vestra16c", 9, "CProtocolCOMVESTRA16C", "1  blood pressure", 1, true},
    {"vestra18", 10, "CProtocolCOMVESTRA18", "4  store 1", 3, false},
};

std::string Name(const ::testing::TestParamInfo<FamilyCase>& info) { return info.param.family; }
void PrintTo(const FamilyCase& c, std::ostream* out) { *out << c.family; }

class SerialFamily : public ::testing::TestWithParam<FamilyCase> {
 protected:
  // `bplink ARGS --port PTY` with a short time-out, its output checked to be
  // plain words; `known`: with the protocol named, which skips detection.
  ProgramRun Run(std::vector<std::string> args, bool known = true) const {
    args.insert(args.end(), {"--port", port_, "--timeout", kTimeoutMs});
    if (known) args.insert(args.end(), {"--protocol", std::to_string(GetParam().protocol)});
    ProgramRun run = RunProgram(args);
    ExpectPlain(run);
    return run;
  }

  std::string port_;
};

TEST_P(SerialFamily, OnAPseudoTerminalAsAPersonUsesIt) {
  const FamilyCase& c = GetParam();
  const auto dir = TestDir();
  // The device keeps a plan of its own, with a patient name that shows any Latin-1 leak.
  std::vector<std::string> serve = {"sim", c.family, "--sim-records", std::to_string(kSerialRecords)};
  if (c.takes_plan) serve.insert(serve.end(), {"--sim-plan", std::string(BPLINK_TEST_PLANS) + "/kept.json"});
  RunningProgram sim(serve, dir);
  ASSERT_TRUE(sim.AwaitErr("Ctrl-C to stop", 1)) << sim.Wait().err;
  port_ = sim.Out().substr(0, sim.Out().find('\n'));
  ASSERT_THAT(port_, HasSubstr("/dev/"));

  const ProgramRun detect = Run({"detect"}, false);
  ASSERT_EQ(detect.status, 0) << detect.err;
  EXPECT_THAT(detect.out, HasSubstr("protocol     " + std::to_string(c.protocol) + " (" + c.family + " family, " +
                                    c.class_name + ")"));

  // Detection is the same for every command; the rest skip it, as a person may once they know.
  const ProgramRun info = Run({"info"});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_THAT(info.out, AllOf(HasSubstr(c.modes), HasSubstr(c.takes_plan ? "Intervals" : "Plan: this device takes none")));

  // The JSON, the CSV and the table show the same download, every set of it.
  const ProgramRun json = Run({"download", "--format", "json", "-o", (dir / "d.json").string(), "--trace"});
  ASSERT_EQ(json.status, 0) << json.err;
  // The trace shows frames, not the bytes the family receives one at a time.
  EXPECT_TRUE(std::regex_search(json.err, std::regex(R"(ms\] < ([0-9A-F]{2} ){7})"))) << json.err;
  const auto doc = ReadJson(dir / "d.json");
  EXPECT_EQ(doc["complete"], true);
  EXPECT_EQ(doc["device"]["protocol"], c.protocol);
  ASSERT_EQ(doc["sets"].size(), c.sets);
  EXPECT_EQ(doc["sets"][0]["records"].size(), static_cast<std::size_t>(kSerialRecords));
  EXPECT_EQ(doc["sets"][0]["head"]["count"], kSerialRecords);
  if (c.takes_plan) {
    EXPECT_EQ(doc["plan"]["patient"][0], "KÄTHE");
    EXPECT_EQ(doc["plan"]["period1"], (nlohmann::json{{"start", "08:00"}, {"interval", 30}}));
  }
  const ProgramRun csv = Run({"download", "--format", "csv"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  std::size_t records = 0;
  for (const auto& set : doc["sets"]) records += set["records"].size();
  EXPECT_EQ(Lines(csv.out), static_cast<int>(records) + 1);
  EXPECT_THAT(csv.out, HasSubstr("," + std::to_string(doc["sets"][0]["records"][0]["sys"].get<int>()) + ","));
  const ProgramRun table = Run({"download"});
  ASSERT_EQ(table.status, 0) << table.err;
  if (c.takes_plan) {
    EXPECT_THAT(table.out, HasSubstr("KÄTHE"));
  }
  // The report of the download, as a script would read it.
  const ProgramRun report = RunProgram({"report", (dir / "d.json").string(), "--format", "json"});
  ASSERT_EQ(report.status, 0) << report.err;
  ExpectPlain(report);

  // No serial family deletes; the program says so without asking the device.
  const ProgramRun erase = Run({"delete", "--yes", "--trace"});
  EXPECT_EQ(erase.status, kExitRefused);
  EXPECT_THAT(erase.err, AllOf(HasSubstr("does not let a host delete"), Not(HasSubstr("open "))));

  sim.Signal(SIGINT);
  EXPECT_EQ(sim.Wait().status, 0);
}

INSTANTIATE_TEST_SUITE_P(Families, SerialFamily, ::testing::ValuesIn(kFamilies), Name);
#endif

}  // namespace
