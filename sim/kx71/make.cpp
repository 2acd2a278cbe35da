// The demo KX71 recorder: the wearer's day in its primary group, the last
// quarter of it again in the secondary one, and (variant 2) the plan it
// measured on.
#include <memory>
#include <stdexcept>

#include "demo_day.h"
#include "kx71/model.h"

namespace bplink::sim::kx71 {
namespace {

Reading ReadingOf(const HidReading& r) { return {r.time, r.sys, r.press3, r.press2, r.pulse, r.status}; }

}  // namespace

std::unique_ptr<DeviceModel> MakeModel(const SimSettings& settings) {
  demo::TakesOnly(settings, demo::kPlanVariant, "a KX71 recorder");
  // Variant 1 answers the greeting as a recorder without a plan; variant 2
  // as one that keeps the plan it measures on.
  const bool keepsPlan = demo::Within(settings.variant, 1, 2, 2, "a KX71 recorder's variant") == 2;
  if (settings.plan && !keepsPlan) throw std::invalid_argument("a KX71 recorder of variant 1 keeps no plan");
  if (settings.silent_after)
    throw std::invalid_argument(
        "a KX71 recorder ends every download by falling silent, so silence part-way is not a fault it can show");
  const std::vector<HidReading> readings = demo::FirstStore(settings, demo::kMaxWordCount, "KX71 recorder");

  RecorderConfig config;
  config.reply_code = keepsPlan ? kKeepsPlan : kWithoutPlan;
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
