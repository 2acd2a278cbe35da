// The one wearer every demo device stores: a day and a night of readings
// and the plan they were measured on, so the families' downloads are easy
// to compare. Each family's MakeModel (sim/<family>/make.cpp) puts them into
// its own model, in its own fields.
#pragma once

#include <bplink/env.h>

#include <string>
#include <vector>

#include "hid/hid_monitor.h"
#include "settings.h"

namespace bplink::sim::demo {

// How the devices keep a time or interval that is not set.
inline constexpr int kNone = 0xFF;
// The most records a device that announces a 16-bit count can hold.
inline constexpr int kMaxWordCount = 0xFFFF;
// How the day marks a reading that worked.
inline constexpr int kStatusUsable = 0;

// The day as the ambulatory HID recorder holds it: put on two mornings ago,
// it has finished its day and night before now. The readings are in store 0.
const HidMonitorConfig& Day();

// `count` readings: the day's, repeated with later times when more are asked for.
std::vector<HidReading> Readings(int count);

// The readings of the first store, as many as the settings ask for (a day's
// by default), or the days of home monitoring they ask for; throws
// std::invalid_argument, naming `device`, when that is more than `most`.
std::vector<HidReading> FirstStore(const SimSettings& settings, int most, const char* device);

// A patient measuring at home as the ESH protocol asks: twice each morning
// (07:00, 07:02) and evening (20:00, 20:02) on each of `days` days up to
// yesterday, the values a little apart from day to day, the same every run.
inline constexpr int kMostHomeDays = 366;
std::vector<HidReading> HomeReadings(int days);

// When a store's recording started: the day's start, or the first of
// `readings` when that is earlier (days of home monitoring).
CalendarTime StoreStart(const std::vector<HidReading>& readings);

// The record after which the device falls silent, when the settings say so.
int SilentAfter(const SimSettings& settings);

// The variant settings; a family's device takes some of them.
enum Variant : unsigned {
  kDeviceType = 1u << 0,
  kVersion = 1u << 1,
  kRecordFormat = 1u << 2,
  kSpO2Format = 1u << 3,
  kSpO2Samples = 1u << 4,
  kPlanVariant = 1u << 5,
  kHomeDays = 1u << 6,
};
// Throws std::invalid_argument, naming `device` and the setting, when the
// settings set a variant outside `takes`: a setting that would be ignored.
void TakesOnly(const SimSettings& settings, unsigned takes, const std::string& device);
// The value set, or `fallback`; throws std::invalid_argument naming `what`
// and the values it may take when the value set is outside low..high.
int Within(const std::optional<int>& value, int low, int high, int fallback, const std::string& what);

// `count` SpO2 samples beside the day's readings, in time order: one a
// reading, `seconds` after it, the pulse of the reading.
struct SpO2Sample {
  CalendarTime time;
  int spo2 = 0;
  int pulse = 0;
};
std::vector<SpO2Sample> SpO2Samples(int count, int seconds);

// The plan a demo device keeps, in the fields they all share.
struct Plan {
  std::string patient1, patient2;
  int day_hour, day_minute, day_interval;
  int night_hour, night_minute, night_interval;
  int extra_start_hour = kNone, extra_start_minute = kNone, extra_interval = kNone;
  int extra_end_hour = kNone, extra_end_minute = kNone;
};

// The one the day was measured on, or the one the settings give.
Plan PlanOf(const SimSettings& settings);

// The models keep the shared fields under the same names.
template <typename ModelPlan>
void PutPlan(const Plan& from, ModelPlan& to) {
  to.patient1 = from.patient1;
  to.patient2 = from.patient2;
  to.day_hour = from.day_hour, to.day_minute = from.day_minute, to.day_interval = from.day_interval;
  to.night_hour = from.night_hour, to.night_minute = from.night_minute, to.night_interval = from.night_interval;
}

template <typename ModelPlan>
void PutExtra(const Plan& from, ModelPlan& to) {
  to.extra_start_hour = from.extra_start_hour, to.extra_start_minute = from.extra_start_minute;
  to.extra_interval = from.extra_interval;
  to.extra_end_hour = from.extra_end_hour, to.extra_end_minute = from.extra_end_minute;
}

}  // namespace bplink::sim::demo
