// The physician's review and signature through the built program, on both
// engines: the inputs kept with a study decide every report and export of
// it (checked against figures worked out by hand), a bad value changes
// nothing, a signed study refuses a change by any door and an amendment
// keeps both versions, the signature's hash follows the report's inputs and
// nothing else, and the patient's previous study stands beside this one.

#include <gmock/gmock.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "archive_fixture.h"

using namespace archive_test;
using nlohmann::json;

namespace {

class Review : public ArchiveProgram {
 protected:
  // A recorder's day and night filed from a saved download whose plan has
  // day and night swapped (day from 22:00, night from 07:00): 30 readings
  // every half hour from 07:00 to 21:30, alternately 128/82 and 132/78 (mean
  // 130/80), and 8 every hour from 23:00 to 06:00, alternately 110/66 and
  // 114/64 (mean 112/65). The plan went to the device at `plan_start`.
  void FileDay(const std::string& plan_start = "2024-03-04T06:30:00") {
    const ProgramRun saved = Said(RunProgram({"download", "--sim", "hid", "--sim-records", "1", "--format", "json",
                                              "-o", (dir_ / "base.json").string()}));
    ASSERT_EQ(saved.status, 0) << saved.err;
    json day = ReadJson(dir_ / "base.json");
    json records = json::array();
    const auto add = [&records](int date, int hour, int minute, int sys, int dia, int map) {
      char time[32];
      std::snprintf(time, sizeof time, "2024-03-%02dT%02d:%02d:00", date, hour, minute);
      records.push_back({{"time", time}, {"sys", sys}, {"press2", dia}, {"press3", map}, {"pulse", 70},
                         {"status", 0}, {"valid", true}});
    };
    for (int i = 0; i < 30; ++i)
      i % 2 == 0 ? add(4, 7 + i / 2, 0, 128, 82, 98) : add(4, 7 + i / 2, 30, 132, 78, 99);
    for (int i = 0; i < 8; ++i)
      i % 2 == 0 ? add(i == 0 ? 4 : 5, (23 + i) % 24, 0, 110, 66, 85) : add(5, (23 + i) % 24, 0, 114, 64, 86);
    day["sets"] = json::array({{{"mode", 1}, {"records", records}}});
    day["plan"]["period1"] = {{"start", "22:00"}, {"interval", 60}};
    day["plan"]["period2"] = {{"start", "07:00"}, {"interval", 30}};
    day["plan"]["start"] = plan_start;
    day["downloaded_at"] = "2024-03-05T09:00:00";
    WriteText(dir_ / "day.json", day.dump());
    const ProgramRun filed = Run({"archive", "import", (dir_ / "day.json").string(), "--patient-label", "MRN-1"});
    ASSERT_EQ(filed.status, 0) << filed.err;
  }
  json Json(std::vector<std::string> args) {
    const ProgramRun run = Run(std::move(args));
    EXPECT_EQ(run.status, 0) << run.err;
    return json::parse(run.out.empty() ? "null" : run.out);
  }
  json Report(const std::string& recording) { return Json({"report", "--recording", recording, "--format", "json"}); }
  json HistoryOf(int recording) {
    const json recordings = History()["recordings"];
    for (const json& r : recordings)
      if (r["id"] == recording) return r;
    return nullptr;
  }
  std::string Interpretation(const std::string& name, const std::string& text) {
    WriteText(dir_ / name, text);
    return (dir_ / name).string();
  }
  // The SHA-256 of what `sign --show-input` prints, by another program.
  std::string HashOfInput(const std::string& recording) {
    const ProgramRun shown = Run({"sign", recording, "--show-input"});
    EXPECT_EQ(shown.status, 0) << shown.err;
    WriteText(dir_ / "input.json", shown.out);
    std::FILE* pipe = ::popen(("sha256sum " + (dir_ / "input.json").string()).c_str(), "r");
    char hex[65] = {};
    const bool read = pipe && std::fread(hex, 1, 64, pipe) == 64;
    if (pipe) ::pclose(pipe);
    EXPECT_TRUE(read) << "sha256sum did not answer";
    return hex;
  }
  std::string Count(const std::string& table) { return Sql("SELECT COUNT(*) FROM " + table); }
};

double At(const json& report, const char* period, const char* which) {
  return report["periods"][period][which]["mean"].get<double>();
}

// Reports made from the same inputs, whether from the archive or from a file
// it exported, differ only in where they were read from.
void ExpectSameReport(json a, json b) {
  for (json* report : {&a, &b}) {
    (*report)["recording"].erase("source");
    (*report)["recording"].erase("set");
  }
  EXPECT_EQ(a, b);
}

TEST_P(Review, TheInputsKeptWithAStudyDecideEveryReportOfItByHandWorkedFigures) {
  FileDay();
  // The swapped plan puts the 8 night readings in the day: too few to judge.
  const json swapped = Report("1");
  EXPECT_EQ(swapped["day_night"]["source"], "device plan");
  EXPECT_EQ(swapped["periods"]["day"]["n"], 8);
  EXPECT_EQ(swapped["verdict"]["level"], "not interpretable");

  // The diary's sleep times correct it: day 130/80, night 112/65, 24 hours
  // (30 x 130 + 8 x 112) / 38 = 126.21 and (30 x 80 + 8 x 65) / 38 = 76.84,
  // dipping 1 - 112/130 = 13.85 %.
  const ProgramRun reviewed = Run({"review", "1", "--sleep", "22:30-06:30"});
  ASSERT_EQ(reviewed.status, 0) << reviewed.err;
  EXPECT_THAT(reviewed.out, HasSubstr("sleep: none to 22:30-06:30"));
  EXPECT_THAT(reviewed.out, HasSubstr("Verdict (ESH 2023): Normal"));
  const json diary = Report("1");
  EXPECT_EQ(diary["day_night"]["source"], "diary");
  EXPECT_EQ(std::tuple(At(diary, "day", "sys"), At(diary, "day", "dia"), At(diary, "night", "sys"),
                       At(diary, "night", "dia"), At(diary, "24h", "sys"), At(diary, "24h", "dia")),
            std::tuple(130.0, 80.0, 112.0, 65.0, 126.21, 76.84));
  EXPECT_EQ(diary["dipping"]["sys_pct"], 13.85);
  EXPECT_EQ(diary["dipping"]["sys_class"], "dipper");
  EXPECT_EQ(diary["verdict"]["level"], "normal");

  // The 07:00 reading (128/82) left out by hand: day (3900 - 128) / 29 =
  // 130.07 and (2400 - 82) / 29 = 79.93, 24 hours 4668 / 37 = 126.16 and
  // 2838 / 37 = 76.70; office 150/95 over it is white-coat hypertension.
  ASSERT_EQ(Run({"review", "1", "--exclude", "2024-03-04T07:00", "--reason", "cuff slipped", "--office", "150/95",
                 "--indication", "suspected white coat"})
                .status,
            0);
  const json kept = Report("1");
  EXPECT_EQ(std::tuple(At(kept, "day", "sys"), At(kept, "day", "dia"), At(kept, "24h", "sys"), At(kept, "24h", "dia")),
            std::tuple(130.07, 79.93, 126.16, 76.7));
  EXPECT_EQ(kept["readings"]["excluded_by_reason"], json({{"excluded by hand: cuff slipped", 1}}));
  EXPECT_EQ(kept["office"]["class"], "white-coat hypertension");
  EXPECT_EQ(kept["recording"]["review"]["sleep"], "22:30-06:30") << "the earlier review's inputs stay";
  EXPECT_EQ(HistoryOf(1)["state"], "reviewed");

  // Every export uses them; the exported JSON carries them, so the report
  // made from it is the archive's.
  ASSERT_EQ(Run({"export", "1", "--format", "json", "-o", (dir_ / "export.json").string()}).status, 0);
  ExpectSameReport(Json({"report", (dir_ / "export.json").string(), "--format", "json"}), kept);
  ExpectSameReport(Json({"export", "1", "--format", "report-json"}), kept);
  const ProgramRun html = Run({"export", "1", "--format", "html"});
  EXPECT_THAT(html.out, HasSubstr("from the patient&#39;s diary"));
  EXPECT_THAT(html.out, HasSubstr("excluded by hand: cuff slipped"));
  EXPECT_THAT(html.out, HasSubstr("suspected white coat"));
  const json fhir = Json({"export", "1", "--format", "fhir"});
  bool day_mean = false;
  for (const json& entry : fhir["entry"])
    if (entry["resource"].contains("code") && entry["resource"]["code"]["coding"].size() > 1 &&
        entry["resource"]["code"]["coding"][1]["code"] == "day-mean") {
      day_mean = true;
      EXPECT_EQ(entry["resource"]["component"][0]["valueQuantity"]["value"], 130.1);
    }
  EXPECT_TRUE(day_mean);
  // Given for a report of an archived study they would make it differ from
  // every other: refused, pointing to review.
  const ProgramRun aside = Run({"report", "--recording", "1", "--sleep", "23:00-06:00"});
  EXPECT_EQ(aside.status, kExitBadInput);
  EXPECT_THAT(aside.err, HasSubstr("bplink review 1"));

  // Who changed what, and an exclusion taken back.
  const json log = Json({"archive", "log", "--recording", "1", "--action", "review", "--json"});
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0]["details"]["changes"]["sleep"], json({{"from", nullptr}, {"to", "22:30-06:30"}}));
  EXPECT_EQ(log[1]["details"]["changes"]["exclusions"]["added"][0]["reason"], "cuff slipped");
  EXPECT_EQ(log[1]["db_role"], Postgres() ? "bplink" : "");
  EXPECT_NE(log[1]["user"], "");
  ASSERT_EQ(Run({"review", "1", "--include", "07:00"}).status, 0);
  EXPECT_EQ(At(Report("1"), "day", "sys"), 130.0);
}

