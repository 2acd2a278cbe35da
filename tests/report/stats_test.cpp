// The report's formulas on small inputs worked out by hand, and the rules
// that sort readings into day and night.

#include <bplink/report/analysis.h>
#include <bplink/report/stats.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace {

using namespace bplink::report;
using bplink::CalendarTime;

Reading At(int day, int hour, int minute, double sys, double dia = 80) {
  Reading r;
  r.time = {2024, 3, day, hour, minute, 0}, r.sys = sys, r.dia = dia;
  return r;
}

std::vector<const Reading*> Pointers(const std::vector<Reading>& readings) {
  std::vector<const Reading*> out;
  for (const Reading& r : readings) out.push_back(&r);
  return out;
}

TEST(Formulas, SummaryOfAShortSeries) {
  const Summary s = Summarise({120, 130, 110, 140});
  // Count, mean, ARV (10 + 20 + 30) / 3, minimum, maximum.
  EXPECT_EQ(std::tuple(s.n, *s.mean, *s.arv, *s.min, *s.max), std::tuple(4, 125.0, 20.0, 110.0, 140.0));
  EXPECT_NEAR(*s.sd, std::sqrt(500.0 / 3), 1e-12) << "sample SD, n - 1";
  EXPECT_NEAR(*s.cv, std::sqrt(500.0 / 3) / 125 * 100, 1e-12);

  const Summary one = Summarise({120});
  EXPECT_EQ(*one.mean, 120);
  EXPECT_FALSE(one.sd || one.cv || one.arv) << "no spread from one reading";
  EXPECT_FALSE(Summarise({}).mean.has_value());
}

TEST(Formulas, DippingPercentAndClassesAtTheirBoundaries) {
  EXPECT_DOUBLE_EQ(*DippingPercent(150, 120), 20);
  EXPECT_FALSE(DippingPercent(std::nullopt, 120).has_value());
  const std::pair<double, const char*> classes[] = {
      {20.01, "extreme dipper"}, {20, "dipper"},         {10, "dipper"},         {9.99, "non-dipper"},
      {0.01, "non-dipper"},      {0, "reverse dipper"}, {-4, "reverse dipper"}};
  for (const auto& [percent, name] : classes) EXPECT_EQ(DippingClass(percent), name) << percent;
}

TEST(Formulas, WeightedSdWeighsDayAndNightByTheirHours) {
  EXPECT_DOUBLE_EQ(*WeightedSd(12, 15, 8, 9), (12 * 15 + 8 * 9) / 24.0);
  EXPECT_FALSE(WeightedSd(12, 15, std::nullopt, 9).has_value());
}

TEST(Formulas, LoadCountsReadingsAboveTheirOwnPeriodsThreshold) {
  EXPECT_DOUBLE_EQ(*LoadPercent({{140, 135}, {135, 135}, {121, 120}, {100, 120}}), 50) << "equal is not above";
  EXPECT_FALSE(LoadPercent({}).has_value());
}

TEST(Formulas, EditingCriteriaKeepTheirBoundsAndCountTheDevicesMark) {
  const std::tuple<double, double, const char*> cases[] = {
      {50, 40, ""}, {240, 140, ""}, {49.9, 40, "systolic"}, {241, 80, "systolic"}, {120, 39, "diastolic"},
      {150, 141, "diastolic"}};
  for (const auto& [sys, dia, reason] : cases) {
    const std::string why = ExclusionReason(At(1, 8, 0, sys, dia));
    EXPECT_EQ(why.empty(), *reason == '\0') << sys << "/" << dia;
    EXPECT_THAT(why, testing::HasSubstr(reason));
  }
  Reading undated = At(1, 8, 0, 120, 80);
  undated.time.month = 0;
  EXPECT_THAT(ExclusionReason(undated), testing::HasSubstr("date"));
}

