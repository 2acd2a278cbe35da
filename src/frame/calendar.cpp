// Calendar arithmetic on CalendarTime, done with std::chrono's calendar types
// so leap years and month lengths come from the standard library.

#include <bplink/env.h>

#include <chrono>

namespace bplink {
namespace {

using std::chrono::days;
using std::chrono::seconds;
using std::chrono::sys_days;
using std::chrono::sys_seconds;

constexpr int kMonthsPerYear = 12;

// A month outside 1..12 is carried into the year, a day past the end of its
// month into the next month; chrono does the latter for us.
sys_seconds ToSysSeconds(const CalendarTime& t) {
  long long month0 = static_cast<long long>(t.month) - 1;
  long long year = t.year + month0 / kMonthsPerYear;
  month0 %= kMonthsPerYear;
  if (month0 < 0) {
    month0 += kMonthsPerYear;
    --year;
  }
  const std::chrono::year_month_day first{std::chrono::year{static_cast<int>(year)},
                                          std::chrono::month{static_cast<unsigned>(month0 + 1)},
                                          std::chrono::day{1}};
  const sys_days date = sys_days{first} + days{static_cast<long long>(t.day) - 1};
  return sys_seconds{date} + std::chrono::hours{t.hour} + std::chrono::minutes{t.minute} +
         seconds{t.second};
}

CalendarTime FromSysSeconds(sys_seconds s) {
  const sys_days date = std::chrono::floor<days>(s);
  const std::chrono::year_month_day ymd{date};
  const std::chrono::hh_mm_ss<seconds> tod{s - date};
  return CalendarTime{static_cast<int>(ymd.year()),
                      static_cast<int>(static_cast<unsigned>(ymd.month())),
                      static_cast<int>(static_cast<unsigned>(ymd.day())),
                      static_cast<int>(tod.hours().count()),
                      static_cast<int>(tod.minutes().count()),
                      static_cast<int>(tod.seconds().count())};
}

}  // namespace

bool IsValidTime(const CalendarTime& t) {
  const std::chrono::year_month_day ymd{std::chrono::year{t.year},
                                        std::chrono::month{static_cast<unsigned>(t.month)},
                                        std::chrono::day{static_cast<unsigned>(t.day)}};
  return t.month >= 1 && t.day >= 1 && ymd.ok() && t.hour >= 0 && t.hour < 24 &&
         t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 60;
}

CalendarTime AddSeconds(const CalendarTime& t, std::int64_t secs) {
  return FromSysSeconds(ToSysSeconds(t) + seconds{secs});
}

CalendarTime AddMinutes(const CalendarTime& t, std::int64_t minutes) {
  return FromSysSeconds(ToSysSeconds(t) + std::chrono::minutes{minutes});
}

std::int64_t SecondsBetween(const CalendarTime& from, const CalendarTime& to) {
  return (ToSysSeconds(to) - ToSysSeconds(from)).count();
}

}  // namespace bplink
