// The report's formulas; the references are with the declarations.

#include <bplink/report/stats.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace bplink::report {
namespace {

constexpr double kPercent = 100;

constexpr double kExtremeDipperAbove = 20;  // percent
constexpr double kDipperFrom = 10;
constexpr double kNonDipperAbove = 0;

constexpr std::int64_t kSurgeWindowSeconds = 2 * kSecondsPerHour;


int MinuteOfDay(const CalendarTime& t) { return t.hour * kMinutesPerHour + t.minute; }

std::string OneDecimal(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", value);
  return buffer;
}

std::string OneWhole(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.0f", value);
  return buffer;
}

}  // namespace

std::string EditingProblem(double sys, double dia, std::optional<double> pulse) {
  const auto outside = [](double v, const Limits& l) { return v < l.low || v > l.high; };
  const auto range = [](const Limits& l) { return OneWhole(l.low) + ".." + OneWhole(l.high); };
  if (dia >= sys) return kDiaNotBelowSys;
  if (outside(sys, kSysLimits)) return "systolic outside " + range(kSysLimits) + " mmHg";
  if (outside(dia, kDiaLimits)) return "diastolic outside " + range(kDiaLimits) + " mmHg";
  if (outside(sys - dia, kPulsePressureLimits)) return "pulse pressure outside " + range(kPulsePressureLimits) + " mmHg";
  if (pulse && outside(*pulse, kPulseLimits)) return "pulse outside " + range(kPulseLimits) + " bpm";
  return {};
}

std::string ExclusionReason(const Reading& r, const ClockBounds& bounds) {
  if (!r.hand_excluded.empty()) return kByHand + r.hand_excluded;
  if (!r.device_valid) return r.invalid_reason.empty() ? "marked invalid by the device" : r.invalid_reason;
  if (!IsValidTime(r.time)) return "no valid date and time";
  const auto valid = [](const std::optional<CalendarTime>& t) { return t && IsValidTime(*t); };
  if (valid(bounds.downloaded_at) && SecondsOf(r.time) > SecondsOf(*bounds.downloaded_at)) return kAfterDownload;
  if (valid(bounds.plan_start) && SecondsOf(r.time) < SecondsOf(*bounds.plan_start)) return kBeforePlanStart;
  return EditingProblem(r.sys, r.dia, r.pulse);
}

std::optional<double> MeanOf(const std::vector<double>& values) {
  if (values.empty()) return std::nullopt;
  double sum = 0;
  for (double v : values) sum += v;
  return sum / static_cast<double>(values.size());
}

Summary Summarise(const std::vector<double>& values) {
  Summary s;
  s.n = static_cast<int>(values.size());
  if (values.empty()) return s;
  s.mean = MeanOf(values);
  s.min = *std::min_element(values.begin(), values.end());
  s.max = *std::max_element(values.begin(), values.end());
  if (values.size() < 2) return s;
  double squares = 0;
  double steps = 0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    squares += (values[i] - *s.mean) * (values[i] - *s.mean);
    if (i > 0) steps += std::fabs(values[i] - values[i - 1]);
  }
  s.sd = std::sqrt(squares / static_cast<double>(values.size() - 1));
  s.arv = steps / static_cast<double>(values.size() - 1);
  if (*s.mean != 0) s.cv = *s.sd / *s.mean * kPercent;
  return s;
}

std::optional<double> WeightedSd(std::optional<double> day_sd, double day_hours,
                                 std::optional<double> night_sd, double night_hours) {
  if (!day_sd || !night_sd || day_hours + night_hours <= 0) return std::nullopt;
  return (*day_sd * day_hours + *night_sd * night_hours) / (day_hours + night_hours);
}

std::optional<double> DippingPercent(std::optional<double> day_mean, std::optional<double> night_mean) {
  if (!day_mean || !night_mean || *day_mean == 0) return std::nullopt;
  return (1 - *night_mean / *day_mean) * kPercent;
}

