// The download: one section per store, each a set number, a record count
// and that many record frames, each decoded into a record of the set its
// section names.

#include <bplink/codes.h>
#include <bplink/device.h>
#include <bplink/env.h>
#include <bplink/protocol_vestra18.h>

#include <algorithm>
#include <iterator>

#include "frame/record_fields.h"
#include "frame/wire_bytes.h"
#include "serial/line.h"
#include "serial/vestra18/wire.h"

using namespace bplink::serial::vestra18;
using bplink::kResultOk;

namespace {

constexpr int kProgressDone = 100;

short Field(BYTE byte) { return static_cast<short>(byte); }

}  // namespace

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

// Only the first byte is checked: the monitor sends a frame whole or not at
// all, and a byte that does not come stays 0.
bool CProtocolCOMVESTRA18::PC_ReceivePack() {
  if (m_pDevice->RecvData(&m_byRecvBuffer[0], 1) == 0) return false;
  bplink::serial::ReceiveBytewise(*m_pDevice, &m_byRecvBuffer[1], kRecordFrameLength - 1);
  return true;
}

bool CProtocolCOMVESTRA18::PC_Unpack(int nSetNumber) {
  const BYTE* b = m_byRecvBuffer;
  _BP_RECORD record;
  record.nSys = bplink::wire::BigEndian16(b + kSysAt);
  record.wPress2 = Field(b[kPress2At]);
  record.wPulseRate = Field(b[kPulseAt]);
  record.wPress3 = Field(b[kPress3At]);
  record.nYear = b[kYearAt] + kYearBase;
  record.wMonth = Field(b[kMonthAt]);
  record.wDay = Field(b[kDayAt]);
  record.wHour = Field(b[kHourAt]);
  record.wMinute = Field(b[kMinuteAt]);
  record.wSecond = 0;
  record.wStatus = Field(b[kStatusAt]);
  // This family marks a measurement it could not use with the statuses
  // every other family gives a usable one.
  record.bValid = bplink::IsUsableStatus(record.wStatus) ? 0 : 1;

  // Set 0 (or anything the header check let through) keeps nothing.
  if (_BP_DATASET* set = SetByNumber(nSetNumber)) set->vecRecords.push_back(std::move(record));
  return true;
}

_BP_DATASET* CProtocolCOMVESTRA18::SetByNumber(int nSetNumber) {
  switch (nSetNumber) {
    case 1: return &m_BPSet1;
    case 2: return &m_BPSet2;
    case 3: return &m_BPSet3;
    default: return nullptr;
  }
}
