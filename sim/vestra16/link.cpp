// What a VESTRA16-family monitor answers on the line: each command byte is
// heard only at the speed of its phase (the control line for finding the
// monitor and uploads, the data line for settings and records), and answered
// as its family's dialect says.
#include "vestra16/model.h"

namespace bplink::sim::vestra16 {
namespace {

// The VESTRA16 talks at one speed and answers every command with its echo.
constexpr Dialect kDialect{kBaud, kBaud, kReadSettings, std::nullopt, kWriteSettings, kWriteSettings};

}  // namespace

Monitor::Monitor() : Monitor(kDialect) {}

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

}  // namespace bplink::sim::vestra16
