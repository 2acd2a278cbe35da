// The FHIR export: what goes in the bundle, and that the bundle is valid R4
// by the official JSON schema.

#include <bplink/report/fhir_report.h>

#include "program_runner.h"
#include "tool_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <set>

namespace {

namespace fs = std::filesystem;
using namespace bplink::report;
using nlohmann::json;

constexpr int kPlusOneHour = 60;

// A recorder's day with oximetry samples, one reading without a pulse.
Analysis RecorderDay() {
  return Analyse(LoadInputFile(std::string(REPORT_TEST_DATA) + "/recorder_day.json"), *FindProfile("esh2023"),
                 std::nullopt);
}

json Bundle(const Analysis& a) {
  return FhirBundle(a, [](const bplink::CalendarTime&) { return kPlusOneHour; });
}

std::vector<json> ByCode(const json& bundle, const std::string& code) {
  std::vector<json> found;
  for (const json& entry : bundle["entry"]) {
    const json& resource = entry["resource"];
    if (resource.contains("code") && resource["code"]["coding"][0]["code"] == code) found.push_back(resource);
  }
  return found;
}

TEST(FhirExport, OneObservationPerCountedReadingWithLoincCodesAndUcumUnits) {
  const Analysis a = RecorderDay();
  const json bundle = Bundle(a);
  EXPECT_EQ(bundle["resourceType"], "Bundle");
  EXPECT_EQ(bundle["type"], "collection");

  const auto counted = a.Counted();
  const auto pressures = ByCode(bundle, "85354-9");
  ASSERT_EQ(pressures.size(), counted.size());
  const json& first = pressures[0];
  EXPECT_EQ(first["effectiveDateTime"], "2024-03-04T09:00:00+01:00");
  const std::pair<const char*, double> components[] = {
      {"8480-6", counted[0]->sys}, {"8462-4", counted[0]->dia}, {"8478-0", *counted[0]->map}};
  for (std::size_t i = 0; i < std::size(components); ++i) {
    EXPECT_EQ(first["component"][i]["code"]["coding"][0]["code"], components[i].first);
    EXPECT_EQ(first["component"][i]["valueQuantity"]["value"], components[i].second);
    EXPECT_EQ(first["component"][i]["valueQuantity"]["code"], "mm[Hg]");
  }

  const auto pulses = ByCode(bundle, "8867-4");
  EXPECT_EQ(pulses.size(), counted.size() - 1) << "one reading has no pulse";
  EXPECT_EQ(pulses[0]["valueQuantity"]["code"], "/min");

  const auto spo2 = ByCode(bundle, "2708-6");
  ASSERT_EQ(spo2.size(), 6u);
  EXPECT_EQ(spo2[0]["code"]["coding"][1]["code"], "59408-5");
  EXPECT_EQ(spo2[0]["valueQuantity"]["code"], "%");
  EXPECT_EQ(spo2[1]["effectiveDateTime"], "2024-03-04T23:00:04+01:00");

  // Every entry has its own name, and every observation points at the device.
  std::set<std::string> urls;
  std::string device;
  for (const json& entry : bundle["entry"]) {
    const std::string url = entry["fullUrl"];
    EXPECT_TRUE(std::regex_match(url, std::regex("urn:uuid:[0-9a-f]{8}-[0-9a-f]{4}-8[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
        << url;
    urls.insert(url);
    if (entry["resource"]["resourceType"] == "Device") device = url;
  }
  EXPECT_EQ(urls.size(), bundle["entry"].size());
  EXPECT_EQ(first["device"]["reference"], device);
  EXPECT_EQ(Bundle(a), bundle) << "the same input gives the same bundle";
}

void SetTimeZone(const char* tz) {
#if defined(_WIN32)
  _putenv_s("TZ", tz);
  _tzset();
#else
  ::setenv("TZ", tz, 1);
  ::tzset();
#endif
}

TEST(FhirExport, MachineOffsetFollowsTheTimeZoneAndItsSummerTime) {
  SetTimeZone("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(MachineUtcOffset({2024, 1, 15, 12, 0, 0}), 60);
  EXPECT_EQ(MachineUtcOffset({2024, 7, 15, 12, 0, 0}), 120);
  SetTimeZone("EST5EDT,M3.2.0,M11.1.0");
  EXPECT_EQ(MachineUtcOffset({2024, 1, 15, 12, 0, 0}), -300);
}

TEST(FhirExport, BundleValidatesAgainstTheR4JsonSchema) {
  const fs::path check = REPORT_FHIR_CHECK;
  if (!HaveCommand("node")) GTEST_SKIP() << "node is not installed; the FHIR schema check needs it";
  if (!fs::is_directory(check / "node_modules"))
    GTEST_SKIP() << "run scripts/setup: it installs the schema validator into " << check / "node_modules";
  const fs::path dir = TestDir();
  const json bundle = Bundle(RecorderDay());
  WriteText(dir / "bundle.json", bundle.dump());
  const std::string validate = "node " + (check / "validate.js").string() + " ";
  EXPECT_EQ(RunCommand(validate + (dir / "bundle.json").string() + " >" + (dir / "log").string() + " 2>&1"), 0)
      << ReadText(dir / "log");

  // The schema does catch what FHIR forbids: a time of day without a zone.
  json zoneless = bundle;
  zoneless["entry"][1]["resource"]["effectiveDateTime"] = "2024-03-04T09:00:00";
  WriteText(dir / "zoneless.json", zoneless.dump());
  EXPECT_EQ(RunCommand(validate + (dir / "zoneless.json").string() + " >/dev/null 2>&1"), 1);
  fs::remove_all(dir);
}

}  // namespace
