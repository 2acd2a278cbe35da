// Download: the handshake, the recorder's stream of groups, counts and
// records until it falls silent, then its stored plan when it keeps one.

#include <bplink/codes.h>
#include <bplink/device.h>
#include <bplink/env.h>
#include <bplink/protocol_kx71.h>

#include <algorithm>
#include <iterator>

#include "serial/kx71/wire.h"
#include "serial/record_set.h"

using namespace bplink::kx71;

namespace {

// The stream has no end marker: the recorder just stops sending. Packets
// that do not come are counted over the whole download.
constexpr int kMissedPacketsAllowed = 5;

// The download's progress does not measure the data (the recorder does not
// say how much is coming); it cycles through this range while packets arrive.
constexpr int kStreamProgressFirst = 20;
constexpr int kStreamProgressLast = 80;

}  // namespace

int CProtocolCOMKX71::GetDownLoadDataMode(int* pnDataMode) {
  if (pnDataMode == nullptr) return bplink::kResultCannotStart;
  pnDataMode[DATAMODE_BP] = 1;
  pnDataMode[DATAMODE_BP_SET2] = 1;
  return bplink::kResultOk;
}

// A recorder that is not found leaves the data of the last download in place.
int CProtocolCOMKX71::PC_Download(enum_DataMode nMode) {
  SetProgress(0);
  SetState(bplink::kStateRunning);
  m_nABPM_Type = nMode;
  try {
    m_strPortPath.clear();
    int r = DoHandShake();
    if (r != bplink::kResultOk) return EndWithFailure(r);
    ClearAllData();
    DownloadBPData();
    if (m_bDeviceKeepsPlan) {
      r = DownloadBPInfo();
      if (r != bplink::kResultOk) return EndWithFailure(r);
    }
    CloseLink();
    bplink::serial::HeadFromFirstRecord(m_BPSet1);
    bplink::serial::HeadFromFirstRecord(m_BPSet2);
    SetState(bplink::kStateSucceeded);
    return bplink::kResultOk;
  } catch (...) {
    return EndWithFailure(bplink::kResultException);
  }
}

int CProtocolCOMKX71::DownloadBPInfo() {
  CProtocolBase::DownloadBPInfo();
  BYTE request = kPlanRequest;
  if (m_pDevice->SendData(&request, 1) == 0) return bplink::kResultIoFailed;

  std::fill(std::begin(m_byFrame), std::end(m_byFrame), BYTE{0});
  if (m_pDevice->RecvData(m_byFrame, 1) == 0) return bplink::kResultIoFailed;
  if (m_byFrame[0] != kPlanReply) return bplink::kResultUnexpectedReply;
  // One byte per call; a byte that does not come stays 0.
  for (DWORD i = 1; i <= kPlanBody; ++i) m_pDevice->RecvData(m_byFrame + i, 1);
  StorePlanReply(m_byFrame + 1);
  return bplink::kResultOk;
}

// Runs until the recorder has been silent six times or the host asks to stop.
int CProtocolCOMKX71::DownloadBPData() {
  CProtocolBase::DownloadBPData();
  for (_BP_DATASET* set : {&m_BPSet1, &m_BPSet2}) {
    set->Head.nCount = 0;
    set->vecRecords.clear();
  }
  int progress = kStreamProgressFirst;
  SetProgress(progress);
  int missed = 0;
  bool silent = false;
  do {
    std::fill(std::begin(m_byFrame), std::end(m_byFrame), BYTE{0});
    if (PC_ReceivePack()) {
      PC_AcknowledgePack(PC_Unpack());
      progress = progress >= kStreamProgressLast ? kStreamProgressFirst : progress + 1;
      SetProgress(progress);
    } else if (++missed > kMissedPacketsAllowed) {
      silent = true;
    }
    bplink::CurrentEnv()->Sleep(kPacketPauseMs);
  } while (!IsStopRequested() && !silent);
  SetProgress(kStreamProgressLast);
  return bplink::kResultOk;
}