TEST_P(Review, ThePlansStartBoundsAnArchivedRecordingAndTheKeptClockOffsetCorrectsIt) {
  FileDay("2024-03-04T07:45:00");
  const json early = Report("1");
  EXPECT_EQ(early["clock"]["before_plan_start"], 2);
  EXPECT_EQ(early["readings"]["excluded_by_reason"], json({{"dated before the plan's start", 2}}));
  EXPECT_EQ(HistoryOf(1)["plan_start"], "2024-03-04T07:45:00");
  // The device's clock ran an hour slow: set right, every reading is of this plan.
  ASSERT_EQ(Run({"review", "1", "--clock-offset", "+1:00", "--sleep", "23:30-07:30"}).status, 0);
  const json corrected = Report("1");
  EXPECT_EQ(corrected["clock"]["before_plan_start"], 0);
  EXPECT_EQ(corrected["readings"]["excluded"], 0);
  ASSERT_EQ(Run({"export", "1", "--format", "json", "-o", (dir_ / "export.json").string()}).status, 0);
  ExpectSameReport(Json({"report", (dir_ / "export.json").string(), "--format", "json"}), corrected);
}

TEST_P(Review, ABadValueIsRefusedNamingItsFieldAndFormAndChangesNothing) {
  FileDay();
  ASSERT_EQ(Run({"review", "1", "--sleep", "22:30-06:30"}).status, 0);
  const json before = Report("1");
  const std::string reviews = Count("reviews"), entries = Count("audit_log");
  const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
      {{"--office", "90/120"}, {"--office '90/120'", "diastolic not below systolic", "SYS/DIA"}},
      {{"--sleep", "2230-0630"}, {"--sleep '2230-0630'", "HH:MM-HH:MM"}},
      {{"--clock-offset", "1h"}, {"--clock-offset '1h'", "[+|-]H:MM"}},
      {{"--exclude", "2024-03-04T07:10", "--reason", "moved"}, {"holds no reading at that time", "YYYY-MM-DDTHH:MM"}},
      {{"--exclude", "07:00"}, {"--reason", "one for each --exclude"}},
      {{"--include", "08:00"}, {"--include '08:00': that reading is not excluded by hand"}},
      {{"--amend", "--sleep", "23:00-06:00"}, {"recording 1 is not signed"}},
  };
  for (const auto& [args, said] : cases) {
    std::vector<std::string> review = {"review", "1"};
    review.insert(review.end(), args.begin(), args.end());
    const ProgramRun run = Run(review);
    EXPECT_EQ(run.status, kExitBadInput) << args[0] << ": " << run.err;
    for (const std::string& words : said) EXPECT_THAT(run.err, HasSubstr(words)) << args[0];
  }
  EXPECT_EQ(Run({"review", "9", "--sleep", "23:00-06:00"}).status, kExitBadInput);
  EXPECT_EQ(Count("reviews"), reviews);
  EXPECT_EQ(Count("audit_log"), entries);
  EXPECT_EQ(Report("1"), before);
}