std::string DippingClass(double percent) {
  if (percent > kExtremeDipperAbove) return "extreme dipper";
  if (percent >= kDipperFrom) return "dipper";
  if (percent > kNonDipperAbove) return "non-dipper";
  return "reverse dipper";
}

std::optional<double> LoadPercent(const std::vector<ValueAndThreshold>& readings) {
  if (readings.empty()) return std::nullopt;
  const auto above = std::count_if(readings.begin(), readings.end(),
                                   [](const ValueAndThreshold& r) { return r.value > r.threshold; });
  return static_cast<double>(above) * kPercent / static_cast<double>(readings.size());
}

// ---------------------------------------------------------------------------
// Day and night

DayNightRule ChooseDayNightRule(const Recording& recording, std::optional<ClockWindow> night_option) {
  if (recording.review.sleep) return {DayNightSource::kDiary, *recording.review.sleep};
  if (night_option) return {DayNightSource::kNightOption, *night_option};
  const bool all_awake = !recording.readings.empty() &&
                         std::all_of(recording.readings.begin(), recording.readings.end(),
                                     [](const Reading& r) { return r.awake.has_value(); });
  if (all_awake) return {DayNightSource::kAwakeColumn, kDefaultNight};
  if (recording.plan)
    return {DayNightSource::kDevicePlan, {recording.plan->night_start, recording.plan->day_start}};
  return {DayNightSource::kDefault, kDefaultNight};
}

bool IsNight(const Reading& r, const DayNightRule& rule) {
  if (rule.source == DayNightSource::kAwakeColumn) return r.awake.has_value() && !*r.awake;
  const int m = MinuteOfDay(r.time);
  const ClockWindow& w = rule.window;
  if (w.night_start < w.day_start) return m >= w.night_start && m < w.day_start;
  return m >= w.night_start || m < w.day_start;  // the night spans midnight
}

std::string SourceKey(DayNightSource source) {
  switch (source) {
    case DayNightSource::kDiary: return "diary";
    case DayNightSource::kNightOption: return "night option";
    case DayNightSource::kAwakeColumn: return "awake column";
    case DayNightSource::kDevicePlan: return "device plan";
    case DayNightSource::kDefault: return "default";
  }
  return "default";
}

std::string DescribeRule(const DayNightRule& rule) {
  const std::string night = FormatClock(rule.window.night_start);
  const std::string day = FormatClock(rule.window.day_start);
  switch (rule.source) {
    case DayNightSource::kDiary:
      return "Day and night from the patient's diary: asleep " + night + " to " + day + ".";
    case DayNightSource::kNightOption:
      return "Night from the --night option, a fixed window: " + night + " to " + day + ".";
    case DayNightSource::kAwakeColumn:
      return "Day and night from the awake column (diary or actigraphy).";
    case DayNightSource::kDevicePlan:
      return "Day and night from the device's plan: day from " + day + ", night from " + night + ".";
    case DayNightSource::kDefault:
      return "Night " + night + " to " + day + ", the fixed window (no diary, awake column, plan or --night).";
  }
  return {};
}

PeriodHours HoursOf(const DayNightRule& rule, const std::vector<const Reading*>& counted_in_time_order) {
  if (rule.source != DayNightSource::kAwakeColumn) {
    const int night = (rule.window.day_start - rule.window.night_start + kMinutesPerDay) % kMinutesPerDay;
    return {static_cast<double>(kMinutesPerDay - night) / kMinutesPerHour,
            static_cast<double>(night) / kMinutesPerHour};
  }
  PeriodHours hours;
  for (std::size_t i = 0; i + 1 < counted_in_time_order.size(); ++i) {
    const Reading& r = *counted_in_time_order[i];
    const double span = static_cast<double>(SecondsOf(counted_in_time_order[i + 1]->time) - SecondsOf(r.time)) /
                        static_cast<double>(kSecondsPerHour);
    (IsNight(r, rule) ? hours.night : hours.day) += span;
  }
  return hours;
}

