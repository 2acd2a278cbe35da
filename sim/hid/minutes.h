// Calendar minutes for the simulated monitors: a whole-minute (or second)
// count since 1970-01-01 and back, so offsets and sampling plans need no
// month tables.
#pragma once

#include <bplink/env.h>

#include <chrono>
#include <cstdint>

namespace bplink::sim {

inline std::int64_t MinuteNumber(const CalendarTime& t) {
  using namespace std::chrono;
  const sys_days date{year{t.year} / month{static_cast<unsigned>(t.month)} /
                      day{static_cast<unsigned>(t.day)}};
  return static_cast<std::int64_t>(date.time_since_epoch().count()) * 1440 + t.hour * 60 +
         t.minute;
}

inline std::int64_t SecondNumber(const CalendarTime& t) { return MinuteNumber(t) * 60 + t.second; }

inline CalendarTime FromMinuteNumber(std::int64_t minutes) {
  using namespace std::chrono;
  const std::int64_t days_since = (minutes >= 0 ? minutes : minutes - 1439) / 1440;
  const year_month_day date{sys_days{days{days_since}}};
  const std::int64_t of_day = minutes - days_since * 1440;
  return CalendarTime{static_cast<int>(date.year()), static_cast<int>(unsigned(date.month())),
                      static_cast<int>(unsigned(date.day())), static_cast<int>(of_day / 60),
                      static_cast<int>(of_day % 60), 0};
}

}  // namespace bplink::sim
