#include <bplink/host/plan_words.h>

#include <bplink/report/readings.h>

#include <cstdio>

namespace bplink::host {
namespace {

std::string Format(const char* pattern, int a, int b = 0, int c = 0, int d = 0, int e = 0) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, a, b, c, d, e);
  return text;
}

std::string Clock(int hour, int minute) { return Format("%02d:%02d", hour, minute); }

// A plan field that comes back from a device as 0xFF, or was set to a
// negative value, means "none".
bool Unset(int value) { return value < 0 || value == 0xFF; }

std::string Period(int hour, int minute, int interval) {
  std::string text = "from " + Clock(hour, minute);
  return Unset(interval) || interval == 0 ? text + ", no measurements"
                                          : text + ", every " + std::to_string(interval) + " min";
}

}  // namespace

std::string DateTimeWords(int year, int month, int day, int hour, int minute) {
  return Format("%04d-%02d-%02d %02d:%02d", year, month, day, hour, minute);
}

std::vector<std::pair<std::string, std::string>> PlanWords(const _BP_TRANSPORT_INFO& plan) {
  std::vector<std::pair<std::string, std::string>> words;
  // Device texts are single bytes; the words are UTF-8.
  std::string patient = report::TextFromDevice(plan.szPatientInfo1, sizeof plan.szPatientInfo1);
  if (plan.szPatientInfo2[0])
    patient += "  " + report::TextFromDevice(plan.szPatientInfo2, sizeof plan.szPatientInfo2);
  if (!patient.empty()) words.emplace_back("patient", patient);
  if (plan.nYear != 0)
    words.emplace_back("started", DateTimeWords(plan.nYear, plan.nMonth, plan.nDay, plan.nHour, plan.nMinute));
  words.emplace_back("day period", Period(plan.nPeriod1Hour, plan.nPeriod1Minute, plan.nPeriod1Interval));
  words.emplace_back("night period", Period(plan.nPeriod2Hour, plan.nPeriod2Minute, plan.nPeriod2Interval));
  if (Unset(plan.nExtraStartHour) || Unset(plan.nExtraInterval) || plan.nExtraInterval == 0)
    words.emplace_back("extra window", "none");
  else
    words.emplace_back("extra window", Clock(plan.nExtraStartHour, plan.nExtraStartMinute) + " to " +
                                           Clock(plan.nExtraEndHour, plan.nExtraEndMinute) + ", every " +
                                           std::to_string(plan.nExtraInterval) + " min");
  return words;
}

}  // namespace bplink::host