// ---------------------------------------------------------------------------
// Morning surge

std::optional<MorningSurge> ComputeMorningSurge(const std::vector<const Reading*>& readings,
                                                const DayNightRule& rule) {
  // The longest run of night readings with a day reading after it.
  std::size_t best_first = 0, best_end = 0;
  for (std::size_t i = 0; i < readings.size();) {
    if (!IsNight(*readings[i], rule)) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < readings.size() && IsNight(*readings[end], rule)) ++end;
    if (end < readings.size() && end - i > best_end - best_first) {
      best_first = i;
      best_end = end;
    }
    i = end;
  }
  if (best_end == best_first) return std::nullopt;

  MorningSurge surge;
  if (rule.source == DayNightSource::kAwakeColumn) {
    surge.wake = readings[best_end]->time;
  } else {
    const CalendarTime last_night = readings[best_end - 1]->time;
    CalendarTime wake = last_night;
    wake.hour = rule.window.day_start / kMinutesPerHour;
    wake.minute = rule.window.day_start % kMinutesPerHour;
    wake.second = 0;
    if (SecondsOf(wake) < SecondsOf(last_night)) wake = AddSeconds(wake, kSecondsPerDay);
    surge.wake = wake;
  }

  const std::int64_t wake = SecondsOf(surge.wake);
  std::vector<double> morning, prewaking;
  for (const Reading* r : readings) {
    const std::int64_t t = SecondsOf(r->time);
    if (t >= wake && t < wake + kSurgeWindowSeconds) morning.push_back(r->sys);
    if (t >= wake - kSurgeWindowSeconds && t < wake) prewaking.push_back(r->sys);
  }
  std::size_t lowest = best_first;
  for (std::size_t i = best_first; i < best_end; ++i)
    if (readings[i]->sys < readings[lowest]->sys) lowest = i;
  std::vector<double> trough;
  for (std::size_t i = lowest > best_first ? lowest - 1 : lowest; i <= lowest + 1 && i < best_end; ++i)
    trough.push_back(readings[i]->sys);

  surge.morning_mean = MeanOf(morning);
  surge.prewaking_mean = MeanOf(prewaking);
  surge.trough_mean = MeanOf(trough);
  if (surge.morning_mean && surge.prewaking_mean)
    surge.prewaking_surge = *surge.morning_mean - *surge.prewaking_mean;
  if (surge.morning_mean && surge.trough_mean)
    surge.sleep_trough_surge = *surge.morning_mean - *surge.trough_mean;
  return surge;
}

// ---------------------------------------------------------------------------
// Validity, verdict, hourly means

std::optional<double> NightDayRatio(std::optional<double> day_mean, std::optional<double> night_mean) {
  if (!day_mean || !night_mean || *day_mean == 0) return std::nullopt;
  return *night_mean / *day_mean;
}

