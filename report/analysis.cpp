// Sorting a recording's readings into periods and applying the formulas of
// stats.h to each.

#include <bplink/report/analysis.h>

#include <algorithm>
#include <map>

namespace bplink::report {
namespace {

struct Series {
  std::vector<double> sys, dia, map, pulse;
  std::vector<ValueAndThreshold> sys_load, dia_load;
};

PeriodStats Describe(const Series& s) {
  return {static_cast<int>(s.sys.size()), Summarise(s.sys), Summarise(s.dia), Summarise(s.map),
          Summarise(s.pulse)};
}

}  // namespace

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
  a.rule = ChooseDayNightRule(recording, night_option);
  a.night_option_ignored = night_option && a.rule.source != DayNightSource::kNightOption;

  // Successive readings are successive in time, whatever order the input had.
  std::stable_sort(recording.readings.begin(), recording.readings.end(),
                   [](const Reading& x, const Reading& y) { return SecondsOf(x.time) < SecondsOf(y.time); });
  std::map<std::string, int> reasons;
  for (Reading& r : recording.readings) {
    r.excluded = ExclusionReason(r, recording.downloaded_at);
    r.night = r.excluded.empty() && IsNight(r, a.rule);
    if (!r.excluded.empty()) ++reasons[r.excluded];
  }
  a.recording = std::move(recording);
  a.excluded_by_reason.assign(reasons.begin(), reasons.end());

  const std::vector<const Reading*> counted = a.Counted();
  a.total = static_cast<int>(a.recording.readings.size());
  a.counted = static_cast<int>(counted.size());

  std::array<Series, kPeriodCount> series;
  for (const Reading* r : counted) {
    const PeriodIndex period = r->night ? kNight : kDay;
    const Thresholds& limit = a.LoadThresholds(period);
    for (const PeriodIndex p : {k24h, period}) {
      Series& s = series[p];
      s.sys.push_back(r->sys);
      s.dia.push_back(r->dia);
      if (r->map) s.map.push_back(*r->map);
      if (r->pulse) s.pulse.push_back(*r->pulse);
      s.sys_load.push_back({r->sys, limit.sys});
      s.dia_load.push_back({r->dia, limit.dia});
    }
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
  a.validity = CheckValidity(a.total, a.counted, day.n, night.n, a.recording.incomplete);
  a.verdict = Judge(profile, means);
  a.hourly = HourlyMeans(counted);
  return a;
}

}  // namespace bplink::report
