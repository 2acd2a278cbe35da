// The download: request byte and echo, then one section per store, each a
// set number, a record count and that many record frames.

#include <bplink/codes.h>
#include <bplink/device.h>
#include <bplink/env.h>
#include <bplink/protocol_vestra18.h>

#include <algorithm>
#include <iterator>

#include "serial/record_set.h"
#include "serial/vestra18/wire.h"

using namespace bplink::vestra18;
using bplink::kResultOk;

namespace {

constexpr int kProgressDone = 100;


}  // namespace

int CProtocolCOMVESTRA18::PC_Download(enum_DataMode nMode) {
  try {
    m_nABPM_Type = nMode;
    SetProgress(0);
    SetState(bplink::kStateRunning);
    if (!IsFamilyMode(nMode)) {
      SetState(bplink::kStateFailed);
      return bplink::kResultNotInFamily;
    }
    m_nSubMode = nMode - kSubModeOffset;

    // The search leaves no port open when it fails.
    int r = DoHandShake();
    if (r != kResultOk) {
      SetState(bplink::kStateFailed);
      return r;
    }

    ClearAllData();
    r = DownloadBPData();
    SetProgress(kProgressDone);
    FinishState(r);
    m_pDevice->Close();
    // A failed download keeps the counts the monitor announced.
    if (r != kResultOk) return r;

    for (_BP_DATASET* set : {&m_BPSet1, &m_BPSet2, &m_BPSet3}) bplink::serial::HeadFromFirstRecord(*set);
    return kResultOk;
  } catch (...) {
    SetState(bplink::kStateFailed);
    try {
      if (m_pDevice != nullptr) m_pDevice->Close();
    } catch (...) {
    }
    return bplink::kResultException;
  }
}

// One section per store requested. A section whose frames stop coming fails
// the download but not the sections after it: the monitor goes on with them.
int CProtocolCOMVESTRA18::DownloadBPData() {
  CProtocolBase::DownloadBPData();
  if (!IsFamilyMode(m_nABPM_Type)) return bplink::kResultNotInFamily;
  m_nSubMode = m_nABPM_Type - kSubModeOffset;

  SetProgress(0);
  SetState(bplink::kStateRunning);
  int result = kResultOk;
  const int sections = m_nSubMode == kSubModeAllStores ? kSectionsOfAllStores : kSectionsOfOneStore;
  for (int section = 0; section < sections; ++section) {
    bool stopped = false;
    const int r = DownloadSection(stopped);
    if (r == bplink::kResultNotForDevice) return r;
    if (r != kResultOk) result = r;
    // The host's stop ends the download here: the monitor is still sending
    // the rest of this section, which must not be read as the next one.
    if (stopped) break;
  }
  return result;
}

int CProtocolCOMVESTRA18::DownloadSection(bool& bStopped) {
  // A header byte that does not come stays 0: set 0 with no records, so a
  // monitor that falls silent yields empty sets rather than a failure.
  std::fill(std::begin(m_byRecvBuffer), std::end(m_byRecvBuffer), BYTE{0});
  m_pDevice->RecvData(&m_byRecvBuffer[kSetNumberAt], 1);
  const int setNumber = m_byRecvBuffer[kSetNumberAt];
  if (setNumber > kHighestSetNumber) return bplink::kResultNotForDevice;
  m_pDevice->RecvData(&m_byRecvBuffer[kRecordCountAt], 1);
  const int count = m_byRecvBuffer[kRecordCountAt];

  if (_BP_DATASET* set = SetByNumber(setNumber)) {
    set->Head.nCount = count;
    set->vecRecords.clear();
  }

  int failures = 0;
  for (int i = 1; i <= count; ++i) {
    std::fill(std::begin(m_byRecvBuffer), std::end(m_byRecvBuffer), BYTE{0});
    bplink::CurrentEnv()->Sleep(kRecordPauseMs);
    if (PC_ReceivePack())
      PC_Unpack(setNumber);
    else
      ++failures;
    if (failures == kMaxMissingFrames) return bplink::kResultIoFailed;
    SetProgress(i * kProgressDone / count);
    if (IsStopRequested()) {
      bStopped = true;
      break;
    }
  }
  return kResultOk;
}
