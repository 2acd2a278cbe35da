// Drawing the 24-hour chart. Coordinates are in a fixed view box that the
// page scales to its width, so the chart prints the same on any paper.

#include <bplink/report/chart.h>

#include <bplink/report/html_report.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace bplink::report {
namespace {

constexpr double kWidth = 1000;
constexpr double kHeight = 350;
constexpr double kLeft = 58;     // room for the mmHg labels and the axis title
constexpr double kRight = 58;    // room for the pulse labels and the axis title
constexpr double kTop = 30;      // room for the legend
constexpr double kBottom = 40;   // room for the hour and date labels
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kPlotHeight = kHeight - kTop - kBottom;

constexpr double kScaleFloor = 40;      // mmHg and beats per minute at the bottom
constexpr double kScaleMinTop = 200;
constexpr double kScaleMaxTop = 300;
constexpr double kPulseMinTop = 120;    // beats per minute
constexpr double kPulseMaxTop = 240;
constexpr double kHourlyMinTop = 180;   // the hourly chart shows means, which stay lower
constexpr double kGridStep = 20;
constexpr double kHeadroom = 5;

constexpr std::int64_t kHour = kSecondsPerHour;
constexpr std::int64_t kMinSpan = 2 * kHour;
constexpr std::int64_t kMaxShadedDays = 31;
constexpr std::int64_t kMaxGridLines = 24;

constexpr double kMarkRadius = 3;
constexpr double kPulseMark = 2.5;   // half the side of the pulse square
constexpr double kCross = 3;

std::string Fixed(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", v);
  return buffer;
}

// An x centred on (x, y), as path data.
// Appended in one buffer: "M" prepended to a temporary is what GCC 12 at -O3
// misreads as an overlapping copy (a -Wrestrict false positive).
std::string Cross(double x, double y) {
  const std::string side = Fixed(2 * kCross);
  std::string path = "M";
  path += Fixed(x - kCross) + ' ' + Fixed(y - kCross);
  path += "l" + side + ' ' + side;
  path += "m-" + side + " 0l" + side + " -" + side;
  return path;
}

std::int64_t FloorTo(std::int64_t t, std::int64_t step) {
  return (t >= 0 ? t : t - step + 1) / step * step;
}

struct Interval {
  std::int64_t from;
  std::int64_t to;
};

// Pulse has a scale of its own, drawn on the right, with the same floor.
class Frame {
 public:
  Frame(std::int64_t t0, std::int64_t t1, double top, double pulse_top = kPulseMinTop)
      : t0_(t0), t1_(t1), top_(top), pulse_top_(pulse_top) {}
  double X(std::int64_t t) const {
    return kLeft + kPlotWidth * static_cast<double>(t - t0_) / static_cast<double>(t1_ - t0_);
  }
  double Y(double value) const {
    const double v = std::clamp(value, kScaleFloor, top_);
    return kTop + kPlotHeight * (top_ - v) / (top_ - kScaleFloor);
  }
  double PulseY(double bpm) const {
    const double v = std::clamp(bpm, kScaleFloor, pulse_top_);
    return kTop + kPlotHeight * (pulse_top_ - v) / (pulse_top_ - kScaleFloor);
  }
  double pulse_top() const { return pulse_top_; }
  std::int64_t t0() const { return t0_; }
  std::int64_t t1() const { return t1_; }
  double top() const { return top_; }

