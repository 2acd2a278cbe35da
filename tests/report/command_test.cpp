// The `report` command as a person runs it: formats, options, output files,
// exit statuses and messages.

#include "program_runner.h"
#include "tool_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::HasSubstr;

const std::string kClockCsv = std::string(REPORT_TEST_DATA) + "/synthetic_clock.csv";
const std::string kAwakeCsv = std::string(REPORT_TEST_DATA) + "/synthetic_awake.csv";
const std::string kRecorderDay = std::string(REPORT_TEST_DATA) + "/recorder_day.json";

ProgramRun Report(std::vector<std::string> args) {
  args.insert(args.begin(), "report");
  return RunProgram(args);
}

TEST(ReportCommand, WritesHtmlByDefaultAndJsonOrFhirOnRequest) {
  const ProgramRun html = Report({kClockCsv});
  EXPECT_EQ(html.status, 0) << html.err;
  EXPECT_TRUE(html.out.starts_with("<!DOCTYPE html>"));

  const ProgramRun run = Report({kClockCsv, "--format", "json", "--profile", "aha2017"});
  ASSERT_EQ(run.status, 0) << run.err;
  const json report = json::parse(run.out);
  EXPECT_EQ(report["day_night"]["source"], "default");
  EXPECT_EQ(report["verdict"]["profile"], "aha2017");
  EXPECT_EQ(report["readings"]["total"], 48);

  // A saved download in, to a file: the patient, the device, 13 counted
  // readings, 12 with a pulse, 6 oximetry samples, 3 means; the patient's
  // file and options over it, the set asked for, the device's clock's zone.
  const fs::path dir = TestDir();
  WriteText(dir / "patient.json", R"({"name": "From File", "id": "MRN-1", "sex": "male"})");
  const ProgramRun fhir = Report({kRecorderDay, "--format", "FHIR", "-o", (dir / "bundle.json").string(), "--set", "2",
                                  "--tz", "-05:30", "--patient", (dir / "patient.json").string(), "--patient-name",
                                  "From Option", "--birth-date", "1960-05-31"});
  EXPECT_EQ(fhir.status, 0) << fhir.err;
  EXPECT_EQ(fhir.out, "");
  const json bundle = ReadJson(dir / "bundle.json");
  EXPECT_EQ(bundle["entry"].size(), 2u + 13 + 12 + 6 + 3);
  const json& patient = bundle["entry"][0]["resource"];
  EXPECT_EQ(std::tuple(patient["name"][0]["text"], patient["identifier"][0]["value"], patient["gender"],
                       patient["birthDate"]),
            std::tuple("From Option", "MRN-1", "male", "1960-05-31"));
  EXPECT_EQ(bundle["entry"][2]["resource"]["effectiveDateTime"], "2024-03-04T09:00:00-05:30");
  // Readings dated after the download (a device clock set wrong) are left out.
  json late = ReadJson(kRecorderDay);
  late["downloaded_at"] = "2024-03-04T12:00:00";
  WriteText(dir / "late.json", late.dump());
  EXPECT_EQ(json::parse(Report({(dir / "late.json").string(), "--set", "2", "--format", "json"}).out)["readings"]
                ["excluded_by_reason"]["dated after the download"], 9);
#if !defined(_WIN32)  // zone names come from the zoneinfo files; Windows takes offsets only
  const ProgramRun zone = Report({kRecorderDay, "--format", "fhir", "--tz", "America/New_York"});
  ASSERT_EQ(zone.status, 0) << zone.err;
  EXPECT_EQ(json::parse(zone.out)["entry"][2]["resource"]["effectiveDateTime"], "2024-03-04T09:00:00-05:00");
#endif
  fs::remove_all(dir);
}

