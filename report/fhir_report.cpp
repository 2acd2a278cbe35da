// FHIR R4 export. Codes are LOINC, units UCUM, as the vital-signs profiles
// of FHIR R4 use them; where LOINC has no code for a summary (the day and
// the night means), a local code system says which period a mean is of.

#include <bplink/report/fhir_report.h>

#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace bplink::report {
namespace {

using nlohmann::json;

constexpr const char* kLoinc = "http://loinc.org";
constexpr const char* kUcum = "http://unitsofmeasure.org";
constexpr const char* kCategorySystem = "http://terminology.hl7.org/CodeSystem/observation-category";
constexpr const char* kVitalSignsProfile = "http://hl7.org/fhir/StructureDefinition/vitalsigns";
constexpr const char* kBpProfile = "http://hl7.org/fhir/StructureDefinition/bp";
constexpr const char* kHeartRateProfile = "http://hl7.org/fhir/StructureDefinition/heartrate";
constexpr const char* kOxygenProfile = "http://hl7.org/fhir/StructureDefinition/oxygensat";

constexpr int kIndent = 2;
constexpr const char* kAnonymousCode = "anonymous-patient";
constexpr const char* kAnonymousDisplay = "Patient not identified: the report was given no patient details";

json Coding(const char* code, const char* display, const char* system = kLoinc) {
  return {{"system", system}, {"code", code}, {"display", display}};
}

// Whole numbers are written without a fraction.
json Quantity(double value, const char* unit, const char* code) {
  json number = value;
  if (value == std::floor(value) && std::fabs(value) < 1e9) number = static_cast<std::int64_t>(value);
  return {{"value", number}, {"unit", unit}, {"system", kUcum}, {"code", code}};
}

json Component(json codings, double mmhg) {
  return {{"code", {{"coding", std::move(codings)}}}, {"valueQuantity", Quantity(mmhg, "mmHg", "mm[Hg]")}};
}

json Component(const char* code, const char* display, double mmhg) {
  return Component(json::array({Coding(code, display)}), mmhg);
}

std::string DateTime(const CalendarTime& t, int minutes) {
  const int magnitude = std::abs(minutes);
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02d:%02d", minutes < 0 ? '-' : '+', magnitude / kMinutesPerHour,
                magnitude % kMinutesPerHour);
  return FormatLocalTime(t) + zone;
}

// Entries are named by urn:uuid URIs derived from the recording and the
// entry's position, so the same input always gives the same bundle. The
// version nibble says 8 (a custom, non-random UUID).
class EntryNames {
  static constexpr std::uint64_t kVersionMask = 0xF000;        // the version nibble, in the high half
  static constexpr std::uint64_t kVersion8 = 0x8000;
  static constexpr std::uint64_t kVariantMask = 0xCull << 60;  // the variant bits, in the low half
  static constexpr std::uint64_t kVariantRfc = 0x8ull << 60;
  static constexpr std::uint64_t kSecondHalf = 0x5bd1e995;     // any constant: a second draw from the hash

 public:
  explicit EntryNames(const std::string& seed) {
    for (char c : seed) Mix(static_cast<unsigned char>(c));
  }

