// The formulas of the ambulatory report, each with the reference it follows.
// Everything a clinician reads off the report is computed here; the analysis
// only sorts readings into periods and hands them to these functions.
#pragma once

#include <bplink/plan/recording_minimums.h>
#include <bplink/report/readings.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bplink::report {

// ---------------------------------------------------------------------------
// Editing criteria: the physiological limits outside which a reading is an
// artefact, the same for every route a reading comes by (a download, a CSV,
// a saved JSON, the archive). Pressures by the criteria of Casadei R, Parati
// G, Pomidossi G, et al. 24-hour blood pressure monitoring: evaluation of
// Spacelabs 5300 monitor by comparison with intra-arterial blood pressure
// recording in ambulant subjects. J Hypertens 1988;6:797-803: systolic 70 to
// 260, diastolic 40 to 150, pulse pressure 20 to 150 mmHg. Those criteria set
// no pulse rate; the pulse limits are the ones the R package bp applies to
// ambulatory data (process_data, HRLL and HRUL): 27 to 220 beats per minute.
// A diastolic at or above the systolic is no measurement at all.
struct Limits {
  double low;
  double high;  // inclusive
};
inline constexpr Limits kSysLimits{70, 260};    // mmHg
inline constexpr Limits kDiaLimits{40, 150};
inline constexpr Limits kPulsePressureLimits{20, 150};
inline constexpr Limits kPulseLimits{27, 220};  // beats per minute
inline constexpr const char* kDiaNotBelowSys = "diastolic not below systolic";

// Why a reading is left out, or empty when it counts: the physician's reason
// ("excluded by hand: ..."), the device's own invalid mark (or the reason its
// file gives), a time that is no date, a time outside the recording's clock
// bounds, and the editing criteria above, in that order.
struct ClockBounds {
  std::optional<CalendarTime> downloaded_at;  // a reading dated later is impossible
  std::optional<CalendarTime> plan_start;     // a reading dated earlier is not of this recording
};
inline constexpr const char* kAfterDownload = "dated after the download";
inline constexpr const char* kBeforePlanStart = "dated before the plan's start";
inline constexpr const char* kByHand = "excluded by hand: ";
std::string ExclusionReason(const Reading& r, const ClockBounds& bounds = {});
// The editing criteria alone, for a pair of pressures and a pulse.
std::string EditingProblem(double sys, double dia, std::optional<double> pulse = std::nullopt);

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
// Day and night. What the physician gives decides: the patient's diary
// (--sleep), then a window chosen for this report (--night); else what the
// recording holds: an awake column from a diary or actigraphy, then the
// plan the device reported (day from the first period's start, night from
// the second's); else the fixed window 22:00 to 07:00.
enum class DayNightSource { kDiary, kNightOption, kAwakeColumn, kDevicePlan, kDefault };

inline constexpr ClockWindow kDefaultNight{22 * 60, 7 * 60};

struct DayNightRule {
  DayNightSource source = DayNightSource::kDefault;
  ClockWindow window = kDefaultNight;  // unused for the awake column
};

// The recording's diary (recording.review.sleep) comes first.
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
// J Hypertens 2013;31:1731-68). The numbers are the core's
// (<bplink/plan/recording_minimums.h>), which the plan check holds an
// upload to as well.
using bplink::kMinDayReadings;
using bplink::kMinNightReadings;
using bplink::kMinValidPercent;

// One criterion as the report lists it: what was found against what is
// required, and the sentence a failure reads as.
struct Criterion {
  std::string name;      // "Valid readings"
  std::string found;     // "81.2 % (13 of 16)"
  std::string required;  // "at least 70 %"
  bool pass = true;
  std::string problem;   // when it fails
};
struct Validity {
  bool valid = false;
  double valid_pct = 0;
  std::vector<Criterion> criteria;
  std::vector<std::string> problems;  // one sentence per failed criterion
};

// The device's clock: readings dated after the download or before the
// plan's start (left out as impossible), and a newest reading far before
// the download, as a clock reset to its first day gives. A clock that is
// off by a known amount is corrected with the review's clock offset.
inline constexpr double kMaxDaysBeforeDownload = 31;
struct ClockCheck {
  int after_download = 0;
  int before_plan_start = 0;
  std::optional<double> days_before_download;  // from the newest dated reading
};

// `incomplete`: why the download stopped part-way; such a recording fails.
Validity CheckValidity(int total, int counted, int day_n, int night_n,
                       const std::optional<std::string>& incomplete = std::nullopt, const ClockCheck& clock = {});

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
// A home mean against the day thresholds of each level (ESH 2023: 135/85).
Verdict JudgeHome(const Profile& profile, const PeriodMeans& home);

// The one rule that says whether a recording may be given a verdict: only
// when every validity criterion holds. Otherwise the verdict is "not
// interpretable" and names the criteria that failed; the means are still
// shown, marked as such, but no class and no dipping category is given.
inline constexpr const char* kNotInterpretable = "not interpretable";
Verdict Interpret(const Validity& validity, Verdict judged);

// Office and out-of-office blood pressure together, as the 2023 ESH
// guidelines name them: office hypertension at 140/90 mmHg; out of the
// office by the ambulatory thresholds above, or the home threshold below.
// Both high is sustained hypertension, office alone white-coat, out of the
// office alone masked hypertension, neither normotension.
inline constexpr Thresholds kOfficeThreshold{140, 90};
std::string ClassifyOffice(const OfficeReading& office, bool out_of_office_high);

// ---------------------------------------------------------------------------
// Home blood pressure by the ESH protocol (Stergiou GS, Palatini P, Parati G,
// et al. 2021 European Society of Hypertension practice guidelines for office
// and out-of-office blood pressure measurement. J Hypertens 2021;39:1293-302):
// duplicate morning and evening readings over up to 7 days, the first day
// set aside, at least 3 days and 12 readings beyond it; the mean of all of
// them against 135/85 mmHg (the day thresholds of a profile's levels).
inline constexpr int kHomeDays = 7;
inline constexpr int kMinHomeDays = 3;
inline constexpr int kMinHomeReadings = 12;
// A reading from 03:00 up to noon is a morning reading, any other an evening one.
inline constexpr int kMorningFrom = 3 * 60;
inline constexpr int kEveningFrom = 12 * 60;
bool IsMorning(const CalendarTime& t);
Validity CheckHomeValidity(int days, int counted, const std::optional<std::string>& incomplete = std::nullopt,
                           const ClockCheck& clock = {});

// ---------------------------------------------------------------------------
// Oxygen saturation: mean, lowest, and the time below 90 %, each sample
// standing for the time until the next one (at most twice the usual
// spacing, so a pause is not counted), the last for the usual spacing. A
// sample of 0 or above 100 % is none.
inline constexpr int kSpO2Low = 90;
struct SpO2Summary {
  int n = 0;
  std::optional<double> mean;
  std::optional<int> min;
  double minutes = 0;        // the time the samples cover
  double minutes_below = 0;  // of it, below kSpO2Low
};
SpO2Summary SummariseSpO2(const std::vector<SpO2Sample>& samples_in_time_order);


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
