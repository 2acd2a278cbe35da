// What the KV32 monitor answers on the line: at each of its two speeds the
// commands of that speed, each with its echo (or the fault set on it), and
// nothing at all to a byte heard at the other speed.
#include "kv32/model.h"

namespace bplink::sim::kv32 {

void Monitor::OnOpen(unsigned) {
  receiving_plan_ = false;
  block_.clear();
}

void Monitor::Receive(const std::uint8_t* data, std::size_t size, unsigned baud) {
  for (std::size_t i = 0; i < size; ++i) {
    if (baud == config_.greeting_baud) OnGreetingSpeed(data[i]);
    else if (baud == config_.download_baud) OnDownloadSpeed(data[i]);
  }
}

bool Monitor::Echo(Exchange exchange, std::uint8_t echo) {
  const auto it = faults_.find(exchange);
  if (it == faults_.end() || it->second.times == 0) {
    Send(echo);
    return true;
  }
  if (it->second.times > 0) --it->second.times;
  switch (it->second.fault) {
    case Fault::kNoEcho: return false;
    case Fault::kWrongEcho: Send(kGarbled); return false;
    case Fault::kNoise: Send(kGarbled); Send(echo); return true;
  }
  return false;
}

void Monitor::OnGreetingSpeed(std::uint8_t byte) {
  if (receiving_plan_) {
    TakePlanByte(byte);
  } else if (byte == kGreetMinutes || byte == kGreetSeconds) {
    Echo(Exchange::kGreeting, byte);
  } else if (byte == kUploadAndConfirm) {
    receiving_plan_ = Echo(Exchange::kUpload, byte);
    block_.clear();
  }
}

void Monitor::OnDownloadSpeed(std::uint8_t byte) {
  if (byte == kRecordPlease) ++record_requests_;
  if (byte == kSamplePlease) ++spo2_requests_;
  if (silent_after_ && records_sent_ >= *silent_after_) return;
  if (byte == kPlanInMinutes || byte == kPlanInSeconds) {
    if (!Echo(Exchange::kPlanRequest, byte)) return;
    seconds_ = byte == kPlanInSeconds;
    next_record_ = 0;
    SendPlan();
  } else if (byte == kRecordPlease) {
    if (next_record_ >= config_.readings.size()) return;
    if (!Echo(Exchange::kRecord, byte)) return;
    SendRecord(config_.readings[next_record_++]);
    ++records_sent_;
  } else if (byte == kSamplePlease) {
    Echo(Exchange::kSpO2, byte);
  }
}

}  // namespace bplink::sim::kv32
