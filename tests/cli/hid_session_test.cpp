// The program against the simulated HID devices, end to end: what a person
// runs, and what the program's own files say.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "program_runner.h"

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr int kRecords = 40;
const std::vector<std::string> kRecorder = {"--sim", "hid", "--sim-records", std::to_string(kRecords)};

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

TEST(HidSession, DetectAndInfoDescribeTheRecorderAndTraceShowsEveryFrame) {
  const ProgramRun detect = RunProgram(With({"detect", "--trace"}, kRecorder));
  ASSERT_EQ(detect.status, 0) << detect.err;
  EXPECT_THAT(detect.out, AllOf(HasSubstr("ambulatory recorder"), HasSubstr("device type  1"),
                                HasSubstr("protocol     1 (hid family, CProtocol_NEW)")));
  EXPECT_THAT(detect.err, AllOf(HasSubstr("open device 0"), HasSubstr("> 40 8F FF FE FD FC"),
                                HasSubstr("< 41 00 05"), HasSubstr("close")));
  EXPECT_THAT(detect.err, ::testing::ContainsRegex("\\[ +[0-9]+\\.[0-9]{3}\\] > 42"));

  const ProgramRun info = RunProgram(With({"info"}, kRecorder));
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_THAT(info.out, AllOf(HasSubstr("1  blood pressure"), HasSubstr("3  second set"),
                              Not(HasSubstr("4  store 1")), HasSubstr("Intervals")));
}

TEST(HidSession, DownloadsInEveryFormatAndTheReport) {
  const auto dir = TestDir();
  const ProgramRun table = RunProgram(With({"download"}, kRecorder));
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_THAT(table.out, AllOf(HasSubstr("Set 1: 40 records"), HasSubstr("DEMO PATIENT"), HasSubstr("every 15 min")));

  // The CSV, and the ambulatory report of the same download beside it.
  const ProgramRun csv = RunProgram(
      With({"download", "--format", "csv", "--report", (dir / "r.json").string(), "--report-format", "json"}, kRecorder));
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(Lines(csv.out), kRecords + 1);
  EXPECT_THAT(csv.out, HasSubstr("set,mode,time,sys,press2,press3,pulse"));
  // ISO 8601 local times in the third column.
  EXPECT_THAT(csv.out, ::testing::ContainsRegex("\nSet 1,1,[0-9]{4}-[0-9]{2}-[0-9]{2}T09:00:00,"));
  EXPECT_EQ(ReadJson(dir / "r.json")["readings"]["total"].get<int>(), kRecords);

  const ProgramRun json = RunProgram(With({"download", "--format", "json", "-o", (dir / "d.json").string()}, kRecorder));
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out, "");
  const auto doc = ReadJson(dir / "d.json");
  EXPECT_EQ(doc["device"]["device_type"], 1);
  EXPECT_EQ(doc["complete"], true);
  ASSERT_EQ(doc["sets"].size(), 2u);
  EXPECT_EQ(doc["sets"][0]["head"]["count"], kRecords);
  EXPECT_EQ(doc["sets"][0]["records"].size(), static_cast<std::size_t>(kRecords));
  EXPECT_EQ(doc["sets"][1]["mode"], 3);
  EXPECT_EQ(doc["plan"]["period1"]["interval"], 15);
  // The table and the JSON show the same first reading.
  EXPECT_THAT(table.out, HasSubstr(std::to_string(doc["sets"][0]["records"][0]["sys"].get<int>())));

  // The report reads the program's own JSON.
  const ProgramRun report = RunProgram({"report", (dir / "d.json").string(), "--format", "json"});
  ASSERT_EQ(report.status, 0) << report.err;
  EXPECT_EQ(nlohmann::json::parse(report.out)["readings"]["total"].get<int>(), kRecords);
}

