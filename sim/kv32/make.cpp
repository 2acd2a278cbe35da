// The demo KV32 monitor: the wearer's day and the plan it was measured on.
#include <memory>

#include "demo_day.h"
#include "kv32/model.h"

namespace bplink::sim::kv32 {
namespace {

Reading ReadingOf(const HidReading& r) { return {r.time, r.sys, r.press2, r.pulse, r.press3, r.status, r.flags}; }

}  // namespace

std::unique_ptr<DeviceModel> MakeModel(const SimSettings& settings) {
  MonitorConfig config;
  for (const auto& r : demo::FirstStore(settings, demo::kMaxWordCount, "KV32 monitor"))
    config.readings.push_back(ReadingOf(r));
  demo::PutPlan(demo::PlanOf(settings), config.plan);
  demo::PutExtra(demo::PlanOf(settings), config.plan);
  config.plan.start = demo::Day().stores[0].start;
  auto monitor = std::make_unique<Monitor>(std::move(config));
  if (settings.silent_after) monitor->SilenceAfterRecords(demo::SilentAfter(settings));
  return monitor;
}

}  // namespace bplink::sim::kv32