 private:
  std::int64_t t0_, t1_;
  double top_, pulse_top_;
};

// Rounds up to the next grid line, within [low, high].
double ScaleTop(double highest, double low, double high) {
  return std::clamp(std::ceil(highest / kGridStep) * kGridStep, low, high);
}

// Night as spans of time within the chart. With the awake column a night
// starts and ends halfway between the readings either side of the change.
std::vector<Interval> NightSpans(const Analysis& a, const std::vector<const Reading*>& counted,
                                 const Frame& f) {
  std::vector<Interval> spans;
  if (a.rule.source == DayNightSource::kAwakeColumn) {
    for (std::size_t i = 0; i < counted.size(); ++i) {
      if (!counted[i]->night) continue;
      const std::size_t first = i;
      while (i + 1 < counted.size() && counted[i + 1]->night) ++i;
      const std::int64_t start = SecondsOf(counted[first]->time);
      const std::int64_t end = SecondsOf(counted[i]->time);
      spans.push_back({first > 0 ? (SecondsOf(counted[first - 1]->time) + start) / 2 : start,
                       i + 1 < counted.size() ? (end + SecondsOf(counted[i + 1]->time)) / 2 : end});
    }
    return spans;
  }
  // Over a longer span (one reading dated years off) a night is narrower
  // than a pixel, and a span per day would make the page enormous.
  if (f.t1() - f.t0() > kMaxShadedDays * kSecondsPerDay) return spans;
  const std::int64_t night = a.rule.window.night_start * kSecondsPerMinute;
  std::int64_t length = (a.rule.window.day_start - a.rule.window.night_start) * kSecondsPerMinute;
  if (length < 0) length += kSecondsPerDay;
  for (std::int64_t day = FloorTo(f.t0(), kSecondsPerDay) - kSecondsPerDay; day <= f.t1(); day += kSecondsPerDay) {
    const Interval span{std::max(day + night, f.t0()), std::min(day + night + length, f.t1())};
    if (span.from < span.to) spans.push_back(span);
  }
  return spans;
}

std::vector<Interval> DaySpans(const std::vector<Interval>& nights, const Frame& f) {
  std::vector<Interval> days;
  std::int64_t from = f.t0();
  for (const Interval& n : nights) {
    if (n.from > from) days.push_back({from, n.from});
    from = std::max(from, n.to);
  }
  if (from < f.t1()) days.push_back({from, f.t1()});
  return days;
}

// One row of keys above the plot, each a mark and its word.
void Legend(std::ostream& svg, const std::vector<std::pair<const char*, std::string>>& keys) {
  constexpr double kMarkWidth = 30;   // room for the widest mark, the threshold line
  constexpr double kCharWidth = 6.2;  // of the legend's font, near enough to space the keys
  constexpr double kGap = 18;
  const double y = kTop / 2;
  svg << "<g class=\"legend\">";
  double x = kLeft;
  for (const auto& [kind, word] : keys) {
    const std::string cx = Fixed(x + kMarkWidth / 2);
    const std::string_view k = kind;
    if (k == "sys" || k == "dia")
      svg << "<circle class=\"" << k << "\" cx=\"" << cx << "\" cy=\"" << y << "\" r=\"" << kMarkRadius << "\"/>";
    else if (k == "pulse")
      svg << "<rect class=\"pulse\" x=\"" << Fixed(x + kMarkWidth / 2 - kPulseMark) << "\" y=\"" << y - kPulseMark
          << "\" width=\"" << 2 * kPulseMark << "\" height=\"" << 2 * kPulseMark << "\"/>";
    else if (k == "night")
      svg << "<rect class=\"night\" x=\"" << x + kMarkWidth / 4 << "\" y=\"" << y - kMarkWidth / 4 << "\" width=\""
          << kMarkWidth / 2 << "\" height=\"" << kMarkWidth / 2 << "\"/>";
    else if (k == "thr")
      svg << "<line class=\"thr\" x1=\"" << x << "\" y1=\"" << y << "\" x2=\"" << x + kMarkWidth << "\" y2=\"" << y
          << "\"/>";
    else
      svg << "<path class=\"ex-key\" d=\"" << Cross(x + kMarkWidth / 2, y) << "\"/>";
    svg << "<text x=\"" << Fixed(x + kMarkWidth + 2) << "\" y=\"" << y + 4 << "\">" << word << "</text>";
    x += kMarkWidth + 2 + kCharWidth * static_cast<double>(word.size()) + kGap;
  }
  svg << "</g>\n";
}

// Grid lines from `low` to `high` every `step`, labelled on the left, and
// the axis' title; `y` places a value in a plot `height` high.
template <typename Y>
void LeftAxis(std::ostream& svg, double low, double high, double step, Y y, double height, const char* title) {
  for (double v = low; v <= high; v += step)
    svg << "<line class=\"grid\" x1=\"" << kLeft << "\" y1=\"" << Fixed(y(v)) << "\" x2=\"" << kLeft + kPlotWidth
        << "\" y2=\"" << Fixed(y(v)) << "\"/><text class=\"axis\" x=\"" << kLeft - 6 << "\" y=\"" << Fixed(y(v) + 4)
        << "\" text-anchor=\"end\">" << v << "</text>\n";
  svg << "<text class=\"axis-title\" transform=\"translate(14 " << kTop + height / 2
      << ") rotate(-90)\" text-anchor=\"middle\">" << title << "</text>\n";
}

// The mmHg grid with its labels on the left and the axis' title.
void PressureAxis(std::ostream& svg, const Frame& f) {
  LeftAxis(svg, kScaleFloor, f.top(), kGridStep, [&f](double v) { return f.Y(v); }, kPlotHeight,
           "Blood pressure, mmHg");
}

void PulseAxis(std::ostream& svg, const Frame& f) {
  const double x = kLeft + kPlotWidth;
  for (double v = kScaleFloor; v <= f.pulse_top(); v += kGridStep)
    svg << "<line class=\"tick pulse-tick\" x1=\"" << x << "\" y1=\"" << Fixed(f.PulseY(v)) << "\" x2=\"" << x + 4
        << "\" y2=\"" << Fixed(f.PulseY(v)) << "\"/><text class=\"axis pulse-axis\" x=\"" << x + 7 << "\" y=\""
        << Fixed(f.PulseY(v) + 4) << "\">" << v << "</text>\n";
  svg << "<text class=\"axis-title pulse-axis\" transform=\"translate(" << kWidth - 12 << ' '
      << kTop + kPlotHeight / 2 << ") rotate(90)\" text-anchor=\"middle\">Pulse, bpm</text>\n";
}

void Grid(std::ostream& svg, const Frame& f) {
  PressureAxis(svg, f);
  PulseAxis(svg, f);
  const std::int64_t span = f.t1() - f.t0();
  // Whole days beyond a few days, so that any span has a few dozen lines.
  const std::int64_t days = (span / kMaxGridLines + kSecondsPerDay - 1) / kSecondsPerDay * kSecondsPerDay;
  const std::int64_t step = span <= 12 * kHour   ? kHour
                            : span <= 36 * kHour ? 2 * kHour
                                                 : std::max(6 * kHour, days);
  for (std::int64_t t = FloorTo(f.t0() + step - 1, step); t <= f.t1(); t += step) {
    const CalendarTime c = TimeOf(t);
    char label[16];
    std::snprintf(label, sizeof label, "%02d:00", c.hour);
    svg << "<line class=\"grid\" x1=\"" << Fixed(f.X(t)) << "\" y1=\"" << kTop << "\" x2=\"" << Fixed(f.X(t))
        << "\" y2=\"" << kTop + kPlotHeight << "\"/><text class=\"axis\" x=\"" << Fixed(f.X(t)) << "\" y=\""
        << kTop + kPlotHeight + 14 << "\" text-anchor=\"middle\">" << label << "</text>\n";
    if (c.hour == 0)
      svg << "<text class=\"axis\" x=\"" << Fixed(f.X(t)) << "\" y=\"" << kTop + kPlotHeight + 28
          << "\" text-anchor=\"middle\">" << FormatDate(c) << "</text>\n";
  }
  svg << "<rect class=\"frame\" x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << kPlotWidth
      << "\" height=\"" << kPlotHeight << "\"/>\n";
}

// The lines only: their values are in the legend, since a label inside the
// plot sits on the readings.
void ThresholdLines(std::ostream& svg, const Frame& f, const std::vector<Interval>& spans, const Thresholds& limit) {
  for (const Interval& s : spans)
    for (double v : {limit.sys, limit.dia})
      svg << "<line class=\"thr\" x1=\"" << Fixed(f.X(s.from)) << "\" y1=\"" << Fixed(f.Y(v)) << "\" x2=\""
          << Fixed(f.X(s.to)) << "\" y2=\"" << Fixed(f.Y(v)) << "\"/>\n";
}

std::string Pair(const Thresholds& t) { return FormatNumber(t.sys, 0) + "/" + FormatNumber(t.dia, 0); }

void Line(std::ostream& svg, const char* css, const std::vector<std::pair<double, double>>& points) {
  if (points.size() < 2) return;
  svg << "<polyline class=\"" << css << "\" points=\"";
  for (const auto& [x, y] : points) svg << Fixed(x) << ',' << Fixed(y) << ' ';
  svg << "\"/>\n";
}

std::string Tooltip(const Reading& r) {
  std::string text = FormatDayTime(r.time) + "  " + FormatNumber(r.sys, 0) + "/" + FormatNumber(r.dia, 0) +
                     " mmHg";
  if (r.pulse) text += ", pulse " + FormatNumber(*r.pulse, 0);
  if (!r.excluded.empty()) text += " (excluded: " + r.excluded + ")";
  return EscapeHtml(text);
}

// A reading as the charts mark it: a bar from diastolic to systolic with a
// dot at each end and the pulse as a square, or a cross when excluded.
void Mark(std::ostream& svg, const Frame& f, const Reading& r) {
  const double cx = f.X(SecondsOf(r.time));
  const std::string x = Fixed(cx);
  if (!r.excluded.empty()) {
    svg << "<g class=\"ex\"><path d=\"" << Cross(cx, f.Y(r.sys)) << "\"/><title>" << Tooltip(r) << "</title></g>\n";
    return;
  }
  svg << "<g class=\"pt\"><line class=\"bar\" x1=\"" << x << "\" y1=\"" << Fixed(f.Y(r.sys)) << "\" x2=\"" << x
      << "\" y2=\"" << Fixed(f.Y(r.dia)) << "\"/><circle class=\"sys\" cx=\"" << x << "\" cy=\"" << Fixed(f.Y(r.sys))
      << "\" r=\"" << kMarkRadius << "\"/><circle class=\"dia\" cx=\"" << x << "\" cy=\"" << Fixed(f.Y(r.dia))
      << "\" r=\"" << kMarkRadius << "\"/>";
  if (r.pulse)
    svg << "<rect class=\"pulse\" x=\"" << Fixed(cx - kPulseMark) << "\" y=\"" << Fixed(f.PulseY(*r.pulse) - kPulseMark)
        << "\" width=\"" << 2 * kPulseMark << "\" height=\"" << 2 * kPulseMark << "\"/>";
  svg << "<title>" << Tooltip(r) << "</title></g>\n";
}

}  // namespace

