// The monitor's blocks, laid out as its firmware keeps them.

#include "vestra16/model.h"

#include <algorithm>

namespace bplink::sim::vestra16 {
namespace {

// Where things sit in the settings area.
constexpr std::size_t kPatient1At = 0;
constexpr std::size_t kPatient2At = 30;
constexpr std::size_t kStartAt = 41;
constexpr std::size_t kNextAt = 47;
constexpr std::size_t kOption1At = 55;
constexpr std::size_t kOption2At = 56;
constexpr std::size_t kPeriodsAt = 57;
constexpr std::size_t kExtraAt = 63;
constexpr std::size_t kCodeAt = 69;
constexpr std::size_t kCountAt = 70;

void PutClock(const Clock& c, std::uint8_t* at) {
  at[0] = static_cast<std::uint8_t>(c.year >> 8);
  at[1] = static_cast<std::uint8_t>(c.year);
  at[2] = static_cast<std::uint8_t>(c.month);
  at[3] = static_cast<std::uint8_t>(c.day);
  at[4] = static_cast<std::uint8_t>(c.hour);
  at[5] = static_cast<std::uint8_t>(c.minute);
}

Clock GetClock(const std::uint8_t* at) { return Clock{at[0] * 256 + at[1], at[2], at[3], at[4], at[5]}; }

}  // namespace

std::array<std::uint8_t, kSettingsBytes> EncodeSettings(const Settings& s, std::uint16_t count) {
  std::array<std::uint8_t, kSettingsBytes> b{};
  std::copy(s.patient1.begin(), s.patient1.end(), b.begin() + kPatient1At);
  std::copy(s.patient2.begin(), s.patient2.end(), b.begin() + kPatient2At);
  PutClock(s.start, &b[kStartAt]);
  PutClock(s.next, &b[kNextAt]);
  b[kOption1At] = s.option1;
  b[kOption2At] = s.option2;
  const std::uint8_t periods[] = {s.period1_hour, s.period1_minute, s.period1_interval,
                                  s.period2_hour, s.period2_minute, s.period2_interval};
  std::copy(std::begin(periods), std::end(periods), b.begin() + kPeriodsAt);
  std::copy(s.extra.begin(), s.extra.end(), b.begin() + kExtraAt);
  b[kCodeAt] = s.period_code;
  b[kCountAt] = static_cast<std::uint8_t>(count >> 8);
  b[kCountAt + 1] = static_cast<std::uint8_t>(count);
  return b;
}

Settings DecodePlan(const std::array<std::uint8_t, kPlanBytes>& p) {
  Settings s;
  std::copy_n(p.begin() + kPatient1At, s.patient1.size(), s.patient1.begin());
  std::copy_n(p.begin() + kPatient2At, s.patient2.size(), s.patient2.begin());
  s.start = GetClock(&p[kStartAt]);
  s.next = GetClock(&p[kNextAt]);
  s.option1 = p[kOption1At];
  s.option2 = p[kOption2At];
  s.period1_hour = p[kPeriodsAt];
  s.period1_minute = p[kPeriodsAt + 1];
  s.period1_interval = p[kPeriodsAt + 2];
  s.period2_hour = p[kPeriodsAt + 3];
  s.period2_minute = p[kPeriodsAt + 4];
  s.period2_interval = p[kPeriodsAt + 5];
  std::copy_n(p.begin() + kExtraAt, s.extra.size(), s.extra.begin());
  s.period_code = p[kCodeAt];
  return s;
}

std::array<std::uint8_t, kRecordBytes> EncodeMeasurement(const Measurement& m) {
  return {static_cast<std::uint8_t>(m.minutes >> 16),
          static_cast<std::uint8_t>(m.systolic >> 8),
          static_cast<std::uint8_t>(m.systolic),
          m.press2,
          m.pulse,
          m.press3,
          static_cast<std::uint8_t>(m.minutes >> 8),
          static_cast<std::uint8_t>(m.minutes),
          m.status,
          m.flags,
          0,
          0,
          m.extra};
}

}  // namespace bplink::sim::vestra16