namespace {

Criterion Minimum(std::string name, int found, int minimum, const std::string& unit) {
  Criterion c{std::move(name), std::to_string(found), "at least " + std::to_string(minimum), found >= minimum, {}};
  if (!c.pass) c.problem = std::to_string(found) + " " + unit + ", fewer than " + std::to_string(minimum);
  return c;
}

// Readings out of the clock's bounds, and how long before the download the
// recording ends.
Criterion ClockCriterion(const ClockCheck& clock) {
  Criterion c{"Device clock", "", "none after the download or before the plan, the last within " +
                                      OneWhole(kMaxDaysBeforeDownload) + " days", true, {}};
  std::vector<std::string> faults;
  const auto count = [](int n, const char* what) {
    return std::to_string(n) + (n == 1 ? " reading " : " readings ") + what;
  };
  if (clock.after_download > 0) faults.push_back(count(clock.after_download, kAfterDownload));
  if (clock.before_plan_start > 0) faults.push_back(count(clock.before_plan_start, kBeforePlanStart));
  if (clock.days_before_download && *clock.days_before_download > kMaxDaysBeforeDownload)
    faults.push_back("the last reading " + OneWhole(*clock.days_before_download) + " days before the download");
  c.pass = faults.empty();
  for (const std::string& fault : faults) c.found += (c.found.empty() ? "" : "; ") + fault;
  if (c.pass) c.found = "none";
  else c.problem = c.found + ": the device's clock was wrong (a --clock-offset corrects it)";
  return c;
}

Validity Judged(std::vector<Criterion> criteria, double valid_pct) {
  Validity v;
  v.valid_pct = valid_pct;
  v.criteria = std::move(criteria);
  for (const Criterion& c : v.criteria)
    if (!c.pass) v.problems.push_back(c.problem);
  v.valid = v.problems.empty();
  return v;
}

Criterion Completeness(const std::optional<std::string>& incomplete) {
  Criterion c{"Download", incomplete ? "stopped part-way (" + *incomplete + ")" : "complete", "complete", !incomplete,
              {}};
  if (incomplete) c.problem = "the download is incomplete (" + *incomplete + ")";
  return c;
}

}  // namespace

Validity CheckValidity(int total, int counted, int day_n, int night_n, const std::optional<std::string>& incomplete,
                       const ClockCheck& clock) {
  const double pct = total > 0 ? counted * kPercent / total : 0;
  Criterion valid{"Valid readings", OneDecimal(pct) + " % (" + std::to_string(counted) + " of " +
                                        std::to_string(total) + ")",
                  "at least " + OneWhole(kMinValidPercent) + " %", pct >= kMinValidPercent, {}};
  if (!valid.pass)
    valid.problem = OneDecimal(pct) + " % of the readings are valid, fewer than " + OneDecimal(kMinValidPercent) + " %";
  return Judged({Completeness(incomplete), std::move(valid), Minimum("Day readings", day_n, kMinDayReadings, "day readings"),
                 Minimum("Night readings", night_n, kMinNightReadings, "night readings"), ClockCriterion(clock)},
                pct);
}

Validity CheckHomeValidity(int days, int counted, const std::optional<std::string>& incomplete,
                           const ClockCheck& clock) {
  return Judged({Completeness(incomplete), Minimum("Days after the first", days, kMinHomeDays, "days after the first"),
                 Minimum("Readings after the first day", counted, kMinHomeReadings, "readings after the first day"),
                 ClockCriterion(clock)},
                0);
}

bool IsMorning(const CalendarTime& t) {
  const int m = MinuteOfDay(t);
  return m >= kMorningFrom && m < kEveningFrom;
}

const std::vector<Profile>& Profiles() {
  static const std::vector<Profile> kProfiles = {
      {"esh2023", "ESH 2023", {{"hypertension", {{{130, 80}, {135, 85}, {120, 70}}}}}, 0},
      {"aha2017",
       "ACC/AHA 2017",
       {{"elevated", {{{115, 75}, {120, 80}, {100, 65}}}},
        {"stage 1 hypertension", {{{125, 75}, {130, 80}, {110, 65}}}},
        {"stage 2 hypertension", {{{130, 80}, {135, 85}, {120, 70}}}}},
       1},
  };
  return kProfiles;
}

const Profile* FindProfile(std::string_view id) {
  for (const Profile& p : Profiles())
    if (id == p.id) return &p;
  return nullptr;
}

namespace {

// The highest of the profile's levels at which a mean reaches its
// threshold: `named` pairs each mean with its name and the period whose
// thresholds it is held to.
struct NamedMeans {
  const char* name;
  PeriodMeans means;
  PeriodIndex limits;
};
Verdict HighestLevel(const Profile& profile, const std::vector<NamedMeans>& named) {
  for (auto level = profile.levels.rbegin(); level != profile.levels.rend(); ++level) {
    Verdict verdict;
    for (const NamedMeans& m : named) {
      const Thresholds& limit = level->limits[m.limits];
      for (const auto& [which, mean, threshold] : {std::tuple(" systolic ", m.means.sys, limit.sys),
                                                   std::tuple(" diastolic ", m.means.dia, limit.dia)})
        if (mean && *mean >= threshold)
          verdict.exceeded.push_back(m.name + std::string(which) + OneDecimal(*mean) + " ≥ " + OneDecimal(threshold));
    }
    if (!verdict.exceeded.empty()) {
      verdict.level = level->name;
      return verdict;
    }
  }
  return {"normal", {}};
}

}  // namespace

