// How the KV32 monitor serves what it stored: its plan with its two counts,
// then one record per request, dated from the start of the recording in the
// unit the plan request asked for.
#include <algorithm>
#include <array>

#include "kv32/model.h"

namespace bplink::sim::kv32 {
namespace {

constexpr int kSecondsPerMinute = 60;

std::uint8_t Byte(int value) { return static_cast<std::uint8_t>(value & 0xFF); }

}  // namespace

void Monitor::SendPlan() {
  const Plan& plan = config_.plan;
  std::array<std::uint8_t, kPlanReplyLength> r{};
  std::copy_n(plan.patient1.begin(), std::min(plan.patient1.size(), kPatient1Length), r.begin());
  std::copy_n(plan.patient2.begin(), std::min(plan.patient2.size(), kPatient2Length),
              r.begin() + kReplyPatient2At);
  const CalendarTime& s = plan.start;
  const std::uint8_t start[] = {Byte(s.year >> 8), Byte(s.year), Byte(s.month), Byte(s.day),
                                Byte(s.hour),      Byte(s.minute), Byte(s.second)};
  std::copy(std::begin(start), std::end(start), r.begin() + kReplyStartAt);
  r[kReplyOption1At] = Byte(plan.option1);
  r[kReplyOption2At] = Byte(plan.option2);
  const int day[] = {plan.day_hour,   plan.day_minute,   plan.day_interval,
                     plan.night_hour, plan.night_minute, plan.night_interval};
  std::transform(std::begin(day), std::end(day), r.begin() + kReplyDayAt, Byte);
  const int extra[] = {plan.extra_start_hour, plan.extra_start_minute, plan.extra_interval,
                       plan.extra_end_hour, plan.extra_end_minute};
  std::transform(std::begin(extra), std::end(extra), r.begin() + kReplyExtraAt, Byte);
  const int records = config_.announced_records.value_or(static_cast<int>(config_.readings.size()));
  r[kReplyRecordsAt] = Byte(records >> 8);
  r[kReplyRecordsAt + 1] = Byte(records);
  r[kReplySamplesAt] = Byte(config_.spo2_samples);
  r[kReplySamplesAt + 1] = Byte(config_.spo2_samples >> 8);
  r[kReplySamplesAt + 2] = Byte(config_.spo2_samples >> 16);
  Send(r);
}

void Monitor::SendRecord(const Reading& reading) {
  long long offset = SecondsBetween(config_.plan.start, reading.time);
  if (!seconds_) offset /= kSecondsPerMinute;
  const int o = static_cast<int>(offset);
  const std::array<std::uint8_t, kRecordLength> record{
      Byte(o >> 16),       Byte(reading.sys >> 8), Byte(reading.sys), Byte(reading.press2),
      Byte(reading.pulse), Byte(reading.press3),   Byte(o >> 8),      Byte(o),
      Byte(reading.status), Byte(reading.flags),   0,                 0,
      0};
  Send(record);
}

}  // namespace bplink::sim::kv32
