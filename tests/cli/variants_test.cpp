// Every variant the library decodes, through the built program: each
// simulated device variant downloaded in JSON (to stdout, where nothing else
// may land), CSV, the table and the report. Values are checked in the JSON;
// the other outputs must succeed and hold every reading.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <regex>

#include "program_runner.h"

using ::testing::HasSubstr;

namespace {

constexpr int kRecords = 6;
const std::string kAlarms = R"("limits":[160,100,95,55,)";  // what a HID device given a version keeps

struct Variant {
  std::string name;
  std::vector<std::string> args;
  std::vector<std::size_t> sets;  // readings in each set the download shows
  int spo2;                       // samples downloaded; -1: no SpO2 store
  std::string holds;              // a piece of the download's JSON
  std::string intervals{};        // what `info` lists; empty: not checked
  bool patient_block = false;     // the recorder's console lines are traced
};
void PrintTo(const Variant& v, std::ostream* out) { *out << v.name; }

const Variant kVariants[] = {
    // Format 1 is the recorder's own (the baseline), format 2 the monitors'.
    {"hid_format3", {"--sim", "hid", "--sim-format", "3"}, {6, 0}, -1, R"("aux1":2,"aux2":199)"},
    {"hid_recorder_variant1", {"--sim", "hid", "--sim-variant", "1"}, {6, 0}, -1, R"("plan":null)"},
    {"hid_recorder_v5", {"--sim", "hid", "--sim-version", "5"}, {6, 0}, -1,
     R"("DR. A. OSEI, WARD 4","REVIEW IN 2 WEEKS"],"patient_values":[72,175])", "5, 10, 15, 20, 30, 45", true},
    {"hid_type4_short_alarms", {"--sim", "hid", "--sim-type", "4", "--sim-version", "2"}, {6}, -1, kAlarms + "0,0]"},
    {"hid_type4_long_alarms", {"--sim", "hid", "--sim-type", "4", "--sim-version", "3"}, {6}, -1, kAlarms + "140,85]"},
    {"hid_spo2_format1", {"--sim", "hid", "--sim-type", "3", "--sim-spo2-format", "1", "--mode", "2"}, {6}, 6,
     R"("offset":900,"pulse":84,"spo2":93)"},
    {"hid_spo2_format2", {"--sim", "hid", "--sim-type", "3", "--mode", "2"}, {6}, 6, R"("offset":900,"pulse":84)"},
    {"hid_three_stores", {"--sim", "hid", "--sim-type", "5", "--mode", "7"}, {6, 39, 26}, -1, R"("plan":null)"},
    // The KX71 recorder's variant 2 (it keeps a plan) is the default the serial sessions use.
    {"kx71_variant1", {"--sim", "kx71", "--sim-variant", "1"}, {6, 1}, -1, R"("plan":null)"},
    {"kv32_spo2_announced", {"--sim", "kv32", "--sim-spo2", "40", "--mode", "2"}, {6}, 0, R"("count":40)"},
    {"vestra18_all_stores", {"--sim", "vestra18", "--mode", "7"}, {6, 39, 26}, -1, R"("plan":null)"},
};

int Rows(const std::string& text, const std::string& pattern) {
  const std::regex row(pattern);
  return static_cast<int>(std::distance(std::sregex_iterator(text.begin(), text.end(), row), std::sregex_iterator()));
}

class Variants : public ::testing::TestWithParam<Variant> {};

TEST_P(Variants, EveryOutputFormatShowsWhatTheDeviceHolds) {
  const Variant& v = GetParam();
  const auto Run = [&v](std::vector<std::string> args) {
    args.insert(args.end(), v.args.begin(), v.args.end());
    args.insert(args.end(), {"--sim-records", std::to_string(kRecords)});
    return RunProgram(args);
  };
  const auto dir = TestDir();
  const ProgramRun json = Run({"download", "--format", "json", "--trace"});
  ASSERT_EQ(json.status, 0) << json.err;
  const auto doc = nlohmann::json::parse(json.out);  // nothing but the JSON on stdout
  WriteText(dir / "d.json", json.out);
  EXPECT_EQ(json.err.find("device console: 0X37, 0X9F") != std::string::npos, v.patient_block);
  EXPECT_THAT(doc.dump(), HasSubstr(v.holds));
  EXPECT_EQ(doc["spo2"].is_null() ? -1 : static_cast<int>(doc["spo2"]["records"].size()), v.spo2);

  // The first set with readings holds the demo readings every variant
  // carries; the two pressures may be filed in either order, not changed.
  const auto baseline = nlohmann::json::parse(RunProgram({"download", "--sim", "hid", "--sim-records",
                                                          std::to_string(kRecords), "--format", "json"}).out);
  ASSERT_EQ(doc["sets"].size(), v.sets.size());
  for (std::size_t s = 0; s < v.sets.size(); ++s) ASSERT_EQ(doc["sets"][s]["records"].size(), v.sets[s]) << s;
  const auto first = std::find_if(v.sets.begin(), v.sets.end(), [](std::size_t n) { return n > 0; });
  for (std::size_t i = 0; i < kRecords; ++i) {
    const auto& r = doc["sets"][first - v.sets.begin()]["records"][i];
    const auto& b = baseline["sets"][0]["records"][i];
    EXPECT_EQ(std::tie(r["time"], r["sys"], r["pulse"], r["valid"]), std::tie(b["time"], b["sys"], b["pulse"], b["valid"]));
    EXPECT_EQ(std::minmax(r["press2"].get<int>(), r["press3"].get<int>()),
              std::minmax(b["press2"].get<int>(), b["press3"].get<int>()));
  }

  // The table lists the readings (SpO2 samples it may list too); CSV has a row for each of both.
  const int readings = static_cast<int>(std::accumulate(v.sets.begin(), v.sets.end(), std::size_t{0}));
  const int samples = std::max(v.spo2, 0);
  const ProgramRun csv = Run({"download", "--format", "csv"}), table = Run({"download"});
  ASSERT_EQ(csv.status + table.status, 0) << csv.err << table.err;
  EXPECT_EQ(Rows(csv.out, R"(\d{4}-\d\d-\d\dT\d\d:\d\d)"), readings + samples) << csv.out;
  EXPECT_THAT(Rows(table.out, R"((^|\n)\d{4}-\d\d-\d\d \d\d:\d\d)"), ::testing::AnyOf(readings, readings + samples));
  const ProgramRun report = RunProgram({"report", (dir / "d.json").string(), "--format", "json"});
  ASSERT_EQ(report.status, 0) << report.err;
  EXPECT_EQ(nlohmann::json::parse(report.out)["readings"]["total"], *first);
  EXPECT_THAT(v.intervals.empty() ? "" : Run({"info"}).out, HasSubstr(v.intervals));
}

INSTANTIATE_TEST_SUITE_P(Simulated, Variants, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return info.param.name; });

