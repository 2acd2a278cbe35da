// The demo VESTRA16 monitor: the wearer's day, counted in minutes from the
// start of its recording, and the plan it was measured on. The VESTRA16C
// monitor stores the same (vestra16c/make.cpp).
#include <algorithm>
#include <limits>
#include <memory>

#include "demo_day.h"
#include "vestra16/model.h"

namespace bplink::sim::vestra16 {
namespace {

constexpr int kSecondsPerMinute = 60;
constexpr int kForever = std::numeric_limits<int>::max();

template <std::size_t N>
void PutText(std::array<std::uint8_t, N>& field, const std::string& text) {
  field.fill(0);
  std::copy_n(text.begin(), std::min(text.size(), N), field.begin());
}

Clock ClockOf(const CalendarTime& t) { return {t.year, t.month, t.day, t.hour, t.minute}; }

std::uint8_t Byte(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 0xFF)); }

}  // namespace

void StoreDemoDay(Monitor& monitor, const SimSettings& settings) {
  demo::TakesOnly(settings, demo::kHomeDays, "a VESTRA16 monitor");
  const std::vector<HidReading> readings = demo::FirstStore(settings, demo::kMaxWordCount, "VESTRA16 monitor");
  const CalendarTime start = demo::StoreStart(readings);
  const demo::Plan plan = demo::PlanOf(settings);
  Settings& s = monitor.settings();
  PutText(s.patient1, plan.patient1);
  PutText(s.patient2, plan.patient2);
  s.start = s.next = ClockOf(start);
  s.period1_hour = Byte(plan.day_hour), s.period1_minute = Byte(plan.day_minute);
  s.period1_interval = Byte(plan.day_interval);
  s.period2_hour = Byte(plan.night_hour), s.period2_minute = Byte(plan.night_minute);
  s.period2_interval = Byte(plan.night_interval);
  s.extra = {Byte(plan.extra_start_hour), Byte(plan.extra_start_minute), Byte(plan.extra_interval),
             Byte(plan.extra_end_hour), Byte(plan.extra_end_minute)};
  for (const HidReading& r : readings) {
    Measurement m;
    m.minutes = static_cast<std::uint32_t>(SecondsBetween(start, r.time) / kSecondsPerMinute);
    m.systolic = static_cast<std::uint16_t>(r.sys);
    m.press2 = Byte(r.press2);
    m.pulse = Byte(r.pulse);
    m.press3 = Byte(r.press3);
    m.status = Byte(r.status);
    monitor.measurements().push_back(m);
  }
  // Unanswered for good: the monitor never gets past this record, not even with an echo.
  if (settings.silent_after) monitor.faults().unanswered_record_requests[demo::SilentAfter(settings)] = kForever;
}

std::unique_ptr<DeviceModel> MakeModel(const SimSettings& settings) {
  auto monitor = std::make_unique<Monitor>();
  StoreDemoDay(*monitor, settings);
  return monitor;
}

}  // namespace bplink::sim::vestra16
