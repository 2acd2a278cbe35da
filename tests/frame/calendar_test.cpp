// Dating records: a start time plus minutes or seconds, carried over days,
// months and years as the calendar has them.

#include <bplink/env.h>
#include <gtest/gtest.h>

namespace {

using bplink::AddMinutes;
using bplink::AddSeconds;
using bplink::CalendarTime;
using bplink::IsValidTime;
using bplink::SecondsBetween;

TEST(Calendar, MinutesCarryOverDayMonthYearAndLeapDays) {
  EXPECT_EQ(AddMinutes({2026, 12, 31, 23, 30, 0}, 45), (CalendarTime{2027, 1, 1, 0, 15, 0}));
  EXPECT_EQ(AddMinutes({2026, 1, 31, 22, 0, 0}, 24 * 60), (CalendarTime{2026, 2, 1, 22, 0, 0}));
  EXPECT_EQ(AddMinutes({2026, 3, 1, 0, 10, 5}, -20), (CalendarTime{2026, 2, 28, 23, 50, 5}));
  EXPECT_EQ(AddMinutes({2024, 2, 28, 23, 0, 0}, 60), (CalendarTime{2024, 2, 29, 0, 0, 0}));
  EXPECT_EQ(AddMinutes({2100, 2, 28, 23, 0, 0}, 60), (CalendarTime{2100, 3, 1, 0, 0, 0}));
  EXPECT_EQ(AddMinutes({2000, 2, 28, 23, 0, 0}, 60), (CalendarTime{2000, 2, 29, 0, 0, 0}));
}

TEST(Calendar, SecondsCarryAndDifferencesAreWholeSeconds) {
  const CalendarTime start{2026, 6, 30, 23, 59, 58};
  EXPECT_EQ(AddSeconds(start, 3), (CalendarTime{2026, 7, 1, 0, 0, 1}));
  EXPECT_EQ(SecondsBetween(start, AddSeconds(start, 86400 * 40 + 7)), 86400 * 40 + 7);
  EXPECT_EQ(SecondsBetween(AddSeconds(start, 90), start), -90);
  // A whole recording day of 30-minute offsets lands where counting says.
  CalendarTime t = start;
  for (int i = 0; i < 48; ++i) t = AddMinutes(t, 30);
  EXPECT_EQ(SecondsBetween(start, t), 86400);
}

// Devices send raw fields; a month 13 or a day 32 is carried, not rejected.
TEST(Calendar, FieldsOutOfRangeAreCarried) {
  EXPECT_EQ(AddSeconds({2026, 13, 1, 0, 0, 0}, 0), (CalendarTime{2027, 1, 1, 0, 0, 0}));
  EXPECT_EQ(AddSeconds({2026, 4, 31, 0, 0, 0}, 0), (CalendarTime{2026, 5, 1, 0, 0, 0}));
  EXPECT_EQ(AddSeconds({2026, 0, 1, 0, 0, 0}, 0), (CalendarTime{2025, 12, 1, 0, 0, 0}));
  EXPECT_EQ(AddSeconds({2026, 5, 1, 25, 61, 0}, 0), (CalendarTime{2026, 5, 2, 2, 1, 0}));
}

TEST(Calendar, ValidityRejectsImpossibleDates) {
  EXPECT_TRUE(IsValidTime({2024, 2, 29, 23, 59, 59}));
  for (const CalendarTime& t : {CalendarTime{2026, 2, 29, 0, 0, 0}, {2026, 4, 31, 0, 0, 0}, {2026, 0, 10, 0, 0, 0},
                                {2026, 13, 10, 0, 0, 0}, {2026, 1, 0, 0, 0, 0}, {2026, 1, 1, 24, 0, 0},
                                {2026, 1, 1, 0, 60, 0}, {2026, 1, 1, 0, 0, -1}, {2026, 1, 1, 0, 0, 60}, {}})
    EXPECT_FALSE(IsValidTime(t)) << t.year << "-" << t.month << "-" << t.day << " " << t.hour << ":" << t.minute
                                 << ":" << t.second;
}

}  // namespace
