// What a download shows a clinician, and what the report makes of it: the
// values and reasons of the table, CSV and JSON, sets a mode did not fetch,
// readings dated after the download, incomplete downloads, and output files
// that cannot be written.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <sstream>

#include <bplink/report/analysis.h>

#include "download_view.h"
#include "program_runner.h"

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr int kExitBadInput = 2;
constexpr int kExitCannotWrite = 3;

_BP_RECORD Record(int hour, int sys, short press2, short press3, bool valid) {
  _BP_RECORD r;
  r.nYear = 2024, r.wMonth = 3, r.wDay = 4, r.wHour = static_cast<short>(hour);
  r.nSys = sys, r.wPress2 = press2, r.wPress3 = press3, r.wPulseRate = 70, r.bValid = valid;
  return r;
}

TEST(DownloadView, EveryOutputShowsWhatCountsAndWhyAndTheReportReadsTheCsvBack) {
  _DOWNLOAD_DATAINFO data;
  // The two further pressures in the order some families send them: MAP first.
  data.BPSet.vecRecords = {Record(9, 140, 95, 80, true), Record(10, 0, 0, 0, false), Record(12, 150, 110, 90, true)};
  data.BPSet.Head.nCount = 3;
  std::snprintf(data.Info.szPatientInfo1, sizeof data.Info.szPatientInfo1, "J\xDCRG");  // Latin-1, as devices send
  tag_SUPPORT_PROTOCOL monitor;
  monitor.nDeviceType = bplink::kDeviceWithSpO2;
  bplink::cli::DownloadView view = bplink::cli::ViewOf(data, monitor, DATAMODE_BP, true);
  view.downloaded_at = bplink::CalendarTime{2024, 3, 4, 11, 0, 0};
  view.sets[0].title = "=Set 1";  // a text a spreadsheet would run

  std::ostringstream csv, table, json;
  WriteCsv(view, csv);
  WriteTable(view, table);
  WriteJson(view, json);
  EXPECT_EQ(csv.str(),
            "set,time,systolic (mmHg),diastolic (mmHg),MAP (mmHg),pulse (bpm),SpO2 (%),valid,reason\n"
            "'=Set 1,2024-03-04T09:00:00,140,80,95,70,,yes,\n"
            "'=Set 1,2024-03-04T10:00:00,,,,70,,no,marked invalid by the device\n"
            "'=Set 1,2024-03-04T12:00:00,150,90,110,70,,no,dated after the download\n");
  EXPECT_THAT(table.str(), AllOf(HasSubstr("patient       J\xC3\x9CRG\n"), HasSubstr("3 records, 1 valid"),
                                 HasSubstr("2024-03-04 12:00       150         90         110           70  no     "
                                           "dated after the download\n"),
                                 HasSubstr("SpO2: not downloaded: use --mode 2"), Not(HasSubstr("0 samples"))));
  const auto doc = nlohmann::json::parse(json.str());
  EXPECT_EQ(doc["sets"][0]["records"][2]["reason"], "dated after the download");
  EXPECT_EQ(doc["sets"][0]["records"][0]["reason"], nullptr);
  EXPECT_EQ(doc["spo2"]["downloaded"], false);

  std::istringstream back(csv.str());
  const auto analysis = bplink::report::Analyse(bplink::report::LoadCsv(back, "d.csv"),
                                                *bplink::report::FindProfile("esh2023"), std::nullopt);
  EXPECT_EQ(analysis.counted, 1);
  EXPECT_THAT(analysis.excluded_by_reason,
              ::testing::ElementsAre(std::pair<std::string, int>("dated after the download", 1),
                                     std::pair<std::string, int>("marked invalid by the device", 1)));
  EXPECT_EQ(analysis.recording.readings[0].map, 95.0);
}

