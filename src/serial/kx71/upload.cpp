// Upload: the handshake, then the recorder is found again by its upload
// probe and takes the plan block one byte at a time, confirming each.

#include <bplink/codes.h>
#include <bplink/device.h>
#include <bplink/env.h>
#include <bplink/protocol_kx71.h>

#include "serial/kx71/wire.h"

using namespace bplink::kx71;

namespace {

constexpr int kPercent = 100;

}  // namespace

int CProtocolCOMKX71::PC_Upload(enum_DataMode nMode) {
  SetProgress(0);
  SetState(bplink::kStateRunning);
  m_nABPM_Type = nMode;
  try {
    int r = DoHandShake();
    if (r != bplink::kResultOk) return EndWithFailure(r);
    // The plan goes over a link found afresh by the upload probe.
    CloseLink();
    r = OpenDevice(Line(), kUploadProbe, kConfirm);
    if (r != bplink::kResultOk) {
      SetState(bplink::kStateFailed);
      return r;
    }
    r = UploadBPInfo();
    CloseLink();
    FinishState(r);
    return r;
  } catch (...) {
    return EndWithFailure(bplink::kResultException);
  }
}

// A byte the recorder does not confirm within ten attempts ends the upload;
// the rest of the block is not sent.
int CProtocolCOMKX71::UploadBPInfo() {
  CProtocolBase::UploadBPInfo();
  if (!PC_Pack()) return bplink::kResultFalse;
  for (DWORD i = 0; i < kPlanBlockLength; ++i) {
    m_pDevice->SendData(m_byFrame + i, 1);
    bool confirmed = false;
    for (int attempt = 1; attempt <= kConfirmAttempts && !confirmed; ++attempt) {
      BYTE reply = 0;
      m_pDevice->RecvData(&reply, 1);
      confirmed = reply == kConfirm;
      if (!confirmed && attempt < kConfirmAttempts) bplink::CurrentEnv()->Sleep(kConfirmPauseMs);
    }
    if (!confirmed) return bplink::kResultFalse;
    SetProgress(static_cast<int>(i) * kPercent / static_cast<int>(kPlanBlockLength));
  }
  return bplink::kResultOk;
}
