// Sorting a recording's readings into periods and applying the formulas of
// stats.h to each.

#include <bplink/report/analysis.h>

#include <algorithm>
#include <map>
#include <set>

namespace bplink::report {
namespace {

struct Series {
  std::vector<double> sys, dia, map, pulse;
  std::vector<ValueAndThreshold> sys_load, dia_load;

  void Add(const Reading& r, const Thresholds& limit) {
    sys.push_back(r.sys);
    dia.push_back(r.dia);
    if (r.map) map.push_back(*r.map);
    if (r.pulse) pulse.push_back(*r.pulse);
    sys_load.push_back({r.sys, limit.sys});
    dia_load.push_back({r.dia, limit.dia});
  }
};

PeriodStats Describe(const Series& s) {
  return {static_cast<int>(s.sys.size()), Summarise(s.sys), Summarise(s.dia), Summarise(s.map),
          Summarise(s.pulse)};
}

constexpr const char* kSetAside = "the first day, set aside";

CalendarTime DateOf(const CalendarTime& t) { return {t.year, t.month, t.day, 0, 0, 0}; }

// How the readings lie: on how many days, the most on one day, in how many
// of the day's clock hours.
struct Shape {
  int days = 0, most = 0, hours = 0;
};

Shape ShapeOf(const std::vector<Reading>& readings) {
  std::map<std::int64_t, int> per_day;
  std::set<int> hours;
  for (const Reading& r : readings) {
    if (!IsValidTime(r.time)) continue;
    ++per_day[SecondsOf(DateOf(r.time))];
    hours.insert(r.time.hour);
  }
  Shape shape{static_cast<int>(per_day.size()), 0, static_cast<int>(hours.size())};
  for (const auto& [day, n] : per_day) shape.most = std::max(shape.most, n);
  return shape;
}

std::pair<ReportKind, std::string> ChooseKind(const Recording& r) {
  if (r.device && IsAmbulatoryRecorder(*r.device))
    return {ReportKind::kAmbulatory, "an ambulatory recorder's readings"};
  const Shape shape = ShapeOf(r.readings);
  const std::string whose = r.device ? "a " + r.device->kind + "'s readings" : "readings without a device";
  if (shape.days >= 2 && shape.most <= kMaxHomeReadingsPerDay && shape.hours < kMinAmbulatoryHours)
    return {ReportKind::kHome, whose + " on " + std::to_string(shape.days) + " days, at most " +
                                   std::to_string(shape.most) + " a day: home monitoring"};
  return {ReportKind::kAmbulatory, whose + " in " + std::to_string(shape.hours) + " of the day's hours, " +
                                       std::to_string(shape.most) + " on the busiest day: an ambulatory recording"};
}

ClockCheck CheckClock(const Recording& recording, const ClockBounds& bounds) {
  ClockCheck clock;
  std::optional<std::int64_t> newest;
  for (const Reading& r : recording.readings) {
    if (!IsValidTime(r.time)) continue;
    const std::int64_t t = SecondsOf(r.time);
    if (bounds.downloaded_at && IsValidTime(*bounds.downloaded_at) && t > SecondsOf(*bounds.downloaded_at)) {
      ++clock.after_download;
      continue;
    }
    if (bounds.plan_start && IsValidTime(*bounds.plan_start) && t < SecondsOf(*bounds.plan_start))
      ++clock.before_plan_start;
    newest = std::max(newest.value_or(t), t);
  }
  if (newest && bounds.downloaded_at && IsValidTime(*bounds.downloaded_at))
    clock.days_before_download =
        static_cast<double>(SecondsOf(*bounds.downloaded_at) - *newest) / static_cast<double>(kSecondsPerDay);
  return clock;
}

void AnalyseAmbulatory(Analysis& a, std::optional<ClockWindow> night_option) {
  a.rule = ChooseDayNightRule(a.recording, night_option);
  for (Reading& r : a.recording.readings) r.night = r.excluded.empty() && IsNight(r, a.rule);
  const std::vector<const Reading*> counted = a.Counted();
  std::array<Series, kPeriodCount> series;
  for (const Reading* r : counted) {
    const PeriodIndex period = r->night ? kNight : kDay;
    const Thresholds& limit = a.LoadThresholds(period);
    for (const PeriodIndex p : {k24h, period}) series[p].Add(*r, limit);
  }
  std::array<PeriodMeans, kPeriodCount> means;
  for (int p = 0; p < kPeriodCount; ++p) {
    a.periods[p] = Describe(series[p]);
    a.load_sys[p] = LoadPercent(series[p].sys_load);
    a.load_dia[p] = LoadPercent(series[p].dia_load);
    means[p] = {a.periods[p].sys.mean, a.periods[p].dia.mean};
  }
  const PeriodStats& day = a.periods[kDay];
  const PeriodStats& night = a.periods[kNight];
  a.hours = HoursOf(a.rule, counted);
  a.weighted_sd_sys = WeightedSd(day.sys.sd, a.hours.day, night.sys.sd, a.hours.night);
  a.weighted_sd_dia = WeightedSd(day.dia.sd, a.hours.day, night.dia.sd, a.hours.night);
  a.dipping_sys = DippingPercent(day.sys.mean, night.sys.mean);
  a.dipping_dia = DippingPercent(day.dia.mean, night.dia.mean);
  a.surge = ComputeMorningSurge(counted, a.rule);
  a.validity = CheckValidity(a.total, a.counted, day.n, night.n, a.recording.incomplete, a.clock);
  a.verdict = Interpret(a.validity, Judge(*a.profile, means));
  a.hourly = HourlyMeans(counted);
  a.interpretable = a.validity.valid;
  if (a.interpretable) {
    if (a.dipping_sys) a.dipping_sys_class = DippingClass(*a.dipping_sys);
    if (a.dipping_dia) a.dipping_dia_class = DippingClass(*a.dipping_dia);
  }
  if (a.interpretable && a.recording.review.office) {
    const Verdict esh = Judge(*FindProfile("esh2023"), means);
    a.office_class = ClassifyOffice(*a.recording.review.office, !esh.exceeded.empty());
  }
}

void AnalyseHome(Analysis& a) {
  // The period: the last day with a reading that counts and up to six days
  // before it; its first day is set aside.
  std::optional<std::int64_t> last;
  for (const Reading& r : a.recording.readings)
    if (r.excluded.empty()) last = std::max(last.value_or(0), SecondsOf(DateOf(r.time)));
  if (last) {
    const std::int64_t earliest = *last - (kHomeDays - 1) * kSecondsPerDay;
    std::optional<std::int64_t> first;
    for (const Reading& r : a.recording.readings) {
      const std::int64_t day = SecondsOf(DateOf(r.time));
      if (r.excluded.empty() && day >= earliest) first = std::min(first.value_or(*last), day);
    }
    a.home.first_day = TimeOf(*first);
    a.home.last_day = TimeOf(*last);
    for (Reading& r : a.recording.readings) {
      if (!r.excluded.empty()) continue;
      const std::int64_t day = SecondsOf(DateOf(r.time));
      if (day < *first) r.excluded = "before the " + std::to_string(kHomeDays) + "-day home-monitoring period";
      else if (day == *first) r.excluded = kSetAside;
    }
    for (std::int64_t day = *first; day <= *last; day += kSecondsPerDay) {
      HomeDay d;
      d.date = TimeOf(day);
      d.set_aside = day == *first;
      Series morning, evening;
      for (const Reading& r : a.recording.readings)
        if (SecondsOf(DateOf(r.time)) == day && (r.excluded.empty() || (d.set_aside && IsValidTime(r.time) &&
                                                                         r.excluded == kSetAside)))
          (IsMorning(r.time) ? morning : evening).Add(r, a.LoadThresholds(kDay));
      d.morning = Describe(morning);
      d.evening = Describe(evening);
      if (!d.set_aside && d.morning.n + d.evening.n > 0) ++a.home.days;
      a.home.days_table.push_back(d);
    }
  }
  const std::vector<const Reading*> counted = a.Counted();
  a.counted = static_cast<int>(counted.size());
  Series all, morning, evening;
  for (const Reading* r : counted) {
    all.Add(*r, a.LoadThresholds(kDay));
    (IsMorning(r->time) ? morning : evening).Add(*r, a.LoadThresholds(kDay));
  }
  a.periods[k24h] = Describe(all);
  a.load_sys[k24h] = LoadPercent(all.sys_load);
  a.load_dia[k24h] = LoadPercent(all.dia_load);
  a.home.morning = Describe(morning);
  a.home.evening = Describe(evening);
  a.validity = CheckHomeValidity(a.home.days, a.counted, a.recording.incomplete, a.clock);
  a.interpretable = a.validity.valid;
  const PeriodMeans home{a.periods[k24h].sys.mean, a.periods[k24h].dia.mean};
  a.verdict = Interpret(a.validity, JudgeHome(*a.profile, home));
  if (a.interpretable && a.recording.review.office)
    a.office_class = ClassifyOffice(*a.recording.review.office, !JudgeHome(*FindProfile("esh2023"), home).exceeded.empty());
}

}  // namespace

int RecordingOffset(const Analysis& a, const UtcOffset& zone) {
  for (const Reading& r : a.recording.readings)
    if (IsValidTime(r.time)) return zone(r.time);
  for (const SpO2Sample& s : a.recording.spo2)
    if (IsValidTime(s.time)) return zone(s.time);
  return zone(CurrentEnv()->LocalTime());
}

std::string KindKey(ReportKind kind) { return kind == ReportKind::kHome ? "home" : "ambulatory"; }

std::vector<const Reading*> Analysis::Counted() const {
  std::vector<const Reading*> counted;
  for (const Reading& r : recording.readings)
    if (r.excluded.empty()) counted.push_back(&r);
  return counted;
}

const Thresholds& Analysis::LoadThresholds(PeriodIndex period) const {
  return profile->levels[static_cast<std::size_t>(profile->load_level)].limits[period];
}

Analysis Analyse(Recording recording, const Profile& profile, std::optional<ClockWindow> night_option) {
  Analysis a;
  a.profile = &profile;
  std::tie(a.kind, a.kind_reason) = ChooseKind(recording);

  // Successive readings are successive in time, whatever order the input had.
  const auto by_time = [](const auto& x, const auto& y) { return SecondsOf(x.time) < SecondsOf(y.time); };
  std::stable_sort(recording.readings.begin(), recording.readings.end(), by_time);
  std::stable_sort(recording.spo2.begin(), recording.spo2.end(), by_time);
  const ClockBounds bounds{recording.downloaded_at, recording.plan_start};
  a.clock = CheckClock(recording, bounds);
  for (Reading& r : recording.readings) r.excluded = ExclusionReason(r, bounds);
  a.recording = std::move(recording);
  a.total = static_cast<int>(a.recording.readings.size());
  a.counted = static_cast<int>(a.Counted().size());

  if (a.kind == ReportKind::kHome) AnalyseHome(a);
  else AnalyseAmbulatory(a, night_option);

  std::map<std::string, int> reasons;
  for (const Reading& r : a.recording.readings)
    if (!r.excluded.empty()) ++reasons[r.excluded];
  a.excluded_by_reason.assign(reasons.begin(), reasons.end());
  a.spo2 = SummariseSpO2(a.recording.spo2);
  return a;
}

}  // namespace bplink::report