TEST_P(Review, ASignedStudyRefusesAChangeByAnyDoorAndAnAmendmentKeepsBothVersions) {
  FileDay();
  ASSERT_EQ(Run({"review", "1", "--sleep", "22:30-06:30"}).status, 0);
  const ProgramRun first = Run({"sign", "1", "--file", Interpretation("v1.txt", "Normal ambulatory blood pressure.\n")});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_THAT(first.out, HasSubstr("version 1 (final)"));
  EXPECT_EQ(HistoryOf(1)["state"], "signed");
  const json v1 = Json({"export", "1", "--format", "fhir"});
  const auto diagnostic = [](const json& bundle) {
    for (const json& entry : bundle["entry"])
      if (entry["resource"]["resourceType"] == "DiagnosticReport") return entry["resource"];
    return json(nullptr);
  };
  EXPECT_EQ(diagnostic(v1)["status"], "final");
  EXPECT_EQ(diagnostic(v1)["conclusion"], "Normal ambulatory blood pressure.");

  // Through the program: an exclusion, and a second signature, are refused.
  const std::string reviews = Count("reviews");
  const ProgramRun exclusion = Run({"review", "1", "--exclude", "07:00", "--reason", "cuff slipped"});
  EXPECT_EQ(exclusion.status, kExitBadInput);
  EXPECT_THAT(exclusion.err, HasSubstr("a signed recording's inputs change only by an amendment"));
  EXPECT_THAT(exclusion.err, HasSubstr("give --amend"));
  const ProgramRun again = Run({"sign", "1", "--file", Interpretation("v2.txt", "Something else.")});
  EXPECT_EQ(again.status, kExitBadInput);
  EXPECT_THAT(again.err, HasSubstr("--amend"));
  const ProgramRun moved = Run({"archive", "move", "1", "--patient-label", "MRN-2"});
  EXPECT_NE(moved.status, 0);
  EXPECT_THAT(moved.err, HasSubstr("a signed study is not filed under another patient"));
  // Past the program, in SQL: the database refuses the same.
  const std::string sum = Sql("SELECT SUM(systolic) FROM readings WHERE recording_id = 1");
  Sql("UPDATE readings SET systolic = 1 WHERE recording_id = 1");
  Sql("DELETE FROM readings WHERE recording_id = 1");
  Sql("UPDATE recordings SET complete = 0 WHERE id = 1");
  Sql("INSERT INTO reviews (recording_id, study_id, inputs, clock_offset_minutes, at, os_user, db_role, station) "
      "VALUES (1, 1, '{}', 0, '', '', '', '')");
  Sql("UPDATE signatures SET interpretation = 'forged'");
  Sql("DELETE FROM signatures");
  EXPECT_EQ(Sql("SELECT SUM(systolic) FROM readings WHERE recording_id = 1"), sum);
  EXPECT_EQ(Sql("SELECT complete FROM recordings WHERE id = 1"), "1");
  EXPECT_EQ(Count("reviews"), reviews);
  EXPECT_EQ(Sql("SELECT interpretation FROM signatures"), "Normal ambulatory blood pressure.");

  // The amendment: the exclusion made with --amend, then signed again.
  const ProgramRun amending = Run({"review", "1", "--amend", "--exclude", "07:00", "--reason", "cuff slipped"});
  ASSERT_EQ(amending.status, 0) << amending.err;
  EXPECT_THAT(amending.out, HasSubstr("An amendment of version 1"));
  EXPECT_EQ(HistoryOf(1)["state"], "reviewed");
  EXPECT_EQ(HistoryOf(1)["amending"], true);
  EXPECT_TRUE(diagnostic(Json({"export", "1", "--format", "fhir"})).is_null()) << "nothing signed is in force";
  EXPECT_THAT(Run({"export", "1", "--format", "html"}).out, HasSubstr("Amendment under way"));
  const ProgramRun second =
      Run({"sign", "1", "--file", Interpretation("v2.txt", "Normal; one reading left out (cuff slipped).")});
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_THAT(second.out, HasSubstr("version 2 (amended)"));
  EXPECT_THAT(second.out, HasSubstr("version 1 is superseded"));

  const json history = HistoryOf(1);
  EXPECT_EQ(std::tuple(history["state"], history["signed_versions"], history["amending"]),
            std::tuple("signed", 2, false));
  EXPECT_THAT(Run({"history"}).out, HasSubstr("version 2 (1 superseded)"));
  const json signature = Report("1")["signature"];
  ASSERT_EQ(signature["versions"].size(), 2u);
  EXPECT_EQ(std::tuple(signature["versions"][0]["superseded"], signature["versions"][0]["interpretation"],
                       signature["versions"][1]["status"], signature["versions"][1]["superseded"]),
            std::tuple(true, "Normal ambulatory blood pressure.", "amended", false));
  const std::string page = Run({"export", "1", "--format", "html"}).out;
  EXPECT_THAT(page, HasSubstr("Version 1 (final), superseded"));
  EXPECT_THAT(page, HasSubstr("Normal ambulatory blood pressure."));
  EXPECT_THAT(page, HasSubstr("Normal; one reading left out (cuff slipped)."));
  EXPECT_THAT(page, HasSubstr("Signed by"));
  const json v2 = Json({"export", "1", "--format", "fhir"});
  EXPECT_EQ(diagnostic(v2)["status"], "amended");
  const json signs = Json({"archive", "log", "--recording", "1", "--action", "sign", "--json"});
  ASSERT_EQ(signs.size(), 2u);
  EXPECT_EQ(signs[1]["details"]["supersedes_version"], 1);
  EXPECT_EQ(signs[1]["details"]["status"], "amended");

  // The printed page too, as its own text says (once: Chromium is slow).
  if (!Postgres() && std::system("command -v chromium >/dev/null && command -v pdftotext >/dev/null") == 0) {
    const std::string pdf = (dir_ / "signed.pdf").string();
    const ProgramRun printed = Run({"export", "1", "--format", "pdf", "-o", pdf});
    ASSERT_EQ(printed.status, 0) << printed.err;
    ASSERT_EQ(std::system(("pdftotext " + pdf + " " + (dir_ / "signed.txt").string()).c_str()), 0);
    const std::string text = ReadText(dir_ / "signed.txt");
    EXPECT_THAT(text, HasSubstr("Normal; one reading left out (cuff slipped)."));
    EXPECT_THAT(text, HasSubstr("Version 2 (amended)"));
    EXPECT_THAT(text, HasSubstr("Version 1 (final), superseded"));
  }

  // Both bundles pass the FHIRPath checks the report's tests run.
  const std::string check = BPLINK_FHIR_CHECK;
  if (std::system("node --version >/dev/null 2>&1") != 0 || !std::filesystem::exists(check + "/node_modules"))
    GTEST_SKIP() << "node or the FHIR checker's packages (scripts/setup --tests) are not installed";
  WriteText(dir_ / "v1.json", v1.dump());
  WriteText(dir_ / "v2.json", v2.dump());
  const std::string command = "node " + check + "/validate.js " + (dir_ / "v1.json").string() + " " +
                              (dir_ / "v2.json").string() + " >" + (dir_ / "checked").string() + " 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << ReadText(dir_ / "checked");
}

