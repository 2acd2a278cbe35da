#include "plan_file.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <set>

#include <bplink/report/readings.h>

namespace bplink::cli {
namespace {

using nlohmann::json;

// Limits of what the devices store: one byte per value, 16 bits for
// option 3, and intervals no longer than the longest any device offers.
constexpr int kByteMax = 255;
constexpr int kWordMax = 0xFFFF;
constexpr int kIntervalMax = 240;
constexpr int kHoursPerDay = 24, kMinutesPerHour = 60;
constexpr int kUnset = 0xFF;  // what a device sends for "none"
constexpr int kPatientTexts = 4;
constexpr int kPatientValues = 2;
constexpr int kOptions = 4;
constexpr int kLimits = 6;

bool Unset(int value) { return value < 0 || value == kUnset; }

std::string Clock(int hour, int minute) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d", hour, minute);
  return text;
}

json Period(int hour, int minute, int interval) {
  return {{"start", Clock(hour, minute)}, {"interval", Unset(interval) ? 0 : interval}};
}

json Warn(const _WARN_GROUP& g) {
  return {{"switch", g.nWarnSwitch},
          {"limits", {g.nLimit1, g.nLimit2, g.nLimit3, g.nLimit4, g.nLimit5, g.nLimit6}}};
}

class PlanReader {
 public:
  explicit PlanReader(std::string name) : name_(std::move(name)) {}

  [[noreturn]] void Fail(const std::string& field, const std::string& what) const {
    throw PlanError(name_ + ": " + field + ": " + what);
  }

  void OnlyMembers(const json& object, const std::string& path, std::set<std::string> known) const {
    if (!object.is_object()) Fail(path, "expected an object, found " + object.dump());
    for (const auto& [key, value] : object.items())
      if (!known.count(key)) Fail(path.empty() ? key : path + "." + key, "unknown field");
  }

  int Integer(const json& value, const std::string& field, int low, int high) const {
    if (!value.is_number_integer()) Fail(field, "expected a whole number, found " + value.dump());
    const auto n = value.get<long long>();
    if (n < low || n > high)
      Fail(field, value.dump() + " is out of range " + std::to_string(low) + ".." + std::to_string(high));
    return static_cast<int>(n);
  }

  // "HH:MM"
  std::pair<int, int> Clock(const json& value, const std::string& field) const {
    int hour = -1, minute = -1;
    char rest = 0;
    if (!value.is_string() ||
        std::sscanf(value.get<std::string>().c_str(), "%d:%d%c", &hour, &minute, &rest) != 2)
      Fail(field, "expected a time of day like \"07:30\", found " + value.dump());
    if (hour < 0 || hour >= kHoursPerDay) Fail(field, "hour " + std::to_string(hour) + " is out of range 0..23");
    if (minute < 0 || minute >= kMinutesPerHour)
      Fail(field, "minute " + std::to_string(minute) + " is out of range 0..59");
    return {hour, minute};
  }

  const json& Array(const json& value, const std::string& field, std::size_t most) const {
    if (!value.is_array()) Fail(field, "expected a list, found " + value.dump());
    if (value.size() > most) Fail(field, "at most " + std::to_string(most) + " entries");
    return value;
  }

  // UTF-8 in the file, single bytes on the device: Latin-1 is what the
  // download shows them as, so a downloaded plan uploads back unchanged.
  void Text(const json& value, const std::string& field, char* to, std::size_t size) const {
    if (!value.is_string()) Fail(field, "expected a text, found " + value.dump());
    std::string bytes;
    const std::string text = value.get<std::string>();
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      if (c < 0x80) {
        bytes.push_back(static_cast<char>(c));
      } else if ((c & 0xFE) == 0xC2 && i + 1 < text.size()) {
        bytes.push_back(static_cast<char>(((c & 0x03) << 6) | (text[++i] & 0x3F)));
      } else {
        Fail(field, "only Latin-1 characters can be stored on the device");
      }
    }
    if (bytes.size() > size - 1)
      Fail(field, "too long: " + std::to_string(bytes.size()) + " characters, the device keeps " +
                      std::to_string(size - 1));
    std::memset(to, 0, size);
    std::memcpy(to, bytes.data(), bytes.size());
  }

