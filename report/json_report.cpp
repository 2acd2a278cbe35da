// The JSON form of the report. Numbers are rounded to two decimals, which is
// finer than any blood-pressure reading; a number that cannot be computed
// (too few readings, no pulse in the input) is null.

#include <bplink/report/json_report.h>

#include <cmath>
#include <ostream>

namespace bplink::report {
namespace {

using nlohmann::json;

constexpr double kHundredths = 100;
constexpr double kThousandths = 1000;  // for ratios near 1
constexpr int kIndent = 2;

json RoundedTo(std::optional<double> value, double steps) {
  if (!value) return nullptr;
  return std::round(*value * steps) / steps;
}

json Rounded(std::optional<double> value) { return RoundedTo(value, kHundredths); }

json SummaryJson(const Summary& s) {
  return {{"n", s.n},
          {"mean", Rounded(s.mean)},
          {"sd", Rounded(s.sd)},
          {"cv", Rounded(s.cv)},
          {"arv", Rounded(s.arv)},
          {"min", Rounded(s.min)},
          {"max", Rounded(s.max)}};
}

json PeriodJson(const PeriodStats& p) {
  return {{"n", p.n},
          {"sys", SummaryJson(p.sys)},
          {"dia", SummaryJson(p.dia)},
          {"map", SummaryJson(p.map)},
          {"pulse", SummaryJson(p.pulse)}};
}

json DayNightJson(const Analysis& a) {
  if (a.kind == ReportKind::kHome) return nullptr;
  json j = {{"source", SourceKey(a.rule.source)},
            {"description", DescribeRule(a.rule)},
            {"day_hours", Rounded(a.hours.day)},
            {"night_hours", Rounded(a.hours.night)}};
  if (a.rule.source != DayNightSource::kAwakeColumn) {
    j["night_start"] = FormatClock(a.rule.window.night_start);
    j["day_start"] = FormatClock(a.rule.window.day_start);
  }
  return j;
}

json SurgeJson(const std::optional<MorningSurge>& surge) {
  if (!surge) return nullptr;
  return {{"wake", FormatLocalTime(surge->wake)},
          {"morning_sys", Rounded(surge->morning_mean)},
          {"prewaking_sys", Rounded(surge->prewaking_mean)},
          {"trough_sys", Rounded(surge->trough_mean)},
          {"prewaking_surge", Rounded(surge->prewaking_surge)},
          {"sleep_trough_surge", Rounded(surge->sleep_trough_surge)}};
}

json HourlyJson(const Analysis& a) {
  json hours = json::array();
  for (int h = 0; h < kHoursPerDay; ++h) {
    const HourMeans& m = a.hourly[h];
    hours.push_back({{"hour", h},
                     {"n", m.n},
                     {"sys", Rounded(m.sys)},
                     {"dia", Rounded(m.dia)},
                     {"map", Rounded(m.map)},
                     {"pulse", Rounded(m.pulse)}});
  }
  return hours;
}

json RecordingJson(const Analysis& a) {
  const Recording& r = a.recording;
  json j = {{"source", r.source}, {"patient", r.patient}, {"set", r.set_label}, {"complete", !r.incomplete}};
  j["incomplete_reason"] = r.incomplete ? json(*r.incomplete) : json(nullptr);
  const PatientInfo& p = r.subject;
  j["subject"] = {{"name", p.name}, {"id", p.id}, {"system", p.system}, {"birth_date", p.birth_date}, {"sex", p.sex}};
  j["device"] = r.device ? json(r.device->description) : json(nullptr);
  if (r.plan)
    j["plan"] = {{"day_start", FormatClock(r.plan->day_start)},
                 {"day_interval", r.plan->day_interval},
                 {"night_start", FormatClock(r.plan->night_start)},
                 {"night_interval", r.plan->night_interval}};
  else
    j["plan"] = nullptr;
  const auto counted = a.Counted();
  if (!counted.empty()) {
    j["first"] = FormatLocalTime(counted.front()->time);
    j["last"] = FormatLocalTime(counted.back()->time);
  }
  j["spo2_samples"] = r.spo2.size();
  j["kind"] = KindKey(a.kind);
  j["kind_reason"] = a.kind_reason;
  j["review"] = ReviewToJson(r.review);
  j["previous"] = r.previous ? PreviousStudyToJson(*r.previous) : json(nullptr);
  return j;
}

json ClockJson(const ClockCheck& c) {
  return {{"after_download", c.after_download},
          {"before_plan_start", c.before_plan_start},
          {"days_before_download", Rounded(c.days_before_download)}};
}

json HomeJson(const Analysis& a) {
  if (a.kind != ReportKind::kHome) return nullptr;
  const HomeStats& h = a.home;
  json days = json::array();
  for (const HomeDay& d : h.days_table)
    days.push_back({{"date", FormatLocalTime(d.date).substr(0, 10)},
                    {"set_aside", d.set_aside},
                    {"morning", PeriodJson(d.morning)},
                    {"evening", PeriodJson(d.evening)}});
  const auto day = [](const std::optional<CalendarTime>& t) {
    return t ? json(FormatLocalTime(*t).substr(0, 10)) : json(nullptr);
  };
  return {{"first_day", day(h.first_day)}, {"last_day", day(h.last_day)}, {"days", h.days},
          {"all", PeriodJson(a.periods[k24h])}, {"morning", PeriodJson(h.morning)}, {"evening", PeriodJson(h.evening)},
          {"days_table", days}};
}

json SpO2Json(const SpO2Summary& s) {
  if (s.n == 0) return nullptr;
  return {{"n", s.n}, {"mean", Rounded(s.mean)}, {"min", s.min ? json(*s.min) : json(nullptr)},
          {"minutes", Rounded(s.minutes)}, {"minutes_below_90", Rounded(s.minutes_below)},
          {"pct_below_90", Rounded(s.minutes > 0 ? std::optional<double>(s.minutes_below * 100 / s.minutes) : std::nullopt)}};
}

}  // namespace

json ReportJson(const Analysis& a) {
  json j;
  j["recording"] = RecordingJson(a);

  json thresholds;
  for (int p = 0; p < kPeriodCount; ++p) {
    const Thresholds& t = a.LoadThresholds(static_cast<PeriodIndex>(p));
    thresholds[kPeriodKeys[p]] = {{"sys", t.sys}, {"dia", t.dia}};
  }
  j["profile"] = {{"id", a.profile->id}, {"title", a.profile->title}, {"thresholds", thresholds}};
  j["day_night"] = DayNightJson(a);

  json reasons = json::object();
  for (const auto& [reason, n] : a.excluded_by_reason) reasons[reason] = n;
  j["readings"] = {{"total", a.total},
                   {"valid", a.counted},
                   {"excluded", a.total - a.counted},
                   {"excluded_by_reason", reasons}};

  for (int p = 0; p < kPeriodCount; ++p) {
    j["periods"][kPeriodKeys[p]] = PeriodJson(a.periods[p]);
    j["load"][kPeriodKeys[p]] = {{"sys", Rounded(a.load_sys[p])}, {"dia", Rounded(a.load_dia[p])}};
  }
  j["weighted_sd"] = {{"sys", Rounded(a.weighted_sd_sys)}, {"dia", Rounded(a.weighted_sd_dia)}};
  j["dipping"] = {{"sys_pct", Rounded(a.dipping_sys)},
                  {"dia_pct", Rounded(a.dipping_dia)},
                  {"sys_class", a.dipping_sys_class ? json(*a.dipping_sys_class) : json(nullptr)},
                  {"dia_class", a.dipping_dia_class ? json(*a.dipping_dia_class) : json(nullptr)},
                  {"sys_ratio", RoundedTo(NightDayRatio(a.periods[kDay].sys.mean, a.periods[kNight].sys.mean), kThousandths)},
                  {"dia_ratio", RoundedTo(NightDayRatio(a.periods[kDay].dia.mean, a.periods[kNight].dia.mean), kThousandths)}};
  j["morning_surge"] = SurgeJson(a.surge);
  json criteria = json::array();
  for (const Criterion& c : a.validity.criteria)
    criteria.push_back({{"name", c.name}, {"found", c.found}, {"required", c.required}, {"pass", c.pass}});
  j["validity"] = {{"valid", a.validity.valid},
                   {"valid_pct", Rounded(a.validity.valid_pct)},
                   {"problems", a.validity.problems},
                   {"criteria", criteria}};
  j["clock"] = ClockJson(a.clock);
  j["verdict"] = {{"profile", a.profile->id},
                  {"level", a.verdict.level},
                  {"interpretable", a.interpretable},
                  {"failed", a.interpretable ? json::array() : json(a.validity.problems)},
                  {"exceeded", a.verdict.exceeded},
                  {"recording_valid", a.validity.valid}};
  const auto& office = a.recording.review.office;
  j["office"] = office ? json({{"sys", office->sys}, {"dia", office->dia},
                               {"class", a.office_class ? json(*a.office_class) : json(nullptr)}})
                       : json(nullptr);
  j["home"] = HomeJson(a);
  j["spo2"] = SpO2Json(a.spo2);
  j["hourly"] = a.kind == ReportKind::kAmbulatory ? HourlyJson(a) : json(nullptr);
  j["signature"] = a.recording.signature ? SignatureToJson(*a.recording.signature) : json(nullptr);
  return j;
}

json PreviousStudyToJson(const PreviousStudy& p) {
  json means;
  for (int i = 0; i < kPeriodCount; ++i)
    means[kPeriodKeys[i]] = {{"sys", Rounded(p.means[i].sys)}, {"dia", Rounded(p.means[i].dia)}};
  const auto time = [](const std::optional<CalendarTime>& t) { return t ? json(FormatLocalTime(*t)) : json(nullptr); };
  return {{"label", p.label}, {"kind", p.kind}, {"first", time(p.first)}, {"last", time(p.last)},
          {"means", means}, {"verdict", p.verdict}};
}

PreviousStudy PreviousStudyFromJson(const json& doc, const std::string& name) {
  const auto text = [&](const char* key) -> std::string {
    if (!doc.contains(key) || !doc[key].is_string())
      throw InputError(name + ": " + key + ": expected a text, found " + (doc.contains(key) ? doc[key].dump() : "nothing"));
    return doc[key].get<std::string>();
  };
  if (!doc.is_object()) throw InputError(name + ": expected an object like {\"label\", \"kind\", \"means\", \"verdict\"}");
  PreviousStudy p;
  p.label = text("label");
  p.kind = text("kind");
  p.verdict = text("verdict");
  for (const auto& [key, member] : {std::pair("first", &PreviousStudy::first), std::pair("last", &PreviousStudy::last)})
    if (doc.contains(key) && !doc[key].is_null()) {
      p.*member = doc[key].is_string() ? ParseLocalTime(doc[key].get<std::string>()) : std::nullopt;
      if (!(p.*member)) throw InputError(name + ": " + key + ": expected a local time, found " + doc[key].dump());
    }
  for (int i = 0; i < kPeriodCount; ++i)
    for (const auto& [key, member] :
         {std::pair("sys", &PreviousStudy::Means::sys), std::pair("dia", &PreviousStudy::Means::dia)}) {
      const json* v = nullptr;
      if (doc.contains("means") && doc["means"].is_object() && doc["means"].contains(kPeriodKeys[i]) &&
          doc["means"][kPeriodKeys[i]].is_object() && doc["means"][kPeriodKeys[i]].contains(key))
        v = &doc["means"][kPeriodKeys[i]][key];
      if (v && v->is_number()) p.means[i].*member = v->get<double>();
      else if (v && !v->is_null())
        throw InputError(name + ": means." + kPeriodKeys[i] + "." + key + ": expected a number, found " + v->dump());
    }
  return p;
}

PreviousStudy PreviousFromAnalysis(const Analysis& a, std::string label) {
  // As the study's own JSON report gives them, so that both routes agree.
  return PreviousFromReportJson(ReportJson(a), label);
}

PreviousStudy PreviousFromReportJson(const json& report, const std::string& name) {
  const auto at = [&report](std::initializer_list<const char*> path) -> const json* {
    const json* j = &report;
    for (const char* key : path) {
      if (!j->is_object() || !j->contains(key)) return nullptr;
      j = &(*j)[key];
    }
    return j;
  };
  const json* level = at({"verdict", "level"});
  const json* periods = at({"periods"});
  if (!level || !level->is_string() || !periods || !periods->is_object())
    throw InputError(name + ": not a report in JSON (bplink report --format json): no verdict.level or periods");
  PreviousStudy p;
  p.label = name;
  p.verdict = level->get<std::string>();
  const json* kind = at({"recording", "kind"});
  p.kind = kind && kind->is_string() ? kind->get<std::string>() : "ambulatory";
  for (int i = 0; i < kPeriodCount; ++i)
    for (const auto& [key, member] :
         {std::pair("sys", &PreviousStudy::Means::sys), std::pair("dia", &PreviousStudy::Means::dia)})
      if (const json* v = at({"periods", kPeriodKeys[i], key, "mean"}); v && v->is_number())
        p.means[i].*member = v->get<double>();
  for (const auto& [key, member] : {std::pair("first", &PreviousStudy::first), std::pair("last", &PreviousStudy::last)})
    if (const json* v = at({"recording", key}); v && v->is_string()) p.*member = ParseLocalTime(v->get<std::string>());
  return p;
}

void WriteJsonReport(const Analysis& analysis, std::ostream& out) {
  // A file name or device text that is not UTF-8 must not stop the report.
  out << ReportJson(analysis).dump(kIndent, ' ', false, nlohmann::json::error_handler_t::replace)
      << '\n';
}

}  // namespace bplink::report
