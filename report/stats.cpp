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

}  // namespace

std::string ExclusionReason(const Reading& r, const std::optional<CalendarTime>& downloaded_at) {
  if (!r.device_valid) return r.invalid_reason.empty() ? "marked invalid by the device" : r.invalid_reason;
  if (!IsValidTime(r.time)) return "no valid date and time";
  if (downloaded_at && IsValidTime(*downloaded_at) && SecondsOf(r.time) > SecondsOf(*downloaded_at))
    return kAfterDownload;
  if (r.sys < kSysLow || r.sys > kSysHigh) return "systolic outside 50..240 mmHg";
  if (r.dia < kDiaLow || r.dia > kDiaHigh) return "diastolic outside 40..140 mmHg";
  return {};
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

std::optional<ClockWindow> ParseNightWindow(std::string_view text) {
  constexpr std::size_t kClockLength = 5;  // HH:MM
  if (text.size() != 2 * kClockLength + 1 || text[kClockLength] != '-') return std::nullopt;
  const auto clock = [](std::string_view hhmm) -> std::optional<int> {
    const auto t = ParseLocalTime("2000-01-01T" + std::string(hhmm));
    if (!t) return std::nullopt;
    return MinuteOfDay(*t);
  };
  const auto night = clock(text.substr(0, kClockLength));
  const auto day = clock(text.substr(kClockLength + 1));
  if (!night || !day || *night == *day) return std::nullopt;
  return ClockWindow{*night, *day};
}

DayNightRule ChooseDayNightRule(const Recording& recording, std::optional<ClockWindow> night_option) {
  const bool all_awake = !recording.readings.empty() &&
                         std::all_of(recording.readings.begin(), recording.readings.end(),
                                     [](const Reading& r) { return r.awake.has_value(); });
  if (all_awake) return {DayNightSource::kAwakeColumn, kDefaultNight};
  if (recording.plan)
    return {DayNightSource::kDevicePlan, {recording.plan->night_start, recording.plan->day_start}};
  if (night_option) return {DayNightSource::kNightOption, *night_option};
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
    case DayNightSource::kAwakeColumn: return "awake column";
    case DayNightSource::kDevicePlan: return "device plan";
    case DayNightSource::kNightOption: return "night option";
    case DayNightSource::kDefault: return "default";
  }
  return "default";
}

std::string DescribeRule(const DayNightRule& rule) {
  const std::string night = FormatClock(rule.window.night_start);
  const std::string day = FormatClock(rule.window.day_start);
  switch (rule.source) {
    case DayNightSource::kAwakeColumn:
      return "Day and night from the awake column (diary or actigraphy).";
    case DayNightSource::kDevicePlan:
      return "Day and night from the device's plan: day from " + day + ", night from " + night + ".";
    case DayNightSource::kNightOption:
      return "Night from the --night option: " + night + " to " + day + ".";
    case DayNightSource::kDefault:
      return "Night " + night + " to " + day + " by default (no awake column, plan or --night).";
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

Validity CheckValidity(int total, int counted, int day_n, int night_n, const std::optional<std::string>& incomplete) {
  Validity v;
  if (incomplete) v.problems.push_back("the download is incomplete (" + *incomplete + ")");
  v.valid_pct = total > 0 ? counted * kPercent / total : 0;
  if (v.valid_pct < kMinValidPercent)
    v.problems.push_back(OneDecimal(v.valid_pct) + " % of the readings are valid, fewer than " +
                         OneDecimal(kMinValidPercent) + " %");
  if (day_n < kMinDayReadings)
    v.problems.push_back(std::to_string(day_n) + " day readings, fewer than " +
                         std::to_string(kMinDayReadings));
  if (night_n < kMinNightReadings)
    v.problems.push_back(std::to_string(night_n) + " night readings, fewer than " +
                         std::to_string(kMinNightReadings));
  v.valid = v.problems.empty();
  return v;
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

Verdict Judge(const Profile& profile, const std::array<PeriodMeans, kPeriodCount>& means) {
  if (!means[k24h].sys) return {kNoVerdict, {}};
  static constexpr std::array<const char*, kPeriodCount> kPeriodNames = {"24-hour", "day", "night"};
  for (auto level = profile.levels.rbegin(); level != profile.levels.rend(); ++level) {
    Verdict verdict;
    for (int p = 0; p < kPeriodCount; ++p) {
      const Thresholds& limit = level->limits[p];
      if (means[p].sys && *means[p].sys >= limit.sys)
        verdict.exceeded.push_back(std::string(kPeriodNames[p]) + " systolic " +
                                   OneDecimal(*means[p].sys) + " ≥ " + OneDecimal(limit.sys));
      if (means[p].dia && *means[p].dia >= limit.dia)
        verdict.exceeded.push_back(std::string(kPeriodNames[p]) + " diastolic " +
                                   OneDecimal(*means[p].dia) + " ≥ " + OneDecimal(limit.dia));
    }
    if (!verdict.exceeded.empty()) {
      verdict.level = level->name;
      return verdict;
    }
  }
  return {"normal", {}};
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
