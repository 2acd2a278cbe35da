// The demo HID device: one simulated monitor plays every HID device type,
// holding the wearer's day in its first store.
#include <memory>
#include <stdexcept>

#include "demo_day.h"
#include "hid/hid_monitor.h"

namespace bplink::sim::hid {
namespace {

// An identity byte of each HID device type (type 6 has no HID protocol).
constexpr std::uint8_t kIdentityOfType[] = {0x00, 0x05, 0x51, 0x11, 0x31, 0x41};
constexpr int kLastHidType = 5;
constexpr int kOwnTimeFormat = 2;  // records that carry their own time

}  // namespace

std::unique_ptr<DeviceModel> MakeModel(const SimSettings& settings) {
  if (settings.device_type < kDeviceAmbulatory || settings.device_type > kLastHidType)
    throw std::invalid_argument("a simulated HID device is of type 1 to 5");

  HidMonitorConfig config = demo::Day();
  config.stores[0].readings = demo::FirstStore(settings, demo::kMaxWordCount, "HID store");
  HidPlan plan = DecodePlan(config.plan);
  demo::PutPlan(demo::PlanOf(settings), plan);
  demo::PutExtra(demo::PlanOf(settings), plan);
  config.plan = EncodePlan(plan);
  if (settings.device_type != kDeviceAmbulatory) {
    // The monitors date every record themselves and offer what their type offers.
    config.identity = kIdentityOfType[settings.device_type];
    config.capability_a = config.capability_b = 0;
    config.stores[0].format = kOwnTimeFormat;
    if (settings.device_type == kDeviceThreeStores) {
      const int day = static_cast<int>(demo::Day().stores[0].readings.size());
      for (int store = 1; store < kHidStores; ++store) {
        config.stores[store].format = kOwnTimeFormat;
        config.stores[store].readings = demo::Readings(day / (store + 1));
      }
    }
  }

  auto monitor = std::make_unique<HidMonitor>(config);
  if (settings.silent_after) {
    const int count = static_cast<int>(config.stores[0].readings.size());
    for (int i = demo::SilentAfter(settings); i < count; ++i) monitor->AddRecordFault({0, i, true});
  }
  return monitor;
}

}  // namespace bplink::sim::hid