  std::string Next() {
    Mix(++count_);
    std::uint64_t high = state_;
    Mix(kSecondHalf);
    std::uint64_t low = state_;
    high = (high & ~kVersionMask) | kVersion8;
    low = (low & ~kVariantMask) | kVariantRfc;
    char text[48];
    std::snprintf(text, sizeof text, "urn:uuid:%08x-%04x-%04x-%04x-%012llx", static_cast<unsigned>(high >> 32),
                  static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
                  static_cast<unsigned>(low >> 48), static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
    return text;
  }

 private:
  // FNV-1a, 64 bits.
  void Mix(std::uint64_t value) {
    constexpr std::uint64_t kPrime = 0x100000001b3ull;
    for (int i = 0; i < 8; ++i) {
      state_ ^= (value >> (8 * i)) & 0xFF;
      state_ *= kPrime;
    }
  }

  std::uint64_t state_ = 0xcbf29ce484222325ull;
  std::uint64_t count_ = 0;
};

struct References {
  std::string patient, device;
};

json VitalSign(const char* profile, json code, const References& refs) {
  return {{"resourceType", "Observation"},
          {"meta", {{"profile", {profile}}}},
          {"status", "final"},
          {"category",
           {{{"coding", {{{"system", kCategorySystem}, {"code", "vital-signs"}, {"display", "Vital Signs"}}}}}}},
          {"code", std::move(code)},
          {"subject", {{"reference", refs.patient}}},
          {"device", {{"reference", refs.device}}}};
}

json PatientResource(const PatientInfo& p) {
  json patient = {{"resourceType", "Patient"}};
  if (p.Empty()) {
    patient["meta"] = {{"tag", {Coding(kAnonymousCode, kAnonymousDisplay, kSummarySystem)}}};
    return patient;
  }
  if (!p.id.empty()) {
    patient["identifier"] = {{{"value", p.id}}};
    if (!p.system.empty()) patient["identifier"][0]["system"] = p.system;
  }
  if (!p.name.empty()) patient["name"] = {{{"text", p.name}}};
  if (!p.sex.empty()) patient["gender"] = p.sex;  // the same four words as FHIR's gender codes
  if (!p.birth_date.empty()) patient["birthDate"] = p.birth_date;
  return patient;
}

json DeviceResource(const Recording& r, const std::string& patient) {
  json device = {{"resourceType", "Device"}, {"patient", {{"reference", patient}}},
                 {"type", {{"text", "Blood pressure monitor"}}}};
  if (!r.device) {
    device["deviceName"] = {{{"name", "blood-pressure monitor (readings from " + r.source + ")"},
                             {"type", "user-friendly-name"}}};
    return device;
  }
  const DeviceSummary& d = *r.device;
  device["deviceName"] = {{{"name", d.description}, {"type", "user-friendly-name"}},
                          {{"name", d.kind}, {"type", "model-name"}}};
  device["modelNumber"] = d.kind + ", " + d.family;
  if (!d.version.empty()) device["version"] = {{{"type", {{"text", "protocol version"}}}, {"value", d.version}}};
  if (!d.serial.empty()) device["serialNumber"] = d.serial;
  return device;
}

// The mean of one period as a panel of its systolic and diastolic means.
json SummaryObservation(const Analysis& a, PeriodIndex p, const References& refs, int offset) {
  struct Codes {
    const char* loinc_panel; const char* panel_display;
    const char* loinc_sys; const char* sys_display;
    const char* loinc_dia; const char* dia_display;
    const char* local; const char* local_display;
  };
  // 24 hours has codes of its own; a day or night mean has only the
  // general "mean" codes, and the local code names the period.
  static constexpr std::array<Codes, kPeriodCount> kCodes = {{
      {"97844-5", "Blood pressure panel 24 hour mean", "8490-5", "Systolic blood pressure 24 hour mean", "8472-3",
       "Diastolic blood pressure 24 hour mean", "24h", "24-hour"},
      {"96607-7", "Blood pressure panel mean systolic and mean diastolic", "96608-5", "Systolic blood pressure mean",
       "96609-3", "Diastolic blood pressure mean", "day", "Daytime"},
      {"96607-7", "Blood pressure panel mean systolic and mean diastolic", "96608-5", "Systolic blood pressure mean",
       "96609-3", "Diastolic blood pressure mean", "night", "Night-time"},
  }};
  // A home study's mean has no LOINC code of its own either.
  static constexpr Codes kHomeCodes = {"96607-7", "Blood pressure panel mean systolic and mean diastolic", "96608-5",
                                       "Systolic blood pressure mean", "96609-3", "Diastolic blood pressure mean",
                                       "home", "Home"};
  const Codes& c = a.kind == ReportKind::kHome ? kHomeCodes : kCodes[p];
  const std::string local = std::string(c.local) + "-mean";
  const std::string local_display = std::string(c.local_display) + " mean blood pressure";
  json obs = VitalSign(kVitalSignsProfile,
                       {{"coding", {Coding(c.loinc_panel, c.panel_display),
                                    {{"system", kSummarySystem}, {"code", local}, {"display", local_display}}}},
                        {"text", local_display}},
                       refs);
  const Reading* first = nullptr;
  const Reading* last = nullptr;
  for (const Reading* r : a.Counted())
    if (p == k24h || r->night == (p == kNight)) {
      if (!first) first = r;
      last = r;
    }
  obs["effectivePeriod"] = {{"start", DateTime(first->time, offset)}, {"end", DateTime(last->time, offset)}};
  const auto part = [&](const char* loinc, const char* display, const char* which, double value) {
    const std::string code = std::string(c.local) + "-" + which + "-mean";
    const std::string text = std::string(c.local_display) + " " + which + " mean";
    return Component(json::array({Coding(loinc, display), {{"system", kSummarySystem}, {"code", code}, {"display", text}}}),
                     std::round(value * 10) / 10);
  };
  obs["component"] = {part(c.loinc_sys, c.sys_display, "systolic", *a.periods[p].sys.mean),
                      part(c.loinc_dia, c.dia_display, "diastolic", *a.periods[p].dia.mean)};
  obs["note"] = {{{"text", "Mean of " + std::to_string(a.periods[p].n) + " readings."}}};
  // Means of a recording that fails a validity criterion (a download that
  // stopped part-way, too few readings, a wrong clock) are no finding.
  if (a.recording.incomplete)
    obs["note"].push_back({{"text", "Incomplete download (" + *a.recording.incomplete +
                                        "): the mean covers only the readings that arrived."}});
  if (!a.interpretable) {
    obs["status"] = "preliminary";
    std::string why;
    for (const std::string& problem : a.validity.problems) why += (why.empty() ? "" : "; ") + problem;
    obs["note"].push_back({{"text", "Not interpretable (" + why + "): the mean is shown as it stands, not as a finding."}});
  }
  return obs;
}

// The physician's signed interpretation of the recording: the report, its
// conclusion the interpretation, resting on every Observation of the bundle.
// No LOINC code names an ambulatory or home blood-pressure report, so the
// local code system names which it is.
json PhysicianReport(const Analysis& a, const SignedVersion& signed_version, const References& refs,
                     const std::vector<std::string>& observations, const UtcOffset& zone, int offset) {
  const bool home = a.kind == ReportKind::kHome;
  const char* display = home ? "Home blood-pressure report" : "Ambulatory blood-pressure report";
  json report = {{"resourceType", "DiagnosticReport"},
                 {"status", SignedStatus(signed_version)},
                 {"code", {{"coding", {{{"system", kSummarySystem}, {"code", home ? "home-report" : "abpm-report"},
                                        {"display", display}}}},
                           {"text", display}}},
                 {"subject", {{"reference", refs.patient}}}};
  const Reading* first = nullptr;
  const Reading* last = nullptr;
  for (const Reading* r : a.Counted()) {
    if (!first) first = r;
    last = r;
  }
  if (first) report["effectivePeriod"] = {{"start", DateTime(first->time, offset)}, {"end", DateTime(last->time, offset)}};
  report["issued"] = DateTime(signed_version.signed_at, zone ? zone(signed_version.signed_at) : MachineUtcOffset(signed_version.signed_at));
  std::string performer = signed_version.signer;
  if (!signed_version.db_role.empty()) performer += " (database role " + signed_version.db_role + ")";
  if (!performer.empty()) report["performer"] = {{{"display", performer}}};
  report["result"] = json::array();
  for (const std::string& url : observations) report["result"].push_back({{"reference", url}});
  if (!signed_version.interpretation.empty()) report["conclusion"] = signed_version.interpretation;
  return report;
}

// A search parameter's value as a URL carries it: unreserved characters as
// they are, every other byte as %XX.
std::string UrlEncoded(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", byte);
      out += hex;
    }
  }
  return out;
}

}  // namespace

