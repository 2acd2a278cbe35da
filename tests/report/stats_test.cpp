// The report's formulas on small inputs worked out by hand, and the rules
// that sort readings into day and night.

#include <bplink/report/analysis.h>
#include <bplink/report/stats.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
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
  // Systolic 70..260, diastolic 40..150, pulse pressure 20..150 mmHg, pulse
  // 27..220 bpm, each bound inclusive; a diastolic at or above the systolic first.
  const std::tuple<double, double, std::optional<double>, const char*> cases[] = {
      {70, 40, std::nullopt, ""},  {260, 150, 220, ""},        {190, 40, 27, ""},
      {69, 40, 60, "systolic"},    {261, 150, 60, "systolic"}, {120, 39, 60, "diastolic"},
      {210, 151, 60, "diastolic"}, {119, 100, 60, "pulse pressure"}, {191, 40, 60, "pulse pressure"},
      {120, 80, 26, "pulse outside 27..220 bpm"}, {120, 80, 221, "pulse outside"},
      {90, 120, 60, "diastolic not below systolic"}, {100, 100, 60, "diastolic not below systolic"}};
  for (const auto& [sys, dia, pulse, reason] : cases) {
    Reading r = At(1, 8, 0, sys, dia);
    r.pulse = pulse;
    const std::string why = ExclusionReason(r);
    EXPECT_EQ(why.empty(), *reason == '\0') << sys << "/" << dia << " " << why;
    EXPECT_THAT(why, testing::HasSubstr(reason));
  }
  Reading undated = At(1, 8, 0, 120, 80);
  undated.time.month = 0;
  EXPECT_THAT(ExclusionReason(undated), testing::HasSubstr("date"));
  // The clock's bounds, and the physician's reason before any other.
  const ClockBounds bounds{CalendarTime{2024, 3, 2, 9, 0, 0}, CalendarTime{2024, 3, 1, 8, 0, 0}};
  EXPECT_EQ(ExclusionReason(At(1, 7, 59, 120), bounds), kBeforePlanStart);
  EXPECT_EQ(ExclusionReason(At(1, 8, 0, 120), bounds), "");
  EXPECT_EQ(ExclusionReason(At(2, 9, 1, 120), bounds), kAfterDownload);
  Reading by_hand = At(2, 9, 1, 300, 80);
  by_hand.hand_excluded = "cuff off";
  EXPECT_EQ(ExclusionReason(by_hand, bounds), "excluded by hand: cuff off");
}

TEST(DayNight, SourcesInOrderOfPreference) {
  // The diary, then --night, over the awake column, the plan and the fixed window.
  const ClockWindow option{23 * 60, 6 * 60};
  Recording r;
  r.readings = {At(1, 8, 0, 120), At(1, 23, 0, 110)};
  EXPECT_EQ(ChooseDayNightRule(r, std::nullopt).source, DayNightSource::kDefault);
  r.plan = PlanPeriods{6 * 60 + 30, 30, 21 * 60 + 30, 60};
  const DayNightRule plan = ChooseDayNightRule(r, std::nullopt);
  EXPECT_EQ(plan.source, DayNightSource::kDevicePlan);
  EXPECT_EQ(std::pair(plan.window.night_start, plan.window.day_start), std::pair(21 * 60 + 30, 6 * 60 + 30));
  r.readings[0].awake = true;
  EXPECT_EQ(ChooseDayNightRule(r, std::nullopt).source, DayNightSource::kDevicePlan) << "awake only on some readings";
  r.readings[1].awake = false;
  EXPECT_EQ(ChooseDayNightRule(r, std::nullopt).source, DayNightSource::kAwakeColumn);
  EXPECT_EQ(ChooseDayNightRule(r, option).source, DayNightSource::kNightOption);
  r.review.sleep = ClockWindow{23 * 60 + 30, 6 * 60 + 45};
  const DayNightRule diary = ChooseDayNightRule(r, option);
  EXPECT_EQ(std::tuple(diary.source, diary.window), std::tuple(DayNightSource::kDiary, *r.review.sleep));
  EXPECT_THAT(DescribeRule(diary), testing::HasSubstr("diary: asleep 23:30 to 06:45"));
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
  EXPECT_THAT(CheckValidity(30, 30, 20, 7, "stopped").problems, testing::ElementsAre(testing::HasSubstr("incomplete")));
}

