// Reading recordings: CSV files a person wrote or exported, a download in
// the library's records, and the JSON a download is saved as.

#include <bplink/report/readings.h>
#include "synthetic_download.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <sstream>

namespace {

using bplink::CalendarTime;
using bplink::report::InputError;
using bplink::report::LoadCsv;
using bplink::report::LoadDownloadJson;
using bplink::report::Recording;
using bplink::report::RecordingFromDownload;
using testing::AllOf;
using testing::HasSubstr;

// The message a loader gives for `text`, or "(accepted)".
template <typename Loader>
std::string ErrorOf(Loader load, const std::string& text) {
  std::istringstream in(text);
  try {
    load(in);
  } catch (const InputError& e) {
    return e.what();
  }
  return "(accepted)";
}

std::string CsvError(const std::string& text) {
  return ErrorOf([](std::istream& in) { LoadCsv(in, "rec.csv"); }, text);
}

TEST(CsvInput, ErrorsNameTheLineOrTheColumn) {
  EXPECT_THAT(CsvError("time,sys,dia,weight\n2024-03-01T08:00,120,80,70\n"),
              AllOf(HasSubstr("rec.csv: line 1"), HasSubstr("unknown column 'weight'"), HasSubstr("column 4")));
  EXPECT_THAT(CsvError("time,sys\n2024-03-01T08:00,120\n"),
              AllOf(HasSubstr("line 1"), HasSubstr("missing column 'dia'")));
  EXPECT_THAT(CsvError("time,sys,dia,sys\n"), AllOf(HasSubstr("line 1"), HasSubstr("'sys' appears twice")));
  EXPECT_THAT(CsvError("time,sys,dia\n2024-03-01T08:00,120,80\n\n2024-03-01T08:30,abc,80\n"),
              AllOf(HasSubstr("line 4"), HasSubstr("column 'sys'"), HasSubstr("'abc' is not a number")));
  EXPECT_THAT(CsvError("time,sys,dia\n2024-03-01T08:00,120\n"),
              AllOf(HasSubstr("line 2"), HasSubstr("2 fields where the header has 3")));
  EXPECT_THAT(CsvError("time,sys,dia\n2024-02-30T08:00,120,80\n"),
              AllOf(HasSubstr("line 2"), HasSubstr("column 'time'"), HasSubstr("2024-02-30T08:00")));
  EXPECT_THAT(CsvError("time,sys,dia\n2024-03-01T08:00,,80\n"), AllOf(HasSubstr("line 2"), HasSubstr("column 'sys': empty")));
  EXPECT_THAT(CsvError("time,sys,dia,awake\n2024-03-01T08:00,120,80,yes\n"),
              AllOf(HasSubstr("line 2"), HasSubstr("column 'awake'")));
  EXPECT_THAT(CsvError("time,sys,dia\n2024-03-01T08:00,nan,80\n"), HasSubstr("column 'sys'"));
}

TEST(CsvInput, AFileWithoutReadingsSaysSo) {
  EXPECT_THAT(CsvError("time,sys,dia\n\n  \n"), AllOf(HasSubstr("no readings"), HasSubstr("line 1")));
  EXPECT_THAT(CsvError("\ntime,sys,dia\n"), AllOf(HasSubstr("no readings"), HasSubstr("line 2")));
  EXPECT_THAT(CsvError(""), HasSubstr("empty file"));
}

TEST(CsvInput, ReadsOptionalColumnsInAnyOrderAsSpreadsheetsWriteThem) {
  std::istringstream in(
      "\xEF\xBB\xBF"
      "Pulse, dia ,time,sys,awake,map\r\n"
      "72,80,\"2024-03-01 08:00\",121.5,0,94\r\n"
      ",79,2024-03-01T08:30:15,119,1,\r\n");
  const Recording r = LoadCsv(in, "sheet.csv");
  ASSERT_EQ(r.readings.size(), 2u);
  EXPECT_EQ(r.readings[0].time, (CalendarTime{2024, 3, 1, 8, 0, 0}));
  EXPECT_DOUBLE_EQ(r.readings[0].sys, 121.5);
  EXPECT_EQ(r.readings[0].dia, 80);
  EXPECT_EQ(r.readings[0].pulse, 72);
  EXPECT_EQ(r.readings[0].map, 94);
  EXPECT_EQ(r.readings[0].awake, false);
  EXPECT_EQ(r.readings[1].time, (CalendarTime{2024, 3, 1, 8, 30, 15}));
  EXPECT_FALSE(r.readings[1].pulse.has_value());
  EXPECT_FALSE(r.readings[1].map.has_value());
  EXPECT_EQ(r.readings[1].awake, true);
  EXPECT_EQ(r.source, "sheet.csv");
  EXPECT_FALSE(r.plan.has_value());
}

TEST(DownloadInput, LowerPressureIsDiastolicAndHigherTheMeanInEitherOrder) {
  const SyntheticDownload d = RecorderDownload();
  const Recording r = RecordingFromDownload(d.data, d.device);
  const auto& records = d.data.BPSet.vecRecords;
  ASSERT_EQ(r.readings.size(), records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(r.readings[i].dia, std::min(records[i].wPress2, records[i].wPress3));
    EXPECT_EQ(r.readings[i].map, std::max(records[i].wPress2, records[i].wPress3));
    EXPECT_EQ(r.readings[i].device_valid, records[i].bValid != 0);
  }
  // Both orders occur in the download.
  EXPECT_LT(records[0].wPress2, records[0].wPress3);
  EXPECT_GT(records[1].wPress2, records[1].wPress3);
  EXPECT_FALSE(r.readings[12].pulse.has_value()) << "a pulse of 0 is no pulse";
  EXPECT_THAT(r.patient, testing::ElementsAre("Test <Patient>", "ID 0042"));
  ASSERT_TRUE(r.plan.has_value());
  EXPECT_EQ(r.plan->day_start, 7 * 60);
  EXPECT_EQ(r.plan->night_start, 22 * 60);
  EXPECT_THAT(r.device->description, HasSubstr("ambulatory recorder"));
}

TEST(DownloadInput, TheDeviceTypeDecidesWhichSetsAndWhetherThereIsAPlan) {
  SyntheticDownload d = RecorderDownload();
  d.data.ZoneSet1.vecRecords.assign(d.data.BPSet.vecRecords.begin(), d.data.BPSet.vecRecords.begin() + 3);
  d.data.SpO2Set = OximetrySamples(3);

  const Recording recorder_without_plan = RecordingFromDownload(d.data, {1, 1, 255, 1, 5});
  EXPECT_FALSE(recorder_without_plan.plan.has_value());
  EXPECT_TRUE(recorder_without_plan.spo2.empty());

  const Recording three_stores = RecordingFromDownload(d.data, {5, 5, 255, 255, 3});
  EXPECT_EQ(three_stores.readings.size(), 3u);
  EXPECT_FALSE(three_stores.plan.has_value());
  EXPECT_TRUE(three_stores.patient.empty());

  const Recording with_spo2 = RecordingFromDownload(d.data, {3, 7, 255, 255, 0});
  ASSERT_EQ(with_spo2.spo2.size(), 3u);
  EXPECT_EQ(with_spo2.spo2[2].time, (CalendarTime{2024, 3, 4, 23, 0, 8})) << "start plus the offset in seconds";
  EXPECT_EQ(with_spo2.spo2[2].spo2, d.data.SpO2Set.vecRecords[2].bySpO2);
  EXPECT_THAT(with_spo2.device->description, HasSubstr("KV32"));
}

TEST(DownloadInput, PatientTextsBeyondAsciiBecomeUtf8) {
  const char field[5] = {'J', static_cast<char>(0xF6), 'r', 'g', '\0'};
  EXPECT_EQ(bplink::report::TextFromDevice(field, sizeof field), "J\xC3\xB6rg");
  const char unterminated[3] = {'a', 'b', 'c'};
  EXPECT_EQ(bplink::report::TextFromDevice(unterminated, sizeof unterminated), "abc");
}

// The JSON a download is saved as, in the shape README.md describes.
nlohmann::json SavedDownload(const SyntheticDownload& d) {
  using nlohmann::json;
  json records = json::array();
  for (const _BP_RECORD& r : d.data.BPSet.vecRecords) {
    char time[80];
    std::snprintf(time, sizeof time, "%04d-%02d-%02dT%02d:%02d:%02d", r.nYear, r.wMonth, r.wDay, r.wHour,
                  r.wMinute, r.wSecond);
    records.push_back({{"time", time}, {"sys", r.nSys}, {"press2", r.wPress2}, {"press3", r.wPress3},
                       {"pulse", r.wPulseRate}, {"status", r.wStatus}, {"valid", r.bValid == 1}});
  }
  return {{"device", {{"device_type", d.device.nDeviceType}, {"protocol", d.device.nProtocol},
                      {"variant", d.device.nVariant}, {"version", d.device.nVersion}}},
          {"plan", {{"patient", {"Test <Patient>", "ID 0042", "", ""}},
                    {"period1", {{"start", "07:00"}, {"interval", 30}}},
                    {"period2", {{"start", "22:00"}, {"interval", 60}}}}},
          {"complete", true},
          {"result", "done (1)"},
          {"sets", {{{"mode", 3}, {"records", json::array()}}, {{"mode", 1}, {"records", records}}}},
          // A monitor with SpO2 that stored no samples gives a set without a start.
          {"spo2", {{"head", {{"count", 0}, {"start", nullptr}}}, {"records", json::array()}}}};
}

TEST(JsonInput, ASavedDownloadReadsLikeTheDownloadItself) {
  const SyntheticDownload d = RecorderDownload();
  std::istringstream in(SavedDownload(d).dump());
  const Recording from_json = LoadDownloadJson(in, "download.json");
  const Recording direct = RecordingFromDownload(d.data, d.device);
  ASSERT_EQ(from_json.readings.size(), direct.readings.size());
  for (std::size_t i = 0; i < direct.readings.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(from_json.readings[i].time, direct.readings[i].time);
    EXPECT_EQ(from_json.readings[i].sys, direct.readings[i].sys);
    EXPECT_EQ(from_json.readings[i].dia, direct.readings[i].dia);
    EXPECT_EQ(from_json.readings[i].map, direct.readings[i].map);
    EXPECT_EQ(from_json.readings[i].pulse, direct.readings[i].pulse);
    EXPECT_EQ(from_json.readings[i].device_valid, direct.readings[i].device_valid);
  }
  EXPECT_EQ(from_json.patient, direct.patient);
  EXPECT_EQ(from_json.plan->night_start, direct.plan->night_start);
  EXPECT_EQ(from_json.device->description, direct.device->description);
  EXPECT_EQ(from_json.source, "download.json");
}

std::string JsonError(const nlohmann::json& doc) {
  return ErrorOf([](std::istream& in) { LoadDownloadJson(in, "dl.json"); },
                 doc.is_string() ? doc.get<std::string>() : doc.dump());
}

TEST(JsonInput, ErrorsNameTheMember) {
  const SyntheticDownload d = RecorderDownload();
  nlohmann::json doc = SavedDownload(d);
  doc["sets"][1]["records"][2]["sys"] = "high";
  EXPECT_THAT(JsonError(doc), AllOf(HasSubstr("dl.json"), HasSubstr("sets[1].records[2].sys")));
  doc = SavedDownload(d);
  doc["sets"][1]["records"][0]["press2"] = 70000;
  EXPECT_THAT(JsonError(doc), HasSubstr("sets[1].records[0].press2: 70000 is outside"));
  doc = SavedDownload(d);
  doc["plan"]["period2"]["start"] = "25:00";
  EXPECT_THAT(JsonError(doc), HasSubstr("plan.period2.start"));
  doc = SavedDownload(d);
  doc["sets"][1]["records"] = nlohmann::json::array();
  EXPECT_THAT(JsonError(doc), HasSubstr("no readings"));
  EXPECT_THAT(JsonError(nlohmann::json{{"device", nullptr}}), HasSubstr("missing member 'sets'"));
  doc = SavedDownload(d);
  doc["plan"] = "weekly";
  EXPECT_THAT(JsonError(doc), HasSubstr("plan: missing member 'period1'"));
  doc = SavedDownload(d);
  doc["sets"][1]["records"][0] = 5;
  EXPECT_THAT(JsonError(doc), HasSubstr("sets[1].records[0]: missing member 'time'"));
  EXPECT_THAT(JsonError("{\"sets\": [}"), HasSubstr("not valid JSON"));
}

}  // namespace