  void Period(const json& value, const std::string& field, int& hour, int& minute, int& interval) const {
    OnlyMembers(value, field, {"start", "interval"});
    if (value.contains("start")) std::tie(hour, minute) = Clock(value["start"], field + ".start");
    if (value.contains("interval")) interval = Integer(value["interval"], field + ".interval", 0, kIntervalMax);
  }

  void Warn(const json& value, const std::string& field, _WARN_GROUP& g) const {
    OnlyMembers(value, field, {"switch", "limits"});
    if (value.contains("switch")) g.nWarnSwitch = Integer(value["switch"], field + ".switch", 0, 1);
    if (!value.contains("limits")) return;
    const json& limits = Array(value["limits"], field + ".limits", kLimits);
    int* to[kLimits] = {&g.nLimit1, &g.nLimit2, &g.nLimit3, &g.nLimit4, &g.nLimit5, &g.nLimit6};
    for (std::size_t i = 0; i < limits.size(); ++i)
      *to[i] = Integer(limits[i], field + ".limits[" + std::to_string(i) + "]", 0, kByteMax);
  }

  _BP_TRANSPORT_INFO Plan(const json& doc) const {
    _BP_TRANSPORT_INFO plan;
    OnlyMembers(doc, "", {"patient", "patient_values", "start", "period1", "period2", "extra", "options",
                          "day_warn", "night_warn", "warn_switch"});
    if (doc.contains("patient")) {
      const json& texts = Array(doc["patient"], "patient", kPatientTexts);
      const std::array<std::pair<char*, std::size_t>, kPatientTexts> fields{
          {{plan.szPatientInfo1, sizeof plan.szPatientInfo1},
           {plan.szPatientInfo2, sizeof plan.szPatientInfo2},
           {plan.szPatientInfo3, sizeof plan.szPatientInfo3},
           {plan.szPatientInfo4, sizeof plan.szPatientInfo4}}};
      for (std::size_t i = 0; i < texts.size(); ++i)
        Text(texts[i], "patient[" + std::to_string(i) + "]", fields[i].first, fields[i].second);
    }
    if (doc.contains("patient_values")) {
      const json& values = Array(doc["patient_values"], "patient_values", kPatientValues);
      int* to[kPatientValues] = {&plan.nPatientInfo5, &plan.nPatientInfo6};
      for (std::size_t i = 0; i < values.size(); ++i)
        *to[i] = Integer(values[i], "patient_values[" + std::to_string(i) + "]", 0, kByteMax);
    }
    if (doc.contains("period1"))
      Period(doc["period1"], "period1", plan.nPeriod1Hour, plan.nPeriod1Minute, plan.nPeriod1Interval);
    if (doc.contains("period2"))
      Period(doc["period2"], "period2", plan.nPeriod2Hour, plan.nPeriod2Minute, plan.nPeriod2Interval);
    if (doc.contains("extra") && !doc["extra"].is_null()) {
      const json& extra = doc["extra"];
      OnlyMembers(extra, "extra", {"start", "end", "interval"});
      for (const char* key : {"start", "end", "interval"})
        if (!extra.contains(key)) Fail(std::string("extra.") + key, "missing (or make extra null: no window)");
      std::tie(plan.nExtraStartHour, plan.nExtraStartMinute) = Clock(extra["start"], "extra.start");
      std::tie(plan.nExtraEndHour, plan.nExtraEndMinute) = Clock(extra["end"], "extra.end");
      plan.nExtraInterval = Integer(extra["interval"], "extra.interval", 1, kIntervalMax);
    }
    if (doc.contains("options")) {
      const json& options = Array(doc["options"], "options", kOptions);
      int* to[kOptions] = {&plan.nOption1, &plan.nOption2, &plan.nOption3, &plan.nOption4};
      for (std::size_t i = 0; i < options.size(); ++i)
        *to[i] = Integer(options[i], "options[" + std::to_string(i) + "]", 0, i == 2 ? kWordMax : kByteMax);
    }
    if (doc.contains("day_warn")) Warn(doc["day_warn"], "day_warn", plan.DayWarn);
    if (doc.contains("night_warn")) Warn(doc["night_warn"], "night_warn", plan.NightWarn);
    if (doc.contains("warn_switch")) plan.nWarnSwitchInfo = Integer(doc["warn_switch"], "warn_switch", 0, kByteMax);
    return plan;
  }