// Options a run would ignore are refused before anything is touched; an
// in-process device answers at once, so even the family every other probe
// comes before is found without waiting out a time-out.
TEST(SimOptions, ThoseARunWouldIgnoreAreRefusedAndTheDeviceAnswersAtOnce) {
  const std::pair<std::vector<std::string>, std::string> kRefused[] = {
      {{"download", "--sim", "kx71", "--sim-version", "5"}, "KX71 recorder has no version byte"},
      {{"download", "--sim", "hid", "--sim-type", "2", "--sim-spo2", "5"}, "type 2 has no SpO2 samples"},
      {{"info", "--sim", "vestra16c", "--sim-variant", "1"}, "VESTRA16 monitor has no variant"},
      {{"download", "--sim-records", "5", "--sim-format", "2"}, "--sim-records, --sim-format set up a simulated"},
      {{"report", "d.json", "--sim", "hid"}, "`report` reads files"},
      {{"sim", "kv32", "--sim-pace", "5"}, "on a pseudo-terminal"}};
  for (const auto& [args, why] : kRefused) {
    const ProgramRun run = RunProgram(args);
    EXPECT_EQ(run.status, 2) << args[0];
    EXPECT_THAT(run.err, HasSubstr(why));
    EXPECT_EQ(run.out, "");
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunProgram({"detect", "--sim", "vestra18"}).status, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