// An amendment with its reason, as the workstation's Amend makes one: the
// reason is kept in the audit log; a blank one, one without --amend, or a
// second while one is under way is refused and stores nothing.
TEST_P(Review, AnAmendmentsReasonIsKeptAndABlankOneRefused) {
  FileDay();
  ASSERT_EQ(Run({"sign", "1", "--file", Interpretation("v1.txt", "Normal.")}).status, 0);
  const std::string reviews = Count("reviews");
  const ProgramRun blank = Run({"review", "1", "--amend", "--amend-reason", "  ", "--sleep", "23:00-06:00"});
  EXPECT_EQ(blank.status, kExitBadInput);
  EXPECT_THAT(blank.err, HasSubstr("reason: say why the signed report is amended"));
  EXPECT_NE(Run({"review", "1", "--amend-reason", "diary found"}).status, 0);
  EXPECT_EQ(Count("reviews"), reviews);
  EXPECT_EQ(HistoryOf(1)["amending"], false);

  const ProgramRun amended = Run({"review", "1", "--amend", "--amend-reason", "diary found", "--sleep", "23:00-06:00"});
  ASSERT_EQ(amended.status, 0) << amended.err;
  EXPECT_THAT(amended.out, HasSubstr("An amendment of version 1"));
  const json log = Json({"archive", "log", "--recording", "1", "--action", "amend", "--json"});
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(std::tuple(log[0]["details"]["reason"], log[0]["details"]["amends_version"], log[0]["study"]),
            std::tuple("diary found", 1, 1));
  // The diary went into the amendment, to be signed as version 2.
  EXPECT_EQ(Report("1")["recording"]["review"]["sleep"], "23:00-06:00");
  const ProgramRun twice = Run({"review", "1", "--amend", "--amend-reason", "again"});
  EXPECT_EQ(twice.status, kExitBadInput);
  EXPECT_THAT(twice.err, HasSubstr("under way already"));
  ASSERT_EQ(Run({"sign", "1", "--file", Interpretation("v2.txt", "Normal, diary applied.")}).status, 0);
  EXPECT_EQ(HistoryOf(1)["signed_versions"], 2);
}

