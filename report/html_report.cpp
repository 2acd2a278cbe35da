// The printable report: who and what was recorded, the verdict with its
// reasons and the validity criteria, the numbers, the 24-hour and hourly
// charts, every reading, and room for the physician's interpretation.

#include <bplink/report/html_report.h>

#include <bplink/report/chart.h>
#include <bplink/version.h>

#include <cstdio>
#include <ostream>

namespace bplink::report {
namespace {

constexpr const char* kStyle = R"css(
@page { size: A4; margin: 10mm 12mm 10mm 12mm; }
* { box-sizing: border-box; -webkit-print-color-adjust: exact; print-color-adjust: exact; }
body { font: 9pt/1.3 "DejaVu Sans", "Liberation Sans", Arial, sans-serif; color: #111;
       max-width: 186mm; margin: 8mm auto; }
@media print { body { margin: 0 auto; font-size: 8.5pt; } .screen-only { display: none; } }
h1 { font-size: 14pt; margin: 0 0 1.5mm; }
h2 { font-size: 10.5pt; margin: 3mm 0 1mm; border-bottom: 0.4mm solid #444; break-after: avoid; }
.page { break-after: page; }
table { border-collapse: collapse; width: 100%; }
th, td { padding: 0.4mm 1.2mm; text-align: right; border-bottom: 0.2mm solid #ccc; }
th { background: #eee; font-weight: 600; }
th:first-child, td:first-child { text-align: left; }
table.summary td { white-space: nowrap; }
.header { display: grid; grid-template-columns: 1fr 1fr; column-gap: 6mm; }
table.facts td, table.facts th { text-align: left; border: none; background: none; padding: 0.2mm 1mm; vertical-align: top; }
table.facts th { width: 27mm; color: #444; font-weight: normal; }
section, .verdict, figure, table.summary, table.hourly, .physician { break-inside: avoid; }
.verdict { border: 0.5mm solid #444; padding: 1.5mm 3mm; margin: 2mm 0; }
.verdict .level { font-size: 12pt; font-weight: 700; }
.verdict.high { border-color: #b71c1c; background: #fdecea; }
.verdict.normal { border-color: #1b5e20; background: #edf7ee; }
.verdict table { margin-top: 1mm; background: #fff; }
td.fail, .warning { color: #b71c1c; font-weight: 600; }
td.pass { color: #1b5e20; }
.muted { color: #555; }
p { margin: 0.8mm 0; }
figure { margin: 1mm 0; }
table.hourly { font-size: 7pt; }
table.hourly th, table.hourly td { padding: 0.3mm 0.4mm; text-align: center; }
.readings { columns: 4; column-gap: 3mm; font-size: 6.8pt; line-height: 1.25; }
.readings div { display: flex; gap: 1.2mm; break-inside: avoid; border-bottom: 0.1mm solid #e4e4e4; }
.readings span:first-child { width: 16mm; }
.readings span.bp { width: 12mm; text-align: right; }
.readings span.pulse { width: 6mm; text-align: right; }
.readings .night { background: #f1f3fa; }
.readings .excluded { color: #8a8a8a; text-decoration: line-through; }
.physician { border: 0.4mm solid #444; padding: 1.5mm 3mm; margin-top: 2mm; }
.physician .space { height: 24mm; }
.physician .sign { display: flex; gap: 10mm; margin-top: 2mm; }
.physician .sign div { flex: 1; border-top: 0.3mm solid #444; padding-top: 0.5mm; color: #444; }
)css";

constexpr const char* kDash = "–";
constexpr const char* kMuted = "<span class=\"muted\">not recorded</span>";

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

std::string OrMuted(const std::string& text) { return text.empty() ? kMuted : EscapeHtml(text); }

void Fact(std::ostream& out, const char* name, const std::string& value) {
  out << "<tr><th>" << name << "</th><td>" << value << "</td></tr>\n";
}

// Whole years from the birth date to `at`, or empty.
std::string AgeAt(const std::string& birth_date, const CalendarTime& at) {
  const auto born = ParseLocalTime(birth_date + "T00:00");
  if (!born || !IsValidTime(at)) return {};
  int years = at.year - born->year;
  if (at.month < born->month || (at.month == born->month && at.day < born->day)) --years;
  return years >= 0 ? std::to_string(years) : std::string();
}

void Header(std::ostream& out, const Analysis& a, const CalendarTime& made) {
  const Recording& r = a.recording;
  const PatientInfo& p = r.subject;
  const auto counted = a.Counted();
  out << "<h1>Ambulatory blood-pressure report</h1>\n";
  if (r.incomplete)
    out << "<p class=\"warning incomplete\">Incomplete download: " << EscapeHtml(*r.incomplete)
        << ". The device had not sent everything it holds; this report covers only the readings that arrived "
           "and is not a valid recording.</p>\n";
  out << "<div class=\"header\"><table class=\"facts\">\n";
  Fact(out, "Patient", OrMuted(p.name));
  Fact(out, "Patient ID", OrMuted(p.id));
  const std::string birth = p.birth_date.empty() ? std::string()
                                                 : FormatDate(*ParseLocalTime(p.birth_date + "T00:00"));
  const std::string age = counted.empty() ? std::string() : AgeAt(p.birth_date, counted.front()->time);
  Fact(out, "Date of birth", birth.empty() ? kMuted : birth + (age.empty() ? "" : " (age " + age + ")"));
  Fact(out, "Sex", OrMuted(p.sex));
  std::string texts;
  for (const std::string& text : r.patient) texts += (texts.empty() ? "" : " · ") + EscapeHtml(text);
  Fact(out, "Device's patient fields", texts.empty() ? "<span class=\"muted\">none</span>" : texts);
  if (r.device) {
    const DeviceSummary& d = *r.device;
    Fact(out, "Device", EscapeHtml(d.kind) + ", " + EscapeHtml(d.family) +
                            (d.version.empty() ? "" : ", version " + EscapeHtml(d.version)));
    Fact(out, "Serial number", d.serial.empty() ? "<span class=\"muted\">not given by the device</span>"
                                                : EscapeHtml(d.serial));
  } else {
    Fact(out, "Device", "<span class=\"muted\">not known</span>");
  }
  out << "</table><table class=\"facts\">\n";
  if (!counted.empty())
    Fact(out, "Recording", FormatDateTime(counted.front()->time) + " to " + FormatDateTime(counted.back()->time));
  Fact(out, "Data set", OrMuted(r.set_label));
  if (r.plan)
    Fact(out, "Plan",
         "day from " + FormatClock(r.plan->day_start) + " every " + std::to_string(r.plan->day_interval) +
             " min, night from " + FormatClock(r.plan->night_start) + " every " +
             std::to_string(r.plan->night_interval) + " min");
  Fact(out, "Day and night", EscapeHtml(DescribeRule(a.rule)));
  Fact(out, "Guideline", EscapeHtml(a.profile->title));
  Fact(out, "Report made", FormatDateTime(made) + " by bplink " + EscapeHtml(Version()));
  Fact(out, "Source", EscapeHtml(r.source));
  out << "</table></div>\n";
}

// The thresholds the verdict is read against: those of the level reached,
// or of the lowest level when none is.
const ProfileLevel& JudgedLevel(const Analysis& a) {
  for (const ProfileLevel& level : a.profile->levels)
    if (a.verdict.level == level.name) return level;
  return a.profile->levels.front();
}

void Interpretation(std::ostream& out, const Analysis& a) {
  static constexpr std::array<const char*, kPeriodCount> kNames = {"24 h", "Day", "Night"};
  const bool normal = a.verdict.exceeded.empty();
  const bool judged = a.verdict.level != kNoVerdict;
  out << "<div class=\"verdict " << (!judged ? "none" : normal ? "normal" : "high") << "\"><div class=\"level\">"
      << EscapeHtml(Capitalised(a.verdict.level)) << " <span class=\"muted\">(" << EscapeHtml(a.profile->title)
      << ")</span></div><p>";
  if (!judged)
    out << "No reading counts, so there is nothing to judge.";
  else if (normal)
    out << "Every mean is below its threshold.";
  else
    out << "Reasons: " << EscapeHtml(a.verdict.exceeded.front());
  for (std::size_t i = 1; i < a.verdict.exceeded.size(); ++i) out << "; " << EscapeHtml(a.verdict.exceeded[i]);
  out << "</p>\n";

  // Each mean against its threshold, so the reader sees how near it is.
  const ProfileLevel& level = JudgedLevel(a);
  out << "<table><thead><tr><th>Mean, mmHg</th><th>Systolic</th><th>Threshold</th><th>Diastolic</th>"
         "<th>Threshold</th><th>Result (" << EscapeHtml(level.name) << ")</th></tr></thead><tbody>\n";
  for (int p = 0; p < kPeriodCount; ++p) {
    const PeriodStats& s = a.periods[p];
    const Thresholds& t = level.limits[p];
    const bool sys_over = s.sys.mean && *s.sys.mean >= t.sys, dia_over = s.dia.mean && *s.dia.mean >= t.dia;
    const char* result = !s.sys.mean ? kDash : sys_over || dia_over ? "at or above" : "below";
    out << "<tr><td>" << kNames[p] << "</td><td>" << FormatNumber(s.sys.mean) << "</td><td>" << t.sys
        << "</td><td>" << FormatNumber(s.dia.mean) << "</td><td>" << t.dia << "</td><td class=\""
        << (sys_over || dia_over ? "fail" : "pass") << "\">" << result << "</td></tr>\n";
  }
  out << "</tbody></table>\n";

  const auto criterion = [&out](const char* name, const std::string& found, const std::string& minimum, bool pass) {
    out << "<tr><td>" << name << "</td><td>" << found << "</td><td>" << minimum << "</td><td class=\""
        << (pass ? "pass\">pass" : "fail\">fail") << "</td></tr>\n";
  };
  out << "<table><thead><tr><th>Validity criterion</th><th>Found</th><th>Minimum</th><th>Result</th></tr></thead>"
         "<tbody>\n";
  criterion("Valid readings", FormatNumber(a.validity.valid_pct) + " % (" + std::to_string(a.counted) + " of " +
                                  std::to_string(a.total) + ")",
            FormatNumber(kMinValidPercent, 0) + " %", a.validity.valid_pct >= kMinValidPercent);
  criterion("Day readings", std::to_string(a.periods[kDay].n), std::to_string(kMinDayReadings),
            a.periods[kDay].n >= kMinDayReadings);
  criterion("Night readings", std::to_string(a.periods[kNight].n), std::to_string(kMinNightReadings),
            a.periods[kNight].n >= kMinNightReadings);
  out << "</tbody></table><p>Excluded " << a.total - a.counted;
  const char* separator = ": ";
  for (const auto& [reason, n] : a.excluded_by_reason) {
    out << separator << n << " " << EscapeHtml(reason);
    separator = ", ";
  }
  out << ". ";
  if (a.recording.incomplete)
    out << "<span class=\"warning\">The download is incomplete, so the recording cannot be judged valid.</span>";
  else if (a.validity.valid)
    out << "The recording meets the validity criteria.";
  else
    out << "<span class=\"warning\">The recording does not meet the validity criteria; read the numbers with "
           "care.</span>";
  out << "</p></div>\n";
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

  const auto dipping = [](const char* name, std::optional<double> pct, const Summary& day, const Summary& night) {
    std::string text = std::string(name) + " ";
    if (!pct) return text + kDash;
    return text + FormatNumber(pct) + " %, night-to-day ratio " + FormatNumber(NightDayRatio(day.mean, night.mean), 2) +
           ", " + DippingClass(*pct);
  };
  out << "<p><b>Nocturnal dipping:</b> "
      << dipping("systolic", a.dipping_sys, a.periods[kDay].sys, a.periods[kNight].sys) << "; "
      << dipping("diastolic", a.dipping_dia, a.periods[kDay].dia, a.periods[kNight].dia) << ".</p>\n";
}

void Variability(std::ostream& out, const Analysis& a) {
  static constexpr std::array<const char*, kPeriodCount> kNames = {"24 h", "Day", "Night"};
  out << "<section><h2>Variability and morning surge</h2>\n<table class=\"summary\"><thead><tr><th>Period</th>"
         "<th>Sys SD</th><th>Sys CV</th><th>Sys ARV</th><th>Dia SD</th><th>Dia CV</th><th>Dia ARV</th></tr></thead>"
         "<tbody>\n";
  for (int p = 0; p < kPeriodCount; ++p) {
    const PeriodStats& s = a.periods[p];
    out << "<tr><td>" << kNames[p] << "</td><td>" << FormatNumber(s.sys.sd) << "</td><td>"
        << FormatNumber(s.sys.cv) << " %</td><td>" << FormatNumber(s.sys.arv) << "</td><td>"
        << FormatNumber(s.dia.sd) << "</td><td>" << FormatNumber(s.dia.cv) << " %</td><td>"
        << FormatNumber(s.dia.arv) << "</td></tr>\n";
  }
  out << "<tr><td>Weighted 24 h</td><td>" << FormatNumber(a.weighted_sd_sys) << "</td><td></td><td></td><td>"
      << FormatNumber(a.weighted_sd_dia) << "</td><td></td><td></td></tr>\n</tbody></table>\n<p><b>Morning surge:</b> ";
  if (a.surge)
    out << "waking " << FormatDayTime(a.surge->wake) << "; prewaking " << FormatNumber(a.surge->prewaking_surge)
        << " mmHg, sleep-trough " << FormatNumber(a.surge->sleep_trough_surge) << " mmHg (systolic: morning "
        << FormatNumber(a.surge->morning_mean) << ", before waking " << FormatNumber(a.surge->prewaking_mean)
        << ", lowest at night " << FormatNumber(a.surge->trough_mean) << ").";
  else
    out << "no waking within the recording.";
  out << "</p></section>\n";
}

void HourlyTable(std::ostream& out, const Analysis& a) {
  out << "<table class=\"hourly\"><thead><tr><th>Hour</th>";
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
  out << "</tbody></table>\n";
}

// Every reading, in columns so that a day's readings fit beside the rest.
void Readings(std::ostream& out, const Analysis& a) {
  out << "<h2>All readings <span class=\"muted\">(systolic/diastolic mmHg, pulse; night shaded, excluded struck "
         "through)</span></h2>\n<div class=\"readings\">\n";
  for (const Reading& r : a.recording.readings) {
    const bool excluded = !r.excluded.empty();
    out << "<div" << (excluded ? " class=\"excluded\"" : r.night ? " class=\"night\"" : "") << " title=\""
        << (excluded ? "excluded: " + EscapeHtml(r.excluded) : r.night ? "night" : "day") << "\"><span>"
        << (IsValidTime(r.time) ? FormatDayTime(r.time) : "no date") << "</span><span class=\"bp\">"
        << FormatNumber(r.sys, 0) << "/" << FormatNumber(r.dia, 0) << "</span><span class=\"pulse\">"
        << FormatNumber(r.pulse, 0) << "</span></div>\n";
  }
  out << "</div>\n";
}

void PhysicianBox(std::ostream& out) {
  out << "<div class=\"physician\"><h2>Physician's interpretation</h2><div class=\"space\"></div>"
         "<div class=\"sign\"><div>Signature</div><div>Name</div><div>Date</div></div></div>\n";
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

void WriteHtmlReport(const Analysis& a, const CalendarTime& made, std::ostream& out) {
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<title>Ambulatory blood-pressure report</title>\n<style>"
      << kStyle << ChartStyle() << "</style>\n</head>\n<body>\n";
  // Two printed pages: the findings with the 24-hour chart, then the hourly
  // means, the readings and the physician's part.
  out << "<div class=\"page\">\n";
  Header(out, a, made);
  Interpretation(out, a);
  SummaryTable(out, a);
  out << "<figure><h2>24-hour profile</h2>\n" << ChartSvg(a) << "</figure>\n</div>\n";
  out << "<figure><h2>Hourly means</h2>\n" << HourlyChartSvg(a);
  HourlyTable(out, a);
  out << "</figure>\n";
  Variability(out, a);
  Readings(out, a);
  PhysicianBox(out);
  out << "</body>\n</html>\n";
}

}  // namespace bplink::report
