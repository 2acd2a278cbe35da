// The printable page: who and what was recorded, the verdict, the numbers,
// the chart, the hourly means and every reading.

#include <bplink/report/html_report.h>

#include <bplink/report/chart.h>

#include <cstdio>
#include <ostream>

namespace bplink::report {
namespace {

constexpr const char* kStyle = R"css(
@page { size: A4; margin: 12mm 12mm 14mm 12mm; }
* { box-sizing: border-box; -webkit-print-color-adjust: exact; print-color-adjust: exact; }
body { font: 9.5pt/1.35 "DejaVu Sans", "Liberation Sans", Arial, sans-serif; color: #111;
       max-width: 186mm; margin: 8mm auto; }
@media print { body { margin: 0 auto; font-size: 9pt; } }
h1 { font-size: 15pt; margin: 0 0 2mm; }
h2 { font-size: 11pt; margin: 5mm 0 1.5mm; border-bottom: 0.4mm solid #444; break-after: avoid; }
table { border-collapse: collapse; width: 100%; }
th, td { padding: 0.6mm 1.4mm; text-align: right; border-bottom: 0.2mm solid #ccc; }
th { background: #eee; font-weight: 600; }
th:first-child, td:first-child { text-align: left; }
table.summary td { white-space: nowrap; }
table.facts td, table.facts th { text-align: left; border: none; background: none; padding: 0.3mm 1.4mm; }
table.facts th { width: 34mm; color: #444; font-weight: normal; }
section, .verdict, figure, table.summary, table.hourly { break-inside: avoid; }
.verdict { border: 0.5mm solid #444; padding: 2mm 3mm; margin: 3mm 0; }
.verdict .level { font-size: 13pt; font-weight: 700; }
.verdict.high { border-color: #b71c1c; background: #fdecea; }
.verdict.normal { border-color: #1b5e20; background: #edf7ee; }
.warning { color: #b71c1c; }
.muted { color: #555; }
figure { margin: 2mm 0; }
svg.chart { width: 100%; height: auto; font-size: 11px; }
svg .frame { fill: none; stroke: #666; }
svg .grid { stroke: #ddd; stroke-width: 0.8; }
svg .axis, svg .legend text { fill: #333; }
svg .night { fill: #dfe3f3; }
svg .thr { stroke: #e65100; stroke-width: 1.2; stroke-dasharray: 6 4; }
svg .sys { fill: #c62828; }
svg .dia { fill: #1565c0; }
svg .pulse { fill: #2e7d32; }
svg .bar { stroke: #9e9e9e; stroke-width: 1; }
svg .sys-line, svg .dia-line, svg .pulse-line { fill: none; stroke-width: 1; }
svg .sys-line { stroke: #c62828; opacity: 0.5; }
svg .dia-line { stroke: #1565c0; opacity: 0.5; }
svg .pulse-line { stroke: #2e7d32; opacity: 0.4; stroke-dasharray: 2 2; }
svg .ex path, svg .ex-key { stroke: #616161; stroke-width: 1.5; fill: none; }
table.hourly { font-size: 7.5pt; }
table.hourly th, table.hourly td { padding: 0.4mm 0.5mm; text-align: center; }
table.readings { font-size: 8pt; }
table.readings thead { display: table-header-group; }
table.readings tr { break-inside: avoid; }
tr.night td { background: #f1f3fa; }
tr.excluded td { color: #8a8a8a; text-decoration: line-through; }
tr.excluded td.reason { text-decoration: none; color: #b71c1c; }
)css";

constexpr const char* kDash = "–";

std::string MeanSd(const Summary& s) {
  if (!s.mean) return kDash;
  return FormatNumber(s.mean) + (s.sd ? " ± " + FormatNumber(s.sd) : std::string());
}

std::string Range(const Summary& s) {
  if (!s.min) return kDash;
  return FormatNumber(s.min, 0) + "–" + FormatNumber(s.max, 0);
}

std::string Capitalised(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text;
}

void Fact(std::ostream& out, const char* name, const std::string& value) {
  out << "<tr><th>" << name << "</th><td>" << value << "</td></tr>\n";
}

void Header(std::ostream& out, const Analysis& a) {
  const Recording& r = a.recording;
  out << "<h1>Ambulatory blood-pressure report</h1>\n<table class=\"facts\">\n";
  std::string patient;
  for (const std::string& text : r.patient) patient += (patient.empty() ? "" : " · ") + EscapeHtml(text);
  Fact(out, "Patient", patient.empty() ? "<span class=\"muted\">not recorded</span>" : patient);
  Fact(out, "Device", r.device ? EscapeHtml(r.device->description) : "<span class=\"muted\">not known</span>");
  if (r.plan)
    Fact(out, "Plan",
         "day from " + FormatClock(r.plan->day_start) + " every " + std::to_string(r.plan->day_interval) +
             " min, night from " + FormatClock(r.plan->night_start) + " every " +
             std::to_string(r.plan->night_interval) + " min");
  const auto counted = a.Counted();
  if (!counted.empty())
    Fact(out, "Recording", FormatLocalTime(counted.front()->time) + " to " + FormatLocalTime(counted.back()->time));
  Fact(out, "Source", EscapeHtml(r.source));
  Fact(out, "Day and night", EscapeHtml(DescribeRule(a.rule)));
  Fact(out, "Thresholds", EscapeHtml(a.profile->title));
  out << "</table>\n";
}

void VerdictBox(std::ostream& out, const Analysis& a) {
  const bool normal = a.verdict.exceeded.empty();
  const char* css = a.verdict.level == kNoVerdict ? "none" : normal ? "normal" : "high";
  out << "<div class=\"verdict " << css << "\"><div class=\"level\">"
      << EscapeHtml(Capitalised(a.verdict.level)) << "</div><div>";
  if (a.verdict.level == kNoVerdict)
    out << "No reading counts, so there is nothing to judge.";
  else if (normal)
    out << "All means are below the " << EscapeHtml(a.profile->title) << " thresholds.";
  else
    for (std::size_t i = 0; i < a.verdict.exceeded.size(); ++i)
      out << (i ? "; " : "") << EscapeHtml(a.verdict.exceeded[i]);
  out << "</div><div>Readings: " << a.total << ", counted " << a.counted << ", excluded " << a.total - a.counted;
  const char* separator = ": ";
  for (const auto& [reason, n] : a.excluded_by_reason) {
    out << separator << n << " " << EscapeHtml(reason);
    separator = ", ";
  }
  out << ".</div>";
  if (a.validity.valid) {
    out << "<div>The recording meets the validity criteria.</div>";
  } else {
    out << "<div class=\"warning\">The recording does not meet the validity criteria: ";
    for (std::size_t i = 0; i < a.validity.problems.size(); ++i)
      out << (i ? "; " : "") << EscapeHtml(a.validity.problems[i]);
    out << ". Read the numbers with care.</div>";
  }
  out << "</div>\n";
}

void SummaryTable(std::ostream& out, const Analysis& a) {
  static constexpr std::array<const char*, kPeriodCount> kNames = {"24 h", "Day", "Night"};
  out << "<h2>Summary</h2>\n<table class=\"summary\"><thead><tr><th>Period</th><th>n</th>"
         "<th>Systolic</th><th>Diastolic</th><th>MAP</th><th>Pulse</th><th>Sys range</th><th>Dia range</th>"
         "<th>Load sys</th><th>Load dia</th></tr></thead><tbody>\n";
  for (int p = 0; p < kPeriodCount; ++p) {
    const PeriodStats& s = a.periods[p];
    out << "<tr><td>" << kNames[p] << "</td><td>" << s.n << "</td><td>" << MeanSd(s.sys) << "</td><td>"
        << MeanSd(s.dia) << "</td><td>" << MeanSd(s.map) << "</td><td>" << MeanSd(s.pulse) << "</td><td>"
        << Range(s.sys) << "</td><td>" << Range(s.dia) << "</td><td>" << FormatNumber(a.load_sys[p], 0)
        << " %</td><td>" << FormatNumber(a.load_dia[p], 0) << " %</td></tr>\n";
  }
  out << "</tbody></table>\n<p class=\"muted\">Mean ± SD in mmHg (pulse in beats per minute). Load: "
         "readings above the period's threshold.</p>\n";

  out << "<table class=\"summary\"><thead><tr><th>Variability</th><th>Sys SD</th><th>Sys CV</th>"
         "<th>Sys ARV</th><th>Dia SD</th><th>Dia CV</th><th>Dia ARV</th></tr></thead><tbody>\n";
  for (int p = 0; p < kPeriodCount; ++p) {
    const PeriodStats& s = a.periods[p];
    out << "<tr><td>" << kNames[p] << "</td><td>" << FormatNumber(s.sys.sd) << "</td><td>"
        << FormatNumber(s.sys.cv) << " %</td><td>" << FormatNumber(s.sys.arv) << "</td><td>"
        << FormatNumber(s.dia.sd) << "</td><td>" << FormatNumber(s.dia.cv) << " %</td><td>"
        << FormatNumber(s.dia.arv) << "</td></tr>\n";
  }
  out << "<tr><td>Weighted 24 h</td><td>" << FormatNumber(a.weighted_sd_sys) << "</td><td></td><td></td><td>"
      << FormatNumber(a.weighted_sd_dia) << "</td><td></td><td></td></tr>\n</tbody></table>\n";
}

void DippingAndSurge(std::ostream& out, const Analysis& a) {
  out << "<section><h2>Night-time dipping and morning surge</h2>\n<table class=\"facts\">\n";
  const auto dipping = [](std::optional<double> pct) {
    return pct ? FormatNumber(pct) + " % (" + DippingClass(*pct) + ")" : std::string(kDash);
  };
  Fact(out, "Systolic dipping", dipping(a.dipping_sys));
  Fact(out, "Diastolic dipping", dipping(a.dipping_dia));
  if (a.surge) {
    Fact(out, "Waking", FormatLocalTime(a.surge->wake));
    Fact(out, "Morning surge",
         "prewaking " + FormatNumber(a.surge->prewaking_surge) + " mmHg, sleep-trough " +
             FormatNumber(a.surge->sleep_trough_surge) + " mmHg (systolic: morning " +
             FormatNumber(a.surge->morning_mean) + ", before waking " + FormatNumber(a.surge->prewaking_mean) +
             ", lowest at night " + FormatNumber(a.surge->trough_mean) + ")");
  } else {
    Fact(out, "Morning surge", "no waking within the recording");
  }
  out << "</table></section>\n";
}

void HourlyTable(std::ostream& out, const Analysis& a) {
  out << "<section><h2>Hourly means</h2>\n<table class=\"hourly\"><thead><tr><th>Hour</th>";
  for (int h = 0; h < kHoursPerDay; ++h) out << "<th>" << h << "</th>";
  out << "</tr></thead><tbody>\n";
  const auto row = [&](const char* name, auto value) {
    out << "<tr><td>" << name << "</td>";
    for (const HourMeans& m : a.hourly) out << "<td>" << value(m) << "</td>";
    out << "</tr>\n";
  };
  row("n", [](const HourMeans& m) { return std::to_string(m.n); });
  row("Sys", [](const HourMeans& m) { return FormatNumber(m.sys, 0); });
  row("Dia", [](const HourMeans& m) { return FormatNumber(m.dia, 0); });
  row("Pulse", [](const HourMeans& m) { return FormatNumber(m.pulse, 0); });
  out << "</tbody></table></section>\n";
}

void ReadingsTable(std::ostream& out, const Analysis& a) {
  out << "<h2>All readings</h2>\n<table class=\"readings\"><thead><tr><th>Time</th><th>Sys</th><th>Dia</th>"
         "<th>MAP</th><th>Pulse</th><th>Period</th><th>Note</th></tr></thead><tbody>\n";
  for (const Reading& r : a.recording.readings) {
    const bool excluded = !r.excluded.empty();
    out << "<tr" << (excluded ? " class=\"excluded\"" : r.night ? " class=\"night\"" : "") << "><td>"
        << FormatLocalTime(r.time) << "</td><td>" << FormatNumber(r.sys, 0) << "</td><td>"
        << FormatNumber(r.dia, 0) << "</td><td>" << FormatNumber(r.map, 0) << "</td><td>"
        << FormatNumber(r.pulse, 0) << "</td><td>" << (excluded ? "" : r.night ? "night" : "day")
        << "</td><td class=\"reason\">" << (excluded ? "excluded: " + EscapeHtml(r.excluded) : "")
        << "</td></tr>\n";
  }
  out << "</tbody></table>\n";
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string FormatNumber(std::optional<double> value, int decimals) {
  if (!value) return kDash;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, *value);
  return buffer;
}

void WriteHtmlReport(const Analysis& a, std::ostream& out) {
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<title>Ambulatory blood-pressure report</title>\n<style>"
      << kStyle << "</style>\n</head>\n<body>\n";
  Header(out, a);
  VerdictBox(out, a);
  SummaryTable(out, a);
  DippingAndSurge(out, a);
  out << "<figure><h2>24-hour profile</h2>\n" << ChartSvg(a) << "</figure>\n";
  HourlyTable(out, a);
  ReadingsTable(out, a);
  out << "</body>\n</html>\n";
}

}  // namespace bplink::report
