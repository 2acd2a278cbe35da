// A recording analysed: readings sorted into counted and excluded, day and
// night, and every number the report shows. The writers (JSON, HTML, FHIR)
// read only this.
#pragma once

#include <bplink/report/readings.h>
#include <bplink/report/stats.h>

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bplink::report {

struct PeriodStats {
  int n = 0;
  Summary sys, dia, map, pulse;
};

struct Analysis {
  Recording recording;  // readings in time order, each with `excluded` and `night` filled in
  const Profile* profile = nullptr;
  DayNightRule rule;
  bool night_option_ignored = false;  // --night was given but a better source decided

  int total = 0;
  int counted = 0;
  std::vector<std::pair<std::string, int>> excluded_by_reason;

  std::array<PeriodStats, kPeriodCount> periods;  // by PeriodIndex
  PeriodHours hours;
  std::optional<double> weighted_sd_sys, weighted_sd_dia;
  std::optional<double> dipping_sys, dipping_dia;
  std::array<std::optional<double>, kPeriodCount> load_sys, load_dia;
  std::optional<MorningSurge> surge;
  Validity validity;
  Verdict verdict;
  std::array<HourMeans, kHoursPerDay> hourly;

  std::vector<const Reading*> Counted() const;
  // The thresholds the load and the chart use, for day and for night.
  const Thresholds& LoadThresholds(PeriodIndex period) const;
};

Analysis Analyse(Recording recording, const Profile& profile, std::optional<ClockWindow> night_option);

}  // namespace bplink::report