TEST(HidSession, UploadedPlanReadsBackEqual) {
  const auto dir = TestDir();
  WriteText(dir / "plan.json", R"({
    // edited from the template
    "patient": ["ANNA MÜLLER", "ID-7"],
    "period1": {"start": "06:30", "interval": 20},
    "period2": {"start": "23:15", "interval": 60},
    "extra": {"start": "12:00", "end": "13:30", "interval": 10}
  })");
  const ProgramRun run = RunProgram(With({"upload", (dir / "plan.json").string(), "--verify"}, kRecorder));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, AllOf(HasSubstr("Plan uploaded"), HasSubstr("read back")));
  const auto back = nlohmann::json::parse(run.out.substr(run.out.find('{')));
  EXPECT_EQ(back["patient"][0], "ANNA MÜLLER");
  EXPECT_EQ(back["period1"], (nlohmann::json{{"start", "06:30"}, {"interval", 20}}));
  EXPECT_EQ(back["period2"], (nlohmann::json{{"start", "23:15"}, {"interval", 60}}));
  EXPECT_EQ(back["extra"]["end"], "13:30");

  // A downloaded plan is a plan file as it stands: edit one field, upload it back.
  const ProgramRun download = RunProgram(With({"download", "--format", "json", "-o", (dir / "d.json").string()}, kRecorder));
  ASSERT_EQ(download.status, 0) << download.err;
  nlohmann::json plan = ReadJson(dir / "d.json")["plan"];
  plan["period2"]["interval"] = 45;
  WriteText(dir / "downloaded.json", plan.dump());
  const ProgramRun again = RunProgram(With({"upload", (dir / "downloaded.json").string(), "--verify"}, kRecorder));
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(nlohmann::json::parse(again.out.substr(again.out.find('{')))["period2"]["interval"], 45);

  // The template is a plan the program accepts as it stands.
  const ProgramRun templ = RunProgram({"plan", "template"});
  WriteText(dir / "default.json", templ.out);
  EXPECT_EQ(RunProgram(With({"upload", (dir / "default.json").string()}, kRecorder)).status, 0);
}

TEST(HidSession, DeleteOnlyWhereTheDeviceAllowsIt) {
  const ProgramRun recorder = RunProgram(With({"delete", "--yes"}, kRecorder));
  EXPECT_EQ(recorder.status, 6);
  EXPECT_THAT(recorder.err, HasSubstr("does not let a host delete"));

  const ProgramRun stores = RunProgram({"delete", "--yes", "--sim", "hid", "--sim-type", "5", "--mode", "5"});
  EXPECT_EQ(stores.status, 0) << stores.err;
  EXPECT_THAT(stores.out, HasSubstr("Deleted"));

  // A three-store monitor offers no plan; its download shows three stores.
  const ProgramRun download = RunProgram({"download", "--sim", "hid", "--sim-type", "5", "--mode", "7"});
  ASSERT_EQ(download.status, 0) << download.err;
  EXPECT_THAT(download.out, AllOf(HasSubstr("Store 1: 78 records"), HasSubstr("Store 3: 26 records"),
                                  Not(HasSubstr("day period"))));
}

TEST(HidSession, EachDeviceTypeOffersItsOwnModes) {
  const ProgramRun spo2 = RunProgram({"info", "--sim", "hid", "--sim-type", "3"});
  ASSERT_EQ(spo2.status, 0) << spo2.err;
  EXPECT_THAT(spo2.out, AllOf(HasSubstr("monitor with SpO2"), HasSubstr("2  blood pressure with SpO2")));

  const ProgramRun refused = RunProgram({"download", "--sim", "hid", "--sim-type", "2", "--mode", "3"});
  EXPECT_EQ(refused.status, 6);
  EXPECT_THAT(refused.err, HasSubstr("does not offer data mode 3; it offers 1 (blood pressure)"));

  const ProgramRun monitor = RunProgram({"download", "--sim", "hid", "--sim-type", "4", "--sim-records", "5", "--format", "csv"});
  ASSERT_EQ(monitor.status, 0) << monitor.err;
  EXPECT_EQ(Lines(monitor.out), 6);
}

}  // namespace
