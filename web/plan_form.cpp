#include "plan_form.h"

#include <bplink/report/readings.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdio>

#include "html.h"

namespace bplink::web {
namespace {

using nlohmann::json;

constexpr const char* kSource = "the form";
constexpr int kUnset = 0xFF;  // what a device sends for "none"
constexpr int kPatientTexts = 4;
constexpr int kOptions = 4;
constexpr int kLimits = 6;
constexpr int kBaseLimits = 4;  // every alarm layout carries these

bool Keeps(const PlanChoices& c, const std::string& field) {
  return std::find(c.kept.begin(), c.kept.end(), field) != c.kept.end();
}

std::string Clock(int hour, int minute) {
  if (hour < 0 || hour == kUnset || minute < 0 || minute == kUnset) return "";
  char text[8];
  std::snprintf(text, sizeof text, "%02d:%02d", hour % 24, minute % 60);
  return text;
}

int Interval(int value) { return value < 0 || value == kUnset ? 0 : value; }

std::string Label(const std::string& field, const std::string& words) {
  return "<label for=\"" + Esc(field) + "\">" + Esc(words) + "</label>";
}

std::string Row(const std::string& label, const std::string& control, const std::string& hint = "") {
  return "<div class=\"row\">" + label + "<span class=\"control\">" + control + "</span>" +
         (hint.empty() ? "" : "<span class=\"hint\">" + Esc(hint) + "</span>") + "</div>\n";
}

std::string TimeInput(const std::string& name, const std::string& value) {
  return "<input type=\"time\" id=\"" + Esc(name) + "\" name=\"" + Esc(name) + "\" value=\"" + Esc(value) +
         "\" required>";
}

std::string NumberInput(const std::string& name, int value, int low, int high) {
  return "<input type=\"number\" id=\"" + Esc(name) + "\" name=\"" + Esc(name) + "\" value=\"" +
         std::to_string(value) + "\" min=\"" + std::to_string(low) + "\" max=\"" + std::to_string(high) +
         "\" required>";
}

std::vector<Choice> Intervals(const std::vector<int>& allowed, bool none) {
  std::vector<Choice> choices;
  if (none) choices.push_back({0, "no measurements"});
  for (int minutes : allowed) choices.push_back({minutes, "every " + std::to_string(minutes) + " min"});
  return choices;
}

std::vector<Choice> Switch() { return {{0, "off"}, {1, "on"}}; }

std::string Period(const std::string& name, const std::string& words, int hour, int minute,
                   int interval, const std::vector<int>& allowed) {
  return Row(Label(name + ".start", words + " starts at"), TimeInput(name + ".start", Clock(hour, minute))) +
         Row(Label(name + ".interval", words + ": measure"),
             Select(name + ".interval", Intervals(allowed, true), Interval(interval), name + ".interval"),
             "the intervals this device allows");
}

std::string Warn(const PlanChoices& c, const std::string& name, const std::string& words, const _WARN_GROUP& g) {
  const std::array<int, kLimits> limits = {g.nLimit1, g.nLimit2, g.nLimit3, g.nLimit4, g.nLimit5, g.nLimit6};
  std::string out = Row(Label(name + ".switch", words + " alarm"),
                        Select(name + ".switch", Switch(), g.nWarnSwitch, name + ".switch"));
  std::string inputs;
  for (int i = 0; i < kLimits; ++i) {
    const std::string field = name + ".limits[" + std::to_string(i) + "]";
    if (i >= kBaseLimits && !Keeps(c, field)) continue;
    inputs += NumberInput(field, limits[i], 0, 255);
  }
  return out + Row(Label(name + ".limits[0]", words + " alarm limits (mmHg)"), inputs);
}

// A form value as the plan file would hold it: a whole number as a number,
// anything else as the text it is, which the reader then refuses by name.
json Number(const std::string& text) {
  const bool digits = !text.empty() && text.size() <= 9 &&
                      std::all_of(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
  return digits ? json(std::stoi(text)) : json(text);
}

}  // namespace

std::string PlanFormFields(const PlanChoices& c) {
  const _BP_TRANSPORT_INFO& p = c.shown;
  std::string out;
  const std::array<std::pair<const char*, std::size_t>, kPatientTexts> texts{
      {{p.szPatientInfo1, sizeof p.szPatientInfo1},
       {p.szPatientInfo2, sizeof p.szPatientInfo2},
       {p.szPatientInfo3, sizeof p.szPatientInfo3},
       {p.szPatientInfo4, sizeof p.szPatientInfo4}}};
  for (int i = 0; i < kPatientTexts; ++i) {
    const std::string field = "patient[" + std::to_string(i) + "]";
    if (!Keeps(c, field)) continue;
    const std::size_t most = texts[i].second - 1;
    out += Row(Label(field, "Patient text " + std::to_string(i + 1)),
               "<input type=\"text\" id=\"" + Esc(field) + "\" name=\"" + Esc(field) + "\" maxlength=\"" +
                   std::to_string(most) + "\" value=\"" +
                   Esc(report::TextFromDevice(texts[i].first, texts[i].second)) + "\">",
               "up to " + std::to_string(most) + " characters (Latin-1)");
  }
  if (Keeps(c, "patient_values"))
    out += Row(Label("patient_values[0]", "Patient values"),
               NumberInput("patient_values[0]", p.nPatientInfo5, 0, 255) +
                   NumberInput("patient_values[1]", p.nPatientInfo6, 0, 255));
  if (Keeps(c, "period1"))
    out += Period("period1", "Day", p.nPeriod1Hour, p.nPeriod1Minute, p.nPeriod1Interval, c.allowed.vecInterval1);
  if (Keeps(c, "period2"))
    out += Period("period2", "Night", p.nPeriod2Hour, p.nPeriod2Minute, p.nPeriod2Interval,
                  c.allowed.vecInterval2);
  if (Keeps(c, "extra")) {
    const bool on = Interval(p.nExtraInterval) > 0 && !Clock(p.nExtraStartHour, p.nExtraStartMinute).empty();
    const std::string start = on ? Clock(p.nExtraStartHour, p.nExtraStartMinute) : "12:00";
    const std::string end = on ? Clock(p.nExtraEndHour, p.nExtraEndMinute) : "14:00";
    const int interval = on ? p.nExtraInterval : (c.allowed.vecInterval1.empty() ? 0 : c.allowed.vecInterval1.front());
    out += "<fieldset class=\"extra\" data-toggle=\"extra\"><legend><label><input type=\"checkbox\" name=\"extra\" "
           "value=\"on\" id=\"extra\"" +
           std::string(on ? " checked" : "") + "> An extra measuring window</label></legend>\n" +
           Row(Label("extra.start", "from"), TimeInput("extra.start", start)) +
           Row(Label("extra.end", "to"), TimeInput("extra.end", end)) +
           Row(Label("extra.interval", "measure"),
               Select("extra.interval", Intervals(c.allowed.vecInterval1, false), interval, "extra.interval")) +
           "</fieldset>\n";
  }
  const std::array<int, kOptions> options = {p.nOption1, p.nOption2, p.nOption3, p.nOption4};
  for (int i = 0; i < kOptions; ++i) {
    const std::string field = "options[" + std::to_string(i) + "]";
    if (!Keeps(c, field)) continue;
    const std::string words = "Device setting " + std::to_string(i + 1);
    out += i == 1 ? Row(Label(field, words), Select(field, Switch(), options[i] == 1 ? 1 : 0, field))
                  : Row(Label(field, words), NumberInput(field, options[i], 0, i == 2 ? 0xFFFF : 255));
  }
  if (Keeps(c, "day_warn")) out += Warn(c, "day_warn", "Day", p.DayWarn);
  if (Keeps(c, "night_warn")) out += Warn(c, "night_warn", "Night", p.NightWarn);
  if (Keeps(c, "warn_switch"))
    out += Row(Label("warn_switch", "Alarm switch value"), NumberInput("warn_switch", p.nWarnSwitchInfo, 0, 255));
  return out;
}

_BP_TRANSPORT_INFO PlanFromForm(const Fields& form, const PlanChoices& c, const std::vector<std::string>& also) {
  std::vector<std::string> expected = also;
  const auto take = [&](const std::string& field) -> std::string {
    expected.push_back(field);
    const std::optional<std::string> value = form.Get(field);
    if (!value) throw plan::PlanError(std::string(kSource) + ": " + field + ": missing");
    return *value;
  };
  const _BP_TRANSPORT_INFO defaults;
  json doc = json::object();

  // Lists are positional: a field the device does not keep before one it
  // does keeps the default plan's value.
  json patient = json::array();
  const std::array<const char*, kPatientTexts> default_texts = {defaults.szPatientInfo1, defaults.szPatientInfo2,
                                                                defaults.szPatientInfo3, defaults.szPatientInfo4};
  for (int i = 0; i < kPatientTexts; ++i)
    if (Keeps(c, "patient[" + std::to_string(i) + "]")) {
      while (static_cast<int>(patient.size()) < i) patient.push_back(default_texts[patient.size()]);
      patient.push_back(take("patient[" + std::to_string(i) + "]"));
    }
  if (!patient.empty()) doc["patient"] = patient;
  if (Keeps(c, "patient_values"))
    doc["patient_values"] = {Number(take("patient_values[0]")), Number(take("patient_values[1]"))};
  for (const char* period : {"period1", "period2"})
    if (Keeps(c, period)) {
      const std::string name = period;
      doc[name] = {{"start", take(name + ".start")}, {"interval", Number(take(name + ".interval"))}};
    }
  if (Keeps(c, "extra")) {
    expected.push_back("extra");
    const std::optional<std::string> on = form.Get("extra");
    if (on && *on != "on") throw plan::PlanError(std::string(kSource) + ": extra: expected \"on\" or nothing");
    // Without the window its times are not read; a browser sends them anyway.
    const std::string start = take("extra.start"), end = take("extra.end"), interval = take("extra.interval");
    doc["extra"] = on ? json{{"start", start}, {"end", end}, {"interval", Number(interval)}} : json(nullptr);
  }
  const std::array<int, kOptions> default_options = {defaults.nOption1, defaults.nOption2, defaults.nOption3,
                                                     defaults.nOption4};
  json options = json::array();
  for (int i = 0; i < kOptions; ++i)
    if (Keeps(c, "options[" + std::to_string(i) + "]")) {
      while (static_cast<int>(options.size()) < i) options.push_back(default_options[options.size()]);
      options.push_back(Number(take("options[" + std::to_string(i) + "]")));
    }
  if (!options.empty()) doc["options"] = options;
  for (const char* group : {"day_warn", "night_warn"})
    if (Keeps(c, group)) {
      const std::string name = group;
      json limits = json::array();
      for (int i = 0; i < kLimits; ++i) {
        const std::string field = name + ".limits[" + std::to_string(i) + "]";
        if (i < kBaseLimits || Keeps(c, field)) limits.push_back(Number(take(field)));
      }
      doc[name] = {{"switch", Number(take(name + ".switch"))}, {"limits", limits}};
    }
  if (Keeps(c, "warn_switch")) doc["warn_switch"] = Number(take("warn_switch"));

  for (const auto& [name, value] : form.All())
    if (std::find(expected.begin(), expected.end(), name) == expected.end())
      throw plan::PlanError(std::string(kSource) + ": " + name + ": this device keeps no such field");

  const _BP_TRANSPORT_INFO plan = plan::ReadPlanText(doc.dump(), kSource);
  // Refused here, naming the field and what the device allows, so the form
  // can say so; the upload holds it to the device once more.
  if (const auto refusals = plan::NotAllowed(plan, c.allowed, c.kept, kSource); !refusals.empty())
    throw plan::PlanError(refusals.front());
  return plan;
}

}  // namespace bplink::web
