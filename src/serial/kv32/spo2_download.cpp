// SpO2 sample requests. No operation calls this (see the class header): the
// monitor echoes 0xDB, but the layout of what follows the echo is unknown,
// so each sample is built from the frame bytes as they stand.

#include <bplink/device.h>
#include <bplink/env.h>
#include <bplink/protocol_kv32.h>

#include "serial/kv32/wire.h"

using namespace bplink::kv32;

namespace {

constexpr int kByteShift = 8;
// Samples fill the first half of the progress range.
constexpr double kProgressShare = 50.0;

constexpr int kSampleSpO2At = 1;
constexpr int kSamplePulseAt = 2;
constexpr int kSampleOffsetAt = 3;  // 24 bits, low byte first

}  // namespace

int CProtocolCOMKV32::DownloadSpO2Data() {
  CProtocolBase::DownloadSpO2Data();
  m_SpO2Set.vecRecords.clear();
  const int count = m_SpO2Set.Head.nCount;
  if (count <= 0) return bplink::kResultOk;
  if (m_pDevice == nullptr) return bplink::kResultFalse;

  int failures = 0;
  for (int i = 0; i < count; ++i) {
    if (failures >= kMaxRequestFailures) return bplink::kResultFalse;
    BYTE request = kCmdNextSpO2;
    if (m_pDevice->SendData(&request, 1) == 0) {
      ++failures;
      continue;
    }
    bplink::CurrentEnv()->Sleep(kEchoPauseMs);
    m_byFrame[kEchoAt] = 0;
    if (m_pDevice->RecvData(m_byFrame + kEchoAt, 1) == 0 || m_byFrame[kEchoAt] != kCmdNextSpO2) {
      ++failures;
      continue;
    }
    _SPO2_RECORD sample;
    sample.bySpO2 = m_byFrame[kSampleSpO2At];
    sample.byPulseRate = m_byFrame[kSamplePulseAt];
    const BYTE* offset = m_byFrame + kSampleOffsetAt;
    sample.nTimeOffset = offset[0] | (offset[1] << kByteShift) | (offset[2] << (2 * kByteShift));
    m_SpO2Set.vecRecords.push_back(sample);
    SetProgress(static_cast<int>(i * kProgressShare / count));
  }
  return bplink::kResultOk;
}
