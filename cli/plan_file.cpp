#include "plan_file.h"

#include <algorithm>
#include <cstdio>

#include <bplink/plan/plan_check.h>
#include <bplink/plan/recording_minimums.h>

namespace bplink::cli {
namespace {

std::string List(const std::vector<int>& values) {
  std::string text;
  for (int v : values) text += (text.empty() ? "" : ", ") + std::to_string(v);
  return text;
}

// "period1": {"start": "07:00", "interval": 30}
std::string Period(const char* name, int hour, int minute, int interval) {
  char text[80];
  std::snprintf(text, sizeof text, "\"%s\": {\"start\": \"%02d:%02d\", \"interval\": %d}", name, hour, minute,
                interval);
  return text;
}

// One member of the template: its comment lines and its JSON text.
struct Member {
  std::string comment;
  std::string text;
};

}  // namespace

std::string PlanTemplate(const std::optional<TemplateFor>& device) {
  const auto keeps = [&device](const std::string& field) {
    return !device || std::find(device->kept.begin(), device->kept.end(), field) != device->kept.end();
  };
  std::vector<Member> members;

  const char* kTextSizes[] = {"30", "11", "30", "30"};
  std::string patient, sizes;
  for (int i = 0; i < 4 && keeps("patient[" + std::to_string(i) + "]"); ++i) {
    patient += std::string(i ? ", " : "") + "\"\"";
    sizes += std::string(i ? ", " : "") + kTextSizes[i];
  }
  if (!patient.empty())
    members.push_back({"Patient texts: up to " + sizes + " characters (Latin-1).", "\"patient\": [" + patient + "]"});
  if (keeps("patient_values")) members.push_back({"Two patient values, 0..255.", "\"patient_values\": [0, 0]"});

  const bool known = device && !device->intervals1.empty();
  if (keeps("period1") || keeps("period2")) {
    std::string comment =
        "The day period starts at period1.start, the night at period2.start.\n"
        "Intervals are in minutes; 0 means no measurements.";
    if (known)
      comment += "\nThis device allows by day: " + List(device->intervals1) + ";\nby night: " +
                 List(device->intervals2) + ".";
    else
      comment += " The device tells which it allows (`bplink info`).";
    // Enough readings by day and by night for the report's validity
    // criteria, which the upload's check holds a plan to.
    const _BP_TRANSPORT_INFO plan = plan::TemplatePlan();
    const plan::ReadingsPerDay n = plan::ReadingsOf(plan, {"period1", "period2"});
    comment += "\nA valid recording needs at least " + std::to_string(kMinDayReadings) + " readings by day and " +
               std::to_string(kMinNightReadings) + " by night;\nthese periods take " + std::to_string(n.day) +
               " and " + std::to_string(n.night) + ".";
    members.push_back({comment, Period("period1", plan.nPeriod1Hour, plan.nPeriod1Minute, plan.nPeriod1Interval)});
    members.push_back({"", Period("period2", plan.nPeriod2Hour, plan.nPeriod2Minute, plan.nPeriod2Interval)});
  }
  if (keeps("extra"))
    members.push_back({"An extra measuring window, or null for none:\n"
                       "{\"start\": \"12:00\", \"end\": \"14:00\", \"interval\": 15}",
                       "\"extra\": null"});

  const int defaults[] = {1, 1, 297, 0};
  int options = 0;
  std::string kept_options;
  for (int i = 0; i < 4; ++i)
    if (keeps("options[" + std::to_string(i) + "]")) {
      options = i + 1;
      kept_options += std::string(kept_options.empty() ? "" : ", ") + std::to_string(i);
    }
  if (options > 0) {
    std::string values;
    for (int i = 0; i < options; ++i) values += (i ? ", " : "") + std::to_string(defaults[i]);
    std::string comment = "Device settings: options 1, 2 and 4 are 0..255, option 3 is 0..65535;\noption 2 is a switch, 1 = on.";
    if (device) comment += " This device keeps options[" + kept_options + "] only.";
    members.push_back({comment, "\"options\": [" + values + "]"});
  }
  if (keeps("day_warn")) {
    const bool six = keeps("day_warn.limits[4]");
    members.push_back({"Alarm limits in mmHg (0..255) by day and by night; switch 1 = on.",
                       std::string("\"day_warn\": {\"switch\": 0, \"limits\": [140, 90, 90, 60") +
                           (six ? ", 0, 0" : "") + "]}"});
    members.push_back({"", std::string("\"night_warn\": {\"switch\": 0, \"limits\": [120, 80, 80, 50") +
                               (six ? ", 0, 0" : "") + "]}"});
  }
  if (keeps("warn_switch")) members.push_back({"The alarm switch value, 0..255.", "\"warn_switch\": 0"});

  std::string out = "{\n  // A measurement plan for `bplink upload PLAN.json`. Every member may be\n"
                    "  // left out: it then keeps the default plan's value, which is the one\n"
                    "  // shown here but for period1's interval. `bplink download\n"
                    "  // --format json` writes the device's plan in the same shape (\"plan\").\n";
  if (device)
    out += "  // For " + device->device + ":\n"
           "  // only the fields it keeps (another member is accepted, but not kept).\n";
  if (members.empty()) out += "  // This device keeps no plan.\n";
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (!members[i].comment.empty()) {
      out += "\n";
      std::size_t from = 0;
      while (from <= members[i].comment.size()) {
        const std::size_t end = std::min(members[i].comment.find('\n', from), members[i].comment.size());
        out += "  // " + members[i].comment.substr(from, end - from) + "\n";
        from = end + 1;
      }
    }
    out += "  " + members[i].text + (i + 1 < members.size() ? "," : "") + "\n";
  }
  return out + "}\n";
}

}  // namespace bplink::cli