json FhirBundle(const Analysis& a, const UtcOffset& zone) {
  const Recording& r = a.recording;
  const int offset = RecordingOffset(a, zone);
  const auto counted = a.Counted();
  EntryNames names(r.source + (counted.empty() ? std::string() : FormatLocalTime(counted.front()->time)));
  json entries = json::array();
  // A transaction creates every entry; the patient only when the receiving
  // record has no patient with that identifier yet.
  const auto add = [&entries, &names](json resource, const std::string& if_none_exist = {}) {
    const std::string url = names.Next();
    json request = {{"method", "POST"}, {"url", resource["resourceType"]}};
    if (!if_none_exist.empty()) request["ifNoneExist"] = if_none_exist;
    entries.push_back({{"fullUrl", url}, {"resource", std::move(resource)}, {"request", std::move(request)}});
    return url;
  };

  References refs;
  // A token search: "system|value" where the identifier has a system.
  const std::string identifier =
      r.subject.id.empty() ? "" : (r.subject.system.empty() ? "" : UrlEncoded(r.subject.system) + "|") + UrlEncoded(r.subject.id);
  refs.patient = add(PatientResource(r.subject), identifier.empty() ? "" : "identifier=" + identifier);
  refs.device = add(DeviceResource(r, refs.patient));
  for (const Reading* reading : counted) {
    const std::string when = DateTime(reading->time, offset);
    json bp = VitalSign(kBpProfile,
                        {{"coding", {Coding("85354-9", "Blood pressure panel with all children optional")}},
                         {"text", "Blood pressure"}},
                        refs);
    bp["effectiveDateTime"] = when;
    bp["component"] = {Component("8480-6", "Systolic blood pressure", reading->sys),
                       Component("8462-4", "Diastolic blood pressure", reading->dia)};
    if (reading->map) bp["component"].push_back(Component("8478-0", "Mean blood pressure", *reading->map));
    add(std::move(bp));
    if (reading->pulse) {
      json hr = VitalSign(kHeartRateProfile, {{"coding", {Coding("8867-4", "Heart rate")}}, {"text", "Heart rate"}}, refs);
      hr["effectiveDateTime"] = when;
      hr["valueQuantity"] = Quantity(*reading->pulse, "beats/minute", "/min");
      add(std::move(hr));
    }
  }
  for (const SpO2Sample& sample : r.spo2) {
    json spo2 = VitalSign(kOxygenProfile,
                          {{"coding",
                            {Coding("2708-6", "Oxygen saturation in Arterial blood"),
                             Coding("59408-5", "Oxygen saturation in Arterial blood by Pulse oximetry")}},
                           {"text", "SpO2"}},
                          refs);
    spo2["effectiveDateTime"] = DateTime(sample.time, offset);
    spo2["valueQuantity"] = Quantity(sample.spo2, "%", "%");
    add(std::move(spo2));
  }
  for (const PeriodIndex p : {k24h, kDay, kNight})
    if (a.periods[p].sys.mean && a.periods[p].dia.mean && (p == k24h || a.kind == ReportKind::kAmbulatory))
      add(SummaryObservation(a, p, refs, offset));
  if (const SignedVersion* signed_version = r.signature ? r.signature->InForce() : nullptr) {
    std::vector<std::string> observations;
    for (const json& entry : entries)
      if (entry["resource"]["resourceType"] == "Observation") observations.push_back(entry["fullUrl"]);
    add(PhysicianReport(a, *signed_version, refs, observations, zone, offset));
  }
  return {{"resourceType", "Bundle"}, {"type", "transaction"}, {"entry", std::move(entries)}};
}

