#include "family_devices.h"

#include <stdexcept>
#include <string>

#include "kv32/kv32_monitor.h"
#include "kx71/recorder.h"
#include "vestra16/monitor.h"
#include "vestra16c/monitor.h"
#include "vestra18/vestra18_monitor.h"

namespace bplink::testing {
namespace {

constexpr CalendarTime kStart{2025, 6, 2, 8, 0, 0};

CalendarTime Nth(int i) { return AddMinutes(kStart, 15 * i); }

std::unique_ptr<sim::DeviceModel> Vestra16Family(std::unique_ptr<sim::vestra16::Monitor> monitor, int records) {
  monitor->settings().start = {kStart.year, kStart.month, kStart.day, kStart.hour, kStart.minute};
  for (int i = 0; i < records; ++i) monitor->measurements().push_back({std::uint32_t(15 * i), std::uint16_t(120 + i)});
  return monitor;
}

}  // namespace

std::unique_ptr<sim::DeviceModel> MakeFamilyDevice(std::string_view family, int records) {
  if (family == "kx71") {
    auto recorder = std::make_unique<sim::Kx71Recorder>();
    recorder->Config().reply_code = 0x34;
    sim::Kx71Group group{true, kStart, {}};
    for (int i = 0; i < records; ++i) group.readings.push_back({Nth(i), 120 + i, 93, 80, 70, 0});
    recorder->Config().groups = {group};
    return recorder;
  }
  if (family == "kv32") {
    auto monitor = std::make_unique<sim::Kv32Monitor>();
    monitor->Config().plan.start = kStart;
    for (int i = 0; i < records; ++i) monitor->Config().readings.push_back({Nth(i), 120 + i});
    return monitor;
  }
  if (family == "vestra16") return Vestra16Family(std::make_unique<sim::vestra16::Monitor>(), records);
  if (family == "vestra16c") return Vestra16Family(std::make_unique<sim::vestra16c::Monitor>(), records);
  if (family == "vestra18") {
    auto monitor = std::make_unique<sim::Vestra18Monitor>();
    for (int i = 0; i < records; ++i) monitor->Config().stores[0].push_back({Nth(i), 120 + i, 80, 70, 93, 1});
    return monitor;
  }
  throw std::invalid_argument("no simulated serial device for '" + std::string(family) + "'");
}

}  // namespace bplink::testing
