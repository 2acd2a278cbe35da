// The printable report: who and what was recorded, the verdict with its
// reasons and the validity criteria, the numbers, the 24-hour and hourly
// charts, every reading, and room for the physician's interpretation.

#include <bplink/report/html_report.h>

#include <bplink/report/chart.h>
#include <bplink/version.h>

#include <cstdio>
#include <ostream>
#include <sstream>

namespace bplink::report {
namespace {

constexpr const char* kStyle = R"css(
@page { size: A4; margin: 14mm 12mm 12mm 12mm; }
* { box-sizing: border-box; -webkit-print-color-adjust: exact; print-color-adjust: exact; }
body { font: 9pt/1.3 "DejaVu Sans", "Liberation Sans", Arial, sans-serif; color: #111;
       max-width: 186mm; margin: 8mm auto; }
@media print { body { margin: 0 auto; font-size: 8.5pt; } .screen-only { display: none; } }
h1 { font-size: 14pt; margin: 0 0 1.5mm; }
h2 { font-size: 10.5pt; margin: 3mm 0 1mm; border-bottom: 0.4mm solid #444; break-after: avoid; }
table { border-collapse: collapse; width: 100%; }
th, td { padding: 0.4mm 1.2mm; text-align: right; border-bottom: 0.2mm solid #ccc; }
th { background: #eee; font-weight: 600; }
th:first-child, td:first-child { text-align: left; }
table.summary td { white-space: nowrap; }
.header { display: grid; grid-template-columns: 1fr 1fr; column-gap: 6mm; }
table.facts td, table.facts th { text-align: left; border: none; background: none; padding: 0.2mm 1mm; vertical-align: top; }
table.facts th { width: 22mm; color: #444; font-weight: normal; }
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
.readings span:first-child { width: 17.5mm; white-space: nowrap; }
.readings span.bp { width: 12mm; text-align: right; }
.readings span.pulse { width: 6mm; text-align: right; }
.readings .night { background: #f1f3fa; }
.readings .excluded { color: #8a8a8a; flex-wrap: wrap; }
.readings .excluded span.bp, .readings .excluded span.pulse { text-decoration: line-through; }
.readings span.reason { width: 100%; font-size: 6pt; padding-left: 2mm; }
.verdict.none { border-color: #b71c1c; background: #fff8e1; }
.verdict ul { margin: 0.5mm 0; padding-left: 5mm; }
.for-information { color: #6d4c41; font-style: italic; }
table.compare td, table.compare th { text-align: center; }
table.compare td:first-child, table.compare th:first-child { text-align: left; }
.physician { border: 0.4mm solid #444; padding: 1.5mm 3mm; margin-top: 2mm; }
.physician .space { height: 24mm; }
.physician .sign { display: flex; gap: 10mm; margin-top: 2mm; }
.physician .sign div { flex: 1; border-top: 0.3mm solid #444; padding-top: 0.5mm; color: #444; }
.physician .interpretation { white-space: pre-wrap; margin: 1mm 0; }
.physician.signed .sign div { color: #111; }
.physician .hash code, .physician .superseded code { font-size: 6.5pt; word-break: break-all; }
.physician .superseded { color: #777; border-top: 0.2mm dashed #aaa; margin-top: 1.5mm; }
.physician .superseded .interpretation { text-decoration: line-through; }
)css";

constexpr const char* kDash = "–";
constexpr const char* kMuted = "<span class=\"muted\">not recorded</span>";
constexpr std::array<const char*, kPeriodCount> kPeriodNames = {"24 h", "Day", "Night"};

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

// What the page needs besides the analysis: the zone of its times.
struct Page {
  const Analysis& a;
  std::string offset;  // "UTC+01:00": every time of the recording
  std::string zone;    // the zone's name as given
};

std::string Title(const Analysis& a) {
  return a.kind == ReportKind::kHome ? "Home blood-pressure report" : "Ambulatory blood-pressure report";
}

// The first and last counted reading (a home recording's from its first
// day, set aside), or every reading when none counts.
std::pair<const Reading*, const Reading*> Span(const Analysis& a) {
  const Reading* first = nullptr;
  const Reading* last = nullptr;
  for (const Reading* r : a.Counted()) {
    if (!first) first = r;
    last = r;
  }
  if (first && a.kind == ReportKind::kHome && a.home.first_day)
    for (const Reading& r : a.recording.readings)
      if (IsValidTime(r.time) && SecondsOf(r.time) >= SecondsOf(*a.home.first_day)) {
        first = &r;
        break;
      }
  if (first) return {first, last};
  for (const Reading& r : a.recording.readings)
    if (IsValidTime(r.time)) {
      if (!first) first = &r;
      last = &r;
    }
  return {first, last};
}

// The print header and footer: who and which recording at the top of every
// page, the page's number at its foot (CSS page-margin boxes, which
// Chromium prints).
std::string PageMargins(const Page& page) {
  const Analysis& a = page.a;
  const PatientInfo& p = a.recording.subject;
  const auto [first, last] = Span(a);
  const std::string who = (p.name.empty() ? std::string("Patient not named") : p.name) + " · ID " +
                          (p.id.empty() ? std::string("not recorded") : p.id);
  const std::string when = first ? "recording " + FormatDate(first->time) : std::string("no dated reading");
  const std::string font = "font: 7.5pt \"DejaVu Sans\", \"Liberation Sans\", Arial, sans-serif; color: #333;";
  return "@page { @top-left { content: " + CssString(who + " · " + when) + "; " + font +
         " } @top-right { content: " + CssString(Title(a)) + "; " + font +
         " } @bottom-left { content: " + CssString("Times: the device's clock, " + page.offset) + "; " + font +
         " } @bottom-right { content: \"page \" counter(page) \" of \" counter(pages); " + font + " } }\n";
}

void VerdictBox(std::ostream& out, const Page& page) {
  const Analysis& a = page.a;
  const bool judged = a.interpretable && a.verdict.level != kNoVerdict;
  const bool normal = a.verdict.exceeded.empty();
  out << "<div class=\"verdict " << (!judged ? "none" : normal ? "normal" : "high") << "\"><div class=\"level\">"
      << EscapeHtml(Capitalised(a.verdict.level)) << " <span class=\"muted\">(" << EscapeHtml(a.profile->title)
      << (a.kind == ReportKind::kHome ? ", home thresholds" : "") << ")</span></div>";
  if (!a.interpretable) {
    out << "<p>The recording fails " << (a.validity.problems.size() == 1 ? "a validity criterion" : "these validity criteria")
        << ", so no class and no dipping category is given; the means below are for information only:</p><ul>";
    for (const std::string& problem : a.validity.problems) out << "<li>" << EscapeHtml(Capitalised(problem)) << "</li>";
    out << "</ul>";
  } else if (!judged) {
    out << "<p>No reading counts, so there is nothing to judge.</p>";
  } else if (normal) {
    out << "<p>Every mean is below its threshold.</p>";
  } else {
    out << "<p>Reasons: " << EscapeHtml(a.verdict.exceeded.front());
    for (std::size_t i = 1; i < a.verdict.exceeded.size(); ++i) out << "; " << EscapeHtml(a.verdict.exceeded[i]);
    out << "</p>";
  }
  if (a.recording.review.office) {
    const OfficeReading& o = *a.recording.review.office;
    out << "<p class=\"office\"><b>Office " << o.sys << "/" << o.dia << " mmHg:</b> ";
    if (a.office_class)
      out << EscapeHtml(Capitalised(*a.office_class)) << " (ESH 2023: office hypertension from "
          << FormatNumber(kOfficeThreshold.sys, 0) << "/" << FormatNumber(kOfficeThreshold.dia, 0)
          << " mmHg, out of the office by the " << (a.kind == ReportKind::kHome ? "home" : "ambulatory")
          << " thresholds).";
    else
      out << "not classified, since the recording is not interpretable.";
    out << "</p>";
  }
  out << "</div>\n";
}

void Header(std::ostream& out, const Page& page, const CalendarTime& made, const std::string& made_offset) {
  const Analysis& a = page.a;
  const Recording& r = a.recording;
  const PatientInfo& p = r.subject;
  const auto [first, last] = Span(a);
  out << "<div class=\"header\"><table class=\"facts\">\n";
  Fact(out, "Patient", OrMuted(p.name));
  Fact(out, "Patient ID", p.id.empty() || p.system.empty() ? OrMuted(p.id)
                                                            : EscapeHtml(p.id) + " <span class=\"muted\">(" +
                                                                  EscapeHtml(p.system) + ")</span>");
  const std::string birth = p.birth_date.empty() ? std::string()
                                                 : FormatDate(*ParseLocalTime(p.birth_date + "T00:00"));
  const std::string age = first ? AgeAt(p.birth_date, first->time) : std::string();
  Fact(out, "Date of birth", birth.empty() ? kMuted : birth + (age.empty() ? "" : " (age " + age + ")"));
  Fact(out, "Sex", OrMuted(p.sex));
  std::string texts;
  for (const std::string& text : r.patient) texts += (texts.empty() ? "" : " · ") + EscapeHtml(text);
  Fact(out, "Device's patient fields", texts.empty() ? "<span class=\"muted\">none</span>" : texts);
  const ReviewInputs& review = r.review;
  for (const auto& [name, text] : {std::pair("Indication", &review.indication), std::pair("Medication", &review.medication),
                                   std::pair("Referred by", &review.referring_physician)})
    if (!text->empty()) Fact(out, name, EscapeHtml(*text));
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
  if (first)
    Fact(out, "Recording", FormatDateTime(first->time) + " to " + FormatDateTime(last->time) + " " + page.offset);
  Fact(out, "Times", page.offset + ", the device's clock (" + EscapeHtml(page.zone) + ")" +
                         (review.clock_offset_minutes != 0
                              ? ", moved " + FormatClockOffset(review.clock_offset_minutes) + " (--clock-offset)"
                              : ""));
  Fact(out, "Report", EscapeHtml(Capitalised(KindKey(a.kind))) + ": " + EscapeHtml(a.kind_reason));
  Fact(out, "Data set", OrMuted(r.set_label));
  if (r.plan)
    Fact(out, "Plan",
         "day from " + FormatClock(r.plan->day_start) + " every " + std::to_string(r.plan->day_interval) +
             " min, night from " + FormatClock(r.plan->night_start) + " every " +
             std::to_string(r.plan->night_interval) + " min" +
             (r.plan_start ? "; uploaded " + FormatDayTime(*r.plan_start) : std::string()));
  if (a.kind == ReportKind::kAmbulatory) Fact(out, "Day and night", EscapeHtml(DescribeRule(a.rule)));
  Fact(out, "Guideline", EscapeHtml(a.profile->title));
  Fact(out, "Report made", FormatDateTime(made) + " " + made_offset + " by bplink " + EscapeHtml(Version()));
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

// How the means of a recording that is not interpretable are marked.
std::string ForInformation(const Analysis& a) {
  return a.interpretable ? "" : " <span class=\"for-information\">(for information only)</span>";
}

// Each mean against its threshold, so the reader sees how near it is; a
// recording that is not interpretable shows them unjudged.
void MeansAgainstThresholds(std::ostream& out, const Analysis& a) {
  const ProfileLevel& level = JudgedLevel(a);
  const bool home = a.kind == ReportKind::kHome;
  out << "<table><thead><tr><th>Mean, mmHg" << ForInformation(a)
      << "</th><th>Systolic</th><th>Threshold</th><th>Diastolic</th><th>Threshold</th><th>Result ("
      << EscapeHtml(level.name) << ")</th></tr></thead><tbody>\n";
  const auto row = [&](const std::string& name, const PeriodStats& s, const Thresholds& t) {
    const bool over = (s.sys.mean && *s.sys.mean >= t.sys) || (s.dia.mean && *s.dia.mean >= t.dia);
    const char* result = !a.interpretable ? "not judged" : !s.sys.mean ? kDash : over ? "at or above" : "below";
    out << "<tr><td>" << name << "</td><td>" << FormatNumber(s.sys.mean) << "</td><td>" << t.sys << "</td><td>"
        << FormatNumber(s.dia.mean) << "</td><td>" << t.dia << "</td><td class=\""
        << (!a.interpretable ? "muted" : over ? "fail" : "pass") << "\">" << result << "</td></tr>\n";
  };
  if (home) {
    row("Home", a.periods[k24h], level.limits[kDay]);
    row("Morning", a.home.morning, level.limits[kDay]);
    row("Evening", a.home.evening, level.limits[kDay]);
  } else {
    for (int p = 0; p < kPeriodCount; ++p) row(kPeriodNames[p], a.periods[p], level.limits[p]);
  }
  out << "</tbody></table>\n";
}

void Criteria(std::ostream& out, const Analysis& a) {
  out << "<table class=\"criteria\"><thead><tr><th>Validity criterion</th><th>Found</th><th>Required</th>"
         "<th>Result</th></tr></thead><tbody>\n";
  for (const Criterion& c : a.validity.criteria)
    out << "<tr><td>" << EscapeHtml(c.name) << "</td><td>" << EscapeHtml(c.found) << "</td><td>" << EscapeHtml(c.required)
        << "</td><td class=\"" << (c.pass ? "pass\">pass" : "fail\">fail") << "</td></tr>\n";
  out << "</tbody></table><p>Excluded " << a.total - a.counted;
  const char* separator = ": ";
  for (const auto& [reason, n] : a.excluded_by_reason) {
    out << separator << n << " " << EscapeHtml(reason);
    separator = ", ";
  }
  out << ". ";
  if (a.validity.valid)
    out << "The recording meets the validity criteria.";
  else if (a.recording.incomplete)
    out << "<span class=\"warning\">The download is incomplete, so the recording cannot be judged valid: not "
           "interpretable.</span>";
  else
    out << "<span class=\"warning\">The recording does not meet the validity criteria: not interpretable.</span>";
  out << "</p>\n";
}

void SummaryTable(std::ostream& out, const Analysis& a) {
  out << "<h2>Summary" << ForInformation(a)
      << "</h2>\n<table class=\"summary\"><thead><tr><th>Period</th><th>n</th>"
         "<th>Systolic</th><th>Diastolic</th><th>MAP</th><th>Pulse</th><th>Sys range</th><th>Dia range</th>"
         "<th>Load sys</th><th>Load dia</th></tr></thead><tbody>\n";
  for (int p = 0; p < kPeriodCount; ++p) {
    const PeriodStats& s = a.periods[p];
    out << "<tr><td>" << kPeriodNames[p] << "</td><td>" << s.n << "</td><td>" << MeanSd(s.sys) << "</td><td>"
        << MeanSd(s.dia) << "</td><td>" << MeanSd(s.map) << "</td><td>" << MeanSd(s.pulse) << "</td><td>"
        << Range(s.sys) << "</td><td>" << Range(s.dia) << "</td><td>" << FormatNumber(a.load_sys[p], 0)
        << " %</td><td>" << FormatNumber(a.load_dia[p], 0) << " %</td></tr>\n";
  }
  out << "</tbody></table>\n<p class=\"muted\">Mean ± SD in mmHg (pulse in beats per minute). Load: "
         "readings above the period's threshold.</p>\n";

  const auto dipping = [](const char* name, std::optional<double> pct, const std::optional<std::string>& category,
                          const Summary& day, const Summary& night) {
    std::string text = std::string(name) + " ";
    if (!pct) return text + kDash;
    return text + FormatNumber(pct) + " %, night-to-day ratio " + FormatNumber(NightDayRatio(day.mean, night.mean), 2) +
           (category ? ", " + *category : std::string());
  };
  out << "<p><b>Nocturnal dipping:</b> "
      << dipping("systolic", a.dipping_sys, a.dipping_sys_class, a.periods[kDay].sys, a.periods[kNight].sys) << "; "
      << dipping("diastolic", a.dipping_dia, a.dipping_dia_class, a.periods[kDay].dia, a.periods[kNight].dia) << "."
      << (a.interpretable ? "" : " <span class=\"for-information\">No category: the recording is not interpretable.</span>")
      << "</p>\n";
}

void HomeTables(std::ostream& out, const Analysis& a) {
  const HomeStats& h = a.home;
  out << "<h2>Home readings" << ForInformation(a)
      << "</h2>\n<p>The ESH home protocol: morning (from " << FormatClock(kMorningFrom) << ") and evening (from "
      << FormatClock(kEveningFrom) << ") readings over up to " << kHomeDays << " days";
  if (h.first_day)
    out << ", here " << FormatDate(*h.first_day) << " to " << FormatDate(*h.last_day) << "; the first day, "
        << FormatDate(*h.first_day) << ", is set aside";
  out << ".</p>\n<table class=\"summary\"><thead><tr><th>Readings</th><th>n</th><th>Systolic</th><th>Diastolic</th>"
         "<th>Pulse</th><th>Sys range</th><th>Dia range</th></tr></thead><tbody>\n";
  for (const auto& [name, s] : {std::pair("All", &a.periods[k24h]), std::pair("Morning", &h.morning),
                                std::pair("Evening", &h.evening)})
    out << "<tr><td>" << name << "</td><td>" << s->n << "</td><td>" << MeanSd(s->sys) << "</td><td>" << MeanSd(s->dia)
        << "</td><td>" << MeanSd(s->pulse) << "</td><td>" << Range(s->sys) << "</td><td>" << Range(s->dia)
        << "</td></tr>\n";
  out << "</tbody></table>\n<table class=\"summary days\"><thead><tr><th>Day</th><th>Morning n</th><th>Morning mean</th>"
         "<th>Evening n</th><th>Evening mean</th><th></th></tr></thead><tbody>\n";
  const auto mean = [](const PeriodStats& s) {
    return s.sys.mean ? FormatNumber(s.sys.mean, 0) + "/" + FormatNumber(s.dia.mean, 0) : std::string(kDash);
  };
  for (const HomeDay& d : h.days_table)
    out << "<tr><td>" << FormatDate(d.date) << "</td><td>" << d.morning.n << "</td><td>" << mean(d.morning)
        << "</td><td>" << d.evening.n << "</td><td>" << mean(d.evening) << "</td><td>"
        << (d.set_aside ? "set aside (the first day)" : "") << "</td></tr>\n";
  out << "</tbody></table>\n";
}

void Variability(std::ostream& out, const Analysis& a) {
  out << "<section><h2>Variability and morning surge</h2>\n<table class=\"summary\"><thead><tr><th>Period</th>"
         "<th>Sys SD</th><th>Sys CV</th><th>Sys ARV</th><th>Dia SD</th><th>Dia CV</th><th>Dia ARV</th></tr></thead>"
         "<tbody>\n";
  for (int p = 0; p < kPeriodCount; ++p) {
    const PeriodStats& s = a.periods[p];
    out << "<tr><td>" << kPeriodNames[p] << "</td><td>" << FormatNumber(s.sys.sd) << "</td><td>"
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

void SpO2Section(std::ostream& out, const Page& page) {
  const SpO2Summary& s = page.a.spo2;
  if (s.n == 0) return;
  const double below_pct = s.minutes > 0 ? s.minutes_below * 100 / s.minutes : 0;
  out << "<section class=\"spo2\"><h2>Oxygen saturation (SpO2) <span class=\"muted\">(times " << page.offset
      << ")</span></h2>\n<p>" << s.n << " samples over "
      << FormatNumber(s.minutes / kMinutesPerHour, 1) << " h: mean " << FormatNumber(s.mean) << " %, lowest "
      << (s.min ? std::to_string(*s.min) : std::string(kDash)) << " %, below " << kSpO2Low << " % for "
      << FormatNumber(s.minutes_below, 0) << " min (" << FormatNumber(below_pct) << " % of the time).</p>\n<figure>"
      << SpO2ChartSvg(page.a) << "</figure></section>\n";
}

void PreviousStudySection(std::ostream& out, const Analysis& a) {
  if (!a.recording.previous) return;
  const PreviousStudy& p = *a.recording.previous;
  const auto period = [](const std::optional<CalendarTime>& first, const std::optional<CalendarTime>& last) {
    if (!first) return std::string(kDash);
    return FormatDate(*first) + (last && FormatDate(*last) != FormatDate(*first) ? " to " + FormatDate(*last) : "");
  };
  const auto [first, last] = Span(a);
  const auto means = [](std::optional<double> sys, std::optional<double> dia) {
    return sys ? FormatNumber(sys) + "/" + FormatNumber(dia) : std::string(kDash);
  };
  const bool home = a.kind == ReportKind::kHome;
  out << "<section class=\"previous\"><h2>Previous study</h2>\n<table class=\"compare\"><thead><tr><th>Study</th>"
         "<th>Dates</th>"
      << (home ? "<th>Home mean</th>" : "<th>24 h mean</th><th>Day mean</th><th>Night mean</th>")
      << "<th>Class</th></tr></thead><tbody>\n";
  out << "<tr><td>This one</td><td>" << period(first ? std::optional(first->time) : std::nullopt,
                                             last ? std::optional(last->time) : std::nullopt)
      << "</td>";
  for (int i = 0; i < (home ? 1 : kPeriodCount); ++i)
    out << "<td>" << means(a.periods[i].sys.mean, a.periods[i].dia.mean) << "</td>";
  out << "<td>" << EscapeHtml(a.verdict.level) << "</td></tr>\n<tr><td>" << EscapeHtml(p.label) << "</td><td>"
      << period(p.first, p.last) << "</td>";
  for (int i = 0; i < (home ? 1 : kPeriodCount); ++i) out << "<td>" << means(p.means[i].sys, p.means[i].dia) << "</td>";
  out << "<td>" << EscapeHtml(p.verdict) << "</td></tr>\n</tbody></table>\n<p class=\"muted\">Means in mmHg, "
      << "systolic/diastolic" << (p.kind != KindKey(a.kind) ? "; the previous study was " + EscapeHtml(p.kind) : "")
      << ".</p></section>\n";
}

// Every reading, in columns so that a day's readings fit beside the rest;
// an excluded one struck through with its reason under it.
void Readings(std::ostream& out, const Page& page) {
  out << "<h2>All readings <span class=\"muted\">(times " << page.offset << "; systolic/diastolic mmHg, pulse; "
      << (page.a.kind == ReportKind::kAmbulatory ? "night shaded, " : "")
      << "excluded struck through with the reason)</span></h2>\n<div class=\"readings\">\n";
  for (const Reading& r : page.a.recording.readings) {
    const bool excluded = !r.excluded.empty();
    out << "<div" << (excluded ? " class=\"excluded\"" : r.night ? " class=\"night\"" : "") << "><span>"
        << (IsValidTime(r.time) ? FormatDayTime(r.time) : "no date") << "</span><span class=\"bp\">"
        << FormatNumber(r.sys, 0) << "/" << FormatNumber(r.dia, 0) << "</span><span class=\"pulse\">"
        << FormatNumber(r.pulse, 0) << "</span>";
    if (excluded) out << "<span class=\"reason\">" << EscapeHtml(r.excluded) << "</span>";
    out << "</div>\n";
  }
  out << "</div>\n";
}

std::string SignedBy(const SignedVersion& v) {
  std::string who = EscapeHtml(v.signer);
  if (!v.db_role.empty()) who += " (database role " + EscapeHtml(v.db_role) + ")";
  if (!v.station.empty()) who += " at " + EscapeHtml(v.station);
  return who;
}

std::string VersionName(const SignedVersion& v) {
  return "Version " + std::to_string(v.version) + " (" + SignedStatus(v) + ")";
}

// Room for the interpretation and the signature; once signed, the signed
// text with who signed it, when, and the hash of the inputs it was signed
// on, and every earlier version marked superseded.
void PhysicianBox(std::ostream& out, const Analysis& a) {
  const std::optional<Signature>& signature = a.recording.signature;
  const SignedVersion* in_force = signature ? signature->InForce() : nullptr;
  out << "<div class=\"physician" << (in_force ? " signed" : "") << "\"><h2>Physician's interpretation</h2>";
  if (in_force) {
    out << "<div class=\"interpretation\">" << EscapeHtml(in_force->interpretation) << "</div>"
        << "<div class=\"sign\"><div>Signed by " << SignedBy(*in_force) << "</div><div>"
        << VersionName(*in_force) << "</div><div>" << FormatDateTime(in_force->signed_at)
        << " <span class=\"muted\">(the signing station's clock)</span></div></div>"
        << "<p class=\"hash\">SHA-256 of the report's inputs as signed: <code>" << EscapeHtml(in_force->hash)
        << "</code></p>";
  } else {
    if (signature && signature->amending)
      out << "<p class=\"warning amending\">Amendment under way: the inputs were changed after version "
          << signature->versions.back().version << " was signed, and this report is not signed yet.</p>";
    out << "<div class=\"space\"></div><div class=\"sign\"><div>Signature</div><div>Name</div><div>Date</div></div>";
  }
  if (signature)
    for (auto v = signature->versions.rbegin(); v != signature->versions.rend(); ++v) {
      if (&*v == in_force) continue;
      out << "<div class=\"superseded\"><p><b>" << VersionName(*v) << ", superseded</b>: signed by " << SignedBy(*v)
          << " on " << FormatDateTime(v->signed_at) << "; SHA-256 <code>" << EscapeHtml(v->hash) << "</code></p>"
          << "<div class=\"interpretation\">" << EscapeHtml(v->interpretation) << "</div></div>";
    }
  out << "</div>\n";
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

std::string CssString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    // A quote or backslash escaped; a line break, and '<' so that no text
    // can close the style element, as hexadecimal escapes.
    if (c == '"' || c == '\\') out += std::string("\\") + c;
    else if (c == '\n' || c == '\r' || c == '<') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\%X ", static_cast<unsigned>(static_cast<unsigned char>(c)));
      out += hex;
    } else out += c;
  }
  return out + "\"";
}

std::string FormatNumber(std::optional<double> value, int decimals) {
  if (!value) return kDash;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, *value);
  return buffer;
}

void WriteHtmlReport(const Analysis& a, const CalendarTime& made, const DeviceZone& zone, std::ostream& out) {
  const Page page{a, FormatUtcOffset(RecordingOffset(a, [&zone](const CalendarTime& t) { return zone.At(t); })),
                  zone.Name()};
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<title>" << Title(a) << "</title>\n<style>"
      << kStyle << ChartStyle() << PageMargins(page) << "</style>\n</head>\n<body>\n";
  // A 24-hour recording on two printed pages: the findings with the
  // 24-hour chart, then the hourly means, the readings and the physician's
  // part. A home recording: the findings, its days and the chart, then the
  // rest. Figures and tables are not split; the pages break where they must.
  out << "<h1>" << Title(a) << "</h1>\n";
  if (a.recording.incomplete)
    out << "<p class=\"warning incomplete\">Incomplete download: " << EscapeHtml(*a.recording.incomplete)
        << ". The device had not sent everything it holds; this report covers only the readings that arrived.</p>\n";
  VerdictBox(out, page);
  Header(out, page, made, FormatUtcOffset(zone.At(made)));
  MeansAgainstThresholds(out, a);
  Criteria(out, a);
  if (a.kind == ReportKind::kHome) {
    HomeTables(out, a);
    out << "<figure><h2>Home readings by day <span class=\"muted\">(times " << page.offset << ")</span></h2>\n"
        << HomeChartSvg(a) << "</figure>\n";
  } else {
    SummaryTable(out, a);
    out << "<figure><h2>24-hour profile <span class=\"muted\">(times " << page.offset << ")</span></h2>\n"
        << ChartSvg(a) << "</figure>\n";
    out << "<figure><h2>Hourly means <span class=\"muted\">(clock hours " << page.offset << ")</span></h2>\n"
        << HourlyChartSvg(a);
    HourlyTable(out, a);
    out << "</figure>\n";
    Variability(out, a);
  }
  SpO2Section(out, page);
  PreviousStudySection(out, a);
  Readings(out, page);
  PhysicianBox(out, a);
  out << "</body>\n</html>\n";
}

}  // namespace bplink::report
