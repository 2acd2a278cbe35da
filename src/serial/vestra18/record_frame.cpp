// One record frame: received byte by byte, decoded into a record of the set
// its section names.

#include <bplink/device.h>
#include <bplink/protocol_vestra18.h>

#include <algorithm>
#include <array>

#include "serial/vestra18/wire.h"

using namespace bplink::vestra18;

namespace {

// This family marks a measurement it could not use with status 0 or 3: the
// reverse of every other family.
constexpr std::array<int, 2> kUnusableStatuses{0, 3};

short Field(BYTE byte) { return static_cast<short>(byte); }

}  // namespace

// Only the first byte is checked: the monitor sends a frame whole or not at
// all, and a byte that does not come stays 0.
bool CProtocolCOMVESTRA18::PC_ReceivePack() {
  if (m_pDevice->RecvData(&m_byRecvBuffer[0], 1) == 0) return false;
  for (DWORD at = 1; at < kRecordFrameLength; ++at) m_pDevice->RecvData(&m_byRecvBuffer[at], 1);
  return true;
}

bool CProtocolCOMVESTRA18::PC_Unpack(int nSetNumber) {
  const BYTE* b = m_byRecvBuffer;
  _BP_RECORD record;
  record.nSys = (b[kSysAt] << 8) | b[kSysAt + 1];
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
  record.bValid = std::ranges::count(kUnusableStatuses, record.wStatus) > 0 ? 0 : 1;

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
