#include "simulated.h"

#include <bplink/env.h>

#include "hid/ambulatory_day.h"
#include "hid/hid_monitor.h"
#include "in_process_device.h"

namespace bplink::cli {
namespace {

constexpr const char* kHidFamily = "hid";
constexpr int kRecordingStartHour = 9;
constexpr int kMinutesPerDay = 24 * 60;

// An ambulatory recorder that was put on yesterday morning and has just
// finished its day and night.
class SimulatedHid : public SimulatedLink {
 public:
  SimulatedHid() : monitor_(sim::AmbulatoryRecorderDay(YesterdayMorning())), device_(&monitor_) {}
  CDevice& Device() override { return device_; }

 private:
  static CalendarTime YesterdayMorning() {
    CalendarTime start = AddMinutes(CurrentEnv()->LocalTime(), -kMinutesPerDay);
    start.hour = kRecordingStartHour;
    start.minute = start.second = 0;
    return start;
  }

  sim::HidMonitor monitor_;
  sim::InProcessDevice device_;
};

}  // namespace

std::vector<std::string> SimulatedFamilies() { return {kHidFamily}; }

std::unique_ptr<SimulatedLink> MakeSimulatedLink(const std::string& family) {
  if (family == kHidFamily) return std::make_unique<SimulatedHid>();
  return nullptr;
}

}  // namespace bplink::cli
