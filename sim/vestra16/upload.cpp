// How a VESTRA16-family monitor takes a plan: byte by byte on the control
// line, each acknowledged; only a whole, acknowledged plan replaces its
// settings.
#include <algorithm>

#include "vestra16/model.h"

namespace bplink::sim::vestra16 {
namespace {

Clock GetClock(const std::uint8_t* at) { return Clock{at[0] * 256 + at[1], at[2], at[3], at[4], at[5]}; }

}  // namespace

Settings DecodePlan(const std::array<std::uint8_t, kPlanBytes>& p) {
  Settings s;
  std::copy_n(p.begin() + kPatient1At, s.patient1.size(), s.patient1.begin());
  std::copy_n(p.begin() + kPatient2At, s.patient2.size(), s.patient2.begin());
  s.start = GetClock(&p[kStartAt]);
  s.next = GetClock(&p[kNextAt]);
  s.option1 = p[kOption1At];
  s.option2 = p[kOption2At];
  s.period1_hour = p[kPeriodsAt];
  s.period1_minute = p[kPeriodsAt + 1];
  s.period1_interval = p[kPeriodsAt + 2];
  s.period2_hour = p[kPeriodsAt + 3];
  s.period2_minute = p[kPeriodsAt + 4];
  s.period2_interval = p[kPeriodsAt + 5];
  std::copy_n(p.begin() + kExtraAt, s.extra.size(), s.extra.begin());
  s.period_code = p[kCodeAt];
  return s;
}

void Monitor::PlanByte(std::uint8_t byte) {
  const std::size_t at = *plan_received_;
  plan_[at] = byte;
  if (static_cast<int>(at) == faults_.unacknowledged_plan_byte) {
    plan_received_.reset();
    return;
  }
  Send(dialect_.ack);
  if (at + 1 < kPlanBytes) {
    plan_received_ = at + 1;
    return;
  }
  plan_received_.reset();
  last_plan_ = plan_;
  settings_ = DecodePlan(plan_);
  ++confirmed_uploads_;
}

}  // namespace bplink::sim::vestra16
