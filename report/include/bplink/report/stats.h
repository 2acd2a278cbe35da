// The formulas of the ambulatory report, each with the reference it follows.
// Everything a clinician reads off the report is computed here; the analysis
// only sorts readings into periods and hands them to these functions.
#pragma once

#include <bplink/report/readings.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bplink::report {

// ---------------------------------------------------------------------------
// Editing criteria: Omboni S, Parati G, Zanchetti A, Mancia G. Calculation of
// trough:peak ratio of antihypertensive treatment from ambulatory blood
// pressure: methodological aspects. J Hypertens 1995;13:1105-12 (also applied
// by the R package bp). Readings outside these bounds are artifacts.
inline constexpr double kSysLow = 50, kSysHigh = 240;  // mmHg, inclusive
inline constexpr double kDiaLow = 40, kDiaHigh = 140;

// Why a reading is left out, or empty when it counts. Besides the editing
// criteria: the device's own invalid mark (or the reason its file gives), a
// time that is no date, and a time after `downloaded_at`.
inline constexpr const char* kAfterDownload = "dated after the download";
std::string ExclusionReason(const Reading& r, const std::optional<CalendarTime>& downloaded_at = std::nullopt);

// ---------------------------------------------------------------------------
// Descriptive statistics of one quantity over one period, values in time
// order. SD is the sample SD (n - 1); CV = SD / mean in percent; ARV, the
// average real variability, is the mean absolute difference of successive
// values (Mena L, Pintos S, Queipo NV, et al. A reliable index for the
// prognostic significance of blood pressure variability. J Hypertens
// 2005;23:505-11), taken over the period's own readings in time order.
struct Summary {
  int n = 0;
  std::optional<double> mean, sd, cv, arv, min, max;
};
Summary Summarise(const std::vector<double>& values);

// Weighted 24-hour SD: day and night SDs weighted by the hours each period
// covers, which removes the nocturnal fall from the 24-hour variability
// (Bilo G, Giglio A, Styczkiewicz K, et al. A new method for assessing 24-h
// blood pressure variability after excluding the contribution of nocturnal
// blood pressure fall. J Hypertens 2007;25:2058-66).
std::optional<double> WeightedSd(std::optional<double> day_sd, double day_hours,
                                 std::optional<double> night_sd, double night_hours);

// ---------------------------------------------------------------------------
// Nocturnal dipping, percent: (1 - night mean / day mean) x 100 (O'Brien E,
// Sheridan J, O'Malley K. Dippers and non-dippers. Lancet 1988;2:397).
// Classes: extreme dipper above 20 %, dipper 10 to 20 %, non-dipper between
// 0 and 10 %, reverse dipper at or below 0 %.
std::optional<double> DippingPercent(std::optional<double> day_mean, std::optional<double> night_mean);
std::string DippingClass(double percent);
// The same fall as the night-to-day ratio of the means (1 - dipping / 100).
std::optional<double> NightDayRatio(std::optional<double> day_mean, std::optional<double> night_mean);

// ---------------------------------------------------------------------------
// Blood-pressure load: the share of readings above the threshold of the
// period each was taken in, in percent (White WB, Dey HM, Schulman P.
// Assessment of the daily blood pressure load as a determinant of cardiac
// function in patients with mild-to-moderate hypertension. Am Heart J
// 1989;118:782-95).
struct ValueAndThreshold {
  double value;
  double threshold;
};
std::optional<double> LoadPercent(const std::vector<ValueAndThreshold>& readings);

// ---------------------------------------------------------------------------
// Day and night. In order of preference: the awake column of a diary or
// actigraphy; the plan the device reported (day from the first period's
// start, night from the second's); the --night option; 22:00 to 07:00.
enum class DayNightSource { kAwakeColumn, kDevicePlan, kNightOption, kDefault };

struct ClockWindow {  // minutes after midnight
  int night_start = 0;
  int day_start = 0;
};
inline constexpr ClockWindow kDefaultNight{22 * 60, 7 * 60};

struct DayNightRule {
  DayNightSource source = DayNightSource::kDefault;
  ClockWindow window = kDefaultNight;  // unused for the awake column
};

// "23:00-06:30"; nullopt when it is not two times of day that differ.
std::optional<ClockWindow> ParseNightWindow(std::string_view text);
DayNightRule ChooseDayNightRule(const Recording& recording, std::optional<ClockWindow> night_option);
bool IsNight(const Reading& r, const DayNightRule& rule);
std::string DescribeRule(const DayNightRule& rule);  // a sentence for the report
std::string SourceKey(DayNightSource source);        // a stable word for JSON

