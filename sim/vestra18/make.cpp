// The demo VESTRA18 monitor: store 1 holds the wearer's day, stores 2 and 3
// a half and a third of it, as a monitor shared by three people might.
#include <algorithm>
#include <memory>
#include <stdexcept>

#include "demo_day.h"
#include "vestra18/model.h"

namespace bplink::sim::vestra18 {
namespace {

constexpr int kUsable = 1, kFailed = 0;

Reading ReadingOf(const HidReading& r) {
  return {r.time, r.sys, r.press2, r.pulse, r.press3, r.status == demo::kStatusUsable ? kUsable : kFailed};
}

}  // namespace

std::unique_ptr<DeviceModel> MakeModel(const SimSettings& settings) {
  demo::TakesOnly(settings, demo::kHomeDays, "a VESTRA18 monitor");
  if (settings.plan) throw std::invalid_argument("a VESTRA18 monitor keeps no plan");
  constexpr int kMostPerStore = static_cast<int>(kMaxSection);
  MonitorConfig config;
  const std::vector<HidReading> first = demo::FirstStore(settings, kMostPerStore, "VESTRA18 store");
  const int day = std::min(kMostPerStore, static_cast<int>(demo::Day().stores[0].readings.size()));
  for (int store = 0; store < kStores; ++store) {
    const std::vector<HidReading> readings = store == 0 ? first : demo::Readings(day / (store + 1));
    for (const auto& r : readings) config.stores[store].push_back(ReadingOf(r));
  }
  auto monitor = std::make_unique<Monitor>(std::move(config));
  // Frames left out of store 1 are a pause that never ends on a line no host can call off.
  const int count = static_cast<int>(first.size());
  if (settings.silent_after && demo::SilentAfter(settings) < count)
    monitor->AddGap({0, demo::SilentAfter(settings), count - demo::SilentAfter(settings)});
  return monitor;
}

}  // namespace bplink::sim::vestra18