TEST(Validity, TheDevicesClockIsACriterionOfItsOwn) {
  const auto problems = [](const ClockCheck& clock) { return CheckValidity(100, 100, 40, 20, std::nullopt, clock).problems; };
  EXPECT_TRUE(problems({0, 0, 0.5}).empty());
  EXPECT_TRUE(problems({0, 0, kMaxDaysBeforeDownload}).empty());
  EXPECT_THAT(problems({41, 0, 0.1}), testing::ElementsAre(testing::HasSubstr("41 readings dated after the download")));
  EXPECT_THAT(problems({0, 1, 0.1}), testing::ElementsAre(testing::HasSubstr("1 reading dated before the plan's start")));
  EXPECT_THAT(problems({0, 0, 400}), testing::ElementsAre(testing::HasSubstr("the last reading 400 days before")));
  // The home protocol's own minimums.
  EXPECT_TRUE(CheckHomeValidity(3, 12).valid);
  EXPECT_EQ(CheckHomeValidity(2, 11).problems.size(), 2u);
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

  // No class where a validity criterion fails, whatever the means.
  const std::array<PeriodMeans, kPeriodCount> high = {{{150, 95}, {155, 98}, {140, 85}}};
  EXPECT_EQ(Interpret(CheckValidity(100, 100, 40, 20), Judge(esh, high)).level, "hypertension");
  EXPECT_EQ(Interpret(CheckValidity(37, 37, 37, 0, "stopped"), Judge(esh, high)).level, kNotInterpretable);
}

TEST(Verdict, OfficeAndOutOfOfficeAsEsh2023NamesThem) {
  const std::tuple<OfficeReading, bool, const char*> cases[] = {
      {{150, 95}, false, "white-coat hypertension"}, {{128, 82}, true, "masked hypertension"},
      {{150, 95}, true, "sustained hypertension"},   {{139, 89}, false, "normotension"},
      {{139, 90}, false, "white-coat hypertension"}};
  for (const auto& [office, out_of_office, name] : cases) EXPECT_EQ(ClassifyOffice(office, out_of_office), name);
}

TEST(Formulas, OxygenSaturationTimeBelowNinetyFromTheSpacingOfSamples) {
  // Samples every 10 minutes, one pause of an hour that counts twice the
  // usual spacing, and a sample of 0 that is none.
  const auto at = [](int hour, int minute, int spo2) { return SpO2Sample{{2024, 3, 1, hour, minute, 0}, spo2, 60}; };
  const SpO2Summary s = SummariseSpO2({at(1, 0, 95), at(1, 10, 88), at(1, 20, 0), at(1, 20, 89), at(2, 20, 97),
                                       at(2, 30, 93)});
  EXPECT_EQ(std::tuple(s.n, *s.min), std::tuple(5, 88));
  EXPECT_DOUBLE_EQ(*s.mean, (95 + 88 + 89 + 97 + 93) / 5.0);
  EXPECT_DOUBLE_EQ(s.minutes_below, 10 + 20);  // 88 for 10 min, 89 for 20 (capped at twice 10)
  EXPECT_DOUBLE_EQ(s.minutes, 10 + 10 + 20 + 10 + 10);
  EXPECT_EQ(SummariseSpO2({}).n, 0);
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
  // Five readings on one day: not interpretable, no dipping category.
  EXPECT_EQ(std::tuple(a.interpretable, a.verdict.level), std::tuple(false, std::string(kNotInterpretable)));
  EXPECT_TRUE(a.dipping_sys.has_value());
  EXPECT_FALSE(a.dipping_sys_class.has_value());
}

