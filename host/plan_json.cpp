#include <bplink/host/plan_json.h>

#include <bplink/report/readings.h>

#include <cstdio>

namespace bplink::host {
namespace {

using nlohmann::json;

constexpr int kUnset = 0xFF;  // what a device sends for "none"

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

}  // namespace bplink::host