 private:
  std::string name_;
};

}  // namespace

json PlanToJson(const _BP_TRANSPORT_INFO& p) {
  json plan;
  plan["patient"] = {report::TextFromDevice(p.szPatientInfo1, sizeof p.szPatientInfo1),
                     report::TextFromDevice(p.szPatientInfo2, sizeof p.szPatientInfo2),
                     report::TextFromDevice(p.szPatientInfo3, sizeof p.szPatientInfo3),
                     report::TextFromDevice(p.szPatientInfo4, sizeof p.szPatientInfo4)};
  plan["patient_values"] = {p.nPatientInfo5, p.nPatientInfo6};
  const CalendarTime start{p.nYear, p.nMonth, p.nDay, p.nHour, p.nMinute, p.nSecond};
  plan["start"] = IsValidTime(start) ? json(report::FormatLocalTime(start)) : json(nullptr);
  plan["period1"] = Period(p.nPeriod1Hour, p.nPeriod1Minute, p.nPeriod1Interval);
  plan["period2"] = Period(p.nPeriod2Hour, p.nPeriod2Minute, p.nPeriod2Interval);
  if (Unset(p.nExtraStartHour) || Unset(p.nExtraEndHour) || Unset(p.nExtraInterval) || p.nExtraInterval == 0)
    plan["extra"] = nullptr;
  else
    plan["extra"] = {{"start", Clock(p.nExtraStartHour, p.nExtraStartMinute)},
                     {"end", Clock(p.nExtraEndHour, p.nExtraEndMinute)},
                     {"interval", p.nExtraInterval}};
  plan["options"] = {p.nOption1, p.nOption2, p.nOption3, p.nOption4};
  plan["day_warn"] = Warn(p.DayWarn);
  plan["night_warn"] = Warn(p.NightWarn);
  plan["warn_switch"] = p.nWarnSwitchInfo;
  return plan;
}

_BP_TRANSPORT_INFO ReadPlanFile(std::istream& in, const std::string& name) {
  json doc;
  try {
    doc = json::parse(in, nullptr, true, /*ignore_comments=*/true);
  } catch (const json::exception& e) {
    throw PlanError(name + ": not valid JSON: " + e.what());
  }
  return PlanReader(name).Plan(doc);
}

std::string PlanTemplate() {
  return R"({
  // A measurement plan for `bplink upload PLAN.json`. Every member may be
  // left out: it then keeps the value shown here. `bplink download
  // --format json` writes the device's plan in the same shape ("plan").

  // Patient texts: up to 30, 11, 30 and 30 characters (Latin-1).
  "patient": ["", "", "", ""],
  // Two patient values, 0..255.
  "patient_values": [0, 0],

  // The day period starts at period1.start, the night at period2.start.
  // Intervals are in minutes, 0..240; 0 means no measurements.
  "period1": {"start": "07:00", "interval": 60},
  "period2": {"start": "22:00", "interval": 30},

  // An extra measuring window, or null for none:
  // {"start": "12:00", "end": "14:00", "interval": 15}
  "extra": null,

  // Device settings: options 1, 2 and 4 are 0..255, option 3 is 0..65535.
  "options": [1, 1, 297, 0],

  // Alarm limits in mmHg (0..255) by day and by night; switch 1 = on.
  "day_warn": {"switch": 0, "limits": [140, 90, 90, 60, 0, 0]},
  "night_warn": {"switch": 0, "limits": [120, 80, 80, 50, 0, 0]},
  "warn_switch": 0
}
)";
}

}  // namespace bplink::cli
