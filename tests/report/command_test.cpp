// The `report` command as a person runs it: formats, options, output files,
// exit statuses and messages.

#include <bplink/report/readings.h>

#include "program_runner.h"
#include "tool_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <functional>
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

TEST(ReportCommand, NightOptionIsHonouredOverWhatTheRecordingHolds) {
  const ProgramRun own = Report({kClockCsv, "--format", "json", "--night", "23:30-06:00"});
  ASSERT_EQ(own.status, 0) << own.err;
  const json report = json::parse(own.out);
  EXPECT_EQ(report["day_night"]["source"], "night option");
  EXPECT_EQ(report["day_night"]["night_start"], "23:30");
  EXPECT_EQ(report["periods"]["night"]["n"], 13) << "23:30 to 05:30 every half hour";
  EXPECT_EQ(own.err, "");

  const ProgramRun awake = Report({kAwakeCsv, "--format", "json", "--night", "23:30-06:00"});
  ASSERT_EQ(awake.status, 0) << awake.err;
  EXPECT_EQ(json::parse(awake.out)["day_night"]["source"], "night option");
  EXPECT_EQ(json::parse(Report({kAwakeCsv, "--format", "json"}).out)["day_night"]["source"], "awake column");
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
      {{kClockCsv, "-o", out, "--birth-date", "2999-01-01"}, 2, "birth date '2999-01-01' is after today"},
      // The physician's inputs: the field and the form it takes.
      {{kClockCsv, "-o", out, "--sleep", "23-06"}, 2, "--sleep '23-06': expected HH:MM-HH:MM"},
      {{kClockCsv, "-o", out, "--office", "90/120"}, 2, "--office '90/120': diastolic not below systolic; expected SYS/DIA"},
      {{kClockCsv, "-o", out, "--clock-offset", "1h"}, 2, "--clock-offset '1h': expected [+|-]H:MM"},
      {{kClockCsv, "-o", out, "--exclude", "2024-05-02T08:00", "--reason", "moved"}, 2,
       "--exclude '2024-05-02T08:00': the recording holds no reading at that time"},
      {{kClockCsv, "-o", out, "--exclude", "08:00"}, 2, "--reason: give one for each --exclude"},
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

// A page holds `part`; the page itself is too long to print when it does not.
void ExpectIn(const std::string& page, const std::string& part) {
  EXPECT_NE(page.find(part), std::string::npos) << "the page lacks: " << part;
}

json JsonReport(std::vector<std::string> args) {
  args.insert(args.end(), {"--format", "json"});
  const ProgramRun run = Report(args);
  EXPECT_EQ(run.status, 0) << run.err;
  return run.status == 0 ? json::parse(run.out) : json();
}

// A saved download of the simulated recorder's day (valid, normal), with
// `change` made to it.
fs::path SavedDay(const fs::path& dir, const std::string& name, const std::function<void(json&)>& change = {},
                  std::vector<std::string> sim = {}) {
  const fs::path file = dir / name;
  sim.insert(sim.begin(), {"download", "--sim", "hid"});
  sim.insert(sim.end(), {"--format", "json", "-o", file.string()});
  RunProgram(sim);
  json doc = ReadJson(file);
  if (change) change(doc);
  WriteText(file, doc.dump());
  return file;
}

// A download that stopped after 37 readings (09:00 to 18:00) and a CSV with
// one reading: means, but no class, in every output.
TEST(ReportCommand, NoVerdictWhereAValidityCriterionFailsInAnyOutput) {
  const fs::path dir = TestDir();
  const fs::path stopped = dir / "stopped.json", one = dir / "one.csv";
  RunProgram({"download", "--sim", "hid", "--sim-silent-after", "37", "--format", "json", "-o", stopped.string()});
  WriteText(one, "time,sys,dia\n2024-03-01T08:00,150,95\n");
  for (const fs::path& input : {stopped, one}) {
    SCOPED_TRACE(input.filename().string());
    const json report = JsonReport({input.string()});
    EXPECT_EQ(std::tuple(report["verdict"]["level"], report["verdict"]["interpretable"], report["dipping"]["sys_class"]),
              std::tuple(json("not interpretable"), json(false), json(nullptr)));
    EXPECT_GT(report["periods"]["24h"]["sys"]["mean"].get<double>(), 0) << "the means are still given";
    EXPECT_EQ(report["verdict"]["failed"], report["validity"]["problems"]);
    const std::string html = Report({input.string()}).out;
    EXPECT_LT(html.find("<div class=\"level\">Not interpretable"), html.find("<th>Patient</th>"));
    EXPECT_EQ(html.find("<div class=\"level\">Hypertension"), std::string::npos);
    const json bundle = json::parse(Report({input.string(), "--format", "fhir", "--tz", "+01:00"}).out);
    for (const json& entry : bundle["entry"])
      if (entry["resource"].contains("effectivePeriod")) {
        EXPECT_EQ(entry["resource"]["status"], "preliminary");
        EXPECT_THAT(entry["resource"]["note"].back()["text"].get<std::string>(), HasSubstr("Not interpretable ("));
      }
  }
  EXPECT_THAT(JsonReport({stopped.string()})["verdict"]["failed"],
              testing::ElementsAre(HasSubstr("the download is incomplete"), "0 night readings, fewer than 7"));
  EXPECT_THAT(JsonReport({one.string()})["verdict"]["failed"],
              testing::ElementsAre("1 day readings, fewer than 20", "0 night readings, fewer than 7"));
  fs::remove_all(dir);
}

// A plan with day and night swapped gives the recording's night as its day;
// the patient's diary decides over it, and gives the right plan's split.
TEST(ReportCommand, TheDiaryCorrectsASwappedPlan) {
  const fs::path dir = TestDir();
  const fs::path right = SavedDay(dir, "right.json");
  const fs::path swapped = SavedDay(dir, "swapped.json", [](json& d) {
    std::swap(d["plan"]["period1"]["start"], d["plan"]["period2"]["start"]);
  });
  const json wrong = JsonReport({swapped.string()});
  EXPECT_EQ(std::tuple(wrong["day_night"]["source"], wrong["day_night"]["night_start"]),
            std::tuple(json("device plan"), json("07:00")));
  const json diary = JsonReport({swapped.string(), "--sleep", "22:00-07:00"});
  const json expected = JsonReport({right.string()});
  EXPECT_EQ(diary["day_night"]["source"], "diary");
  EXPECT_EQ(diary["periods"], expected["periods"]);
  EXPECT_EQ(diary["dipping"], expected["dipping"]);
  EXPECT_EQ(diary["dipping"]["sys_class"], "dipper");
  EXPECT_NE(wrong["periods"]["night"]["n"], expected["periods"]["night"]["n"]);
  ExpectIn(Report({swapped.string(), "--sleep", "22:00-07:00"}).out,
           "Day and night from the patient&#39;s diary: asleep 22:00 to 07:00.");
  fs::remove_all(dir);
}

// 90/120 has its diastolic above its systolic: left out, with the reason,
// from a CSV and from a saved download (the download's own route and the
// archive's are in the input and archive tests).
TEST(ReportCommand, ImpossiblePairsAreLeftOutWithTheirReasonWhateverTheRoute) {
  const fs::path dir = TestDir();
  WriteText(dir / "pair.csv", "time,sys,dia\n2024-03-01T08:00,90,120\n2024-03-01T08:30,120,80\n");
  json day = ReadJson(kRecorderDay);
  day["sets"][1]["records"][0]["sys"] = 90;
  day["sets"][1]["records"][0]["press2"] = 120;
  day["sets"][1]["records"][0]["press3"] = 100;
  WriteText(dir / "pair.json", day.dump());
  for (const char* input : {"pair.csv", "pair.json"}) {
    const json report = JsonReport({(dir / input).string()});
    EXPECT_EQ(report["readings"]["excluded_by_reason"]["diastolic not below systolic"], 1) << input;
    ExpectIn(Report({(dir / input).string()}).out, "<span class=\"reason\">diastolic not below systolic</span>");
  }
  fs::remove_all(dir);
}

// 41 readings dated after the download: the device's clock was wrong. They
// are left out, the clock criterion fails, and a clock offset mends it.
TEST(ReportCommand, ReadingsAfterTheDownloadFailTheClockCriterionUntilTheOffsetMendsIt) {
  const fs::path dir = TestDir();
  std::string last, cut;
  const fs::path late = SavedDay(dir, "late.json", [&](json& d) {
    const json& records = d["sets"][0]["records"];
    ASSERT_EQ(records.size(), 78u);
    cut = records[78 - 41 - 1]["time"];
    last = records[77]["time"];
    d["downloaded_at"] = cut;
    d["plan"]["start"] = nullptr;
  });
  const json report = JsonReport({late.string()});
  EXPECT_EQ(report["clock"]["after_download"], 41);
  EXPECT_EQ(report["verdict"]["level"], "not interpretable");
  EXPECT_THAT(report["verdict"]["failed"],
              testing::Contains(HasSubstr("41 readings dated after the download: the device's clock was wrong")));
  ExpectIn(Report({late.string()}).out, "The recording does not meet the validity criteria: not interpretable.");
  // The device ran as far ahead as its last reading lies past the download.
  const auto minutes = bplink::SecondsBetween(*bplink::report::ParseLocalTime(cut),
                                              *bplink::report::ParseLocalTime(last)) / 60;
  char offset[16];
  std::snprintf(offset, sizeof offset, "-%d:%02d", static_cast<int>(minutes / 60), static_cast<int>(minutes % 60));
  const json mended = JsonReport({late.string(), "--clock-offset", offset});
  EXPECT_EQ(std::tuple(mended["clock"]["after_download"], mended["verdict"]["interpretable"]),
            std::tuple(json(0), json(true)));
  EXPECT_EQ(mended["recording"]["review"]["clock_offset"], offset);
  fs::remove_all(dir);
}

// Office 150/95 beside a normal recording is white-coat hypertension; office
// 128/82 beside a high one masked. The high one: 30 day readings 142/92
// every half hour from 07:00, 9 night readings 126/76 hourly from 22:00.
TEST(ReportCommand, OfficeReadingsBesideTheRecordingAsEsh2023ClassifiesThem) {
  const fs::path dir = TestDir();
  const fs::path normal = SavedDay(dir, "normal.json");
  const json white_coat = JsonReport({normal.string(), "--office", "150/95"});
  EXPECT_EQ(white_coat["verdict"]["level"], "normal");
  EXPECT_EQ(white_coat["office"], json({{"sys", 150}, {"dia", 95}, {"class", "white-coat hypertension"}}));

  std::string csv = "time,sys,dia\n";
  for (int i = 0; i < 30; ++i)
    csv += "2024-03-04T" + std::string(7 + i / 2 < 10 ? "0" : "") + std::to_string(7 + i / 2) + (i % 2 ? ":30" : ":00") +
           ",142,92\n";
  for (int h = 0; h < 9; ++h)
    csv += std::string(h < 2 ? "2024-03-04T" : "2024-03-05T") + (h >= 2 && h < 12 ? "0" : "") +
           std::to_string((22 + h) % 24) + ":00,126,76\n";
  WriteText(dir / "high.csv", csv);
  const json masked = JsonReport({(dir / "high.csv").string(), "--office", "128/82"});
  EXPECT_EQ(std::tuple(masked["periods"]["day"]["n"], masked["periods"]["night"]["n"]), std::tuple(json(30), json(9)));
  EXPECT_NEAR(masked["periods"]["24h"]["sys"]["mean"].get<double>(), (30 * 142 + 9 * 126) / 39.0, 0.01);
  EXPECT_NEAR(masked["dipping"]["sys_pct"].get<double>(), (1 - 126 / 142.0) * 100, 0.01);
  EXPECT_EQ(std::tuple(masked["verdict"]["level"], masked["office"]["class"]),
            std::tuple(json("hypertension"), json("masked hypertension")));
  ExpectIn(Report({(dir / "high.csv").string(), "--office", "128/82"}).out,
           "<b>Office 128/82 mmHg:</b> Masked hypertension");
  fs::remove_all(dir);
}

// Every monitor family's simulated home week gets the home report, the first
// day set aside, its mean reckoned here from the download's own records; an
// ambulatory recorder has no home days to give.
TEST(ReportCommand, ASimulatedHomeWeekGetsTheHomeReportWithTheFirstDaySetAside) {
  const fs::path dir = TestDir();
  for (const std::vector<std::string>& sim : {std::vector<std::string>{"--sim", "vestra16"},
                                              {"--sim", "kv32"}, {"--sim", "vestra18"}, {"--sim", "hid", "--sim-type", "4"}}) {
    SCOPED_TRACE(sim[1]);
    std::vector<std::string> args = {"download"};
    args.insert(args.end(), sim.begin(), sim.end());
    args.insert(args.end(), {"--sim-home-days", "7", "--format", "json", "--force", "-o", (dir / "home.json").string()});
    ASSERT_EQ(RunProgram(args).status, 0);
    const json download = ReadJson(dir / "home.json");
    const json& records = download["sets"][0]["records"];
    ASSERT_EQ(records.size(), 28u) << "two readings each morning and evening for seven days";
    const std::string first_day = records[0]["time"].get<std::string>().substr(0, 10);
    double sys = 0;
    int n = 0;
    for (const json& r : records)
      if (r["time"].get<std::string>().substr(0, 10) != first_day) sys += r["sys"].get<int>(), ++n;
    const json report = JsonReport({(dir / "home.json").string()});
    EXPECT_EQ(report["recording"]["kind"], "home");
    EXPECT_EQ(std::tuple(report["home"]["first_day"], report["home"]["days"], report["readings"]["valid"]),
              std::tuple(json(first_day), json(6), json(24)));
    EXPECT_EQ(report["readings"]["excluded_by_reason"]["the first day, set aside"], 4);
    EXPECT_NEAR(report["home"]["all"]["sys"]["mean"].get<double>(), sys / n, 0.01);
    EXPECT_TRUE(report["verdict"]["interpretable"].get<bool>());
  }
  const std::string html = Report({(dir / "home.json").string()}).out;
  ExpectIn(html, "<h1>Home blood-pressure report</h1>");
  ExpectIn(html, "Home: a blood-pressure monitor&#39;s readings on 7 days, at most 4 a day");
  ExpectIn(html, "<td>set aside (the first day)</td>");
  const ProgramRun recorder = RunProgram({"download", "--sim", "kx71", "--sim-home-days", "7"});
  EXPECT_EQ(recorder.status, 2);
  EXPECT_THAT(recorder.err, HasSubstr("a KX71 recorder has no home-monitoring days to set"));
  fs::remove_all(dir);
}

// A monitor with SpO2: the report has the section, its figures those of the
// download's own samples.
TEST(ReportCommand, AnSpO2MonitorsReportHasItsSection) {
  const fs::path dir = TestDir();
  const fs::path file = SavedDay(dir, "spo2.json", {}, {"--sim-type", "3", "--mode", "2"});
  const json download = ReadJson(file);
  const json& samples = download["spo2"]["records"];
  ASSERT_GT(samples.size(), 0u);
  int lowest = 100;
  double sum = 0;
  for (const json& s : samples) lowest = std::min(lowest, s["spo2"].get<int>()), sum += s["spo2"].get<int>();
  const json report = JsonReport({file.string()});
  EXPECT_EQ(std::tuple(report["spo2"]["n"], report["spo2"]["min"]), std::tuple(json(samples.size()), json(lowest)));
  EXPECT_NEAR(report["spo2"]["mean"].get<double>(), sum / samples.size(), 0.01);
  const std::string html = Report({file.string()}).out;
  ExpectIn(html, "<h2>Oxygen saturation (SpO2) <span class=\"muted\">(times UTC");
  ExpectIn(html, "<p>" + std::to_string(samples.size()) + " samples over");
  fs::remove_all(dir);
}

// The previous study's means and class beside this one's, from its JSON report.
TEST(ReportCommand, ThePreviousStudyIsShownBesideThisOne) {
  const fs::path dir = TestDir();
  const fs::path day = SavedDay(dir, "day.json");
  const ProgramRun earlier = Report({kAwakeCsv, "--format", "json", "-o", (dir / "earlier.json").string()});
  ASSERT_EQ(earlier.status, 0) << earlier.err;
  const json before = ReadJson(dir / "earlier.json");
  const json report = JsonReport({day.string(), "--previous", (dir / "earlier.json").string()});
  EXPECT_EQ(report["recording"]["previous"]["verdict"], before["verdict"]["level"]);
  EXPECT_EQ(report["recording"]["previous"]["means"]["day"]["sys"], before["periods"]["day"]["sys"]["mean"]);
  const std::string html = Report({day.string(), "--previous", (dir / "earlier.json").string()}).out;
  ExpectIn(html, "<h2>Previous study</h2>");
  char day_mean[32];
  std::snprintf(day_mean, sizeof day_mean, "<td>%.1f/%.1f</td>", before["periods"]["day"]["sys"]["mean"].get<double>(),
                before["periods"]["day"]["dia"]["mean"].get<double>());
  ExpectIn(html, day_mean);
  const ProgramRun wrong = Report({day.string(), "--previous", kAwakeCsv});
  EXPECT_EQ(wrong.status, 2);
  EXPECT_THAT(wrong.err, HasSubstr("not valid JSON"));
  fs::remove_all(dir);
}

#if !defined(_WIN32)  // the TZ=... prefix is POSIX shell
// "Report made" is in the zone --tz gives, a fixed offset or a named zone.
TEST(ReportCommand, TheReportIsDatedInTheZoneOfItsTimes) {
  const fs::path dir = TestDir();
  const auto made = [&dir](const std::string& zone) {
    const std::string out = (dir / "r.html").string();
    EXPECT_EQ(RunCommand("TZ=UTC " BPLINK_PROGRAM " report " + kClockCsv + " --tz " + zone + " -o " + out), 0);
    const std::string html = ReadText(out);
    const auto at = html.find("<th>Report made</th><td>");
    return at == std::string::npos ? std::string() : html.substr(at + 24, html.find(" by ", at) - at - 24);
  };
  const auto utc_hour_plus = [](int hours) {
    const std::time_t now = std::time(nullptr) + hours * 3600;
    std::tm t{};
    gmtime_r(&now, &t);
    char text[8];
    std::snprintf(text, sizeof text, "%02d:", t.tm_hour);
    return std::string(text);
  };
  const std::string before = utc_hour_plus(1);
  const std::string fixed = made("+01:00");
  EXPECT_THAT(fixed, testing::AnyOf(HasSubstr(" " + before), HasSubstr(" " + utc_hour_plus(1))));
  EXPECT_THAT(fixed, testing::EndsWith("UTC+01:00"));
  EXPECT_THAT(made("Asia/Kolkata"), testing::EndsWith("UTC+05:30"));
  fs::remove_all(dir);
}
#endif

}  // namespace