std::string ChartStyle() {
  return R"css(
svg.chart { width: 100%; height: auto; font-size: 11px; }
svg .frame { fill: none; stroke: #666; }
svg .grid { stroke: #ddd; stroke-width: 0.8; }
svg .axis, svg .legend text, svg .axis-title { fill: #333; }
svg .axis-title { font-weight: 600; }
svg .pulse-axis { fill: #2e7d32; }
svg .tick { stroke: #2e7d32; }
svg .night { fill: #dfe3f3; }
svg .thr { stroke: #e65100; stroke-width: 1.2; stroke-dasharray: 6 4; fill: none; }
svg .thr-label { fill: #e65100; font-size: 10px; }
svg .sys { fill: #c62828; }
svg .dia { fill: #1565c0; }
svg .pulse { fill: #2e7d32; }
svg .bar { stroke: #9e9e9e; stroke-width: 1; }
svg .sys-line, svg .dia-line, svg .pulse-line { fill: none; stroke-width: 1; }
svg .sys-line { stroke: #c62828; opacity: 0.5; }
svg .dia-line { stroke: #1565c0; opacity: 0.5; }
svg .pulse-line { stroke: #2e7d32; opacity: 0.4; stroke-dasharray: 2 2; }
svg .ex path, svg .ex-key { stroke: #616161; stroke-width: 1.5; fill: none; }
)css";
}

std::string ChartSvg(const Analysis& a) {
  const auto counted = a.Counted();
  std::vector<const Reading*> placed;  // every reading with a time the chart can show
  for (const Reading& r : a.recording.readings)
    if (IsValidTime(r.time)) placed.push_back(&r);

  std::int64_t first = 0, last = 0;
  double highest = kScaleMinTop;
  if (!placed.empty()) {
    first = SecondsOf(placed.front()->time);
    last = SecondsOf(placed.back()->time);
  }
  double highest_pulse = 0;
  for (const Reading* r : counted) {
    highest = std::max(highest, r->sys + kHeadroom);
    highest_pulse = std::max(highest_pulse, r->pulse.value_or(0) + kHeadroom);
  }
  const double top = ScaleTop(highest, kScaleMinTop, kScaleMaxTop);
  const std::int64_t t0 = FloorTo(first, kHour);
  const std::int64_t t1 = std::max(FloorTo(last + kHour - 1, kHour), t0 + kMinSpan);
  const Frame f(t0, t1, top, ScaleTop(highest_pulse, kPulseMinTop, kPulseMaxTop));

  std::ostringstream svg;
  svg << "<svg class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " << kWidth << ' ' << kHeight
      << "\" role=\"img\" aria-label=\"24-hour blood pressure and pulse\">\n";
  const auto nights = NightSpans(a, counted, f);
  for (const Interval& n : nights)
    svg << "<rect class=\"night\" x=\"" << Fixed(f.X(n.from)) << "\" y=\"" << kTop << "\" width=\""
        << Fixed(f.X(n.to) - f.X(n.from)) << "\" height=\"" << kPlotHeight << "\"/>\n";
  Grid(svg, f);
  ThresholdLines(svg, f, DaySpans(nights, f), a.LoadThresholds(kDay));
  ThresholdLines(svg, f, nights, a.LoadThresholds(kNight));
  Legend(svg, {{"sys", "systolic"},
               {"dia", "diastolic"},
               {"pulse", "pulse (right axis)"},
               {"night", "night"},
               {"thr", EscapeHtml(a.profile->title) + " day " + Pair(a.LoadThresholds(kDay)) + ", night " +
                           Pair(a.LoadThresholds(kNight))},
               {"ex-key", "excluded"}});

  std::vector<std::pair<double, double>> sys, dia, pulse;
  for (const Reading* r : counted) {
    const double x = f.X(SecondsOf(r->time));
    sys.emplace_back(x, f.Y(r->sys));
    dia.emplace_back(x, f.Y(r->dia));
    if (r->pulse) pulse.emplace_back(x, f.PulseY(*r->pulse));
  }
  Line(svg, "sys-line", sys);
  Line(svg, "dia-line", dia);
  Line(svg, "pulse-line", pulse);

  for (const Reading* r : placed) Mark(svg, f, *r);
  svg << "</svg>\n";
  return svg.str();
}

namespace {

// Whether a clock hour is night: by the window at its middle, or with the
// awake column by most of the hour's readings.
std::array<bool, kHoursPerDay> NightHours(const Analysis& a) {
  std::array<bool, kHoursPerDay> night{};
  std::array<int, kHoursPerDay> asleep{}, seen{};
  for (const Reading* r : a.Counted()) {
    if (r->time.hour < 0 || r->time.hour >= kHoursPerDay) continue;
    ++seen[r->time.hour];
    if (r->night) ++asleep[r->time.hour];
  }
  for (int h = 0; h < kHoursPerDay; ++h) {
    Reading middle;
    middle.time = {2000, 1, 1, h, kMinutesPerHour / 2, 0};
    night[h] = a.rule.source == DayNightSource::kAwakeColumn ? 2 * asleep[h] > seen[h]
                                                               : IsNight(middle, a.rule);
  }
  return night;
}

}  // namespace

std::string HourlyChartSvg(const Analysis& a) {
  constexpr double kHourlyHeight = 300;
  constexpr double kPlot = kHourlyHeight - kTop - kBottom;
  constexpr double kSlot = kPlotWidth / kHoursPerDay;
  double highest = kHourlyMinTop;
  for (const HourMeans& m : a.hourly)
    if (m.sys) highest = std::max(highest, *m.sys + kHeadroom);
  const double top = ScaleTop(highest, kHourlyMinTop, kScaleMaxTop);
  const auto x = [&](double hour) { return kLeft + kSlot * hour; };
  const auto y = [&](double v) {
    return kTop + kPlot * (top - std::clamp(v, kScaleFloor, top)) / (top - kScaleFloor);
  };
  const auto night = NightHours(a);

  std::ostringstream svg;
  svg << "<svg class=\"chart hourly-chart\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " << kWidth << ' '
      << kHourlyHeight << "\" role=\"img\" aria-label=\"Hourly mean blood pressure\">\n";
  // One band for each run of night hours: bands side by side leave a seam
  // where their rounded edges meet.
  for (int h = 0; h < kHoursPerDay;) {
    if (!night[h]) {
      ++h;
      continue;
    }
    int end = h;
    while (end < kHoursPerDay && night[end]) ++end;
    svg << "<rect class=\"night\" x=\"" << Fixed(x(h)) << "\" y=\"" << kTop << "\" width=\"" << Fixed(x(end) - x(h))
        << "\" height=\"" << kPlot << "\"/>\n";
    h = end;
  }
  LeftAxis(svg, kScaleFloor, top, kGridStep, y, kPlot, "Mean blood pressure, mmHg");
  for (int h = 0; h < kHoursPerDay; ++h)
    svg << "<text class=\"axis\" x=\"" << Fixed(x(h + 0.5)) << "\" y=\"" << kTop + kPlot + 14
        << "\" text-anchor=\"middle\">" << h << "</text>\n";
  svg << "<text class=\"axis-title\" x=\"" << kLeft + kPlotWidth / 2 << "\" y=\"" << kTop + kPlot + 32
      << "\" text-anchor=\"middle\">Clock hour</text>\n";
  svg << "<rect class=\"frame\" x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << kPlotWidth
      << "\" height=\"" << kPlot << "\"/>\n";

  // The threshold of each hour's period, as steps across the day.
  for (const bool systolic : {true, false}) {
    svg << "<polyline class=\"thr\" points=\"";
    for (int h = 0; h < kHoursPerDay; ++h) {
      const Thresholds& t = a.LoadThresholds(night[h] ? kNight : kDay);
      const double v = y(systolic ? t.sys : t.dia);
      svg << Fixed(x(h)) << ',' << Fixed(v) << ' ' << Fixed(x(h + 1)) << ',' << Fixed(v) << ' ';
    }
    svg << "\"/>\n";
  }
  for (const PeriodIndex p : {kDay, kNight}) {
    const Thresholds& t = a.LoadThresholds(p);
    svg << "<text class=\"thr-label\" x=\"" << kLeft + kPlotWidth + 5 << "\" y=\"" << Fixed(y(t.sys) + 4) << "\">"
        << (p == kDay ? "day " : "night ") << t.sys << "</text><text class=\"thr-label\" x=\"" << kLeft + kPlotWidth + 5
        << "\" y=\"" << Fixed(y(t.dia) + 4) << "\">" << (p == kDay ? "day " : "night ") << t.dia << "</text>\n";
  }
  Legend(svg, {{"sys", "systolic mean"},
               {"dia", "diastolic mean"},
               {"night", "night hours"},
               {"thr", EscapeHtml(a.profile->title) + " day and night thresholds"}});

  std::vector<std::pair<double, double>> sys, dia;
  for (int h = 0; h < kHoursPerDay; ++h) {
    const HourMeans& m = a.hourly[h];
    if (!m.sys || !m.dia) continue;
    const double cx = x(h + 0.5);
    sys.emplace_back(cx, y(*m.sys));
    dia.emplace_back(cx, y(*m.dia));
    svg << "<g class=\"hp\"><line class=\"bar\" x1=\"" << Fixed(cx) << "\" y1=\"" << Fixed(y(*m.sys)) << "\" x2=\""
        << Fixed(cx) << "\" y2=\"" << Fixed(y(*m.dia)) << "\"/><circle class=\"sys\" cx=\"" << Fixed(cx) << "\" cy=\""
        << Fixed(y(*m.sys)) << "\" r=\"" << kMarkRadius << "\"/><circle class=\"dia\" cx=\"" << Fixed(cx) << "\" cy=\""
        << Fixed(y(*m.dia)) << "\" r=\"" << kMarkRadius << "\"/><title>" << h << ":00 to " << h << ":59, " << m.n
        << (m.n == 1 ? " reading: " : " readings: ") << FormatNumber(m.sys, 0) << "/" << FormatNumber(m.dia, 0)
        << " mmHg</title></g>\n";
  }
  Line(svg, "sys-line", sys);
  Line(svg, "dia-line", dia);
  svg << "</svg>\n";
  return svg.str();
}

std::string HomeChartSvg(const Analysis& a) {
  const HomeStats& h = a.home;
  std::ostringstream svg;
  svg << "<svg class=\"chart home-chart\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " << kWidth << ' '
      << kHeight << "\" role=\"img\" aria-label=\"Home blood pressure and pulse by day\">\n";
  if (!h.first_day) return svg.str() + "</svg>\n";
  const std::int64_t t0 = SecondsOf(*h.first_day);
  const std::int64_t t1 = SecondsOf(*h.last_day) + kSecondsPerDay;
  double highest = kScaleMinTop, highest_pulse = 0;
  std::vector<const Reading*> shown;
  for (const Reading& r : a.recording.readings) {
    if (!IsValidTime(r.time) || SecondsOf(r.time) < t0 || SecondsOf(r.time) >= t1) continue;
    shown.push_back(&r);
    if (r.excluded.empty()) {
      highest = std::max(highest, r.sys + kHeadroom);
      highest_pulse = std::max(highest_pulse, r.pulse.value_or(0) + kHeadroom);
    }
  }
  const Frame f(t0, t1, ScaleTop(highest, kScaleMinTop, kScaleMaxTop),
                ScaleTop(highest_pulse, kPulseMinTop, kPulseMaxTop));
  // The first day, set aside, shaded.
  svg << "<rect class=\"night aside\" x=\"" << Fixed(f.X(t0)) << "\" y=\"" << kTop << "\" width=\""
      << Fixed(f.X(t0 + kSecondsPerDay) - f.X(t0)) << "\" height=\"" << kPlotHeight << "\"/>\n";
  Grid(svg, f);
  const Thresholds& limit = a.LoadThresholds(kDay);
  ThresholdLines(svg, f, {{t0, t1}}, limit);
  Legend(svg, {{"sys", "systolic"},
               {"dia", "diastolic"},
               {"pulse", "pulse (right axis)"},
               {"night", "first day, set aside"},
               {"thr", EscapeHtml(a.profile->title) + " home " + Pair(limit)},
               {"ex-key", "excluded"}});
  for (const Reading* r : shown) Mark(svg, f, *r);
  svg << "</svg>\n";
  return svg.str();
}

std::string SpO2ChartSvg(const Analysis& a) {
  constexpr double kSpO2Height = 220;
  constexpr double kPlot = kSpO2Height - kTop - kBottom;
  constexpr double kFloorLeast = 70, kFloorStep = 10, kTopPercent = 100;
  std::vector<const SpO2Sample*> samples;
  for (const SpO2Sample& s : a.recording.spo2)
    if (IsValidTime(s.time) && s.spo2 > 0 && s.spo2 <= kTopPercent) samples.push_back(&s);
  std::ostringstream svg;
  svg << "<svg class=\"chart spo2-chart\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " << kWidth << ' '
      << kSpO2Height << "\" role=\"img\" aria-label=\"Oxygen saturation\">\n";
  if (samples.empty()) return svg.str() + "</svg>\n";
  double lowest = kTopPercent;
  for (const SpO2Sample* s : samples) lowest = std::min(lowest, static_cast<double>(s->spo2));
  const double floor = std::min(kFloorLeast, std::floor((lowest - 1) / kFloorStep) * kFloorStep);
  const std::int64_t t0 = FloorTo(SecondsOf(samples.front()->time), kHour);
  const std::int64_t t1 = std::max(FloorTo(SecondsOf(samples.back()->time) + kHour - 1, kHour), t0 + kMinSpan);
  const auto x = [&](std::int64_t t) {
    return kLeft + kPlotWidth * static_cast<double>(t - t0) / static_cast<double>(t1 - t0);
  };
  const auto y = [&](double v) { return kTop + kPlot * (kTopPercent - v) / (kTopPercent - floor); };
  LeftAxis(svg, floor, kTopPercent, kFloorStep, y, kPlot, "SpO2, %");
  const std::int64_t step = t1 - t0 <= 12 * kHour ? kHour : 2 * kHour;
  for (std::int64_t t = FloorTo(t0 + step - 1, step); t <= t1 && (t1 - t0) <= kMaxShadedDays * kSecondsPerDay; t += step) {
    const CalendarTime c = TimeOf(t);
    char label[16];
    std::snprintf(label, sizeof label, "%02d:00", c.hour);
    svg << "<text class=\"axis\" x=\"" << Fixed(x(t)) << "\" y=\"" << kTop + kPlot + 14
        << "\" text-anchor=\"middle\">" << label << "</text>\n";
  }
  svg << "<rect class=\"frame\" x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << kPlotWidth << "\" height=\""
      << kPlot << "\"/>\n<line class=\"thr\" x1=\"" << kLeft << "\" y1=\"" << Fixed(y(kSpO2Low)) << "\" x2=\""
      << kLeft + kPlotWidth << "\" y2=\"" << Fixed(y(kSpO2Low)) << "\"/>\n";
  Legend(svg, {{"dia", "SpO2 sample"}, {"thr", std::to_string(kSpO2Low) + " %"}});
  std::vector<std::pair<double, double>> line;
  for (const SpO2Sample* s : samples) {
    const double cx = x(SecondsOf(s->time)), cy = y(s->spo2);
    line.emplace_back(cx, cy);
    svg << "<circle class=\"dia so\" cx=\"" << Fixed(cx) << "\" cy=\"" << Fixed(cy) << "\" r=\"2\"><title>"
        << FormatDayTime(s->time) << "  " << s->spo2 << " %</title></circle>\n";
  }
  Line(svg, "dia-line", line);
  svg << "</svg>\n";
  return svg.str();
}

}  // namespace bplink::report
