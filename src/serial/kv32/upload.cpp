// Upload: the monitor is found at 4800 baud by the upload command, then
// takes the plan block one byte at a time, confirming each.

#include <bplink/device.h>
#include <bplink/env.h>
#include <bplink/protocol_kv32.h>

#include "serial/kv32/wire.h"

using namespace bplink::kv32;
using bplink::kResultOk;

namespace {
constexpr int kProgressFull = 100;
}  // namespace

int CProtocolCOMKV32::PC_Upload(enum_DataMode nMode) {
  try {
    SetProgress(0);
    SetState(bplink::kStateRunning);
    m_nABPM_Type = nMode;

    int result = OpenDevice(Line(kSlowBaud), kCmdUpload, kCmdUpload);
    if (result != kResultOk) {
      SetState(bplink::kStateFailed);
      return result;
    }
    result = UploadBPInfo();
    CloseLink();
    FinishState(result);
    return result;
  } catch (...) {
    SetState(bplink::kStateFailed);
    CloseLink();
    return bplink::kResultException;
  }
}

int CProtocolCOMKV32::UploadBPInfo() {
  CProtocolBase::UploadBPInfo();
  if (!PC_Pack()) return bplink::kResultNotForDevice;
  if (m_pDevice == nullptr) return bplink::kResultIoFailed;

  for (int i = 0; i < kPlanBlockLength; ++i) {
    m_pDevice->SendData(m_byFrame + i, 1);
    for (int misses = 0;;) {
      BYTE confirmation = 0;
      m_pDevice->RecvData(&confirmation, 1);
      if (confirmation == kCmdUpload) break;
      bplink::CurrentEnv()->Sleep(kConfirmRetryPauseMs);
      if (++misses == kConfirmAttempts) return bplink::kResultIoFailed;
    }
    SetProgress(i * kProgressFull / kPlanBlockLength);
  }
  return kResultOk;
}
