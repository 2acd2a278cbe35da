#include "demo_day.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "hid/ambulatory_day.h"

namespace bplink::sim::demo {
namespace {

constexpr int kMinutesPerDay = 24 * 60;
constexpr int kRecordingStartHour = 9;
constexpr int kStepMinutes = 15;  // spacing of readings beyond the simulated day

// Two mornings ago, so that the whole day's recording ends before now at any
// time of day: a reading dated after the download is flagged as impossible.
CalendarTime RecordingStart() {
  CalendarTime start = AddMinutes(CurrentEnv()->LocalTime(), -2 * kMinutesPerDay);
  start.hour = kRecordingStartHour;
  start.minute = start.second = 0;
  return start;
}

}  // namespace

const HidMonitorConfig& Day() {
  static const HidMonitorConfig day = AmbulatoryRecorderDay(RecordingStart());
  return day;
}

std::vector<HidReading> Readings(int count) {
  const std::vector<HidReading>& day = Day().stores[0].readings;
  std::vector<HidReading> readings;
  for (int i = 0; i < count; ++i) {
    HidReading r = day[static_cast<std::size_t>(i) % day.size()];
    if (i >= static_cast<int>(day.size()))
      r.time = AddMinutes(day.back().time, static_cast<std::int64_t>(i - day.size() + 1) * kStepMinutes);
    readings.push_back(r);
  }
  return readings;
}

std::vector<HidReading> FirstStore(const SimSettings& settings, int most, const char* device) {
  if (settings.home_days) {
    if (settings.records) throw std::invalid_argument("give a simulated device days of home monitoring or a count of "
                                                      "records, not both");
    const std::vector<HidReading> home =
        HomeReadings(Within(settings.home_days, 1, kMostHomeDays, 1, std::string("a ") + device + "'s home days"));
    if (static_cast<int>(home.size()) > most)
      throw std::invalid_argument(std::string("a simulated ") + device + " holds 0 to " + std::to_string(most) +
                                  " records");
    return home;
  }
  const int count = settings.records.value_or(static_cast<int>(Day().stores[0].readings.size()));
  if (count < 0 || count > most)
    throw std::invalid_argument(std::string("a simulated ") + device + " holds 0 to " + std::to_string(most) +
                                " records");
  return Readings(count);
}

std::vector<HidReading> HomeReadings(int days) {
  constexpr int kMorningHour = 7, kEveningHour = 20, kSecondReadingMinute = 2;
  constexpr int kSysBase = 126, kSysSpread = 17, kDiaBase = 79, kDiaSpread = 10, kPulseBase = 62, kPulseSpread = 12;
  CalendarTime today = CurrentEnv()->LocalTime();
  today.hour = today.minute = today.second = 0;
  std::vector<HidReading> readings;
  for (int d = days; d >= 1; --d) {
    const CalendarTime date = AddMinutes(today, -static_cast<std::int64_t>(d) * kMinutesPerDay);
    int slot = 0;
    for (const int hour : {kMorningHour, kEveningHour})
      for (const int minute : {0, kSecondReadingMinute}) {
        HidReading r;
        r.time = date;
        r.time.hour = hour;
        r.time.minute = minute;
        const int step = d * 7 + slot * 3 + (hour == kEveningHour ? 5 : 0);
        r.sys = kSysBase + step % kSysSpread;
        r.press2 = kDiaBase + step % kDiaSpread;
        r.press3 = r.press2 + (r.sys - r.press2) / 3;
        r.pulse = kPulseBase + step % kPulseSpread;
        r.status = kStatusUsable;
        readings.push_back(r);
        ++slot;
      }
  }
  return readings;
}

CalendarTime StoreStart(const std::vector<HidReading>& readings) {
  const CalendarTime day = Day().stores[0].start;
  if (readings.empty() || SecondsBetween(readings.front().time, day) <= 0) return day;
  return readings.front().time;
}

int SilentAfter(const SimSettings& settings) { return std::max(0, *settings.silent_after); }

void TakesOnly(const SimSettings& settings, unsigned takes, const std::string& device) {
  const struct {
    Variant variant;
    bool set;
    const char* what;
  } kSettings[] = {{kDeviceType, settings.device_type.has_value(), "device type"},
                   {kVersion, settings.version.has_value(), "version byte"},
                   {kRecordFormat, settings.record_format.has_value(), "record format"},
                   {kSpO2Format, settings.spo2_format.has_value(), "SpO2 format"},
                   {kSpO2Samples, settings.spo2_samples.has_value(), "SpO2 samples"},
                   {kPlanVariant, settings.variant.has_value(), "variant"},
                   {kHomeDays, settings.home_days.has_value(), "home-monitoring days"}};
  for (const auto& s : kSettings)
    if (s.set && (takes & s.variant) == 0)
      throw std::invalid_argument(device + " has no " + s.what + " to set");
}

int Within(const std::optional<int>& value, int low, int high, int fallback, const std::string& what) {
  if (!value) return fallback;
  if (*value < low || *value > high)
    throw std::invalid_argument(what + " is " + std::to_string(low) + " to " + std::to_string(high) + ", not " +
                                std::to_string(*value));
  return *value;
}

std::vector<SpO2Sample> SpO2Samples(int count, int seconds) {
  constexpr int kLowest = 93, kSpread = 6;
  std::vector<SpO2Sample> samples;
  for (const HidReading& r : Readings(count)) {
    CalendarTime at = r.time;
    at.second = seconds;
    // A saturation that moves a little from sample to sample, the same every run.
    const int spo2 = kLowest + (r.time.hour * 7 + r.time.minute) % kSpread;
    samples.push_back({at, spo2, r.pulse > 0 ? r.pulse : 60 + r.time.minute % 20});
  }
  return samples;
}

Plan PlanOf(const SimSettings& settings) {
  if (!settings.plan) {
    const HidPlan day = DecodePlan(Day().plan);
    return {day.patient1,    day.patient2,    day.day_hour,         day.day_minute,       day.day_interval,
            day.night_hour,  day.night_minute, day.night_interval, day.extra_start_hour, day.extra_start_minute,
            day.extra_interval, day.extra_end_hour, day.extra_end_minute};
  }
  const _BP_TRANSPORT_INFO& p = *settings.plan;
  Plan plan{p.szPatientInfo1, p.szPatientInfo2, p.nPeriod1Hour, p.nPeriod1Minute, p.nPeriod1Interval,
            p.nPeriod2Hour, p.nPeriod2Minute, p.nPeriod2Interval};
  if (p.nExtraStartHour >= 0 && p.nExtraEndHour >= 0 && p.nExtraInterval > 0) {
    plan.extra_start_hour = p.nExtraStartHour, plan.extra_start_minute = p.nExtraStartMinute;
    plan.extra_interval = p.nExtraInterval;
    plan.extra_end_hour = p.nExtraEndHour, plan.extra_end_minute = p.nExtraEndMinute;
  }
  return plan;
}

}  // namespace bplink::sim::demo
