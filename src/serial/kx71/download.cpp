// The download: the recorder's stream of packets (group headers, record
// counts and records, each answered with an acknowledgement) until it falls
// silent, then its stored plan when it keeps one.

#include <bplink/codes.h>
#include <bplink/device.h>
#include <bplink/env.h>
#include <bplink/protocol_kx71.h>

#include <algorithm>
#include <iterator>

#include "frame/record_fields.h"
#include "frame/wire_bytes.h"
#include "serial/line.h"
#include "serial/kx71/wire.h"

using namespace bplink::serial::kx71;
using bplink::wire::BigEndian16;

namespace {

// The stream has no end marker: the recorder just stops sending. Packets
// that do not come are counted over the whole download.
constexpr int kMissedPacketsAllowed = 5;

// The download's progress does not measure the data (the recorder does not
// say how much is coming); it cycles through this range while packets arrive.
constexpr int kStreamProgressFirst = 20;
constexpr int kStreamProgressLast = 80;

// The body length of a packet type; 0 for a byte that starts no packet.
DWORD BodyLength(BYTE type) {
  switch (type) {
    case kPacketRecord: return kRecordBody;
    case kPacketGroup: return kGroupBody;
    case kPacketCount: return kCountBody;
    case kPacketPlan: return kPlanBody;
    default: return 0;
  }
}

// The masked length: bytes from frame byte 1 up to and including the first
// zero. A frame with no zero at all gets a length no packet has.
std::size_t MaskedLength(const BYTE* frame, std::size_t size) {
  const BYTE* end = frame + size;
  const BYTE* zero = std::find(frame + 1, end, BYTE{0});
  return zero == end ? size : static_cast<std::size_t>(zero - frame);
}

}  // namespace

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

// Only the type byte's receive counts: a body byte that does not come stays
// 0 and makes the packet fail its length check.
bool CProtocolCOMKX71::PC_ReceivePack() {
  if (m_pDevice->RecvData(m_byFrame, 1) == 0) return false;
  const DWORD body = BodyLength(m_byFrame[0]);
  if (body == 0) return false;
  bplink::serial::ReceiveBytewise(*m_pDevice, m_byFrame + 1, body);
  return true;
}

bool CProtocolCOMKX71::UnPack(BYTE* pFirst, BYTE* pLast, CByteArray& out) {
  const BYTE mask = *pFirst;
  const std::ptrdiff_t count = pLast - pFirst;
  // A clear mask bit means the byte went with its top bit set only to keep
  // the line free of zeros.
  for (std::ptrdiff_t i = 0; i < count; ++i) {
    const BYTE raw = pFirst[1 + i];
    out.push_back((mask & (1u << i)) != 0 ? raw : static_cast<BYTE>(raw & 0x7F));
  }
  return true;
}

bool CProtocolCOMKX71::PC_Unpack() {
  BYTE* frame = m_byFrame;
  const std::size_t length = MaskedLength(frame, kFrameSize);
  CByteArray d;
  switch (frame[0]) {
    case kPacketRecord: {
      if (length != kRecordLength) return false;
      UnPack(frame + kRecordMask1At, frame + kRecordMarker1At - 1, d);
      UnPack(frame + kRecordMask2At, frame + kRecordMarker2At - 1, d);
      UnPack(frame + kRecordMask3At, frame + kRecordLastAt, d);
      // A record between wrong markers is kept, but answered as bad.
      const bool markersRight =
          frame[kRecordMarker1At] == kRecordMarker1 && frame[kRecordMarker2At] == kRecordMarker2;

      _BP_RECORD record;
      record.nYear = BigEndian16(&d[0]);
      record.wMonth = d[2];
      record.wDay = d[3];
      record.wHour = d[4];
      record.wMinute = d[5];
      record.wSecond = 0;
      record.nSys = BigEndian16(&d[6]);
      record.wPress3 = static_cast<short>(BigEndian16(&d[8]));
      record.wPress2 = static_cast<short>(BigEndian16(&d[10]));
      record.wPulseRate = static_cast<short>(BigEndian16(&d[12]));
      record.wStatus = d[14];
      record.bValid = bplink::IsUsableStatus(d[14]) ? 1 : 0;
      (m_bGroupIsPrimary ? m_BPSet1 : m_BPSet2).vecRecords.push_back(record);
      return markersRight;
    }
    case kPacketGroup:
      // The group's content (the recorder's own bookkeeping) is not used;
      // its last raw byte says which data set the records that follow are.
      if (length != kGroupLength) return false;
      UnPack(frame + kGroupMaskAt, frame + kGroupLastAt, d);
      m_bGroupIsPrimary = frame[kGroupLastAt] == kGroupPrimary;
      return true;
    case kPacketCount:
      if (length != kCountLength) return false;
      UnPack(frame + kCountMaskAt, frame + kCountLastAt, d);
      m_BPSet1.Head.nCount = static_cast<int>(bplink::wire::BigEndian32(d.data()));
      return true;
    case kPacketPlan:
      StorePlanReply(frame + 1);
      return true;
    default:
      return false;
  }
}

bool CProtocolCOMKX71::PC_AcknowledgePack(bool bOk) {
  BYTE code = 0;
  switch (m_byFrame[0]) {
    case kPacketRecord:
    case kPacketRecordAlias1:
    case kPacketRecordAlias2: code = bOk ? kAckRecordOk : kAckRecordBad; break;
    case kPacketGroup: code = bOk ? kAckGroupOk : kAckGroupBad; break;
    case kPacketCount: code = bOk ? kAckCountOk : kAckCountBad; break;
    default: return false;  // the plan packet is never acknowledged
  }
  m_pDevice->SendData(&code, 1);
  for (BYTE tail : kAckTail) m_pDevice->SendData(&tail, 1);
  return true;
}

// The stored plan, asked for after the records.
int CProtocolCOMKX71::DownloadBPInfo() {
  CProtocolBase::DownloadBPInfo();
  BYTE request = kPlanRequest;
  if (m_pDevice->SendData(&request, 1) == 0) return bplink::kResultIoFailed;

  std::fill(std::begin(m_byFrame), std::end(m_byFrame), BYTE{0});
  if (m_pDevice->RecvData(m_byFrame, 1) == 0) return bplink::kResultIoFailed;
  if (m_byFrame[0] != kPlanReply) return bplink::kResultUnexpectedReply;
  // One byte per call; a byte that does not come stays 0.
  bplink::serial::ReceiveBytewise(*m_pDevice, m_byFrame + 1, kPlanBody);
  StorePlanReply(m_byFrame + 1);
  return bplink::kResultOk;
}

// The plan reply: texts and the two periods, and the number of records of
// data set 1. The recorder's clock is in it but not taken.
void CProtocolCOMKX71::StorePlanReply(const BYTE* pBody) {
  _BP_TRANSPORT_INFO& plan = m_UploadNeeded.Info;
  bplink::wire::TakePatientTexts(plan, pBody + kPatientTextsAt);
  bplink::wire::TakePeriods(plan, pBody + kPeriodsAt);
  m_BPSet1.Head.nCount = BigEndian16(pBody + kPlanCountAt);
}