TEST(DayNight, SourcesInOrderOfPreference) {
  const ClockWindow option{23 * 60, 6 * 60};
  Recording r;
  r.readings = {At(1, 8, 0, 120), At(1, 23, 0, 110)};
  EXPECT_EQ(ChooseDayNightRule(r, option).source, DayNightSource::kNightOption);
  EXPECT_EQ(ChooseDayNightRule(r, std::nullopt).source, DayNightSource::kDefault);
  r.plan = PlanPeriods{6 * 60 + 30, 30, 21 * 60 + 30, 60};
  const DayNightRule plan = ChooseDayNightRule(r, option);
  EXPECT_EQ(plan.source, DayNightSource::kDevicePlan);
  EXPECT_EQ(std::pair(plan.window.night_start, plan.window.day_start), std::pair(21 * 60 + 30, 6 * 60 + 30));
  r.readings[0].awake = true;
  EXPECT_EQ(ChooseDayNightRule(r, option).source, DayNightSource::kDevicePlan) << "awake only on some readings";
  r.readings[1].awake = false;
  EXPECT_EQ(ChooseDayNightRule(r, option).source, DayNightSource::kAwakeColumn);
}

TEST(DayNight, ClockWindowsWithAndWithoutMidnightInside) {
  const DayNightRule standard{DayNightSource::kDefault, kDefaultNight};
  const DayNightRule early{DayNightSource::kNightOption, {60, 5 * 60}};
  const std::tuple<const DayNightRule&, int, int, bool> cases[] = {
      {standard, 21, 59, false}, {standard, 22, 0, true}, {standard, 6, 59, true}, {standard, 7, 0, false},
      {early, 0, 59, false},     {early, 1, 0, true},     {early, 5, 0, false}};
  for (const auto& [rule, hour, minute, night] : cases)
    EXPECT_EQ(IsNight(At(1, hour, minute, 120), rule), night) << hour << ":" << minute;
}

TEST(DayNight, NightOptionIsTwoDifferentTimesOfDay) {
  const auto window = ParseNightWindow("23:30-06:15").value();
  EXPECT_EQ(std::pair(window.night_start, window.day_start), std::pair(23 * 60 + 30, 6 * 60 + 15));
  for (const char* bad : {"22:00-22:00", "24:00-06:00", "22-07", "22:00/07:00", "", "22:00-07:00x"})
    EXPECT_FALSE(ParseNightWindow(bad).has_value()) << bad;
}

TEST(DayNight, HoursComeFromTheWindowOrFromTheSpacingOfReadings) {
  const PeriodHours standard = HoursOf({DayNightSource::kDefault, kDefaultNight}, {});
  EXPECT_EQ(std::pair(standard.day, standard.night), std::pair(15.0, 9.0));
  std::vector<Reading> readings = {At(1, 22, 0, 120), At(1, 23, 0, 110), At(2, 1, 0, 105), At(2, 2, 0, 125)};
  for (std::size_t i = 0; i < readings.size(); ++i) readings[i].awake = i == 0 || i == 3;
  const PeriodHours spaced = HoursOf({DayNightSource::kAwakeColumn, kDefaultNight}, Pointers(readings));
  EXPECT_EQ(std::pair(spaced.day, spaced.night), std::pair(1.0, 3.0));
}

TEST(MorningSurge, AroundTheEndOfTheNightWindow) {
  std::vector<Reading> readings = {
      At(1, 22, 0, 110), At(1, 23, 0, 110), At(2, 1, 0, 108), At(2, 2, 0, 100),
      At(2, 3, 0, 95),  // the lowest of the night
      At(2, 4, 0, 104), At(2, 5, 0, 112), At(2, 5, 30, 114), At(2, 6, 0, 116), At(2, 6, 30, 118),
      At(2, 7, 0, 140), At(2, 7, 30, 142), At(2, 8, 0, 138), At(2, 8, 30, 144),
      At(2, 12, 0, 150)};  // outside both windows

  const auto surge = ComputeMorningSurge(Pointers(readings), {DayNightSource::kDefault, kDefaultNight});
  ASSERT_TRUE(surge.has_value());
  // Pre-waking: 112, 114, 116, 118 from 05:00 to 06:30.
  EXPECT_EQ(std::tuple(surge->wake, *surge->morning_mean, *surge->prewaking_mean, *surge->prewaking_surge),
            std::tuple(CalendarTime{2024, 3, 2, 7, 0, 0}, 141.0, 115.0, 26.0));
  EXPECT_DOUBLE_EQ(*surge->trough_mean, (100 + 95 + 104) / 3.0);
  EXPECT_DOUBLE_EQ(*surge->sleep_trough_surge, 141 - (100 + 95 + 104) / 3.0);
}

