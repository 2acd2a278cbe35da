// The FHIR export: what goes in the transaction, and that every bundle,
// the ten real recordings' included, passes the official R4 JSON schema and
// the vital-signs profiles' FHIRPath rules (fhir/validate.js).

#include <bplink/report/fhir_report.h>
#include <bplink/report/report.h>

#include "program_runner.h"
#include "tool_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace bplink::report;
using nlohmann::json;
using testing::HasSubstr;

constexpr int kPlusOneHour = 60;
const UtcOffset kOffset = [](const bplink::CalendarTime&) { return kPlusOneHour; };

// A recorder's day with oximetry samples, one reading without a pulse.
Analysis RecorderDay(PatientInfo subject = {}) {
  Recording r = LoadInputFile(std::string(REPORT_TEST_DATA) + "/recorder_day.json");
  r.subject = std::move(subject);
  return Analyse(std::move(r), *FindProfile("esh2023"), std::nullopt);
}

const PatientInfo kPatient{"Test Person", "MRN 0042/7", "1960-05-31", "female"};

// The recorder's day signed: version 1, or amended as version 2.
Analysis SignedDay(int versions, bool amending = false) {
  Recording r = LoadInputFile(std::string(REPORT_TEST_DATA) + "/recorder_day.json");
  r.subject = kPatient;
  Signature signature;
  for (int v = 1; v <= versions; ++v)
    signature.versions.push_back({v, "Version " + std::to_string(v) + ": normal.", "weber", v == 1 ? "dr_weber" : "",
                                  "desk 2", {2024, 3, 6, 9 + v, 0, 0}, std::string(64, static_cast<char>('0' + v))});
  signature.amending = amending;
  r.signature = signature;
  return Analyse(std::move(r), *FindProfile("esh2023"), std::nullopt);
}

std::vector<json> ByCode(const json& bundle, const std::string& code) {
  std::vector<json> found;
  for (const json& entry : bundle["entry"]) {
    const json& resource = entry["resource"];
    if (resource.contains("code") && resource["code"]["coding"][0]["code"] == code) found.push_back(resource);
  }
  return found;
}

json ResourceOf(const json& bundle, const std::string& type, std::string* url = nullptr) {
  for (const json& entry : bundle["entry"])
    if (entry["resource"]["resourceType"] == type) {
      if (url) *url = entry["fullUrl"];
      return entry["resource"];
    }
  return nullptr;
}

double Tenths(std::optional<double> v) { return std::round(*v * 10) / 10; }

