#include "serial/detection_probe.h"

#include <bplink/env.h>

#include <array>

#include "serial/line.h"
#include "serial/port_search.h"

namespace bplink::serial {
namespace {

constexpr int kPortOpened = 1;

}  // namespace

bool RunDetectionProbe(CDevice& device, const CString& path, DCB& dcb, const DetectionProbe& probe,
                       int& variant, const std::function<bool()>& stopRequested) {
  const auto stopped = [&stopRequested] { return stopRequested && stopRequested(); };
  dcb.BaudRate = probe.baud;
  if (device.Open(path, dcb) != kPortOpened) return false;

  std::array<BYTE, kLongestProbeAnswer> answer{};
  // The transports never write to what they send.
  bool found = device.SendData(const_cast<BYTE*>(probe.request.data()),
                               static_cast<DWORD>(probe.request.size())) != 0;
  if (found) {
    CurrentEnv()->Sleep(kProbeAnswerPauseMs);
    if (stopped()) {
      device.Close();
      return false;
    }
    found = device.RecvData(answer.data(), probe.answerLength) != 0 && probe.identifies(answer.data());
  }
  if (found && probe.thenByte) {
    BYTE next = 0;
    found = device.RecvData(&next, 1) != 0 && next == *probe.thenByte;
  }
  if (found && probe.variant != nullptr) variant = probe.variant(answer.data());
  if (!stopped()) Drain(device);
  device.Close();
  return found;
}

}  // namespace bplink::serial