TEST(ReportCommand, NightOptionAppliesOnlyWhenNothingBetterSaysWhatIsNight) {
  const ProgramRun own = Report({kClockCsv, "--format", "json", "--night", "23:30-06:00"});
  ASSERT_EQ(own.status, 0) << own.err;
  const json report = json::parse(own.out);
  EXPECT_EQ(report["day_night"]["source"], "night option");
  EXPECT_EQ(report["day_night"]["night_start"], "23:30");
  EXPECT_EQ(report["periods"]["night"]["n"], 13) << "23:30 to 05:30 every half hour";
  EXPECT_EQ(own.err, "");

  const ProgramRun diary = Report({kAwakeCsv, "--format", "json", "--night", "23:30-06:00"});
  ASSERT_EQ(diary.status, 0) << diary.err;
  EXPECT_EQ(json::parse(diary.out)["day_night"]["source"], "awake column");
  EXPECT_THAT(diary.err, HasSubstr("bplink report: note: --night not used"));
}

// A failure tells its reason, exits with the status scripts branch on (2 bad
// input, 3 cannot write) and writes nothing, not even part of a file.
TEST(ReportCommand, FailuresExitWithTheirStatusAndReasonAndWriteNothing) {
  const fs::path dir = TestDir();
  const std::string bad = (dir / "bad.csv").string(), out = (dir / "out.html").string();
  WriteText(bad, "time,sys,dia\n2024-03-01T08:00,120,80\n2024-03-01T08:30,120\n");
  const std::tuple<std::vector<std::string>, int, const char*> cases[] = {
      {{bad, "-o", out}, 2, "bad.csv: line 3"},
      {{(dir / "none.csv").string(), "-o", out}, 2, "cannot open"},
      {{kClockCsv, "-o", (dir / "no" / "such.html").string()}, 3, "such.html: no such directory"},
      {{kClockCsv, "-o", dir.string()}, 3, ": is a directory"},
      {{dir.string(), "-o", out}, 2, ": is a directory, not a file"},
      {{kClockCsv, "-o", out, "--profile", "jnc7"}, 2, "--profile"},
      {{kClockCsv, "--night", "22:00-22:00"}, 2, "--night"},
      {{kClockCsv, "-o", out, "--format", "docx"}, 2, "--format"},
      {{kClockCsv, "--format", "pdf", "-o", (dir / "no" / "such.pdf").string()}, 3, "such.pdf: no such directory"},
      {{kRecorderDay, "-o", out, "--set", "3"}, 2, "--set 3: the download has sets 1 to 2"},
      {{kClockCsv, "-o", out, "--set", "2"}, 2, "the file has one set of readings"},
      {{kClockCsv, "-o", out, "--tz", "Mars/Olympus"}, 2, "--tz"},
      {{kClockCsv, "-o", out, "--birth-date", "1960-13-01"}, 2, "birth date '1960-13-01'"},
      {{kClockCsv, "-o", out, "--sex", "f"}, 2, "--sex"},
      {{kClockCsv, "-o", out, "--patient", (dir / "none.json").string()}, 2, "none.json: cannot open"},
  };
  for (const auto& [args, status, reason] : cases) {
    SCOPED_TRACE(args.front() + " ... " + args.back());
    const ProgramRun run = Report(args);
    EXPECT_EQ(run.status, status);
    EXPECT_THAT(run.err, HasSubstr(reason));
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(fs::exists(out));
  }
#if !defined(_WIN32)  // the PATH=... prefix is POSIX shell
  // Without Chromium on PATH, PDF is refused with the way to get it.
  const std::string pdf = (dir / "out.pdf").string();
  EXPECT_EQ(RunCommand("PATH=" + dir.string() + " " BPLINK_PROGRAM " report " + kClockCsv + " --format pdf -o " + pdf +
                       " 2>" + (dir / "err").string()),
            1);
  EXPECT_THAT(ReadText(dir / "err"), HasSubstr("--format pdf needs Chromium"));
  EXPECT_FALSE(fs::exists(pdf));
#endif
  fs::remove_all(dir);
}

}  // namespace
