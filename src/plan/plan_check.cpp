#include <bplink/plan/plan_check.h>

#include <bplink/codes.h>
#include <bplink/plan/recording_minimums.h>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace bplink::plan {
namespace {

constexpr int kMinutesPerDay = 24 * 60;
// A night that starts from 04:00 until noon is in the morning: day and
// night swapped, most likely (a sleep that begins after 04:00 is rare
// enough to be confirmed by the person).
constexpr int kMorningFrom = 4 * 60;
constexpr int kNoon = 12 * 60;

// Minutes from `from` forward to `to` around the clock, 0..1439.
int MinutesFrom(int from, int to) { return ((to - from) % kMinutesPerDay + kMinutesPerDay) % kMinutesPerDay; }

std::string Clock(int minutes) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d", minutes / 60, minutes % 60);
  return text;
}

// A measuring window of the plan: from `start` for `length` minutes, a
// reading every `interval` minutes from its start (0: none).
struct Window {
  int start = 0;
  int length = 0;
  int interval = 0;
  bool Holds(int minute) const { return MinutesFrom(start, minute) < length; }
  bool Measures(int minute) const {
    return interval > 0 && Holds(minute) && MinutesFrom(start, minute) % interval == 0;
  }
};

struct PlanWindows {
  Window day, night;
  std::optional<Window> extra;
};

PlanWindows WindowsOf(const _BP_TRANSPORT_INFO& plan, const FieldNames& kept) {
  const int day_start = plan.nPeriod1Hour * 60 + plan.nPeriod1Minute;
  const int night_start = plan.nPeriod2Hour * 60 + plan.nPeriod2Minute;
  PlanWindows w;
  w.day = {day_start, MinutesFrom(day_start, night_start), IntervalMinutes(plan.nPeriod1Interval)};
  w.night = {night_start, kMinutesPerDay - w.day.length, IntervalMinutes(plan.nPeriod2Interval)};
  if (std::find(kept.begin(), kept.end(), "extra") != kept.end() && HasExtraWindow(plan)) {
    const int from = plan.nExtraStartHour * 60 + plan.nExtraStartMinute;
    w.extra = Window{from, MinutesFrom(from, plan.nExtraEndHour * 60 + plan.nExtraEndMinute), plan.nExtraInterval};
  }
  return w;
}

std::string Readings(int n) { return std::to_string(n) + (n == 1 ? " reading" : " readings"); }

// "07:00 to 22:00 every 60 minutes", or "..., no measurements".
std::string Described(const Window& w) {
  return Clock(w.start) + " to " + Clock((w.start + w.length) % kMinutesPerDay) +
         (w.interval > 0 ? " every " + std::to_string(w.interval) + " minutes" : ", no measurements");
}

tag_SUPPORT_PROTOCOL DeviceNow(CProtocolBase& protocol) {
  tag_SUPPORT_PROTOCOL device;
  protocol.GetCurDeviceInfo(device);
  return device;
}

std::string Lines(const std::vector<std::string>& texts) {
  std::string out;
  for (const std::string& text : texts) out += (out.empty() ? "" : "\n") + text;
  return out;
}

}  // namespace

ReadingsPerDay ReadingsOf(const _BP_TRANSPORT_INFO& plan, const FieldNames& kept) {
  const PlanWindows w = WindowsOf(plan, kept);
  ReadingsPerDay n;
  for (int minute = 0; minute < kMinutesPerDay; ++minute) {
    const bool measured = w.extra && w.extra->Holds(minute)
                              ? w.extra->Measures(minute)
                              : w.day.Measures(minute) || w.night.Measures(minute);
    if (measured) ++(w.day.Holds(minute) ? n.day : n.night);
  }
  return n;
}

std::vector<std::string> RecordingWarnings(const _BP_TRANSPORT_INFO& plan, const FieldNames& kept,
                                           const std::string& name) {
  const auto keeps = [&kept](const char* field) { return std::find(kept.begin(), kept.end(), field) != kept.end(); };
  if (!keeps("period1") || !keeps("period2")) return {};
  const PlanWindows w = WindowsOf(plan, kept);
  const ReadingsPerDay n = ReadingsOf(plan, kept);
  if (n.day + n.night == 0)
    return {name + ": period1.interval, period2.interval: both are 0 (no measurements): the device would measure "
                   "nothing"};
  if (w.day.length == 0)
    return {name + ": period1.start, period2.start: the day and the night both start at " + Clock(w.day.start) +
            ": the recording would have no day or no night"};
  std::vector<std::string> warnings;
  if (w.night.start >= kMorningFrom && w.night.start < kNoon)
    warnings.push_back(name + ": period2.start: the night starts at " + Clock(w.night.start) +
                       ", in the morning, and the day at " + Clock(w.day.start) + ": day and night look swapped");
  const auto enough = [&](const char* field, const char* period, int got, int needed, const Window& window) {
    if (got < needed)
      warnings.push_back(name + ": " + field + ": at most " + Readings(got) + " by " + period + " (" +
                         Described(window) + "); a valid recording needs at least " + std::to_string(needed));
  };
  enough("period1.interval", "day", n.day, kMinDayReadings, w.day);
  enough("period2.interval", "night", n.night, kMinNightReadings, w.night);
  return warnings;
}

bool PlanCheck::MaySend(UploadConsent consent) const {
  return result == kResultOk && errors.empty() &&
         (warnings.empty() || consent == UploadConsent::kWarningsAccepted);
}

std::string PlanCheck::Refusal() const {
  if (result != kResultOk) return why_not_judged;
  return errors.empty() ? Lines(warnings) : Lines(errors);
}

std::string PlanCheck::DroppedNote() const {
  return dropped.empty() ? "" : "the device does not keep " + Join(dropped);
}

PlanCheck HoldToDevice(CProtocolBase& protocol, const Family& family, int mode, const _BP_TRANSPORT_INFO& plan,
                       const std::string& name) {
  PlanCheck check;
  // Values no device stores are refused before any device is asked (a plan
  // file's reader has refused them already).
  check.errors = OutOfRange(plan, name);
  if (!check.errors.empty()) return check;
  // A device that keeps no plan is told apart without a word to it.
  if (KeptFields(family, DeviceNow(protocol), mode).empty()) {
    check.result = kResultNotInFamily;
    check.why_not_judged = "this device keeps no plan";
    return check;
  }
  // The serial families answer with the library's list and "not for this
  // device", which is still the list to hold a plan to.
  _UPLOAD_NEEDED_DATA allowed;
  const int asked = protocol.PC_DownloadBPInfoTimeInterval(allowed);
  if (asked != kResultOk && asked != kResultNotForDevice) {
    check.result = asked;
    check.why_not_judged = std::string("asking the device what a plan may hold failed: ") + ResultText(asked);
    return check;
  }
  // The query identified the device again (a HID device's version byte
  // decides some of what it keeps).
  check.kept = KeptFields(family, DeviceNow(protocol), mode);
  check.errors = NotAllowed(plan, allowed, check.kept, name);
  check.dropped = Without(FieldsSet(plan), check.kept);
  check.warnings = RecordingWarnings(plan, check.kept, name);
  return check;
}

}  // namespace bplink::plan
