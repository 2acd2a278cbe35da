#include "kv32/model.h"

#include <algorithm>

namespace bplink::sim {
namespace {

// Commands, as the monitor hears them.
constexpr std::uint8_t kGreetMinutes = 'Q';
constexpr std::uint8_t kGreetSeconds = 'R';
constexpr std::uint8_t kUploadAndConfirm = 'U';
constexpr std::uint8_t kPlanInSeconds = 'S';
constexpr std::uint8_t kPlanInMinutes = 'T';
constexpr std::uint8_t kRecordPlease = 0xEE;
constexpr std::uint8_t kSamplePlease = 0xDB;

// What a wrong echo or a stray byte looks like.
constexpr std::uint8_t kGarbled = 0x3F;

// The plan the monitor sends back.
constexpr std::size_t kPlanReplyLength = 77;
constexpr std::size_t kPatient1Length = 30;
constexpr std::size_t kPatient2Length = 11;
constexpr std::size_t kReplyPatient2At = 30;
constexpr std::size_t kReplyStartAt = 41;  // year (2 bytes), month, day, hour, minute, second
constexpr std::size_t kReplyOption1At = 55;
constexpr std::size_t kReplyOption2At = 56;
constexpr std::size_t kReplyDayAt = 57;    // hour, minute, interval; then the night's
constexpr std::size_t kReplyExtraAt = 63;  // start hour, start minute, interval, end hour, end minute
constexpr std::size_t kReplyRecordsAt = 71;
constexpr std::size_t kReplySamplesAt = 73;

// One record: the offset's top byte, systolic (2 bytes), diastolic, pulse,
// mean, the offset's low two bytes, status, flags, three spare bytes.
constexpr std::size_t kRecordLength = 13;

// The uploaded plan block.
constexpr std::size_t kBlockPatient2At = 30;
constexpr std::size_t kBlockClockAt = 41;  // year (2 bytes), month, day, hour, minute; second in mode 'R'
constexpr std::size_t kBlockStartAt = 47;  // mode 'Q': start of recording, year .. minute
constexpr std::size_t kBlockOption2At = 56;
constexpr std::size_t kBlockDayAt = 57;
constexpr std::size_t kBlockExtraAt = 63;
constexpr std::size_t kBlockLayoutAt = 70;  // 'Q' full plan, 'R' texts and clock only

constexpr int kSecondsPerMinute = 60;

std::uint8_t Byte(int value) { return static_cast<std::uint8_t>(value & 0xFF); }

std::string Text(const std::uint8_t* from, std::size_t length) {
  const auto end = std::find(from, from + length, std::uint8_t{0});
  return std::string(from, end);
}

CalendarTime TimeAt(const std::uint8_t* at, int second) {
  return CalendarTime{at[0] * 256 + at[1], at[2], at[3], at[4], at[5], second};
}

}  // namespace

void Kv32Monitor::OnOpen(unsigned) {
  receiving_plan_ = false;
  block_.clear();
}

void Kv32Monitor::Receive(const std::uint8_t* data, std::size_t size, unsigned baud) {
  for (std::size_t i = 0; i < size; ++i) {
    if (baud == config_.greeting_baud) OnGreetingSpeed(data[i]);
    else if (baud == config_.download_baud) OnDownloadSpeed(data[i]);
  }
}

bool Kv32Monitor::Echo(Kv32Exchange exchange, std::uint8_t echo) {
  const auto it = faults_.find(exchange);
  if (it == faults_.end() || it->second.times == 0) {
    Send(echo);
    return true;
  }
  if (it->second.times > 0) --it->second.times;
  switch (it->second.fault) {
    case Kv32Fault::kNoEcho: return false;
    case Kv32Fault::kWrongEcho: Send(kGarbled); return false;
    case Kv32Fault::kNoise: Send(kGarbled); Send(echo); return true;
  }
  return false;
}

void Kv32Monitor::OnGreetingSpeed(std::uint8_t byte) {
  if (receiving_plan_) {
    TakePlanByte(byte);
  } else if (byte == kGreetMinutes || byte == kGreetSeconds) {
    Echo(Kv32Exchange::kGreeting, byte);
  } else if (byte == kUploadAndConfirm) {
    receiving_plan_ = Echo(Kv32Exchange::kUpload, byte);
    block_.clear();
  }
}

void Kv32Monitor::TakePlanByte(std::uint8_t byte) {
  block_.push_back(byte);
  if (!Echo(Kv32Exchange::kPlanByte, kUploadAndConfirm)) block_.pop_back();  // not taken
  if (block_.size() < kKv32PlanBlockLength) return;
  Kv32PlanBlock block{};
  std::copy(block_.begin(), block_.end(), block.begin());
  uploads_.push_back(block);
  StorePlan(block);
  receiving_plan_ = false;
  block_.clear();
}

void Kv32Monitor::StorePlan(const Kv32PlanBlock& b) {
  Kv32Plan& plan = config_.plan;
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

void Kv32Monitor::OnDownloadSpeed(std::uint8_t byte) {
  if (byte == kRecordPlease) ++record_requests_;
  if (byte == kSamplePlease) ++spo2_requests_;
  if (silent_after_ && records_sent_ >= *silent_after_) return;
  if (byte == kPlanInMinutes || byte == kPlanInSeconds) {
    if (!Echo(Kv32Exchange::kPlanRequest, byte)) return;
    seconds_ = byte == kPlanInSeconds;
    next_record_ = 0;
    SendPlan();
  } else if (byte == kRecordPlease) {
    if (next_record_ >= config_.readings.size()) return;
    if (!Echo(Kv32Exchange::kRecord, byte)) return;
    SendRecord(config_.readings[next_record_++]);
    ++records_sent_;
  } else if (byte == kSamplePlease) {
    Echo(Kv32Exchange::kSpO2, byte);
  }
}

void Kv32Monitor::SendPlan() {
  const Kv32Plan& plan = config_.plan;
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

void Kv32Monitor::SendRecord(const Kv32Reading& reading) {
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

}  // namespace bplink::sim
