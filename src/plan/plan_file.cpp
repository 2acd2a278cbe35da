#include <bplink/plan/plan_file.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>

#include "hid/device_rules.h"

namespace bplink::plan {
namespace {

using nlohmann::json;

// Limits of what the devices store: one byte per value, 16 bits for
// option 3, and intervals no longer than the longest any device offers.
constexpr int kByteMax = 255;
constexpr int kWordMax = 0xFFFF;
constexpr int kIntervalMax = 240;
constexpr int kHoursPerDay = 24, kMinutesPerHour = 60;
constexpr int kUnset = 0xFF;  // what a device sends for "none"
constexpr int kNoTime = -1;   // how the interfaces spell "none" for a time
constexpr int kPatientTexts = 4;
constexpr int kPatientValues = 2;
constexpr int kOptions = 4;
constexpr int kLimits = 6;
constexpr int kSwitchOn = 1;  // option 2: every family keeps only on (1) or off

// A value as a message shows it: a scalar as written, a list or object by
// kind only (one may be nested deeper than is sensible to print).
std::string Shown(const json& value) {
  if (value.is_array()) return "a list";
  if (value.is_object()) return "an object";
  // Written here rather than by the JSON library's writer, whose output
  // machinery would be exported from the shared library with it.
  // (and so is std::to_string of the wider types: snprintf for those).
  char number[32] = "null";
  if (value.is_number_unsigned()) std::snprintf(number, sizeof number, "%llu", value.get<unsigned long long>());
  if (value.is_number_integer() && !value.is_number_unsigned())
    std::snprintf(number, sizeof number, "%lld", value.get<long long>());
  if (value.is_number_float()) std::snprintf(number, sizeof number, "%g", value.get<double>());
  if (value.is_boolean()) std::snprintf(number, sizeof number, "%s", value.get<bool>() ? "true" : "false");
  std::string text = value.is_string() ? "\"" + value.get<std::string>() + "\"" : number;
  constexpr std::size_t kMost = 40;
  return text.size() > kMost ? text.substr(0, kMost) + "..." : text;
}

class PlanReader {
 public:
  explicit PlanReader(std::string name) : name_(std::move(name)) {}

  [[noreturn]] void Fail(const std::string& field, const std::string& what) const {
    throw PlanError(name_ + ": " + field + ": " + what);
  }

  void OnlyMembers(const json& object, const std::string& path, std::initializer_list<std::string_view> known) const {
    if (!object.is_object()) Fail(path.empty() ? "plan" : path, "expected an object, found " + Shown(object));
    for (const auto& [key, value] : object.items())
      if (std::find(known.begin(), known.end(), key) == known.end())
        Fail(path.empty() ? key : path + "." + key, "unknown field");
  }

  int Integer(const json& value, const std::string& field, int low, int high) const {
    if (!value.is_number_integer()) Fail(field, "expected a whole number, found " + Shown(value));
    // A number beyond 64 bits parses as unsigned; either way it is out of range.
    const bool huge = value.is_number_unsigned() && value.get<unsigned long long>() > static_cast<unsigned>(high);
    const auto n = huge ? static_cast<long long>(high) + 1 : value.get<long long>();
    if (n < low || n > high)
      Fail(field, Shown(value) + " is out of range " + std::to_string(low) + ".." + std::to_string(high));
    return static_cast<int>(n);
  }

  // "HH:MM"
  std::pair<int, int> Clock(const json& value, const std::string& field) const {
    // One or two digits, a colon, two digits.
    const auto digits = [](std::string_view text) {
      int n = 0;
      for (char c : text) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
      }
      return text.empty() ? -1 : n;
    };
    const std::string text = value.is_string() ? value.get<std::string>() : "";
    const std::size_t colon = text.find(':');
    const int hour = colon == 1 || colon == 2 ? digits(std::string_view(text).substr(0, colon)) : -1;
    const int minute = colon != std::string::npos && text.size() == colon + 3
                           ? digits(std::string_view(text).substr(colon + 1))
                           : -1;
    if (hour < 0 || minute < 0) Fail(field, "expected a time of day like \"07:30\", found " + Shown(value));
    if (hour < 0 || hour >= kHoursPerDay) Fail(field, "hour " + std::to_string(hour) + " is out of range 0..23");
    if (minute < 0 || minute >= kMinutesPerHour)
      Fail(field, "minute " + std::to_string(minute) + " is out of range 0..59");
    return {hour, minute};
  }