TEST(FhirExport, TransactionOfPatientDeviceReadingsAndPeriodMeansEveryObservationWithItsSubject) {
  const Analysis a = RecorderDay(kPatient);
  const json bundle = FhirBundle(a, kOffset);
  EXPECT_EQ(bundle["type"], "transaction");
  const auto counted = a.Counted();
  // Patient, Device, 13 readings, 12 pulses, 6 oximetry samples, 3 means.
  ASSERT_EQ(bundle["entry"].size(), 2u + 13 + 12 + 6 + 3);

  std::string patient, device;
  const json p = ResourceOf(bundle, "Patient", &patient);
  EXPECT_EQ(p["identifier"][0]["value"], "MRN 0042/7");
  EXPECT_EQ(std::tuple(p["name"][0]["text"], p["birthDate"], p["gender"]),
            std::tuple("Test Person", "1960-05-31", "female"));
  EXPECT_EQ(bundle["entry"][0]["request"]["ifNoneExist"], "identifier=MRN%200042%2F7") << "no second copy";
  const json d = ResourceOf(bundle, "Device", &device);
  EXPECT_EQ(d["modelNumber"], "ambulatory recorder, USB HID");
  EXPECT_EQ(d["version"][0]["value"], "5");
  EXPECT_EQ(d["patient"]["reference"], patient);

  const auto pressures = ByCode(bundle, "85354-9");
  ASSERT_EQ(pressures.size(), counted.size());
  const json& first = pressures[0];
  EXPECT_EQ(first["meta"]["profile"][0], "http://hl7.org/fhir/StructureDefinition/bp");
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
  EXPECT_EQ(pulses[0]["meta"]["profile"][0], "http://hl7.org/fhir/StructureDefinition/heartrate");
  const auto spo2 = ByCode(bundle, "2708-6");
  ASSERT_EQ(spo2.size(), 6u);
  EXPECT_EQ(spo2[1]["effectiveDateTime"], "2024-03-04T23:00:04+01:00");

  // The means: 24 hours by its own LOINC codes, day and night by the
  // general mean codes and the local code of the period.
  const std::tuple<const char*, const char*, const char*, const char*, PeriodIndex> means[] = {
      {"97844-5", "24h-mean", "8490-5", "8472-3", k24h},
      {"96607-7", "day-mean", "96608-5", "96609-3", kDay},
      {"96607-7", "night-mean", "96608-5", "96609-3", kNight}};
  const auto panels = ByCode(bundle, "96607-7");
  ASSERT_EQ(panels.size(), 2u);
  for (const auto& [panel, local, sys, dia, period] : means) {
    SCOPED_TRACE(local);
    const json m = period == k24h ? ByCode(bundle, panel).at(0) : panels[period == kDay ? 0 : 1];
    EXPECT_EQ(m["code"]["coding"][1], json({{"system", kSummarySystem}, {"code", local},
                                            {"display", m["code"]["text"]}}));
    EXPECT_EQ(m["component"][0]["code"]["coding"][0]["code"], sys);
    EXPECT_EQ(m["component"][1]["code"]["coding"][0]["code"], dia);
    EXPECT_EQ(m["component"][0]["valueQuantity"]["value"], Tenths(a.periods[period].sys.mean));
    EXPECT_EQ(m["component"][1]["valueQuantity"]["value"], Tenths(a.periods[period].dia.mean));
  }
  EXPECT_EQ(panels[1]["effectivePeriod"], json({{"start", "2024-03-04T22:00:00+01:00"},
                                                {"end", "2024-03-05T05:00:00+01:00"}}));

  // Every entry has its own name; every observation names the patient and the device.
  std::set<std::string> urls;
  for (const json& entry : bundle["entry"]) {
    const std::string url = entry["fullUrl"];
    EXPECT_TRUE(std::regex_match(url, std::regex("urn:uuid:[0-9a-f]{8}-[0-9a-f]{4}-8[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
        << url;
    urls.insert(url);
    EXPECT_EQ(entry["request"]["method"], "POST");
    if (entry["resource"]["resourceType"] != "Observation") continue;
    EXPECT_EQ(entry["resource"]["subject"]["reference"], patient);
    EXPECT_EQ(entry["resource"]["device"]["reference"], device);
  }
  EXPECT_EQ(urls.size(), bundle["entry"].size());
  EXPECT_EQ(FhirBundle(a, kOffset), bundle) << "the same input gives the same bundle";

  // Without patient details the subject is an anonymous Patient, tagged so.
  const json anonymous = FhirBundle(RecorderDay(), kOffset);
  EXPECT_EQ(anonymous["entry"][0]["resource"], json::parse(R"({"resourceType": "Patient", "meta": {"tag": [{"system":
      "urn:bplink:fhir:abpm", "code": "anonymous-patient", "display": "Patient not identified: the report was given no patient details"}]}})"));
  EXPECT_FALSE(anonymous["entry"][0]["request"].contains("ifNoneExist"));
}