TEST_P(Review, TheHashFollowsEveryInputOfTheReportAndNothingElse) {
  ASSERT_EQ(Fetch("1", 30).status, 0);
  const std::string filed = HashOfInput("1");
  const json content = json::parse(Run({"sign", "1", "--show-input"}).out);
  EXPECT_EQ(content["readings"].size(), 30u);
  EXPECT_EQ(content["content"], 1);
  // What is no input of the report: the same readings downloaded again, a
  // review that stores nothing new, reading the log.
  ASSERT_EQ(Fetch("1", 30).status, 0);
  ASSERT_EQ(Run({"review", "1", "--station", "desk 9"}).status, 0);
  EXPECT_THAT(Run({"review", "1"}).out, HasSubstr("nothing changed"));
  ASSERT_EQ(Run({"archive", "log"}).status, 0);
  EXPECT_EQ(HashOfInput("1"), filed);
  // Each kind of input: a reading more, a review input, the patient.
  ASSERT_EQ(Fetch("1", 31).status, 0);
  const std::string more = HashOfInput("1");
  EXPECT_NE(more, filed);
  ASSERT_EQ(Run({"review", "1", "--sleep", "23:00-06:00"}).status, 0);
  const std::string slept = HashOfInput("1");
  EXPECT_NE(slept, more);
  Sql("UPDATE patients SET name = 'Renamed'");
  const std::string renamed = HashOfInput("1");
  EXPECT_NE(renamed, slept);

  // Signed, the hash is that of what --show-input printed; the time and the
  // interpretation are none of it, so an amendment of the text alone keeps it.
  ASSERT_EQ(Run({"sign", "1", "--file", Interpretation("v1.txt", "Normal.")}).status, 0);
  ASSERT_EQ(Run({"sign", "1", "--amend", "--file", Interpretation("v2.txt", "Normal, on second reading.")}).status, 0);
  const json versions = Report("1")["signature"]["versions"];
  ASSERT_EQ(versions.size(), 2u);
  EXPECT_EQ(versions[0]["hash"], renamed);
  EXPECT_EQ(versions[1]["hash"], renamed);
  EXPECT_EQ(Sql("SELECT content FROM signatures WHERE version = 2"), Run({"sign", "1", "--show-input"}).out);
}

