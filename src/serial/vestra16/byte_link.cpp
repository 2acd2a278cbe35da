#include "serial/vestra16/byte_link.h"

#include <bplink/env.h>

namespace bplink::serial::vestra16 {
namespace {

// Far more than any answer of these devices (a 73-byte settings answer).
constexpr int kDrainLimit = 1024;

}  // namespace

DCB Line(DWORD baud) {
  DCB dcb{};
  dcb.BaudRate = baud;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  return dcb;
}

void ReceiveBytewise(CDevice& device, BYTE* into, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) device.RecvData(into + i, 1);
}

bool SendAcknowledged(CDevice& device, const BYTE* block, std::size_t length, BYTE ack,
                      const std::function<void(std::size_t)>& acknowledged) {
  for (std::size_t i = 0; i < length; ++i) {
    BYTE out = block[i];
    device.SendData(&out, 1);
    bool confirmed = false;
    for (int attempt = 0; attempt < kAckReceives && !confirmed; ++attempt) {
      BYTE answer = 0;
      device.RecvData(&answer, 1);
      confirmed = answer == ack;
      if (!confirmed) CurrentEnv()->Sleep(kAnswerPauseMs);
    }
    if (!confirmed) return false;
    acknowledged(i);
  }
  return true;
}

int Percent(std::size_t i, std::size_t n) {
  return static_cast<int>(static_cast<double>(i) * 100.0 / static_cast<double>(n));
}

int RunOnOpenPort(CDevice* device, const std::function<int()>& steps) {
  int result = kResultException;
  try {
    result = steps();
  } catch (...) {
    result = kResultException;
  }
  CloseQuietly(device);
  return result;
}

void CloseQuietly(CDevice* device) {
  if (device == nullptr) return;
  try {
    device->Close();
  } catch (...) {
  }
}

void Drain(CDevice& device) {
  BYTE dropped = 0;
  for (int i = 0; i < kDrainLimit && device.RecvData(&dropped, 1) != 0; ++i) {
  }
}

}  // namespace bplink::serial::vestra16
