// What a download shows a clinician, and what the report makes of it: the
// values and reasons of the table, CSV and JSON (readings dated after the
// download among them), sets a mode did not fetch, incomplete downloads,
// and output files that cannot be written.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include <bplink/report/analysis.h>

#include "download_view.h"
#include "program_runner.h"

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const nlohmann::json json_false = false;

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
  data.SpO2Set.Head = {2, 2024, 3, 4, 23, 0, 0};
  data.SpO2Set.vecRecords = {{97, 72, 0}, {95, 70, 4}};
  std::snprintf(data.Info.szPatientInfo1, sizeof data.Info.szPatientInfo1, "J\xDCRG");  // Latin-1, as devices send
  tag_SUPPORT_PROTOCOL monitor;
  monitor.nDeviceType = bplink::kDeviceWithSpO2;
  bplink::cli::DownloadView view = bplink::cli::ViewOf(data, monitor, DATAMODE_BP_SPO2, true);
  view.downloaded_at = bplink::CalendarTime{2024, 3, 4, 11, 0, 0};
  view.sets[0].title = "=Set 1";  // a text a spreadsheet would run

  std::ostringstream csv, table, json;
  bplink::cli::WriteCsv(view, csv);
  bplink::cli::WriteTable(view, table);
  bplink::cli::WriteJson(view, json);
  EXPECT_EQ(csv.str(),
            "set,time,systolic (mmHg),diastolic (mmHg),MAP (mmHg),pulse (bpm),SpO2 (%),valid,reason\n"
            "'=Set 1,2024-03-04T09:00:00,140,80,95,70,,yes,\n"
            "'=Set 1,2024-03-04T10:00:00,,,,70,,no,marked invalid by the device\n"
            "'=Set 1,2024-03-04T12:00:00,150,90,110,70,,no,dated after the download\n"
            "SpO2,2024-03-04T23:00:00,,,,72,97,,\n"
            "SpO2,2024-03-04T23:00:04,,,,70,95,,\n");
  EXPECT_THAT(table.str(), AllOf(HasSubstr("patient       J\xC3\x9CRG\n"), HasSubstr("3 records, 1 valid"),
                                 HasSubstr("2024-03-04 12:00       150         90         110           70  no     "
                                           "dated after the download\n"),
                                 HasSubstr("SpO2: 2 samples")));
  const auto doc = nlohmann::json::parse(json.str());
  EXPECT_EQ(doc["sets"][0]["records"][2]["reason"], "dated after the download");

  std::istringstream back(csv.str());
  const auto analysis = bplink::report::Analyse(bplink::report::LoadCsv(back, "d.csv"),
                                                *bplink::report::FindProfile("esh2023"), std::nullopt);
  EXPECT_THAT(analysis.excluded_by_reason,
              ::testing::ElementsAre(std::pair<std::string, int>("dated after the download", 1),
                                     std::pair<std::string, int>("marked invalid by the device", 1)));
  EXPECT_EQ(std::tuple(analysis.counted, analysis.recording.readings[0].map, analysis.recording.spo2.size()),
            std::tuple(1, std::optional(95.0), 2u));
}

TEST(DownloadOutput, CsvByItsNameIsTheOneTheReportReadsAndSetsNotFetchedSaySo) {
  const auto csv = TestDir() / "d.csv";
  ASSERT_EQ(RunProgram({"download", "--sim", "hid", "--sim-type", "5", "--mode", "7", "-o", csv.string()}).status, 0);
  std::istringstream lines(ReadText(csv));
  long store2 = 0;
  for (std::string line; std::getline(lines, line);) store2 += line.starts_with("Store 2,");
  const ProgramRun report = RunProgram({"report", csv.string(), "--set", "2", "--format", "json"});
  ASSERT_EQ(report.status, 0) << report.err;
  const auto doc = nlohmann::json::parse(report.out);
  EXPECT_EQ(std::pair(doc["recording"]["set"], doc["readings"]["total"]),
            std::pair(nlohmann::json("set 2 of 3, as asked"), nlohmann::json(store2)));
  // Mode 1 fetches neither a recorder's second set nor a monitor's SpO2 samples.
  const std::string tables = RunProgram({"download", "--sim", "hid", "--sim-records", "4"}).out +
                             RunProgram({"download", "--sim", "hid", "--sim-type", "3", "--sim-records", "4"}).out;
  EXPECT_THAT(tables, AllOf(HasSubstr("Set 2: not downloaded: use --mode 3"), HasSubstr("SpO2: not downloaded: use "
                            "--mode 2"), Not(HasSubstr("0 records")), Not(HasSubstr("0 samples"))));
}

TEST(DownloadOutput, PartialDownloadIsNeverCalledAValidRecording) {
  const auto dir = TestDir();
  const std::string json = (dir / "d.json").string(), html = (dir / "r.html").string();
  ASSERT_NE(RunProgram({"download", "--sim", "hid", "--sim-records", "40", "--sim-silent-after", "30", "--timeout",
                        "20", "-o", json, "--report", html}).status, 0);
  for (const std::string& page : {ReadText(html), RunProgram({"report", json}).out}) {
    EXPECT_LT(page.find("Incomplete download: the device did not answer"), page.find("<div class=\"header\">"));
    EXPECT_THAT(page, AllOf(HasSubstr("cannot be judged valid"), Not(HasSubstr("meets the validity"))));
  }
  EXPECT_TRUE(ReadJson(json)["downloaded_at"].is_string()) << "the PC clock, to date readings against";
  const auto report = nlohmann::json::parse(RunProgram({"report", json, "--format", "json"}).out);
  EXPECT_EQ(std::pair(report["recording"]["complete"], report["validity"]["valid"]), std::pair(json_false, json_false));
  EXPECT_THAT(RunProgram({"report", json, "--format", "fhir"}).out,
              AllOf(HasSubstr("\"preliminary\""), HasSubstr("Incomplete download")));
}

// Refused before the device is opened (the trace would show it), saying why.
TEST(DownloadOutput, UnwritableOutputsAreRefusedBeforeTheDeviceIsTouched) {
  const auto dir = TestDir();
  const std::string missing = (dir / "no" / "d.csv").string();
  for (const auto& [option, path, reason] : {std::tuple("-o", missing, "no such directory"),
                                             std::tuple("-o", dir.string(), "is a directory"),
                                             std::tuple("--report", missing, "no such directory")}) {
    const ProgramRun run = RunProgram({"download", option, path, "--sim", "hid", "--trace"});
    EXPECT_EQ(run.status, 3) << path;
    EXPECT_THAT(run.err, AllOf(HasSubstr("cannot write " + path + ": " + reason), Not(HasSubstr("open device"))));
  }
}


}  // namespace