TEST_P(Review, APatientsPreviousStudyStandsBesideThisOneAndKeepsItsReadingsOnceSigned) {
  const std::vector<std::string> monitor = {"download", "--sim", "hid", "--sim-type", "2", "--patient-label",
                                            "MRN-9", "-o", "/dev/null"};
  const auto records = [&monitor](int n) {
    std::vector<std::string> args = monitor;
    args.insert(args.end(), {"--sim-records", std::to_string(n)});
    return args;
  };
  ASSERT_THAT(Run(records(40)).err, HasSubstr("40 new"));
  ASSERT_EQ(Run({"sign", "1", "--file", Interpretation("v1.txt", "First study.")}).status, 0);
  // The monitor, downloaded again: what it took since is a study of its own.
  ASSERT_THAT(Run(records(70)).err, HasSubstr("70 readings, 30 new"));
  const json recordings = History()["recordings"];
  ASSERT_EQ(recordings.size(), 2u);
  EXPECT_EQ(recordings[0]["readings"], 40) << "the signed recording keeps what it was signed on";
  EXPECT_NE(recordings[1]["study"], recordings[0]["study"]);
  EXPECT_EQ(recordings[1]["state"], "downloaded");

  const json before = Report("1"), now = Report("2");
  const json& previous = now["recording"]["previous"];
  EXPECT_EQ(previous["label"], "study " + std::to_string(recordings[0]["study"].get<int>()) + " (recording 1)");
  EXPECT_EQ(previous["verdict"], before["verdict"]["level"]);
  EXPECT_EQ(previous["means"]["24h"]["sys"], before["periods"]["24h"]["sys"]["mean"]);
  EXPECT_EQ(previous["means"]["day"]["dia"], before["periods"]["day"]["dia"]["mean"]);
  EXPECT_TRUE(before["recording"]["previous"].is_null());
  EXPECT_THAT(Run({"export", "2", "--format", "html"}).out, HasSubstr("Previous study"));
  ASSERT_EQ(Run({"export", "2", "--format", "json", "-o", (dir_ / "export.json").string()}).status, 0);
  ExpectSameReport(Json({"report", (dir_ / "export.json").string(), "--format", "json"}), now);
}