// The physician's signed interpretation: a DiagnosticReport resting on
// every Observation of the bundle, final for version 1, amended after, and
// none while an amendment waits to be signed; each version its own key.
TEST(FhirExport, TheSignedInterpretationIsADiagnosticReportFinalThenAmended) {
  const json first = FhirBundle(SignedDay(1), kOffset);
  std::string patient;
  ResourceOf(first, "Patient", &patient);
  const json report = ResourceOf(first, "DiagnosticReport");
  ASSERT_FALSE(report.is_null());
  EXPECT_EQ(report["status"], "final");
  EXPECT_EQ(report["conclusion"], "Version 1: normal.");
  EXPECT_EQ(report["performer"][0]["display"], "weber (database role dr_weber)");
  EXPECT_EQ(report["issued"], "2024-03-06T10:00:00+01:00");
  EXPECT_EQ(report["subject"]["reference"], patient);
  std::set<std::string> observations, results;
  for (const json& entry : first["entry"])
    if (entry["resource"]["resourceType"] == "Observation") observations.insert(entry["fullUrl"]);
  for (const json& result : report["result"]) results.insert(result["reference"]);
  EXPECT_EQ(results, observations);
  EXPECT_EQ(first["entry"].back()["resource"]["resourceType"], "DiagnosticReport") << "after what it rests on";

  const json amended = FhirBundle(SignedDay(2), kOffset);
  EXPECT_EQ(ResourceOf(amended, "DiagnosticReport")["status"], "amended");
  EXPECT_EQ(ResourceOf(amended, "DiagnosticReport")["conclusion"], "Version 2: normal.");
  EXPECT_TRUE(ResourceOf(FhirBundle(SignedDay(2, true), kOffset), "DiagnosticReport").is_null())
      << "inputs changed since version 2: no signed report yet";
  EXPECT_TRUE(ResourceOf(FhirBundle(RecorderDay(kPatient), kOffset), "DiagnosticReport").is_null());

  // Sent as conditional creates, each version is a report of its own.
  const ConditionalCreates keys{"urn:clinic:mrn", "urn:bplink:study", "S-7"};
  const auto key = [&keys](const Analysis& a) {
    return ResourceOf(FhirBundle(a, kOffset, keys), "DiagnosticReport")["identifier"][0]["value"].get<std::string>();
  };
  EXPECT_THAT(key(SignedDay(1)), testing::StartsWith("S-7/DiagnosticReport-abpm-report@2024-03-04T09:00:00+01:00"));
  EXPECT_THAT(key(SignedDay(1)), testing::EndsWith("/v1"));
  EXPECT_THAT(key(SignedDay(2)), testing::EndsWith("/v2"));
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

TEST(FhirExport, UtcOffsetsFromTheOptionOrTheMachinesZoneAndItsSummerTime) {
  const std::pair<const char*, std::optional<int>> offsets[] = {
      {"+01:00", 60}, {"-05:30", -330}, {"Z", 0}, {"UTC", 0}, {"+14:00", 840},
      {"+1:00", std::nullopt}, {"01:00", std::nullopt}, {"+15:00", std::nullopt}, {"+01:60", std::nullopt}};
  for (const auto& [text, minutes] : offsets) EXPECT_EQ(ParseUtcOffset(text), minutes) << text;

  SetTimeZone("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(MachineUtcOffset({2024, 1, 15, 12, 0, 0}), 60);
  EXPECT_EQ(MachineUtcOffset({2024, 7, 15, 12, 0, 0}), 120);
  SetTimeZone("EST5EDT,M3.2.0,M11.1.0");
  EXPECT_EQ(MachineUtcOffset({2024, 1, 15, 12, 0, 0}), -300);
}

// A recorder keeps one clock through the spring change to summer time: its
// 02:00 (an hour the zone skips) and 03:00 are an hour apart, and every time
// of the recording takes the offset it began with.
TEST(FhirExport, TimesAcrossTheSpringChangeStayAnHourApart) {
  SetTimeZone("CET-1CEST,M3.5.0,M10.5.0/3");
  std::istringstream csv("time,sys,dia\n2024-03-31T01:00,120,80\n2024-03-31T02:00,118,78\n"
                         "2024-03-31T03:00,119,79\n2024-03-31T04:00,121,81\n");
  const Analysis a = Analyse(LoadCsv(csv, "spring.csv"), *FindProfile("esh2023"), std::nullopt);
  const json bundle = FhirBundle(a, MachineUtcOffset);
  std::vector<std::string> times;
  for (const json& reading : ByCode(bundle, "85354-9")) times.push_back(reading["effectiveDateTime"]);
  // The offset the zone has at 01:00 (Windows' C library takes its summer
  // time rules from its own table, not from TZ), the same for all four.
  char zone[16];
  const int offset = MachineUtcOffset({2024, 3, 31, 1, 0, 0});
  std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', std::abs(offset) / 60, std::abs(offset) % 60);
  EXPECT_THAT(times, testing::ElementsAre(std::string("2024-03-31T01:00:00") + zone, std::string("2024-03-31T02:00:00") + zone,
                                          std::string("2024-03-31T03:00:00") + zone, std::string("2024-03-31T04:00:00") + zone));
#if !defined(_WIN32)
  EXPECT_STREQ(zone, "+01:00");
#endif
}

// One run of the checker over every bundle: the recorder's day with and
// without a patient, each real recording, and bundles broken on purpose,
// which the schema or the profile rules must each catch.
TEST(FhirExport, EveryBundlePassesTheR4SchemaAndTheVitalSignsProfiles) {
  const fs::path check = REPORT_FHIR_CHECK;
  if (!HaveCommand("node")) GTEST_SKIP() << "node is not installed; the FHIR checks need it";
  if (!fs::is_directory(check / "node_modules"))
    GTEST_SKIP() << "run scripts/setup: it installs the schema validator and fhirpath into " << check / "node_modules";
  const fs::path dir = TestDir();
  std::vector<fs::path> good;
  const auto write = [&dir](const std::string& name, const json& bundle) {
    WriteText(dir / name, bundle.dump());
    return dir / name;
  };
  const json day = FhirBundle(RecorderDay(kPatient), kOffset);
  good.push_back(write("day.json", day));
  good.push_back(write("anonymous.json", FhirBundle(RecorderDay(), kOffset)));
  const json signed_day = FhirBundle(SignedDay(1), kOffset);
  good.push_back(write("signed.json", signed_day));
  good.push_back(write("amended.json", FhirBundle(SignedDay(2), kOffset)));
  if (fs::is_directory(REPORT_ABPM_DATA))
    for (const auto& entry : fs::directory_iterator(REPORT_ABPM_DATA)) {
      if (entry.path().extension() != ".csv") continue;
      ReportOptions options;
      options.input = entry.path().string();
      options.format = ReportFormat::kFhir;
      options.utc_offset = kOffset;
      options.output = (dir / entry.path().filename()).replace_extension(".json").string();
      std::ostringstream out, err;
      ASSERT_EQ(RunReport(options, out, err), kReportOk) << err.str();
      good.push_back(options.output);
    }

  const std::pair<std::function<void(json&)>, const char*> spoilt[] = {
      {[](json& b) { b["entry"][2]["resource"]["effectiveDateTime"] = "2024-03-04T09:00:00"; }, "schema"},
      {[](json& b) { b["entry"][2]["resource"].erase("subject"); }, "Observation: subject"},
      {[](json& b) { b["entry"][2]["resource"]["component"][1]["valueQuantity"]["code"] = "mmHg"; },
       "bp diastolic 8462-4 in mm[Hg]"},
      {[](json& b) { b["entry"][3]["resource"]["meta"]["profile"][0] = "http://example.org/other"; },
       "Observation: meta.profile"},
      {[](json& b) { b["entry"][3]["resource"].erase("valueQuantity"); }, "vs-2"},
      {[](json& b) { b["type"] = "collection"; }, "Bundle: transaction"},
  };
  // The signed report, spoilt: each a rule of its own.
  const std::pair<std::function<void(json&)>, const char*> spoilt_report[] = {
      {[](json& r) { r["status"] = "preliminary"; }, "DiagnosticReport: status final or amended"},
      {[](json& r) { r["result"].erase(0); }, "DiagnosticReport: every Observation a result"},
      {[](json& r) { r["result"].push_back({{"reference", "urn:uuid:00000000-0000-8000-8000-000000000000"}}); },
       "DiagnosticReport: result is Observations of the bundle"},
      {[](json& r) { r.erase("performer"); }, "DiagnosticReport: performer"},
  };
  std::string command = "node " + (check / "validate.js").string();
  // Appended piecewise: GCC 12 at -O3 warns falsely on " " + std::string&&.
  for (const fs::path& file : good) command.append(" ").append(file.string());
  std::vector<const char*> expected;
  for (std::size_t i = 0; i < std::size(spoilt); ++i) {
    json bundle = day;
    spoilt[i].first(bundle);
    command.append(" ").append(write("spoilt" + std::to_string(i) + ".json", bundle).string());
    expected.push_back(spoilt[i].second);
  }
  for (const auto& [spoil, rule] : spoilt_report) {
    json bundle = signed_day;
    spoil(bundle["entry"].back()["resource"]);
    command.append(" ").append(write("spoilt" + std::to_string(expected.size()) + ".json", bundle).string());
    expected.push_back(rule);
  }
  EXPECT_EQ(RunCommand(command + " >" + (dir / "out").string() + " 2>" + (dir / "err").string()), 1);
  const std::string out = ReadText(dir / "out"), err = ReadText(dir / "err");
  for (const fs::path& file : good) EXPECT_THAT(out, HasSubstr(file.string() + ": valid FHIR R4 Bundle")) << err;
  // What the checker says of one file runs to the next file's name.
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const std::string file = (dir / ("spoilt" + std::to_string(i) + ".json")).string();
    const auto at = err.find(file + ": ");
    ASSERT_NE(at, std::string::npos) << file << " passed\n" << err;
    EXPECT_THAT(err.substr(at, err.find(dir.string(), at + 1) - at), HasSubstr(expected[i]));
  }
  EXPECT_EQ(good.size(), fs::is_directory(REPORT_ABPM_DATA) ? 14u : 4u) << "the ten real recordings, when here";
  fs::remove_all(dir);
}

}  // namespace
