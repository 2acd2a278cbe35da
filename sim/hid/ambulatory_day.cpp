#include "hid/ambulatory_day.h"

#include <algorithm>
#include <random>

#include "hid/minutes.h"

namespace bplink::sim {
namespace {

constexpr std::uint8_t kRecorderIdentity = 0x05;
constexpr std::uint8_t kRecorderVersion = 2;
constexpr std::uint8_t kOffersFirstAndSecondSet = 0x05;  // data modes 1 and 3
constexpr int kDayStartHour = 7, kNightStartHour = 22;
constexpr int kDayInterval = 15, kNightInterval = 30;
constexpr int kRecordingMinutes = 24 * 60;
constexpr int kStatusNoReading = 1;  // the cuff could not take a reading
constexpr unsigned kSeed = 2026;

struct Range {
  int low, high;
};
struct Profile {
  Range sys, dia, pulse;
};
constexpr Profile kAwake{{112, 146}, {70, 94}, {64, 92}};
constexpr Profile kAsleep{{98, 122}, {58, 76}, {50, 66}};

bool IsDay(int hour) { return hour >= kDayStartHour && hour < kNightStartHour; }

}  // namespace

HidMonitorConfig AmbulatoryRecorderDay(const CalendarTime& start) {
  HidMonitorConfig config;
  config.identity = kRecorderIdentity;
  config.version = kRecorderVersion;
  config.capability_a = config.capability_b = kOffersFirstAndSecondSet;

  HidPlan plan;
  plan.patient1 = "DEMO PATIENT";
  plan.patient2 = "ID-0042";
  plan.clock = start;
  plan.day_hour = kDayStartHour;
  plan.day_interval = kDayInterval;
  plan.night_hour = kNightStartHour;
  plan.night_interval = kNightInterval;
  config.plan = EncodePlan(plan);

  HidRecordStore& day = config.stores[0];
  day.format = 1;
  day.start = start;
  std::mt19937 random(kSeed);
  const auto pick = [&random](Range r) { return std::uniform_int_distribution<int>(r.low, r.high)(random); };
  const std::int64_t first = MinuteNumber(start);
  for (std::int64_t at = first; at < first + kRecordingMinutes;) {
    const CalendarTime time = FromMinuteNumber(at);
    const Profile& profile = IsDay(time.hour) ? kAwake : kAsleep;
    HidReading reading;
    reading.time = time;
    if (pick({0, 29}) == 0) {
      reading.status = kStatusNoReading;
    } else {
      reading.sys = pick(profile.sys);
      reading.press2 = std::min(pick(profile.dia), reading.sys - 30);
      reading.press3 = reading.press2 + (reading.sys - reading.press2) / 3;
      reading.pulse = pick(profile.pulse);
    }
    day.readings.push_back(reading);
    at += IsDay(time.hour) ? kDayInterval : kNightInterval;
  }
  return config;
}

}  // namespace bplink::sim