TEST_P(Review, AnArchiveOfVersion3GetsThePlansStartOfWhatItFiled) {
  using namespace bplink::archive;
  OpenOptions old;
  old.schema_version = 3;
  Archive::Open(ParseLocation(location_), old);
  Sql("INSERT INTO devices (family, device_type, protocol, variant, version, label, label_key) "
      "VALUES ('hid', 1, 1, 2, 2, '', '');"
      "INSERT INTO patients (texts, label, device_key) VALUES ('P', '', 'p');"
      "INSERT INTO studies (patient_id, device_id, state, hooked_up_at, opened_at, station, os_user, db_role) VALUES "
      "(1, 1, 'downloaded', '2024-03-04T06:30:00', '2024-03-04T06:29:00', 'a', 'u', ''),"
      "(1, 1, 'downloaded', NULL, '2024-03-10T09:00:00', 'a', 'u', '');"
      "INSERT INTO recordings (device_id, patient_id, set_mode, start_time, end_time, complete, downloaded_at, "
      "station, study_id, plan) VALUES "
      "(1, 1, 1, '2024-03-04T07:00:00', '2024-03-05T06:00:00', 1, '2024-03-05T09:00:00', 'a', 1, NULL),"
      "(1, 1, 1, '2024-03-08T07:00:00', '2024-03-09T06:00:00', 1, '2024-03-10T09:00:00', 'a', 2, "
      "'{\"start\": \"2024-03-08T06:45:00\"}'),"
      "(1, 1, 3, '2024-03-01T07:00:00', '2024-03-02T06:00:00', 1, '2024-03-10T09:00:00', 'a', 2, "
      "'{\"start\": \"2024-03-08T06:45:00\"}')");
  const json recordings = History()["recordings"];
  ASSERT_EQ(recordings.size(), 3u);
  EXPECT_EQ(recordings[0]["plan_start"], "2024-03-04T06:30:00") << "its study's hook-up";
  EXPECT_EQ(recordings[1]["plan_start"], "2024-03-08T06:45:00") << "the plan the device gave";
  EXPECT_TRUE(recordings[2]["plan_start"].is_null()) << "a recorder's second set is measured before its plan";
  EXPECT_EQ(Sql("SELECT version FROM bplink_schema"), std::to_string(SchemaVersion()));
}

