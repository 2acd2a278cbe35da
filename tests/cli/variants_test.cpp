// Every variant the library decodes, through the built program: each
// simulated device variant downloaded in JSON (to stdout, where nothing else
// may land), CSV, the table and the report. Values are checked in the JSON;
// the other outputs must succeed and hold every reading.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <regex>

#include "program_runner.h"

using ::testing::AnyOf;
using ::testing::Eq;
using ::testing::HasSubstr;

namespace {

constexpr int kRecords = 6;
const std::string kDemoAlarms = "[160,100,95,55,140,85]";  // what a versioned HID device keeps

struct Variant {
  std::string name;
  std::vector<std::string> args;
  std::vector<std::size_t> sets;  // readings in each set the download shows
  int spo2 = -1;                  // samples downloaded; -1: no SpO2 store
  std::string plan{};             // a fragment of the plan's JSON; empty: no plan
  std::string intervals{};        // what `info` lists; empty: not checked
  bool patient_block = false;     // the recorder's console lines are traced
};

const Variant kVariants[] = {
    {"hid_format1", {"--sim", "hid", "--sim-format", "1"}, {6, 0}, -1, R"("period1":{"interval":15)"},
    {"hid_format2", {"--sim", "hid", "--sim-format", "2"}, {6, 0}, -1, R"("start":"07:00")"},
    {"hid_format3", {"--sim", "hid", "--sim-format", "3"}, {6, 0}, -1, R"("patient":["DEMO PATIENT","ID-0042")"},
    {"hid_recorder_variant1", {"--sim", "hid", "--sim-variant", "1"}, {6, 0}},
    {"hid_recorder_v3", {"--sim", "hid", "--sim-version", "3"}, {6, 0}, -1, "07:00", "5, 10, 15, 20, 30, 45, 60"},
    {"hid_recorder_v5", {"--sim", "hid", "--sim-version", "5"}, {6, 0}, -1,
     R"("DR. A. OSEI, WARD 4","REVIEW IN 2 WEEKS"],"patient_values":[72,175])", "5, 10, 15", true},
    {"hid_recorder_v6", {"--sim", "hid", "--sim-version", "6"}, {6, 0}, -1, "WARD 4", "15, 30, 60, 120\n", true},
    {"hid_type2_long_alarms", {"--sim", "hid", "--sim-type", "2", "--sim-version", "3"}, {6}, -1,
     R"("day_warn":{"limits":)" + kDemoAlarms + R"(,"switch":1})", "45, 60, 90, 120"},
    {"hid_type4_short_alarms", {"--sim", "hid", "--sim-type", "4", "--sim-version", "2"}, {6}, -1,
     R"("limits":[160,100,95,55,0,0],"switch":1})"},
    {"hid_type4_long_alarms", {"--sim", "hid", "--sim-type", "4", "--sim-version", "3"}, {6}, -1, kDemoAlarms},
    {"hid_spo2_format1", {"--sim", "hid", "--sim-type", "3", "--sim-spo2-format", "1", "--mode", "2"}, {6}, 6, "07:00"},
    {"hid_spo2_format2", {"--sim", "hid", "--sim-type", "3", "--sim-spo2-format", "2", "--mode", "2"}, {6}, 6, "07:00"},
    {"hid_three_stores", {"--sim", "hid", "--sim-type", "5", "--mode", "7"}, {6, 39, 26}},
    {"kx71_variant1", {"--sim", "kx71", "--sim-variant", "1"}, {6, 1}},
    {"kx71_variant2", {"--sim", "kx71", "--sim-variant", "2"}, {6, 1}, -1, R"("interval":15)"},
    {"kv32_spo2_announced", {"--sim", "kv32", "--sim-spo2", "40", "--mode", "2"}, {6}, 0, "07:00"},
    {"vestra18_all_stores", {"--sim", "vestra18", "--mode", "7"}, {6, 39, 26}},
    {"vestra18_store3", {"--sim", "vestra18", "--mode", "6"}, {0, 0, 26}},
};

void PrintTo(const Variant& v, std::ostream* out) { *out << v.name; }

int Rows(const std::string& text, const std::string& pattern) {
  const std::regex row(pattern);
  return static_cast<int>(std::distance(std::sregex_iterator(text.begin(), text.end(), row), std::sregex_iterator()));
}

class Variants : public ::testing::TestWithParam<Variant> {
 protected:
  ProgramRun Run(std::vector<std::string> args) const {
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    args.insert(args.end(), {"--sim-records", std::to_string(kRecords)});
    return RunProgram(args);
  }
};

TEST_P(Variants, EveryOutputFormatShowsWhatTheDeviceHolds) {
  const Variant& v = GetParam();
  const auto dir = TestDir();
  const ProgramRun json = Run({"download", "--format", "json", "--trace"});
  ASSERT_EQ(json.status, 0) << json.err;
  const auto doc = nlohmann::json::parse(json.out);  // nothing but the JSON on stdout
  WriteText(dir / "d.json", json.out);
  EXPECT_EQ(doc["complete"], true);
  EXPECT_EQ(json.err.find("device console: 0X37, 0X9F") != std::string::npos, v.patient_block);

  // The first set with readings holds the demo readings every variant
  // carries; the two pressures may be filed in either order, not changed.
  const auto baseline = nlohmann::json::parse(RunProgram({"download", "--sim", "hid", "--sim-records",
                                                          std::to_string(kRecords), "--format", "json"}).out);
  ASSERT_EQ(doc["sets"].size(), v.sets.size());
  std::size_t readings = 0;
  for (std::size_t s = 0; s < v.sets.size(); ++s) ASSERT_EQ(doc["sets"][s]["records"].size(), v.sets[s]) << s;
  for (std::size_t n : v.sets) readings += n;
  const auto first = std::find_if(v.sets.begin(), v.sets.end(), [](std::size_t n) { return n > 0; });
  const auto& records = doc["sets"][first - v.sets.begin()]["records"];
  for (std::size_t i = 0; i < kRecords; ++i) {
    const auto& r = records[i];
    const auto& b = baseline["sets"][0]["records"][i];
    EXPECT_EQ(std::tie(r["time"], r["sys"], r["pulse"], r["valid"]), std::tie(b["time"], b["sys"], b["pulse"], b["valid"]));
    EXPECT_EQ(std::minmax(r["press2"].get<int>(), r["press3"].get<int>()),
              std::minmax(b["press2"].get<int>(), b["press3"].get<int>()));
  }
  if (v.name == "hid_format3") {
    EXPECT_EQ(doc["sets"][0]["records"][1]["aux1"], 2);
  }
  const int samples = v.spo2 < 0 ? 0 : v.spo2;
  if (v.spo2 < 0) {
    EXPECT_TRUE(doc["spo2"].is_null());
  } else {
    EXPECT_EQ(doc["spo2"]["records"].size(), static_cast<std::size_t>(v.spo2));
    if (v.spo2 > 1) {
      EXPECT_EQ(doc["spo2"]["records"][1]["offset"], 900);
    }
  }
  if (v.name == "kv32_spo2_announced") {
    EXPECT_EQ(doc["spo2"]["head"]["count"], 40);
  }
  EXPECT_EQ(doc["plan"].is_null(), v.plan.empty());
  EXPECT_THAT(doc["plan"].dump(), HasSubstr(v.plan));

  const ProgramRun csv = Run({"download", "--format", "csv"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(Rows(csv.out, R"(\d{4}-\d\d-\d\dT\d\d:\d\d)"), static_cast<int>(readings) + samples) << csv.out;
  const ProgramRun table = Run({"download"});
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_THAT(Rows(table.out, R"((^|\n)\d{4}-\d\d-\d\d \d\d:\d\d)"),
              AnyOf(Eq(static_cast<int>(readings)), Eq(static_cast<int>(readings) + samples)))
      << table.out;
  const ProgramRun report = RunProgram({"report", (dir / "d.json").string(), "--format", "json"});
  ASSERT_EQ(report.status, 0) << report.err;
  EXPECT_EQ(nlohmann::json::parse(report.out)["readings"]["total"], *first);
  if (!v.intervals.empty()) {
    EXPECT_THAT(Run({"info"}).out, HasSubstr(v.intervals));
  }
}

INSTANTIATE_TEST_SUITE_P(Simulated, Variants, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return info.param.name; });

// Options a run would ignore are refused before anything is touched.
TEST(SimOptions, ThoseThatWouldBeIgnoredAreRefused) {
  const std::pair<std::vector<std::string>, std::string> kRefused[] = {
      {{"download", "--sim", "kx71", "--sim-version", "5"}, "KX71 recorder has no version byte"},
      {{"download", "--sim", "hid", "--sim-type", "2", "--sim-spo2", "5"}, "type 2 has no SpO2 samples"},
      {{"info", "--sim", "vestra16c", "--sim-variant", "1"}, "VESTRA16 monitor has no variant"},
      {{"download", "--sim", "hid", "--sim-type", "5", "--sim-variant", "1"}, "type 5 has no variant"},
      {{"download", "--sim-records", "5", "--sim-format", "2"}, "--sim-records, --sim-format set up a simulated"},
      {{"report", "d.json", "--sim", "hid"}, "`report` reads files"},
      {{"sim", "kv32", "--sim-pace", "5"}, "on a pseudo-terminal"}};
  for (const auto& [args, why] : kRefused) {
    const ProgramRun run = RunProgram(args);
    EXPECT_EQ(run.status, 2) << args[0];
    EXPECT_THAT(run.err, HasSubstr(why));
    EXPECT_EQ(run.out, "");
  }
}

// An in-process device answers at once or never: even the family every
// other probe comes before is found without waiting out a time-out.
TEST(SimOptions, InProcessDetectionWaitsForNothing) {
  const auto start = std::chrono::steady_clock::now();
  const ProgramRun run = RunProgram({"detect", "--sim", "vestra18"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