TEST(DownloadOutput, CsvWithoutFormatOptionIsTheOneTheReportReads) {
  const auto dir = TestDir();
  const ProgramRun run = RunProgram({"download", "--sim", "hid", "--sim-type", "5", "--mode", "7", "-o",
                                     (dir / "d.csv").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string csv = ReadText(dir / "d.csv");
  ASSERT_THAT(csv, HasSubstr("\nStore 2,"));
  std::size_t store2 = 0;
  for (std::size_t at = 0; (at = csv.find("\nStore 2,", at + 1)) != std::string::npos;) ++store2;
  const ProgramRun report = RunProgram({"report", (dir / "d.csv").string(), "--set", "2", "--format", "json"});
  ASSERT_EQ(report.status, 0) << report.err;
  const auto doc = nlohmann::json::parse(report.out);
  EXPECT_EQ(doc["readings"]["total"], store2);
  EXPECT_EQ(doc["recording"]["set"], "set 2 of 3, as asked");

  // A recorder downloaded in mode 1 holds a second set that mode 3 fetches.
  const ProgramRun table = RunProgram({"download", "--sim", "hid", "--sim-records", "4"});
  EXPECT_THAT(table.out, AllOf(HasSubstr("Set 2: not downloaded: use --mode 3"), Not(HasSubstr("0 records"))));
}

TEST(DownloadOutput, PartialDownloadIsNeverCalledAValidRecording) {
  const auto dir = TestDir();
  const std::string json = (dir / "d.json").string(), html = (dir / "r.html").string();
  const ProgramRun run = RunProgram({"download", "--sim", "hid", "--sim-records", "40", "--sim-silent-after", "30",
                                     "--timeout", "20", "-o", json, "--report", html});
  ASSERT_NE(run.status, 0);
  for (const std::string& page : {ReadText(html), RunProgram({"report", json}).out}) {
    EXPECT_LT(page.find("Incomplete download: the device did not answer"), page.find("<div class=\"header\">"));
    EXPECT_THAT(page, AllOf(HasSubstr("cannot be judged valid"), Not(HasSubstr("meets the validity"))));
  }
  const auto report = nlohmann::json::parse(RunProgram({"report", json, "--format", "json"}).out);
  EXPECT_EQ(report["recording"]["complete"], false);
  EXPECT_EQ(report["validity"]["valid"], false);
  EXPECT_THAT(report["validity"]["problems"][0].get<std::string>(), HasSubstr("the download is incomplete"));
  const std::string fhir = RunProgram({"report", json, "--format", "fhir"}).out;
  EXPECT_THAT(fhir, AllOf(HasSubstr("\"preliminary\""), HasSubstr("Incomplete download")));
}

// Each unwritable output is refused before the device is opened (the trace
// would show it) and says why.
TEST(DownloadOutput, UnwritableOutputsAreRefusedBeforeTheDeviceIsTouchedAndSayWhy) {
  const auto dir = TestDir();
  const std::string missing = (dir / "no" / "d.csv").string(), folder = dir.string();
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"download", "-o", missing}, "cannot write " + missing + ": no such directory"},
      {{"download", "-o", folder}, "cannot write " + folder + ": is a directory"},
      {{"download", "--report", missing}, "no such directory"},
      {{"export", "1", "-o", folder, "--archive", (dir / "a.sqlite").string()}, "is a directory"},
  };
  for (auto [args, reason] : cases) {
    args.insert(args.end(), {"--sim", "hid", "--trace"});
    const ProgramRun run = RunProgram(args);
    EXPECT_EQ(run.status, kExitCannotWrite) << args[2];
    EXPECT_THAT(run.err, AllOf(HasSubstr(reason), Not(HasSubstr("open device"))));
  }
  WriteText(dir / "r.csv", "time,sys,dia\n2024-03-04T09:00,120,80\n");
  const ProgramRun to_folder = RunProgram({"report", (dir / "r.csv").string(), "-o", folder});
  EXPECT_EQ(to_folder.status, kExitCannotWrite);
  EXPECT_THAT(to_folder.err, HasSubstr("cannot write " + folder + ": is a directory"));
  const ProgramRun from_folder = RunProgram({"report", folder});
  EXPECT_EQ(from_folder.status, kExitBadInput);
  EXPECT_THAT(from_folder.err, HasSubstr(folder + ": is a directory"));
}

#if !defined(_WIN32)
// A VESTRA16 monitor dates its readings from the start an upload stamps with
// the PC clock, so old readings come back dated in the future.
TEST(DownloadOutput, ReadingsDatedAfterTheDownloadAreFlaggedAndLeftOut) {
  const auto dir = TestDir();
  RunningProgram sim({"sim", "vestra16", "--sim-records", "4"}, dir);
  ASSERT_TRUE(sim.AwaitErr("Ctrl-C to stop", 1)) << sim.Wait().err;
  const std::string port = sim.Out().substr(0, sim.Out().find('\n'));
  const auto run = [&port](std::vector<std::string> args) {
    args.insert(args.end(), {"--port", port, "--timeout", "120", "--protocol", "8"});
    return RunProgram(args);
  };
  WriteText(dir / "plan.json", R"({"period1": {"start": "07:00", "interval": 60}})");
  ASSERT_EQ(run({"upload", (dir / "plan.json").string()}).status, 0);
  const ProgramRun csv = run({"download", "--format", "csv"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_THAT(csv.out, HasSubstr(",no,dated after the download\n"));
  ASSERT_EQ(run({"download", "-o", (dir / "d.json").string()}).status, 0);
  const auto report = nlohmann::json::parse(RunProgram({"report", (dir / "d.json").string(), "--format", "json"}).out);
  EXPECT_GT(report["readings"]["excluded_by_reason"].value("dated after the download", 0), 0);
  sim.Signal(SIGINT);
  sim.Wait();
}
#endif

}  // namespace