// What the workstation and `bplink send` build on: whether a recording is
// signed and its version in force, and the receipt of a sending kept in
// the audit log.
TEST_P(Review, TheSignedVersionInForceAndASendingKeptWithItsReceipt) {
  FileDay();
  using namespace bplink::archive;
  ASSERT_EQ(Run({"sign", "1", "--file", Interpretation("v1.txt", "Normal.")}).status, 0);
  OpenOptions existing;
  existing.mode = OpenMode::kExisting;
  {
    const auto archive = Archive::Open(ParseLocation(location_), existing);
    const ReviewState signed_study = archive->ReviewOf(1);
    ASSERT_TRUE(signed_study.Signed());
    ASSERT_NE(signed_study.Current(), nullptr);
    EXPECT_EQ(signed_study.Current()->signed_version.interpretation, "Normal.");
    EXPECT_EQ(signed_study.Current()->signed_version.hash, Sha256Hex(signed_study.Current()->content));
    const json receipt = {{"destination", "mllp://his.example:2575"}, {"outcome", "acknowledged"}, {"ack_code", "AA"}};
    archive->AppendLog(SentEntry(signed_study.study, 1, receipt), {"weber", "desk 2", {2024, 3, 6, 11, 0, 0}});
  }
  const json sent = Json({"archive", "log", "--recording", "1", "--action", kSentAction, "--json"});
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]["details"]["ack_code"], "AA");
  EXPECT_EQ(sent[0]["user"], "weber");
  ASSERT_EQ(Run({"review", "1", "--amend", "--sleep", "23:00-06:00"}).status, 0);
  const auto archive = Archive::Open(ParseLocation(location_), existing);
  EXPECT_FALSE(archive->ReviewOf(1).Signed()) << "an amendment under way is not signed";
  EXPECT_EQ(archive->ReviewOf(1).Current(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Engines, Review,
                         ::testing::Values(bplink::archive::Engine::kSqlite, bplink::archive::Engine::kPostgres),
                         [](const auto& info) {
                           return info.param == bplink::archive::Engine::kSqlite ? "sqlite" : "postgresql";
                         });

}  // namespace