// A week of a home monitor by the ESH protocol: two readings each morning
// (07:00) and evening (20:00) for seven days, day d morning 130 + d / 80,
// evening 140 + d / 85, and one reading a fortnight before.
Recording HomeWeek(int device_type = 4) {
  Recording r;
  r.device = DeviceSummary{"", device_type, device_type == 1 ? "ambulatory recorder" : "blood-pressure monitor", "", "", ""};
  for (int d = 1; d <= 7; ++d)
    for (const int minute : {0, 2}) {
      r.readings.push_back(At(d, 7, minute, 130 + d, 80));
      r.readings.push_back(At(d, 20, minute, 140 + d, 85));
    }
  Reading early = At(1, 8, 0, 150, 90);
  early.time.month = 2;
  early.time.day = 16;
  r.readings.push_back(early);
  r.downloaded_at = CalendarTime{2024, 3, 8, 9, 0, 0};
  return r;
}

TEST(HomeReport, ChosenByTheDeviceAndTheShapeTheFirstDaySetAside) {
  const Analysis a = Analyse(HomeWeek(), *FindProfile("esh2023"), std::nullopt);
  ASSERT_EQ(a.kind, ReportKind::kHome) << a.kind_reason;
  // Days 2 to 7: 24 readings; systolic (135 + d) on average over d = 2..7.
  EXPECT_EQ(std::tuple(a.counted, a.home.days, a.home.days_table.size()), std::tuple(24, 6, 7u));
  EXPECT_TRUE(a.home.days_table[0].set_aside);
  EXPECT_EQ(a.home.days_table[0].morning.n, 2) << "the day set aside is still listed";
  EXPECT_DOUBLE_EQ(*a.periods[k24h].sys.mean, 139.5);
  EXPECT_DOUBLE_EQ(*a.periods[k24h].dia.mean, 82.5);
  EXPECT_DOUBLE_EQ(*a.home.morning.sys.mean, 134.5);
  EXPECT_DOUBLE_EQ(*a.home.evening.sys.mean, 144.5);
  EXPECT_EQ(a.home.first_day, (CalendarTime{2024, 3, 1, 0, 0, 0}));
  EXPECT_THAT(a.excluded_by_reason,
              testing::UnorderedElementsAre(std::pair<std::string, int>("the first day, set aside", 4),
                                            std::pair<std::string, int>("before the 7-day home-monitoring period", 1)));
  EXPECT_TRUE(a.interpretable);
  EXPECT_EQ(a.verdict.level, "hypertension");
  EXPECT_THAT(a.verdict.exceeded, testing::ElementsAre("home systolic 139.5 ≥ 135.0"));

  // Only three days: the first set aside leaves two, too few.
  Recording short_week = HomeWeek();
  std::erase_if(short_week.readings, [](const Reading& r) { return r.time.day > 3; });
  const Analysis few = Analyse(short_week, *FindProfile("esh2023"), std::nullopt);
  EXPECT_EQ(std::tuple(few.kind, few.interpretable, few.verdict.level),
            std::tuple(ReportKind::kHome, false, std::string(kNotInterpretable)));
  // An ambulatory recorder's readings are ambulatory whatever their shape.
  EXPECT_EQ(Analyse(HomeWeek(1), *FindProfile("esh2023"), std::nullopt).kind, ReportKind::kAmbulatory);
}

TEST(Analysis, OfficeClassOnlyBesideAnInterpretableRecording) {
  // A normal week at home (systolic 120s) beside office 150/95: white-coat.
  Recording r = HomeWeek();
  for (Reading& reading : r.readings) reading.sys -= 20;
  r.review.office = OfficeReading{150, 95};
  EXPECT_EQ(Analyse(r, *FindProfile("esh2023"), std::nullopt).office_class, "white-coat hypertension");
  // The reverse: a high week (139.5/82.5) beside office 128/82: masked.
  Recording high = HomeWeek();
  high.review.office = OfficeReading{128, 82};
  EXPECT_EQ(Analyse(high, *FindProfile("aha2017"), std::nullopt).office_class, "masked hypertension")
      << "always by the ESH thresholds";
  high.readings.resize(8);
  EXPECT_FALSE(Analyse(high, *FindProfile("esh2023"), std::nullopt).office_class.has_value());
}

}  // namespace