  const json& Array(const json& value, const std::string& field, std::size_t most) const {
    if (!value.is_array()) Fail(field, "expected a list, found " + Shown(value));
    if (value.size() > most) Fail(field, "at most " + std::to_string(most) + " entries");
    return value;
  }

  // UTF-8 in the file, single bytes on the device: Latin-1 is what the
  // download shows them as, so a downloaded plan uploads back unchanged.
  void Text(const json& value, const std::string& field, char* to, std::size_t size) const {
    if (!value.is_string()) Fail(field, "expected a text, found " + Shown(value));
    std::string bytes;
    const std::string text = value.get<std::string>();
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      if (c == 0) Fail(field, "a text ends at its first zero character; remove it");
      if (c < 0x80) {
        bytes.push_back(static_cast<char>(c));
      } else if ((c & 0xFE) == 0xC2 && i + 1 < text.size() && (text[i + 1] & 0xC0) == 0x80) {
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

// ---- Fields, and their values as a device keeps them ----

bool Unset(int value) { return value < 0 || value == kUnset; }

std::string Text(const char* text, std::size_t size) { return {text, std::find(text, text + size, '\0')}; }
std::string Numbers(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += std::to_string(v) + ",";
  return out;
}

using Value = std::string (*)(const _BP_TRANSPORT_INFO&);
struct Field {
  const char* name;
  Value value;
};

std::string Extra(const _BP_TRANSPORT_INFO& p) {
  if (!HasExtraWindow(p)) return "none";
  return Numbers({p.nExtraStartHour, p.nExtraStartMinute, p.nExtraEndHour, p.nExtraEndMinute, p.nExtraInterval});
}

// An alarm group's switch and the four limits every layout carries.
std::string WarnHead(const _WARN_GROUP& g) {
  return Numbers({g.nWarnSwitch, g.nLimit1, g.nLimit2, g.nLimit3, g.nLimit4});
}

const std::vector<Field>& AllFields() {
  static const std::vector<Field> fields = {
      {"patient[0]", [](const _BP_TRANSPORT_INFO& p) { return Text(p.szPatientInfo1, sizeof p.szPatientInfo1); }},
      {"patient[1]", [](const _BP_TRANSPORT_INFO& p) { return Text(p.szPatientInfo2, sizeof p.szPatientInfo2); }},
      {"patient[2]", [](const _BP_TRANSPORT_INFO& p) { return Text(p.szPatientInfo3, sizeof p.szPatientInfo3); }},
      {"patient[3]", [](const _BP_TRANSPORT_INFO& p) { return Text(p.szPatientInfo4, sizeof p.szPatientInfo4); }},
      {"patient_values", [](const _BP_TRANSPORT_INFO& p) { return Numbers({p.nPatientInfo5, p.nPatientInfo6}); }},
      {"period1",
       [](const _BP_TRANSPORT_INFO& p) {
         return Numbers({p.nPeriod1Hour, p.nPeriod1Minute, IntervalMinutes(p.nPeriod1Interval)});
       }},
      {"period2",
       [](const _BP_TRANSPORT_INFO& p) {
         return Numbers({p.nPeriod2Hour, p.nPeriod2Minute, IntervalMinutes(p.nPeriod2Interval)});
       }},
      {"extra", Extra},
      {"options[0]", [](const _BP_TRANSPORT_INFO& p) { return std::to_string(p.nOption1); }},
      {"options[1]", [](const _BP_TRANSPORT_INFO& p) { return std::string(p.nOption2 == kSwitchOn ? "on" : "off"); }},
      {"options[2]", [](const _BP_TRANSPORT_INFO& p) { return std::to_string(p.nOption3); }},
      {"options[3]", [](const _BP_TRANSPORT_INFO& p) { return std::to_string(p.nOption4); }},
      {"day_warn",
       [](const _BP_TRANSPORT_INFO& p) { return WarnHead(p.DayWarn); }},
      {"day_warn.limits[4]", [](const _BP_TRANSPORT_INFO& p) { return std::to_string(p.DayWarn.nLimit5); }},
      {"day_warn.limits[5]", [](const _BP_TRANSPORT_INFO& p) { return std::to_string(p.DayWarn.nLimit6); }},
      {"night_warn",
       [](const _BP_TRANSPORT_INFO& p) { return WarnHead(p.NightWarn); }},
      {"night_warn.limits[4]", [](const _BP_TRANSPORT_INFO& p) { return std::to_string(p.NightWarn.nLimit5); }},
      {"night_warn.limits[5]", [](const _BP_TRANSPORT_INFO& p) { return std::to_string(p.NightWarn.nLimit6); }},
      {"warn_switch", [](const _BP_TRANSPORT_INFO& p) { return std::to_string(p.nWarnSwitchInfo); }},
  };
  return fields;
}

const Field& FieldNamed(const std::string& name) {
  const auto& fields = AllFields();
  const auto it = std::find_if(fields.begin(), fields.end(), [&](const Field& f) { return name == f.name; });
  if (it == fields.end()) throw std::invalid_argument("no plan field " + name);
  return *it;
}

// Every field whose name begins with one of `prefixes`, in the fields' order.
FieldNames Named(std::initializer_list<std::string_view> prefixes) {
  FieldNames names;
  for (const Field& f : AllFields())
    for (std::string_view prefix : prefixes)
      if (std::string_view(f.name).starts_with(prefix)) {
        names.emplace_back(f.name);
        break;
      }
  return names;
}

// The alarm block of type-4 devices of this version byte has no room for limits 5 and 6.
constexpr int kShortAlarmVersion = hid::kVersionAlarmLimits;
// KV32 devices in data mode 2 take only the patient texts.
constexpr int kKv32TextsOnlyMode = DATAMODE_BP_SPO2;

FieldNames HidKept(const tag_SUPPORT_PROTOCOL& device) {
  const int type = device.nDeviceType;
  FieldNames kept = Named({"patient[0]", "patient[1]", "period1", "period2", "extra"});
  if (hid::HoldsPatientInfo(type, device.nVersion)) {
    const FieldNames more = Named({"patient[2]", "patient[3]", "patient_values"});
    kept.insert(kept.end(), more.begin(), more.end());
  }
  if (type == kDeviceType4) {
    const FieldNames options = Named({"options["});
    kept.insert(kept.end(), options.begin(), options.end());
  } else if (type == kDeviceWithSpO2 || type == kDeviceType6) {
    kept.emplace_back("options[1]");
  }
  if (hid::HoldsAlarmLimits(type, static_cast<BYTE>(device.nVersion))) {
    const bool all_limits = !(type == kDeviceType4 && device.nVersion == kShortAlarmVersion);
    for (const std::string& name : Named({"day_warn", "night_warn"}))
      if (all_limits || name.find(".limits[") == std::string::npos) kept.push_back(name);
  }
  if (hid::HoldsWarnSwitch(type, device.nVersion)) kept.emplace_back("warn_switch");
  return kept;
}

}  // namespace

int IntervalMinutes(int interval) { return Unset(interval) ? 0 : interval; }

bool HasExtraWindow(const _BP_TRANSPORT_INFO& p) {
  return !Unset(p.nExtraStartHour) && !Unset(p.nExtraEndHour) && IntervalMinutes(p.nExtraInterval) > 0;
}

_BP_TRANSPORT_INFO TemplatePlan() {
  constexpr int kTemplateDayInterval = 30;  // minutes: 30 readings from 07:00 to 22:00
  _BP_TRANSPORT_INFO plan;
  plan.nPeriod1Interval = kTemplateDayInterval;
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

_BP_TRANSPORT_INFO ReadPlanText(std::string_view text, const std::string& name) {
  std::istringstream in{std::string(text)};
  return ReadPlanFile(in, name);
}

FieldNames KeptFields(const Family& family, const tag_SUPPORT_PROTOCOL& device, int mode) {
  if (!family.Uploads()) return {};
  if (family.link == LinkKind::kUsbHid) return device.nDeviceType == kDeviceThreeStores ? FieldNames{} : HidKept(device);
  if (family.name == "kv32" && mode == kKv32TextsOnlyMode) return Named({"patient[0]", "patient[1]"});
  FieldNames kept;
  if ((family.planFields & kKeepsPatientTexts) != 0) kept = Named({"patient[0]", "patient[1]"});
  if ((family.planFields & kKeepsPeriod1) != 0) kept.emplace_back("period1");
  if ((family.planFields & kKeepsPeriod2) != 0) kept.emplace_back("period2");
  if ((family.planFields & kKeepsExtraWindow) != 0) kept.emplace_back("extra");
  // The monitors' settings blocks carry options 1 and 2; KV32 sends only the switch.
  if (family.name == "vestra16" || family.name == "vestra16c") kept.emplace_back("options[0]");
  if (family.name == "kv32" || family.name == "vestra16" || family.name == "vestra16c")
    kept.emplace_back("options[1]");
  return kept;
}

bool IntervalQueryReadsPlan(const Family& family, const tag_SUPPORT_PROTOCOL& device) {
  return family.link == LinkKind::kUsbHid && hid::KeepsIntervalTable(device.nDeviceType, device.nVersion);
}

FieldNames ReadBackFields(const Family& family, const tag_SUPPORT_PROTOCOL& device, int mode) {
  const FieldNames kept = KeptFields(family, device, mode);
  if (family.link != LinkKind::kUsbHid) return kept;
  // The HID plan block read back has no room for options 1 and 4.
  return Without(kept, {"options[0]", "options[3]"});
}

FieldNames FieldsSet(const _BP_TRANSPORT_INFO& plan) {
  const _BP_TRANSPORT_INFO defaults;
  FieldNames set;
  for (const Field& f : AllFields())
    if (f.value(plan) != f.value(defaults)) set.emplace_back(f.name);
  return set;
}

FieldNames FieldsDiffering(const _BP_TRANSPORT_INFO& a, const _BP_TRANSPORT_INFO& b, const FieldNames& fields) {
  FieldNames differ;
  for (const std::string& name : fields) {
    const Field& f = FieldNamed(name);
    if (f.value(a) != f.value(b)) differ.push_back(name);
  }
  return differ;
}

FieldNames Without(const FieldNames& fields, const FieldNames& drop) {
  FieldNames kept;
  for (const std::string& name : fields)
    if (std::find(drop.begin(), drop.end(), name) == drop.end()) kept.push_back(name);
  return kept;
}

std::string Join(const FieldNames& fields) {
  std::string text;
  for (const std::string& name : fields) text += (text.empty() ? "" : ", ") + name;
  return text;
}

_BP_TRANSPORT_INFO WithNoneSpelledOut(const _BP_TRANSPORT_INFO& plan) {
  _BP_TRANSPORT_INFO out = plan;
  const bool no_window = Extra(plan) == "none";
  for (int* interval : {&out.nPeriod1Interval, &out.nPeriod2Interval, &out.nExtraInterval})
    *interval = IntervalMinutes(*interval);
  if (no_window) {
    out.nExtraStartHour = out.nExtraStartMinute = out.nExtraEndHour = out.nExtraEndMinute = kNoTime;
    out.nExtraInterval = 0;
  }
  return out;
}

std::vector<std::string> OutOfRange(const _BP_TRANSPORT_INFO& p, const std::string& name) {
  std::vector<std::string> refused;
  // "FIELD: [WHAT ]VALUE is out of range LOW..HIGH"
  const auto within = [&](const std::string& field, const std::string& what, int value, int low, int high) {
    if (value < low || value > high)
      refused.push_back(name + ": " + field + ": " + what + std::to_string(value) + " is out of range " +
                        std::to_string(low) + ".." + std::to_string(high));
  };
  const auto number = [&](const std::string& field, int value, int low, int high) {
    within(field, "", value, low, high);
  };
  const auto clock = [&](const std::string& field, int hour, int minute) {
    within(field, "hour ", hour, 0, kHoursPerDay - 1);
    within(field, "minute ", minute, 0, kMinutesPerHour - 1);
  };
  number("patient_values[0]", p.nPatientInfo5, 0, kByteMax);
  number("patient_values[1]", p.nPatientInfo6, 0, kByteMax);
  clock("period1.start", p.nPeriod1Hour, p.nPeriod1Minute);
  number("period1.interval", IntervalMinutes(p.nPeriod1Interval), 0, kIntervalMax);
  clock("period2.start", p.nPeriod2Hour, p.nPeriod2Minute);
  number("period2.interval", IntervalMinutes(p.nPeriod2Interval), 0, kIntervalMax);
  if (Extra(p) != "none") {
    clock("extra.start", p.nExtraStartHour, p.nExtraStartMinute);
    clock("extra.end", p.nExtraEndHour, p.nExtraEndMinute);
    number("extra.interval", p.nExtraInterval, 1, kIntervalMax);
  }
  const int options[kOptions] = {p.nOption1, p.nOption2, p.nOption3, p.nOption4};
  for (int i = 0; i < kOptions; ++i)
    number("options[" + std::to_string(i) + "]", options[i], 0, i == 2 ? kWordMax : kByteMax);
  for (const auto& [group, g] : {std::pair{"day_warn", &p.DayWarn}, std::pair{"night_warn", &p.NightWarn}}) {
    number(std::string(group) + ".switch", g->nWarnSwitch, 0, 1);
    const int limits[kLimits] = {g->nLimit1, g->nLimit2, g->nLimit3, g->nLimit4, g->nLimit5, g->nLimit6};
    for (int i = 0; i < kLimits; ++i)
      number(std::string(group) + ".limits[" + std::to_string(i) + "]", limits[i], 0, kByteMax);
  }
  number("warn_switch", p.nWarnSwitchInfo, 0, kByteMax);
  return refused;
}

std::vector<std::string> NotAllowed(const _BP_TRANSPORT_INFO& plan, const _UPLOAD_NEEDED_DATA& allowed,
                                    const FieldNames& kept, const std::string& name) {
  std::vector<std::string> refused;
  const auto keeps = [&kept](const char* field) { return std::find(kept.begin(), kept.end(), field) != kept.end(); };
  const auto check = [&](const std::string& field, int value, const std::vector<int>& list, bool zero_ok) {
    if ((value == 0 && zero_ok) || std::find(list.begin(), list.end(), value) != list.end()) return;
    std::string values;
    for (int v : list) values += (values.empty() ? "" : ", ") + std::to_string(v);
    if (values.empty()) values = "none";
    refused.push_back(name + ": " + field + ": " + std::to_string(value) +
                      " minutes is not an interval this device allows; it allows " + values +
                      (zero_ok ? " (or 0: no measurements)" : ""));
  };
  if (keeps("period1")) check("period1.interval", IntervalMinutes(plan.nPeriod1Interval), allowed.vecInterval1, true);
  if (keeps("period2")) check("period2.interval", IntervalMinutes(plan.nPeriod2Interval), allowed.vecInterval2, true);
  if (keeps("extra") && Extra(plan) != "none")
    check("extra.interval", plan.nExtraInterval, allowed.vecInterval1, false);
  return refused;
}

}  // namespace bplink::plan
