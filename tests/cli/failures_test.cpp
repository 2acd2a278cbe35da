// What the program does when things go wrong: bad input, no device, a
// device that falls silent, a person pressing Ctrl-C. Each must say so
// clearly, exit with its own status, and keep what had already arrived.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

#include "program_runner.h"

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr int kExitBadInput = 2, kExitNoDevice = 4, kExitLinkFailed = 5, kExitInterrupted = 130;

TEST(Usage, HelpDocumentsTheExitStatuses) {
  const ProgramRun help = RunProgram({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, AllOf(HasSubstr("Exit status"), HasSubstr("4    no device found"), HasSubstr("130")));
  EXPECT_EQ(RunProgram({"download", "--format", "xml"}).status, kExitBadInput);
  EXPECT_EQ(RunProgram({"detect", "--sim", "nosuch"}).status, kExitBadInput);
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
  EXPECT_EQ(RunProgram({"upload", (dir / "missing.json").string()}).status, kExitBadInput);
}

TEST(NoDevice, SaysWhatWasTried) {
  // No --sim: the real links, where this machine has no monitor.
  const ProgramRun run = RunProgram({"detect", "--port", "/dev/bplink-no-such-port", "--timeout", "50"});
  EXPECT_EQ(run.status, kExitNoDevice);
  EXPECT_THAT(run.err, AllOf(HasSubstr("no device found"), HasSubstr("USB HID: no device answered"),
                             HasSubstr("serial ports: /dev/bplink-no-such-port (cannot be opened)")));

  // A serial class searches by itself: the same port, found empty.
  const ProgramRun known = RunProgram({"download", "--protocol", "6", "--port", "/dev/bplink-no-such-port"});
  EXPECT_EQ(known.status, kExitNoDevice);
  EXPECT_THAT(known.err, HasSubstr("download failed: the device could not be opened, or no port answered (2)"));
  EXPECT_EQ(RunProgram({"sim", "hid"}).status, kExitBadInput);
}

TEST(SilentDevice, KeepsTheRecordsThatArrived) {
  const auto dir = TestDir();
  const ProgramRun run = RunProgram({"download", "--sim", "hid", "--sim-records", "50", "--sim-silent-after", "20",
                                     "--timeout", "50", "--format", "json", "-o", (dir / "d.json").string()});
  EXPECT_EQ(run.status, kExitLinkFailed);
  EXPECT_THAT(run.err, AllOf(HasSubstr("the device did not answer (5)"), HasSubstr("20 records that arrived")));
  const auto doc = ReadJson(dir / "d.json");
  EXPECT_EQ(doc["complete"], false);
  EXPECT_EQ(doc["sets"][0]["head"]["count"], 50);
  EXPECT_EQ(doc["sets"][0]["records"].size(), 20u);
}

TEST(Interrupt, CtrlCStopsTheDownloadAndKeepsWhatCame) {
  constexpr int kRecords = 3000;
  const auto dir = TestDir();
  RunningProgram program({"download", "--sim", "hid", "--sim-records", std::to_string(kRecords), "--sim-pace", "2",
                          "--trace", "--format", "json", "-o", (dir / "d.json").string()},
                         dir);
  // Some records in: the transfer is under way.
  ASSERT_TRUE(program.AwaitErr("\n", 60));
  program.Signal(SIGINT);
  const ProgramRun run = program.Wait();
  EXPECT_EQ(run.status, kExitInterrupted);
  EXPECT_THAT(run.err, AllOf(HasSubstr("stopping"), HasSubstr("download stopped")));
  const auto doc = ReadJson(dir / "d.json");
  EXPECT_EQ(doc["complete"], false);
  const auto kept = doc["sets"][0]["records"].size();
  EXPECT_GT(kept, 0u);
  EXPECT_LT(kept, static_cast<std::size_t>(kRecords));
}

}  // namespace
