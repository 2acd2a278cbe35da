// What the program does when things go wrong: bad input, no device, a
// device that falls silent, a person pressing Ctrl-C. Each must say so
// clearly, exit with its own status, and keep what had already arrived.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bplink/bplink.h>

#include <csignal>
#include <set>

#include "program_runner.h"
#if !defined(_WIN32)
#include "pty.h"
#include "real_time.h"
#endif

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr int kExitBadInput = 2, kExitNoDevice = 4, kExitLinkFailed = 5, kExitInterrupted = 130;

// The main help holds the exit statuses, once; a command's help lists the
// global options it takes; choices are words, never how they are checked.
TEST(Usage, HelpSaysWhatAPersonMayTypeInWords) {
  const ProgramRun help = RunProgram({"--help"});
  EXPECT_THAT(help.out, AllOf(HasSubstr("4    no device found"), HasSubstr("(default: 500)")));
  EXPECT_EQ(help.out.find("Exit status"), help.out.rfind("Exit status"));
  EXPECT_THAT(RunProgram({"--version"}).out, ::testing::StartsWith("bplink " + std::string(bplink::Version())));
  EXPECT_THAT(RunProgram({"download", "--help"}).out,
              AllOf(HasSubstr("--format table|csv|json"), HasSubstr("Global options"), HasSubstr("--sim hid|kx71"),
                    HasSubstr("--port"), Not(HasSubstr("->")), Not(HasSubstr("Exit status"))));
  const ProgramRun xml = RunProgram({"download", "--format", "xml"});
  EXPECT_EQ(xml.status, kExitBadInput);
  EXPECT_THAT(xml.err, HasSubstr("xml is not one of table|csv|json"));
  EXPECT_EQ(RunProgram({"detect", "--sim", "nosuch"}).status, kExitBadInput);
  // `sim` lists only the simulation options it takes: not the pace of an in-process device.
  EXPECT_THAT(RunProgram({"sim", "--help"}).out, AllOf(HasSubstr("--sim-records"), Not(HasSubstr("--sim-pace"))));
}

TEST(PlanFile, BadPlansNameTheFieldAndTouchNoDevice) {
  const auto dir = TestDir();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"period1": {"start": "07:00",)", "not valid JSON"},
      {R"({"colour": "red"})", "colour: unknown field"},
      {R"({"period1": {"start": "24:00"}})", "period1.start: hour 24 is out of range 0..23"},
      {R"({"period2": {"start": "22:60"}})", "period2.start: minute 60 is out of range 0..59"},
      {R"({"period2": {"interval": 300}})", "period2.interval: 300 is out of range 0..240"},
      {R"({"patient": ["A", "TWELVE CHARS"]})", "patient[1]: too long: 12 characters, the device keeps 11"},
      {R"({"extra": {"start": "12:00", "interval": 10}})", "extra.end: missing"},
      {R"({"day_warn": {"limits": [140, 90, "high"]}})", "day_warn.limits[2]: expected a whole number"},
  };
  for (const auto& [text, message] : cases) {
    WriteText(dir / "plan.json", text);
    const ProgramRun run = RunProgram({"upload", (dir / "plan.json").string(), "--sim", "hid", "--trace"});
    EXPECT_EQ(run.status, kExitBadInput) << text;
    EXPECT_THAT(run.err, HasSubstr(message)) << text;
    EXPECT_THAT(run.err, Not(HasSubstr("open "))) << "the device was touched for " << text;
  }
  const ProgramRun folder = RunProgram({"upload", dir.string(), "--sim", "hid", "--trace"});
  EXPECT_EQ(folder.status, kExitBadInput);
  EXPECT_THAT(folder.err, AllOf(HasSubstr(dir.string() + " is a directory"), Not(HasSubstr("open "))));
  // A file named from the root is a file on every system, never an option.
  const ProgramRun missing = RunProgram({"upload", "/bplink-no-such-dir/plan.json"});
  EXPECT_EQ(missing.status, kExitBadInput);
  EXPECT_THAT(missing.err, HasSubstr("cannot read /bplink-no-such-dir/plan.json"));
}

// A port the search was limited to says why it did not open: held by another
// program (here, where ptys give a port to hold), or missing. (A port this
// user may not open is the permission test's, tests/install, which runs the
// program as another user.)
#if !defined(_WIN32)
TEST(NoDevice, SaysWhyAHeldPortFailed) {
  bplink::sim::Pty pty;
  ASSERT_TRUE(pty.IsOpen());
  CDevice_COM holder;  // another program's hold on the port
  ASSERT_EQ(holder.Open(std::wstring(pty.Path().begin(), pty.Path().end()), bplink::SerialLine(CBR_9600)), 1);
  const ProgramRun held = RunProgram({"detect", "--port", pty.Path(), "--timeout", "50"});
  EXPECT_EQ(held.status, kExitNoDevice);
  EXPECT_THAT(held.err, AllOf(HasSubstr("no device found"), HasSubstr("USB HID: no device answered"),
                              HasSubstr("serial ports: " + pty.Path() + " (cannot be opened: in use by another program")));
}
constexpr const char* kMissingPort = "/dev/bplink-no-such-port";
constexpr const char* kMissingReason = "no such file or directory";