json FhirBundle(const Analysis& analysis, const UtcOffset& offset, const ConditionalCreates& keys) {
  json bundle = FhirBundle(analysis, offset);
  const std::string study_prefix = keys.study_id + "/";
  std::map<std::string, int> seen;  // a key already given, for two entries alike (two readings in one second)
  for (json& entry : bundle["entry"]) {
    json& resource = entry["resource"];
    const std::string type = resource["resourceType"];
    if (type == "Patient") {
      if (!resource.contains("identifier")) throw std::invalid_argument("the patient has no identifier to find it by");
      json& identifier = resource["identifier"][0];
      identifier["system"] = keys.patient_system;
      entry["request"]["ifNoneExist"] = "identifier=" + UrlEncoded(keys.patient_system) + "|" +
                                        UrlEncoded(identifier["value"].get<std::string>());
      continue;
    }
    // The key is appended piece by piece: GCC 12 warns falsely (-Wrestrict)
    // on "-" + std::string here, and the Windows build makes warnings errors.
    std::string key = type;
    const auto append = [&key](char separator, const std::string& part) {
      key += separator;
      key += part;
    };
    if (const auto code = resource.find("code"); code != resource.end())
      for (const json& coding : (*code)["coding"]) append('-', coding["code"].get<std::string>());
    if (const auto when = resource.find("effectiveDateTime"); when != resource.end()) append('@', when->get<std::string>());
    if (const auto period = resource.find("effectivePeriod"); period != resource.end())
      append('@', (*period)["start"].get<std::string>());
    // Each signed version is a report of its own: an amendment is created
    // beside the version it amends, not taken for it.
    if (type == "DiagnosticReport" && analysis.recording.signature && analysis.recording.signature->InForce())
      append('/', std::to_string(analysis.recording.signature->InForce()->version).insert(0, 1, 'v'));
    if (const int n = ++seen[key]; n > 1) append('#', std::to_string(n));
    resource["identifier"] = {{{"system", keys.study_system}, {"value", study_prefix + key}}};
    entry["request"]["ifNoneExist"] =
        "identifier=" + UrlEncoded(keys.study_system) + "|" + UrlEncoded(study_prefix + key);
  }
  return bundle;
}

void WriteFhirReport(const Analysis& analysis, const UtcOffset& offset, std::ostream& out) {
  out << FhirBundle(analysis, offset).dump(kIndent, ' ', false, json::error_handler_t::replace) << '\n';
}

}  // namespace bplink::report