Verdict Judge(const Profile& profile, const std::array<PeriodMeans, kPeriodCount>& means) {
  if (!means[k24h].sys) return {kNoVerdict, {}};
  return HighestLevel(profile, {{"24-hour", means[k24h], k24h}, {"day", means[kDay], kDay},
                                {"night", means[kNight], kNight}});
}

Verdict JudgeHome(const Profile& profile, const PeriodMeans& home) {
  if (!home.sys) return {kNoVerdict, {}};
  return HighestLevel(profile, {{"home", home, kDay}});
}

Verdict Interpret(const Validity& validity, Verdict judged) {
  return validity.valid ? judged : Verdict{kNotInterpretable, {}};
}

std::string ClassifyOffice(const OfficeReading& office, bool out_of_office_high) {
  const bool office_high = office.sys >= kOfficeThreshold.sys || office.dia >= kOfficeThreshold.dia;
  if (office_high) return out_of_office_high ? "sustained hypertension" : "white-coat hypertension";
  return out_of_office_high ? "masked hypertension" : "normotension";
}

SpO2Summary SummariseSpO2(const std::vector<SpO2Sample>& samples) {
  constexpr int kMaxSpO2 = 100;
  std::vector<const SpO2Sample*> valid;
  for (const SpO2Sample& s : samples)
    if (s.spo2 > 0 && s.spo2 <= kMaxSpO2 && IsValidTime(s.time)) valid.push_back(&s);
  SpO2Summary summary;
  summary.n = static_cast<int>(valid.size());
  if (valid.empty()) return summary;
  std::vector<double> values, gaps;
  for (std::size_t i = 0; i < valid.size(); ++i) {
    values.push_back(valid[i]->spo2);
    if (i > 0) gaps.push_back(static_cast<double>(SecondsOf(valid[i]->time) - SecondsOf(valid[i - 1]->time)) /
                              kSecondsPerMinute);
  }
  summary.mean = MeanOf(values);
  summary.min = static_cast<int>(*std::min_element(values.begin(), values.end()));
  std::vector<double> sorted = gaps;
  std::sort(sorted.begin(), sorted.end());
  const double usual = sorted.empty() ? 0 : sorted[sorted.size() / 2];
  for (std::size_t i = 0; i < valid.size(); ++i) {
    const double span = i < gaps.size() ? std::min(gaps[i], 2 * usual) : usual;
    summary.minutes += span;
    if (valid[i]->spo2 < kSpO2Low) summary.minutes_below += span;
  }
  return summary;
}

std::array<HourMeans, kHoursPerDay> HourlyMeans(const std::vector<const Reading*>& counted) {
  std::array<std::vector<double>, kHoursPerDay> sys, dia, map, pulse;
  for (const Reading* r : counted) {
    const auto h = static_cast<std::size_t>(r->time.hour);
    if (h >= sys.size()) continue;
    sys[h].push_back(r->sys);
    dia[h].push_back(r->dia);
    if (r->map) map[h].push_back(*r->map);
    if (r->pulse) pulse[h].push_back(*r->pulse);
  }
  std::array<HourMeans, kHoursPerDay> hours;
  for (std::size_t h = 0; h < hours.size(); ++h)
    hours[h] = {static_cast<int>(sys[h].size()), MeanOf(sys[h]), MeanOf(dia[h]), MeanOf(map[h]),
                MeanOf(pulse[h])};
  return hours;
}

}  // namespace bplink::report
