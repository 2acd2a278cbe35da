#include "vestra16/model.h"

namespace bplink::sim::vestra16 {

void Monitor::OnOpen(unsigned) { plan_received_.reset(); }

// A closed line ends an upload that was not finished; nothing of it is kept.
void Monitor::OnClose() { plan_received_.reset(); }

void Monitor::Receive(const std::uint8_t* data, std::size_t size, unsigned baud) {
  for (std::size_t i = 0; i < size; ++i) {
    if (silent_) return;
    if (plan_received_) {
      if (baud == dialect_.control_baud) PlanByte(data[i]);
    } else {
      Command(data[i], baud);
    }
  }
}

void Monitor::Command(std::uint8_t byte, unsigned baud) {
  const bool control = baud == dialect_.control_baud;
  const bool data = baud == dialect_.data_baud;
  if (byte == kReadSettings && control && dialect_.handshake_answer) {
    Send(*dialect_.handshake_answer);
  } else if (byte == dialect_.settings_command && data) {
    if (faults_.unanswered_settings_reads.count(settings_reads_++) == 0) SendSettings();
  } else if (byte == kReadRecord && data) {
    ++record_requests_;
    SendNextRecord();
  } else if (byte == kWriteSettings && control) {
    Send(dialect_.upload_answer);
    plan_received_ = 0;
  }
  // Anything else, or at another speed, is noise to the monitor.
}

void Monitor::SendSettings() {
  Send(dialect_.settings_command);
  Send(EncodeSettings(settings_, static_cast<std::uint16_t>(measurements_.size())));
  cursor_ = 0;  // a new download starts from the first measurement
}

void Monitor::SendNextRecord() {
  const int index = static_cast<int>(cursor_);
  if (auto skip = faults_.unanswered_record_requests.find(index);
      skip != faults_.unanswered_record_requests.end() && skip->second > 0) {
    --skip->second;
    return;
  }
  if (cursor_ >= measurements_.size()) return;  // nothing more stored
  const auto block = EncodeMeasurement(measurements_[cursor_]);
  Send(kReadRecord);
  if (index == faults_.silent_after_records) {
    for (int i = 0; i < faults_.bytes_before_silence && i < static_cast<int>(block.size()); ++i)
      Send(block[static_cast<std::size_t>(i)]);
    silent_ = true;
    return;
  }
  Send(block);
  ++cursor_;
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
