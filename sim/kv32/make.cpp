// The demo KV32 monitor: the wearer's day, the plan it was measured on and,
// when asked for, a count of SpO2 samples.
#include <memory>

#include "demo_day.h"
#include "kv32/model.h"

namespace bplink::sim::kv32 {
namespace {

constexpr int kMaxSpO2Count = 0xFFFFFF;

Reading ReadingOf(const HidReading& r) { return {r.time, r.sys, r.press2, r.pulse, r.press3, r.status, r.flags}; }

}  // namespace

std::unique_ptr<DeviceModel> MakeModel(const SimSettings& settings) {
  demo::TakesOnly(settings, demo::kSpO2Samples | demo::kHomeDays, "a KV32 monitor");
  MonitorConfig config;
  // The monitor announces its SpO2 samples with its plan; how it would send
  // them is not known, so it holds only their count.
  config.spo2_samples = demo::Within(settings.spo2_samples, 0, kMaxSpO2Count, 0, "a KV32 monitor's SpO2 count");
  const std::vector<HidReading> readings = demo::FirstStore(settings, demo::kMaxWordCount, "KV32 monitor");
  for (const auto& r : readings) config.readings.push_back(ReadingOf(r));
  demo::PutPlan(demo::PlanOf(settings), config.plan);
  demo::PutExtra(demo::PlanOf(settings), config.plan);
  config.plan.start = demo::StoreStart(readings);
  auto monitor = std::make_unique<Monitor>(std::move(config));
  if (settings.silent_after) monitor->SilenceAfterRecords(demo::SilentAfter(settings));
  return monitor;
}

}  // namespace bplink::sim::kv32
