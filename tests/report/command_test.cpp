// The report subcommand as a person runs it: options, output files, exit
// statuses and messages.

#include "command.h"
#include "tool_runner.h"

#include <CLI/CLI.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

namespace {

namespace fs = std::filesystem;
using bplink::report::kReportBadInput;
using bplink::report::kReportCannotWrite;
using bplink::report::kReportOk;
using testing::HasSubstr;

const std::string kClockCsv = std::string(REPORT_TEST_DATA) + "/synthetic_clock.csv";
const std::string kAwakeCsv = std::string(REPORT_TEST_DATA) + "/synthetic_awake.csv";

struct Outcome {
  int status = 0;
  std::string out, err;
};

Outcome Report(std::vector<std::string> args) {
  std::ostringstream out, err;
  CLI::App app{"test"};
  app.require_subcommand(1);
  bplink::report::AddReportCommand(app, out, err);
  args.insert(args.begin(), "report");
  std::reverse(args.begin(), args.end());  // CLI11 takes the arguments last first
  Outcome run;
  try {
    app.parse(args);
  } catch (const CLI::ParseError& e) {
    run.status = app.exit(e, out, err);
  }
  run.out = out.str();
  run.err = err.str();
  return run;
}

TEST(ReportCommand, WritesHtmlByDefaultAndJsonOrFhirOnRequest) {
  const Outcome html = Report({kClockCsv});
  EXPECT_EQ(html.status, kReportOk) << html.err;
  EXPECT_TRUE(html.out.starts_with("<!DOCTYPE html>"));

  const Outcome json = Report({kClockCsv, "--format", "json", "--profile", "aha2017"});
  ASSERT_EQ(json.status, kReportOk) << json.err;
  const auto report = nlohmann::json::parse(json.out);
  EXPECT_EQ(report["day_night"]["source"], "default");
  EXPECT_EQ(report["verdict"]["profile"], "aha2017");
  EXPECT_EQ(report["readings"]["total"], 48);

  const fs::path dir = FreshTempDir();
  const Outcome fhir = Report({kClockCsv, "--format", "FHIR", "-o", (dir / "bundle.json").string()});
  EXPECT_EQ(fhir.status, kReportOk) << fhir.err;
  EXPECT_EQ(fhir.out, "");
  EXPECT_EQ(nlohmann::json::parse(ReadFile(dir / "bundle.json"))["resourceType"], "Bundle");
  fs::remove_all(dir);
}

TEST(ReportCommand, NightOptionAppliesOnlyWhenNothingBetterSaysWhatIsNight) {
  const Outcome own = Report({kClockCsv, "--format", "json", "--night", "23:30-06:00"});
  ASSERT_EQ(own.status, kReportOk) << own.err;
  const auto report = nlohmann::json::parse(own.out);
  EXPECT_EQ(report["day_night"]["source"], "night option");
  EXPECT_EQ(report["day_night"]["night_start"], "23:30");
  EXPECT_EQ(report["periods"]["night"]["n"], 13) << "23:30 to 05:30 every half hour";
  EXPECT_EQ(own.err, "");

  const Outcome diary = Report({kAwakeCsv, "--format", "json", "--night", "23:30-06:00"});
  ASSERT_EQ(diary.status, kReportOk);
  EXPECT_EQ(nlohmann::json::parse(diary.out)["day_night"]["source"], "awake column");
  EXPECT_THAT(diary.err, HasSubstr("--night not used"));
}

TEST(ReportCommand, BadInputAndBadOptionsFailWithAMessageAndNoOutput) {
  const fs::path dir = FreshTempDir();
  WriteFile(dir / "bad.csv", "time,sys,dia\n2024-03-01T08:00,120,80\n2024-03-01T08:30,120\n");
  const Outcome bad = Report({(dir / "bad.csv").string(), "-o", (dir / "out.html").string()});
  EXPECT_EQ(bad.status, kReportBadInput);
  EXPECT_THAT(bad.err, HasSubstr("bad.csv: line 3"));
  EXPECT_FALSE(fs::exists(dir / "out.html"));

  const Outcome missing = Report({(dir / "none.csv").string()});
  EXPECT_EQ(missing.status, kReportBadInput);
  EXPECT_THAT(missing.err, HasSubstr("cannot open"));

  const Outcome unwritable = Report({kClockCsv, "-o", (dir / "no" / "such" / "dir.html").string()});
  EXPECT_EQ(unwritable.status, kReportCannotWrite);
  EXPECT_THAT(unwritable.err, HasSubstr("cannot write"));

  const Outcome profile = Report({kClockCsv, "--profile", "jnc7"});
  EXPECT_NE(profile.status, kReportOk);
  EXPECT_THAT(profile.err, HasSubstr("--profile"));

  const Outcome night = Report({kClockCsv, "--night", "25:00-06:00"});
  EXPECT_NE(night.status, kReportOk);
  EXPECT_THAT(night.err, HasSubstr("--night"));
  EXPECT_EQ(night.out, "");
  fs::remove_all(dir);
}

TEST(ReportCommand, ReadsAJsonDownloadAsWellAsCsv) {
  const fs::path dir = FreshTempDir();
  WriteFile(dir / "download.json", R"({
    "device": {"device_type": 1, "protocol": 6},
    "plan": {"patient": ["A. Person"], "period1": {"start": "06:00", "interval": 30},
             "period2": {"start": "23:00", "interval": 60}},
    "sets": [{"records": [
      {"time": "2024-03-01T22:30:00", "sys": 131, "press2": 97, "press3": 82, "pulse": 70, "valid": 1},
      {"time": "2024-03-01T23:30:00", "sys": 118, "press2": 71, "press3": 86, "pulse": 61, "valid": 1},
      {"time": "2024-03-02T00:30:00", "sys": 112, "press2": 68, "press3": 83, "pulse": 0, "valid": 0}]}]})");
  const Outcome run = Report({(dir / "download.json").string(), "--format", "json"});
  ASSERT_EQ(run.status, kReportOk) << run.err;
  const auto report = nlohmann::json::parse(run.out);
  EXPECT_EQ(report["day_night"]["source"], "device plan");
  EXPECT_EQ(report["recording"]["patient"][0], "A. Person");
  EXPECT_THAT(report["recording"]["device"].get<std::string>(), HasSubstr("KX71"));
  EXPECT_EQ(report["readings"]["excluded"], 1);
  EXPECT_EQ(report["periods"]["night"]["dia"]["mean"], 71);
  EXPECT_EQ(report["periods"]["day"]["map"]["mean"], 97);
  fs::remove_all(dir);
}

}  // namespace
