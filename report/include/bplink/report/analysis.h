// A recording analysed: readings sorted into counted and excluded, day and
// night (or the days of home monitoring), and every number the report
// shows. The writers (JSON, HTML, FHIR) read only this.
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

// Which report a recording gets: a 24-hour ambulatory report, or the home
// report of the ESH home protocol. An ambulatory recorder's readings are
// always ambulatory; a monitor's, or a file's without a device, by their
// shape: a few readings a day, in a few of the day's hours, over several
// days are home monitoring.
enum class ReportKind { kAmbulatory, kHome };
// The most readings on any one day that still look like home monitoring,
// and the clock hours an ambulatory recording's readings fall in at least.
inline constexpr int kMaxHomeReadingsPerDay = 12;
inline constexpr int kMinAmbulatoryHours = 16;
std::string KindKey(ReportKind kind);  // "ambulatory", "home"

// One day of home monitoring.
struct HomeDay {
  CalendarTime date;     // at 00:00
  bool set_aside = false;  // the first day
  PeriodStats morning, evening;
};

struct HomeStats {
  std::optional<CalendarTime> first_day, last_day;  // the period, first day included
  int days = 0;                                     // days with counted readings, the first day set aside
  PeriodStats morning, evening;                     // the whole is periods[k24h]
  std::vector<HomeDay> days_table;
};

struct Analysis {
  Recording recording;  // readings in time order, each with `excluded` and `night` filled in
  const Profile* profile = nullptr;
  ReportKind kind = ReportKind::kAmbulatory;
  std::string kind_reason;  // why this kind, for the page
  DayNightRule rule;

  int total = 0;
  int counted = 0;
  std::vector<std::pair<std::string, int>> excluded_by_reason;

  // Ambulatory: 24 hours, day, night. Home: the mean of the counted
  // readings in periods[k24h], the others empty.
  std::array<PeriodStats, kPeriodCount> periods;
  PeriodHours hours;
  std::optional<double> weighted_sd_sys, weighted_sd_dia;
  std::optional<double> dipping_sys, dipping_dia;
  // The dipping category, only where the recording is interpretable.
  std::optional<std::string> dipping_sys_class, dipping_dia_class;
  std::array<std::optional<double>, kPeriodCount> load_sys, load_dia;
  std::optional<MorningSurge> surge;
  ClockCheck clock;
  Validity validity;
  bool interpretable = false;  // every validity criterion holds: a verdict may be given
  Verdict verdict;
  // White-coat, masked, sustained hypertension or normotension, with an
  // office reading and an interpretable recording.
  std::optional<std::string> office_class;
  std::array<HourMeans, kHoursPerDay> hourly;
  HomeStats home;
  SpO2Summary spo2;

  std::vector<const Reading*> Counted() const;
  // The thresholds the load and the chart use, for day and for night; a
  // home recording is held to the day's.
  const Thresholds& LoadThresholds(PeriodIndex period) const;
};

// The offset every time of the recording is shown with: `zone`'s at the
// first dated reading (or sample), since a device keeps one clock through a
// change to or from summer time.
int RecordingOffset(const Analysis& analysis, const UtcOffset& zone);

// `night_option`: a night window chosen for this report (--night). The
// review inputs are read from `recording.review`, where ApplyReview put them.
Analysis Analyse(Recording recording, const Profile& profile, std::optional<ClockWindow> night_option);

}  // namespace bplink::report
