// The demo KX71 recorder: the wearer's day in its primary group, the last
// quarter of it again in the secondary one, and the plan it measured on.
#include <memory>
#include <stdexcept>

#include "demo_day.h"
#include "kx71/model.h"

namespace bplink::sim::kx71 {
namespace {

Reading ReadingOf(const HidReading& r) { return {r.time, r.sys, r.press3, r.press2, r.pulse, r.status}; }

}  // namespace

std::unique_ptr<DeviceModel> MakeModel(const SimSettings& settings) {
  if (settings.silent_after)
    throw std::invalid_argument(
        "a KX71 recorder ends every download by falling silent, so silence part-way is not a fault it can show");
  const std::vector<HidReading> readings = demo::FirstStore(settings, demo::kMaxWordCount, "KX71 recorder");

  RecorderConfig config;
  config.reply_code = kKeepsPlan;
  Group primary{true, demo::Day().stores[0].start, {}};
  for (const auto& r : readings) primary.readings.push_back(ReadingOf(r));
  Group secondary{false, {}, {}};
  secondary.readings.assign(primary.readings.end() - static_cast<std::ptrdiff_t>(primary.readings.size() / 4),
                            primary.readings.end());
  secondary.start = secondary.readings.empty() ? primary.start : secondary.readings.front().time;
  config.groups = {primary, secondary};
  demo::PutPlan(demo::PlanOf(settings), config.plan);  // it keeps no extra window
  config.plan.clock = primary.start;
  return std::make_unique<Recorder>(std::move(config));
}

}  // namespace bplink::sim::kx71
