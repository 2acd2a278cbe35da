// FHIR R4 export. Codes are LOINC, units UCUM, as the vital-signs profiles
// of FHIR R4 use them.

#include <bplink/report/fhir_report.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <ostream>

namespace bplink::report {
namespace {

using nlohmann::json;

constexpr const char* kLoinc = "http://loinc.org";
constexpr const char* kUcum = "http://unitsofmeasure.org";
constexpr const char* kCategorySystem = "http://terminology.hl7.org/CodeSystem/observation-category";

constexpr int kIndent = 2;

json Coding(const char* code, const char* display) {
  return {{"system", kLoinc}, {"code", code}, {"display", display}};
}

// Whole numbers are written without a fraction.
json Quantity(double value, const char* unit, const char* code) {
  json number = value;
  if (value == std::floor(value) && std::fabs(value) < 1e9) number = static_cast<std::int64_t>(value);
  return {{"value", number}, {"unit", unit}, {"system", kUcum}, {"code", code}};
}

json Component(const char* code, const char* display, double mmhg) {
  return {{"code", {{"coding", {Coding(code, display)}}}}, {"valueQuantity", Quantity(mmhg, "mmHg", "mm[Hg]")}};
}

std::string DateTime(const CalendarTime& t, const UtcOffset& offset) {
  const int minutes = offset(t);
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

json VitalSign(json code, const std::string& when, const std::string& device) {
  return {{"resourceType", "Observation"},
          {"status", "final"},
          {"category",
           {{{"coding", {{{"system", kCategorySystem}, {"code", "vital-signs"}, {"display", "Vital Signs"}}}}}}},
          {"code", std::move(code)},
          {"effectiveDateTime", when},
          {"device", {{"reference", device}}}};
}

json DeviceResource(const Recording& r) {
  const std::string name =
      r.device ? r.device->description : "blood-pressure monitor (readings from " + r.source + ")";
  return {{"resourceType", "Device"}, {"deviceName", {{{"name", name}, {"type", "user-friendly-name"}}}}};
}

}  // namespace

int MachineUtcOffset(const CalendarTime& local) {
  std::tm fields{};
  fields.tm_year = local.year - 1900;
  fields.tm_mon = local.month - 1;
  fields.tm_mday = local.day;
  fields.tm_hour = local.hour;
  fields.tm_min = local.minute;
  fields.tm_sec = local.second;
  fields.tm_isdst = -1;  // let the zone's rules decide
  const std::time_t instant = std::mktime(&fields);
  if (instant == static_cast<std::time_t>(-1)) return 0;
  std::tm utc{};
#if defined(_WIN32)
  if (gmtime_s(&utc, &instant) != 0) return 0;
#else
  if (!gmtime_r(&instant, &utc)) return 0;
#endif
  const CalendarTime as_utc{utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec};
  return static_cast<int>((SecondsOf(local) - SecondsOf(as_utc)) / kSecondsPerMinute);
}

json FhirBundle(const Analysis& a, const UtcOffset& offset) {
  const Recording& r = a.recording;
  const auto counted = a.Counted();
  EntryNames names(r.source + (counted.empty() ? std::string() : FormatLocalTime(counted.front()->time)));
  json entries = json::array();
  const auto add = [&entries, &names](json resource) {
    const std::string url = names.Next();
    entries.push_back({{"fullUrl", url}, {"resource", std::move(resource)}});
    return url;
  };

  const std::string device = add(DeviceResource(r));
  for (const Reading* reading : counted) {
    const std::string when = DateTime(reading->time, offset);
    json bp = VitalSign({{"coding", {Coding("85354-9", "Blood pressure panel with all children optional")}},
                         {"text", "Blood pressure"}},
                        when, device);
    bp["component"] = {Component("8480-6", "Systolic blood pressure", reading->sys),
                       Component("8462-4", "Diastolic blood pressure", reading->dia)};
    if (reading->map) bp["component"].push_back(Component("8478-0", "Mean blood pressure", *reading->map));
    add(std::move(bp));
    if (reading->pulse) {
      json hr = VitalSign({{"coding", {Coding("8867-4", "Heart rate")}}, {"text", "Heart rate"}}, when, device);
      hr["valueQuantity"] = Quantity(*reading->pulse, "beats/minute", "/min");
      add(std::move(hr));
    }
  }
  for (const SpO2Sample& sample : r.spo2) {
    json spo2 = VitalSign({{"coding",
                            {Coding("2708-6", "Oxygen saturation in Arterial blood"),
                             Coding("59408-5", "Oxygen saturation in Arterial blood by Pulse oximetry")}},
                           {"text", "SpO2"}},
                          DateTime(sample.time, offset), device);
    spo2["valueQuantity"] = Quantity(sample.spo2, "%", "%");
    add(std::move(spo2));
  }
  return {{"resourceType", "Bundle"}, {"type", "collection"}, {"entry", std::move(entries)}};
}

void WriteFhirReport(const Analysis& analysis, const UtcOffset& offset, std::ostream& out) {
  out << FhirBundle(analysis, offset).dump(kIndent, ' ', false, json::error_handler_t::replace) << '\n';
}

}  // namespace bplink::report