TEST(MorningSurge, WithTheAwakeColumnWakingIsTheFirstAwakeReading) {
  std::vector<Reading> readings = {At(1, 23, 0, 120), At(2, 3, 0, 100), At(2, 6, 10, 110), At(2, 6, 40, 130),
                                   At(2, 7, 40, 136)};
  for (Reading& r : readings) r.awake = r.time.hour > 6 || (r.time.hour == 6 && r.time.minute > 30);
  readings[0].awake = true;
  const auto surge = ComputeMorningSurge(Pointers(readings), {DayNightSource::kAwakeColumn, kDefaultNight});
  ASSERT_TRUE(surge.has_value());
  // The trough: the lowest with its one neighbour inside the night.
  EXPECT_EQ(std::tuple(surge->wake, *surge->morning_mean, *surge->prewaking_surge, *surge->trough_mean),
            std::tuple(CalendarTime{2024, 3, 2, 6, 40, 0}, 133.0, 133.0 - 110, 105.0));

  readings.resize(3);  // the recording ends asleep
  EXPECT_FALSE(ComputeMorningSurge(Pointers(readings), {DayNightSource::kAwakeColumn, kDefaultNight}));
}

TEST(Validity, SeventyPercentValidTwentyDayAndSevenNightReadings) {
  EXPECT_TRUE(CheckValidity(100, 70, 20, 7).valid);
  const Validity low = CheckValidity(100, 69, 20, 7);
  EXPECT_FALSE(low.valid);
  EXPECT_THAT(low.problems, testing::ElementsAre(testing::HasSubstr("69.0 %")));
  EXPECT_EQ(CheckValidity(30, 30, 19, 6).problems.size(), 2u);
}

TEST(Verdict, ProfilesJudgeTheHighestLevelAnyMeanReaches) {
  const Profile& esh = *FindProfile("esh2023");
  EXPECT_EQ(Judge(esh, {{{125, 75}, {130, 80}, {115, 65}}}).level, "normal");
  const Verdict night = Judge(esh, {{{125, 75}, {130, 80}, {120, 65}}});
  EXPECT_EQ(night.level, "hypertension");
  EXPECT_THAT(night.exceeded, testing::ElementsAre("night systolic 120.0 ≥ 120.0"));

  const Profile& aha = *FindProfile("aha2017");
  EXPECT_EQ(Judge(aha, {{{116, 70}, {121, 72}, {95, 60}}}).level, "elevated");
  EXPECT_EQ(Judge(aha, {{{120, 76}, {125, 78}, {100, 60}}}).level, "stage 1 hypertension") << "24-hour diastolic";
  EXPECT_EQ(Judge(aha, {{{120, 70}, {125, 78}, {121, 60}}}).level, "stage 2 hypertension");
  EXPECT_EQ(Judge(aha, {{{110, 70}, {110, 70}, {std::nullopt, std::nullopt}}}).level, "normal") << "no night";
  EXPECT_EQ(Judge(esh, {}).level, kNoVerdict) << "nothing counted is not normal";
  EXPECT_EQ(FindProfile("jnc7"), nullptr);
}

TEST(Analysis, SortsByTimeCountsExclusionsAndUsesTheLoadThresholds) {
  Recording r;
  r.readings = {At(1, 10, 0, 140, 90), At(1, 8, 0, 120, 80), At(1, 9, 0, 300, 80), At(1, 23, 0, 125, 60),
                At(1, 12, 0, 130, 70)};
  r.readings[4].device_valid = false;
  const Analysis a = Analyse(r, *FindProfile("esh2023"), std::nullopt);
  EXPECT_EQ(std::tuple(a.total, a.counted, a.excluded_by_reason.size()), std::tuple(5, 3, 2u));
  EXPECT_EQ(a.recording.readings.front().time.hour, 8);
  EXPECT_DOUBLE_EQ(*a.periods[kDay].sys.arv, 20) << "08:00 120 then 10:00 140, the artifact left out";
  // Excluded readings make no hourly mean.
  EXPECT_EQ(std::tuple(a.periods[kNight].n, a.hourly[10].n, a.hourly[9].n), std::tuple(1, 1, 0));
  // Day 140/90 is above 135/85; night 125 is above 120.
  EXPECT_DOUBLE_EQ(*a.load_sys[k24h], 200.0 / 3);
  EXPECT_DOUBLE_EQ(*a.load_dia[k24h], 100.0 / 3);
}

}  // namespace