// Hours of day and of night, for the weighted SD. A clock window gives them
// directly; with the awake column each reading stands for the time until the
// next one, and those spans are added up per period.
struct PeriodHours {
  double day = 0;
  double night = 0;
};
PeriodHours HoursOf(const DayNightRule& rule, const std::vector<const Reading*>& counted_in_time_order);

// ---------------------------------------------------------------------------
// Morning surge of systolic pressure (Kario K, Pickering TG, Umeda Y, et al.
// Morning surge in blood pressure as a predictor of silent and clinical
// cerebrovascular disease in elderly hypertensives: a prospective study.
// Circulation 2003;107:1401-6): the morning mean (the two hours after
// waking) minus the prewaking mean (the two hours before waking), and minus
// the mean of the lowest night reading with the readings just before and
// after it (the sleep-trough surge). Waking ends the longest run of night
// readings that a day reading follows: at the first day reading after it
// with the awake column, else at the window's day start.
struct MorningSurge {
  CalendarTime wake;
  std::optional<double> morning_mean, prewaking_mean, trough_mean;
  std::optional<double> prewaking_surge, sleep_trough_surge;
};
std::optional<MorningSurge> ComputeMorningSurge(const std::vector<const Reading*>& counted_in_time_order,
                                                const DayNightRule& rule);

// ---------------------------------------------------------------------------
// Validity: at least 70 % of the readings valid, at least 20 day and 7 night
// readings (O'Brien E, Parati G, Stergiou G, et al. European Society of
// Hypertension position paper on ambulatory blood pressure monitoring.
// J Hypertens 2013;31:1731-68).
inline constexpr double kMinValidPercent = 70;
inline constexpr int kMinDayReadings = 20;
inline constexpr int kMinNightReadings = 7;
struct Validity {
  bool valid = false;
  double valid_pct = 0;
  std::vector<std::string> problems;  // one sentence per failed criterion
};
// `incomplete`: why the download stopped part-way; such a recording fails.
Validity CheckValidity(int total, int counted, int day_n, int night_n,
                       const std::optional<std::string>& incomplete = std::nullopt);

// ---------------------------------------------------------------------------
// Verdict: period means against a profile's thresholds; a mean at or above
// a threshold exceeds it. A profile has ascending levels, the verdict is the
// highest level any mean reaches.
// esh2023: Mancia G, Kreutz R, Brunström M, et al. 2023 ESH Guidelines for
//   the management of arterial hypertension. J Hypertens 2023;41:1874-2071:
//   hypertension at 24 h 130/80, day 135/85, night 120/70 mmHg.
// aha2017: Whelton PK, Carey RM, Aronow WS, et al. 2017 ACC/AHA guideline
//   for the prevention, detection, evaluation, and management of high blood
//   pressure in adults. Hypertension 2018;71:e13-e115, table 11: the
//   ambulatory values corresponding to the office categories (elevated
//   24 h 115/75, day 120/80, night 100/65; stage 1 125/75, 130/80, 110/65;
//   stage 2 130/80, 135/85, 120/70).
struct Thresholds {
  double sys = 0;
  double dia = 0;
};
enum PeriodIndex { k24h, kDay, kNight, kPeriodCount };
inline constexpr std::array<const char*, kPeriodCount> kPeriodKeys = {"24h", "day", "night"};

struct ProfileLevel {
  const char* name;
  std::array<Thresholds, kPeriodCount> limits;  // by PeriodIndex
};
struct Profile {
  const char* id;
  const char* title;
  std::vector<ProfileLevel> levels;  // ascending
  int load_level;                    // the level whose thresholds the load and the chart use
};
const Profile* FindProfile(std::string_view id);
const std::vector<Profile>& Profiles();

struct PeriodMeans {
  std::optional<double> sys, dia;
};
inline constexpr const char* kNoVerdict = "no verdict";  // no reading counts
struct Verdict {
  std::string level;                  // "normal", a level name, or kNoVerdict
  std::vector<std::string> exceeded;  // e.g. "night systolic 126.4 >= 120"
};
Verdict Judge(const Profile& profile, const std::array<PeriodMeans, kPeriodCount>& means);

// ---------------------------------------------------------------------------
// Hourly means by clock hour of the reading, 0..23.
struct HourMeans {
  int n = 0;
  std::optional<double> sys, dia, map, pulse;
};
std::array<HourMeans, kHoursPerDay> HourlyMeans(const std::vector<const Reading*>& counted);

// The mean of the values present, or nullopt when there are none.
std::optional<double> MeanOf(const std::vector<double>& values);

}  // namespace bplink::report