// `bplink sim` ends at once on SIGTERM, also after serving a host: a script
// that starts and stops it waits for nothing.
TEST(Sim, EndsAtOnceOnSigtermAfterServingAHost) {
  const auto dir = TestDir();
  RunningProgram sim({"sim", "kv32", "--sim-records", "3"}, dir);
  ASSERT_TRUE(sim.AwaitErr("Ctrl-C to stop", 1)) << sim.Wait().err;
  const std::string port = sim.Out().substr(0, sim.Out().find('\n'));
  EXPECT_EQ(RunProgram({"download", "--port", port, "--timeout", "120", "-o", (dir / "d.csv").string()}).status, 0);
  ASSERT_TRUE(sim.Signal(SIGTERM));
  const bplink::testing::Stopwatch watch;
  EXPECT_EQ(sim.Wait().status, 0);
  EXPECT_LT(watch.ElapsedMs(), 1000);
}
#else
constexpr const char* kMissingPort = "COM249";
// The system's own words, which differ between versions and languages.
constexpr const char* kMissingReason = "";
#endif

TEST(NoDevice, SaysWhyAMissingPortFailed) {
  // A serial class searches by itself: the port is found missing.
  const ProgramRun known = RunProgram({"download", "--protocol", "6", "--port", kMissingPort});
  EXPECT_EQ(known.status, kExitNoDevice);
  EXPECT_THAT(known.err, HasSubstr("download failed: the device could not be opened, or no port answered; " +
                                   std::string(kMissingPort) + " cannot be opened: " + kMissingReason));
  EXPECT_EQ(RunProgram({"sim", "hid"}).status, kExitBadInput);
}

// The words every message about a result is built from.
TEST(ResultText, EveryCodeHasWordsOfItsOwn) {
  std::set<std::string> seen;
  for (int code : {0, 1, 2, 5, 6, 7, 8, 9, 10, 11, 12}) {
    EXPECT_STRNE(bplink::ResultText(code), "unknown result") << code;
    EXPECT_TRUE(seen.insert(bplink::ResultText(code)).second) << code;
  }
  EXPECT_STREQ(bplink::ResultText(3), "unknown result");
}

// A device of any family that falls silent part-way: the program says so,
// exits with its status and writes the records that arrived.
class SilentDevice : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(SilentDevice, KeepsTheRecordsThatArrived) {
  const auto& [family, reason] = GetParam();
  const auto dir = TestDir();
  const ProgramRun run = RunProgram({"download", "--sim", family, "--sim-records", "20", "--sim-silent-after", "5",
                                     "--timeout", "20", "--format", "json", "-o", (dir / "d.json").string()});
  if (family == "kx71") {  // its downloads always end in silence
    EXPECT_EQ(run.status, kExitBadInput);
    EXPECT_THAT(run.err, HasSubstr("not a fault it can show"));
    return;
  }
  EXPECT_EQ(run.status, kExitLinkFailed) << run.err;
  EXPECT_THAT(run.err, HasSubstr("download failed: " + reason + "; the 5 records that arrived were written"));
  const auto doc = ReadJson(dir / "d.json");
  EXPECT_EQ(doc["complete"], false);
  EXPECT_EQ(doc["sets"][0]["head"]["count"], 20);
  EXPECT_EQ(doc["sets"][0]["records"].size(), 5u);
}

INSTANTIATE_TEST_SUITE_P(
    Families, SilentDevice,
    ::testing::Values(std::pair{"hid", "the device did not answer"}, std::pair{"kx71", ""},
                      std::pair{"kv32", "the device did not answer"},
                      std::pair{"vestra16", "the device stopped answering"},
                      std::pair{"vestra16c", "the device stopped answering"},
                      std::pair{"vestra18", "the device did not answer"}),
    [](const auto& info) { return info.param.first; });

// Ctrl-C part-way: the download stops, says so, writes what came and exits
// 130, in every family, whatever the family's protocol answers once cut
// short. How each protocol itself ends on a stop is pinned by its own tests.
class Interrupt : public ::testing::TestWithParam<std::pair<std::string, int>> {};

TEST_P(Interrupt, CtrlCStopsTheDownloadAndKeepsWhatCame) {
  const auto& [family, protocol] = GetParam();
  const auto dir = TestDir();
  // The protocol named: no detection, so the trace is the transfer's from its
  // first line. Paced slower than the trace's gap between frames, so each
  // byte a serial device sends is a line of its own.
  const int records = family == "vestra18" ? 250 : 3000;  // as many as its store holds
  RunningProgram program({"download", "--sim", family, "--protocol", std::to_string(protocol), "--sim-records",
                          std::to_string(records), "--sim-pace", "10", "--trace", "--format", "json", "-o",
                          (dir / "d.json").string()},
                         dir);
  ASSERT_TRUE(program.AwaitErr("\n", 60));  // some records in: the transfer is under way
  if (!program.Signal(SIGINT)) GTEST_SKIP() << "no console here to send Ctrl-Break through";
  const ProgramRun run = program.Wait();
  EXPECT_EQ(run.status, kExitInterrupted) << run.err.substr(run.err.size() > 400 ? run.err.size() - 400 : 0);
  EXPECT_THAT(run.err, AllOf(HasSubstr("stopping"), HasSubstr("download stopped")));
  const auto doc = ReadJson(dir / "d.json");
  EXPECT_EQ(doc["complete"], false);
  EXPECT_GT(doc["sets"][0]["records"].size(), 0u);
  EXPECT_LT(doc["sets"][0]["records"].size(), static_cast<std::size_t>(records));
}

INSTANTIATE_TEST_SUITE_P(Families, Interrupt,
                         ::testing::Values(std::pair{"hid", 1}, std::pair{"kx71", 6}, std::pair{"kv32", 7},
                                           std::pair{"vestra16", 8}, std::pair{"vestra16c", 9},
                                           std::pair{"vestra18", 10}),
                         [](const auto& info) { return info.param.first; });

}  // namespace
