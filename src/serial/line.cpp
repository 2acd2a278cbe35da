#include "serial/line.h"

#include <bplink/env.h>

namespace bplink::serial {
namespace {

// Far more than any answer of these devices (the longest is a 73-byte
// settings block).
constexpr int kDrainLimit = 4096;

}  // namespace

void ReceiveBytewise(CDevice& device, BYTE* into, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) device.RecvData(into + i, 1);
}

void Drain(CDevice& device) {
  BYTE dropped = 0;
  for (int i = 0; i < kDrainLimit && device.RecvData(&dropped, 1) != 0; ++i) {
  }
}

void CloseQuietly(CDevice* device) {
  if (device == nullptr) return;
  try {
    device->Close();
  } catch (...) {
  }
}

bool SendAcknowledged(CDevice& device, const BYTE* block, std::size_t length, const AckRules& rules,
                      const HostVariables& host) {
  for (std::size_t i = 0; i < length; ++i) {
    BYTE out = block[i];
    device.SendData(&out, 1);
    bool confirmed = false;
    for (int attempt = 1; attempt <= rules.receives && !confirmed; ++attempt) {
      BYTE answer = 0;
      device.RecvData(&answer, 1);
      confirmed = answer == rules.ack;
      if (!confirmed && (attempt < rules.receives || rules.pauseAfterLastMiss))
        CurrentEnv()->Sleep(rules.pauseMs);
    }
    if (!confirmed) return false;
    host.SetProgress(Percent(i, length));
  }
  return true;
}

int Percent(std::size_t i, std::size_t n) { return static_cast<int>(i * 100 / n); }

}  // namespace bplink::serial
