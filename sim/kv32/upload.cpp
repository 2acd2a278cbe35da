// How the KV32 monitor takes a plan: each byte of the block confirmed, and a
// whole block in a layout it knows starts a new recording.
#include <algorithm>

#include "kv32/model.h"

namespace bplink::sim::kv32 {
namespace {

std::string Text(const std::uint8_t* from, std::size_t length) {
  const auto end = std::find(from, from + length, std::uint8_t{0});
  return std::string(from, end);
}

CalendarTime TimeAt(const std::uint8_t* at, int second) {
  return CalendarTime{at[0] * 256 + at[1], at[2], at[3], at[4], at[5], second};
}

}  // namespace

void Monitor::TakePlanByte(std::uint8_t byte) {
  block_.push_back(byte);
  if (!Echo(Exchange::kPlanByte, kUploadAndConfirm)) block_.pop_back();  // not taken
  if (block_.size() < kPlanBlockLength) return;
  PlanBlock block{};
  std::copy(block_.begin(), block_.end(), block.begin());
  uploads_.push_back(block);
  StorePlan(block);
  receiving_plan_ = false;
  block_.clear();
}

void Monitor::StorePlan(const PlanBlock& b) {
  Plan& plan = config_.plan;
  const std::uint8_t layout = b[kBlockLayoutAt];
  if (layout != kGreetMinutes && layout != kGreetSeconds) return;  // not a plan it knows
  plan.patient1 = Text(b.data(), kPatient1Length);
  plan.patient2 = Text(b.data() + kBlockPatient2At, kPatient2Length);
  if (layout == kGreetSeconds) {
    plan.start = TimeAt(b.data() + kBlockClockAt, b[kBlockClockAt + 6]);
  } else {
    plan.start = TimeAt(b.data() + kBlockStartAt, 0);
    plan.option2 = b[kBlockOption2At];
    const std::uint8_t* day = b.data() + kBlockDayAt;
    plan.day_hour = day[0], plan.day_minute = day[1], plan.day_interval = day[2];
    plan.night_hour = day[3], plan.night_minute = day[4], plan.night_interval = day[5];
    const std::uint8_t* extra = b.data() + kBlockExtraAt;
    plan.extra_start_hour = extra[0], plan.extra_start_minute = extra[1];
    plan.extra_interval = extra[2];
    plan.extra_end_hour = extra[3], plan.extra_end_minute = extra[4];
  }
  config_.readings.clear();
  config_.announced_records.reset();
}

}  // namespace bplink::sim::kv32
