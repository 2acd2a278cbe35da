// Reading recordings: CSV files a person wrote or exported, a download in
// the library's records, and the JSON a download is saved as.

#include <bplink/report/readings.h>
#include <bplink/report/stats.h>

#include "program_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <tuple>

namespace {

using namespace bplink::report;
using bplink::CalendarTime;
using nlohmann::json;
using testing::ElementsAre;
using testing::HasSubstr;

// The message a loader gives for `text`, or "(accepted)".
template <typename Load>
std::string ErrorOf(Load load, const std::string& name, const std::string& text) {
  std::istringstream in(text);
  try {
    load(in, name);
  } catch (const InputError& e) {
    return e.what();
  }
  return "(accepted)";
}

// The JSON loader for one --set choice.
auto JsonSet(SetChoice set = std::nullopt) {
  return [set](std::istream& in, const std::string& name) { return LoadDownloadJson(in, name, set); };
}

// What a reading holds, to compare whole readings at once.
auto Fields(const Reading& r) { return std::tuple(r.time, r.sys, r.dia, r.map, r.pulse, r.awake, r.device_valid); }

TEST(CsvInput, ErrorsNameTheFileTheLineAndTheColumn) {
  const std::pair<const char*, std::vector<const char*>> cases[] = {
      {"time,sys,dia,weight\n2024-03-01T08:00,120,80,70\n", {"rec.csv: line 1", "unknown column 'weight'", "column 4"}},
      {"time,sys\n2024-03-01T08:00,120\n", {"rec.csv: line 1", "missing column 'dia'"}},
      {"time,sys,dia,sys\n", {"rec.csv: line 1", "'sys' appears twice"}},
      {"time,sys,dia\n2024-03-01T08:00,120,80\n\n2024-03-01T08:30,abc,80\n",
       {"rec.csv: line 4: column 'sys'", "'abc' is not a number"}},
      {"time,sys,dia\n2024-03-01T08:00,120\n", {"rec.csv: line 2", "2 fields where the header has 3"}},
      {"time,sys,dia\n2024-02-30T08:00,120,80\n", {"rec.csv: line 2: column 'time'", "2024-02-30T08:00"}},
      {"time,sys,dia\n2024-03-01T08:00,,80\n", {"rec.csv: line 2: column 'sys': empty"}},
      {"time,sys,dia,awake\n2024-03-01T08:00,120,80,yes\n", {"rec.csv: line 2: column 'awake'"}},
      {"time,sys,dia\n2024-03-01T08:00,nan,80\n", {"rec.csv: line 2: column 'sys'"}},
      {"time,sys,dia\n\n  \n", {"rec.csv: no readings", "line 1"}},
      {"\ntime,sys,dia\n", {"rec.csv: no readings", "line 2"}},
      {"", {"rec.csv: empty file"}},
      {"time,sys,dia,valid\n2024-03-01T08:00,120,80,maybe\n", {"line 2: column 'valid'", "neither yes nor no"}},
      {"set,time,sys,dia\nSpO2,2024-03-01T08:00,,\n", {"line 2", "no column 'spo2'"}},
      {"set,time,sys,dia,spo2\nSpO2,2024-03-01T08:00,,,101\n", {"line 2: column 'spo2'", "0 to 100"}},
  };
  for (const auto& [text, parts] : cases) {
    const std::string error = ErrorOf([](std::istream& in, const std::string& n) { return LoadCsv(in, n); }, "rec.csv", text);
    for (const char* part : parts) EXPECT_THAT(error, HasSubstr(part)) << text;
  }
}

TEST(CsvInput, ReadsOptionalColumnsInAnyOrderAsSpreadsheetsWriteThem) {
  std::istringstream in(
      "\xEF\xBB\xBF"
      "Pulse, dia ,time,sys,awake,map\r\n"
      "72,80,\"2024-03-01 08:00\",121.5,0,94\r\n"
      ",79,2024-03-01T08:30:15,119,1,\r\n");
  const Recording r = LoadCsv(in, "sheet.csv");
  ASSERT_EQ(r.readings.size(), 2u);
  EXPECT_EQ(Fields(r.readings[0]), std::tuple(CalendarTime{2024, 3, 1, 8, 0, 0}, 121.5, 80.0, 94.0, 72.0, false, true));
  EXPECT_EQ(Fields(r.readings[1]),
            std::tuple(CalendarTime{2024, 3, 1, 8, 30, 15}, 119.0, 79.0, std::nullopt, std::nullopt, true, true));
  EXPECT_EQ(r.source, "sheet.csv");
  EXPECT_FALSE(r.plan.has_value());
}

TEST(DownloadInput, TheDeviceTypeDecidesWhichSetsAndWhetherThereIsAPlan) {
  _DOWNLOAD_DATAINFO data;
  data.BPSet.vecRecords.resize(4);
  data.ZoneSet1.vecRecords.resize(3);
  std::strcpy(data.Info.szPatientInfo2, "ID 0042");
  data.Info.nPeriod1Hour = 7;
  data.Info.nPeriod2Hour = 22;
  data.SpO2Set = {{3, 2024, 3, 4, 23, 0, 0, 0}, {{95, 60, 0}, {96, 61, 4}, {97, 62, 8}}};

  const Recording recorder = RecordingFromDownload(data, {1, 1, 255, 2, 5});
  EXPECT_EQ(std::tuple(recorder.readings.size(), recorder.plan.has_value(), recorder.spo2.size()), std::tuple(4u, true, 0u));
  EXPECT_THAT(recorder.patient, ElementsAre("ID 0042")) << "empty texts are left out";
  EXPECT_THAT(recorder.device->description, HasSubstr("ambulatory recorder"));
  EXPECT_FALSE(RecordingFromDownload(data, {1, 1, 255, 1, 5}).plan.has_value()) << "the variant without a plan";

  EXPECT_EQ(std::tuple(recorder.set_label, recorder.device->family, recorder.device->version),
            std::tuple("set 1 of 2, the first with readings", "USB HID", "5"));
  data.BPSet2.vecRecords.resize(2);
  const Recording second = RecordingFromDownload(data, {1, 1, 255, 2, 5}, 2);
  EXPECT_EQ(std::tuple(second.readings.size(), second.set_label), std::tuple(2u, "set 2 of 2, as asked"));

  const Recording three_stores = RecordingFromDownload(data, {5, 5, 255, 255, 3});
  EXPECT_EQ(std::tuple(three_stores.readings.size(), three_stores.plan.has_value(), three_stores.patient.size()),
            std::tuple(3u, false, 0u));
  data.ZoneSet1.vecRecords.clear();
  data.ZoneSet3.vecRecords.resize(5);
  const Recording third = RecordingFromDownload(data, {5, 5, 255, 255, 3});
  EXPECT_EQ(std::tuple(third.readings.size(), third.set_label), std::tuple(5u, "store 3 of 3, the first with readings"));
  try {
    RecordingFromDownload(data, {5, 5, 255, 255, 3}, 4);
    ADD_FAILURE() << "store 4 of 3";
  } catch (const InputError& e) {
    EXPECT_THAT(e.what(), HasSubstr("--set 4: this device has stores 1 to 3"));
  }

  const Recording with_spo2 = RecordingFromDownload(data, {3, 7, 255, 255, 0});
  ASSERT_EQ(with_spo2.spo2.size(), 3u);
  const SpO2Sample& sample = with_spo2.spo2[2];
  EXPECT_EQ(std::tuple(sample.time, sample.spo2, sample.pulse), std::tuple(CalendarTime{2024, 3, 4, 23, 0, 8}, 97, 62))
      << "dated at the start plus the offset in seconds";
  EXPECT_EQ(std::tuple(with_spo2.device->family, with_spo2.device->version), std::tuple("KV32 serial", ""));
}

// The download's own route: a record whose diastolic (the lower of its two
// further pressures) is not below its systolic is left out with that reason.
TEST(DownloadInput, AnImpossiblePairIsLeftOutByTheSameRule) {
  _DOWNLOAD_DATAINFO data;
  data.BPSet.vecRecords.resize(2);
  for (_BP_RECORD& r : data.BPSet.vecRecords) r.nYear = 2024, r.wMonth = 3, r.wDay = 4, r.wHour = 9;
  data.BPSet.vecRecords[0].nSys = 128, data.BPSet.vecRecords[0].wPress2 = 81, data.BPSet.vecRecords[0].wPress3 = 96;
  data.BPSet.vecRecords[1].nSys = 90, data.BPSet.vecRecords[1].wPress2 = 120, data.BPSet.vecRecords[1].wPress3 = 100;
  const Recording r = RecordingFromDownload(data, {1, 1, 255, 2, 5});
  EXPECT_EQ(ExclusionReason(r.readings[0]), "");
  EXPECT_EQ(ExclusionReason(r.readings[1]), "diastolic not below systolic");
}

TEST(DownloadInput, PatientTextsBeyondAsciiBecomeUtf8) {
  const char field[5] = {'J', static_cast<char>(0xF6), 'r', 'g', '\0'};
  EXPECT_EQ(TextFromDevice(field, sizeof field), "J\xC3\xB6rg");
  const char unterminated[3] = {'a', 'b', 'c'};
  EXPECT_EQ(TextFromDevice(unterminated, sizeof unterminated), "abc");
}

// A day of a recorder as `bplink download --format json` saves it
// (report/README.md): diastolic and mean pressure in both orders, the
// device's invalid mark as a number and as true/false, a pulse of 0, an
// empty first set, and oximetry samples.
const std::string kRecorderDay = std::string(REPORT_TEST_DATA) + "/recorder_day.json";

TEST(JsonInput, ReadsTheShapeADownloadIsSavedIn) {
  const Recording r = LoadInputFile(kRecorderDay);  // JSON by its first character
  ASSERT_EQ(r.readings.size(), 16u);
  const auto none = std::nullopt;
  const auto at = [](int hour, int minute) { return CalendarTime{2024, 3, 4, hour, minute, 0}; };
  EXPECT_EQ(Fields(r.readings[0]), std::tuple(at(9, 0), 128.0, 81.0, 96.0, 72.0, none, true));
  EXPECT_EQ(Fields(r.readings[1]), std::tuple(at(9, 30), 134.0, 85.0, 101.0, 76.0, none, true));
  EXPECT_EQ(Fields(r.readings[3]), std::tuple(at(10, 30), 126.0, 80.0, 95.0, none, none, true));
  EXPECT_FALSE(r.readings[4].device_valid || r.readings[11].device_valid);
  EXPECT_THAT(r.patient, ElementsAre("Test <Patient>", "ID 0042"));
  EXPECT_EQ(std::pair(r.plan.value().day_start, r.plan.value().night_start), std::pair(7 * 60, 22 * 60));
  EXPECT_THAT(r.device->description, HasSubstr("ambulatory recorder"));
  ASSERT_EQ(r.spo2.size(), 6u);
  EXPECT_EQ(std::pair(r.spo2[1].time, r.spo2[1].spo2), std::pair(CalendarTime{2024, 3, 4, 23, 0, 4}, 94));
  EXPECT_EQ(r.source, kRecorderDay);
  EXPECT_EQ(r.set_label, "set 2 of 2, the first with readings");
  EXPECT_EQ(LoadInputFile(kRecorderDay, 2).set_label, "set 2 of 2, as asked");
  EXPECT_THROW(LoadInputFile(std::string(REPORT_TEST_DATA) + "/synthetic_clock.csv", 2), InputError);
}

TEST(JsonInput, ErrorsNameTheFileAndTheMember) {
  const std::pair<std::function<void(json&)>, const char*> cases[] = {
      {[](json& d) { d["sets"][1]["records"][2]["sys"] = "high"; }, "sets[1].records[2].sys: expected an integer"},
      {[](json& d) { d["sets"][1]["records"][0]["press2"] = 70000; }, "sets[1].records[0].press2: 70000 is outside"},
      {[](json& d) { d["plan"]["period2"]["start"] = "25:00"; }, "dl.json: plan.period2.start"},
      {[](json& d) { d["plan"] = "weekly"; }, "dl.json: plan: missing member 'period1'"},
      {[](json& d) { d["sets"][1]["records"][0] = 5; }, "dl.json: sets[1].records[0]: missing member 'time'"},
      {[](json& d) { d["sets"][1]["records"] = json::array(); }, "dl.json: no readings"},
      {[](json& d) { d = {{"device", nullptr}}; }, "dl.json: (top level): missing member 'sets'"},
      {[](json& d) { d["spo2"]["records"][0].erase("offset"); }, "dl.json: spo2.records[0]: missing member 'offset'"},
      {[](json& d) { d["complete"] = "no"; }, "dl.json: complete: expected true or false"},
      {[](json& d) { d["downloaded_at"] = "today"; }, "dl.json: downloaded_at: expected a local time"},
      // A monitor with SpO2 that stored no samples saves a set without a start.
      {[](json& d) { d["spo2"] = {{"head", {{"count", 0}, {"start", nullptr}}}, {"records", json::array()}}; },
       "(accepted)"},
  };
  for (const auto& [spoil, message] : cases) {
    json doc = ReadJson(kRecorderDay);
    spoil(doc);
    EXPECT_THAT(ErrorOf(JsonSet(), "dl.json", doc.dump()), HasSubstr(message));
  }
  EXPECT_THAT(ErrorOf(JsonSet(), "dl.json", "{\"sets\": [}"), HasSubstr("dl.json: not valid JSON"));
  const std::string day = ReadText(kRecorderDay);
  EXPECT_THAT(ErrorOf(JsonSet(3), "dl.json", day), HasSubstr("dl.json: --set 3: the download has sets 1 to 2"));
  EXPECT_THAT(ErrorOf(JsonSet(1), "dl.json", day), HasSubstr("dl.json: no readings: set 1 is empty"));
}

TEST(PatientInput, MembersAreOptionalTextsWithADateAndASexFromTheirLists) {
  std::istringstream in(R"({"name": "Jörg Test", "id": "7", "birth_date": "1960-02-29", "sex": "male", "ward": 3})");
  const PatientInfo p = LoadPatientJson(in, "p.json");
  EXPECT_EQ(std::tuple(p.name, p.id, p.birth_date, p.sex), std::tuple("Jörg Test", "7", "1960-02-29", "male"));
  const std::pair<const char*, const char*> cases[] = {
      {R"({"sex": "f"})", "p.json: sex 'f' is not one of female, male, other, unknown"},
      {R"({"birth_date": "1961-02-29"})", "p.json: birth date '1961-02-29' is not a date YYYY-MM-DD like 1960-05-31"},
      {R"({"birth_date": "1960-2-9"})", "birth date '1960-2-9'"},
      {R"({"name": 5})", "p.json: name: expected a text, found 5"},
      {R"([1])", "p.json: expected a JSON object"},
      {R"({"name": )", "p.json: not valid JSON"},
  };
  for (const auto& [text, message] : cases)
    EXPECT_THAT(ErrorOf(LoadPatientJson, "p.json", text), HasSubstr(message)) << text;
}

}  // namespace
