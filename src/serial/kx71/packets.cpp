// The frames of the KX71 line: the plan block the host uploads, the packets
// the recorder streams during a download (received, checked, decoded and
// stored), and the acknowledgements that answer them.

#include <bplink/codes.h>
#include <bplink/device.h>
#include <bplink/env.h>
#include <bplink/protocol_kx71.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "serial/kx71/wire.h"

using namespace bplink::kx71;

namespace {

BYTE Low(int value) { return static_cast<BYTE>(value & 0xFF); }
BYTE IntervalOrNone(int minutes) { return minutes > 0 ? Low(minutes) : kNoInterval; }
int Word(BYTE high, BYTE low) { return high * 256 + low; }

// The record's status byte: 0 and 3 are usable measurements.
constexpr int kStatusGood = 0;
constexpr int kStatusGoodRetried = 3;

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

bool CProtocolCOMKX71::PC_Pack() {
  try {
    std::fill(std::begin(m_byFrame), std::end(m_byFrame), BYTE{0});
    const _BP_TRANSPORT_INFO& plan = m_UploadNeeded.Info;
    // The texts travel without their terminators.
    std::memcpy(m_byFrame + kPatient1At, plan.szPatientInfo1, kPatient1Length);
    std::memcpy(m_byFrame + kPatient2At, plan.szPatientInfo2, kPatient2Length);

    // The recorder takes the PC clock, read once, as its own.
    const bplink::CalendarTime now = bplink::CurrentEnv()->LocalTime();
    m_byFrame[kYearHighAt] = Low(now.year / 256);
    m_byFrame[kYearLowAt] = Low(now.year % 256);
    m_byFrame[kMonthAt] = Low(now.month);
    m_byFrame[kDayAt] = Low(now.day);
    m_byFrame[kHourAt] = Low(now.hour);
    m_byFrame[kMinuteAt] = Low(now.minute);

    m_byFrame[kPeriod1HourAt] = Low(plan.nPeriod1Hour);
    m_byFrame[kPeriod1MinuteAt] = Low(plan.nPeriod1Minute);
    m_byFrame[kPeriod1IntervalAt] = IntervalOrNone(plan.nPeriod1Interval);
    m_byFrame[kPeriod2HourAt] = Low(plan.nPeriod2Hour);
    m_byFrame[kPeriod2MinuteAt] = Low(plan.nPeriod2Minute);
    m_byFrame[kPeriod2IntervalAt] = IntervalOrNone(plan.nPeriod2Interval);
    return true;
  } catch (...) {
    return false;
  }
}

// Only the type byte's receive counts: a body byte that does not come stays
// 0 and makes the packet fail its length check.
bool CProtocolCOMKX71::PC_ReceivePack() {
  if (m_pDevice->RecvData(m_byFrame, 1) == 0) return false;
  const DWORD body = BodyLength(m_byFrame[0]);
  if (body == 0) return false;
  for (DWORD i = 1; i <= body; ++i) m_pDevice->RecvData(m_byFrame + i, 1);
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
      record.nYear = Word(d[0], d[1]);
      record.wMonth = d[2];
      record.wDay = d[3];
      record.wHour = d[4];
      record.wMinute = d[5];
      record.wSecond = 0;
      record.nSys = Word(d[6], d[7]);
      record.wPress3 = static_cast<short>(Word(d[8], d[9]));
      record.wPress2 = static_cast<short>(Word(d[10], d[11]));
      record.wPulseRate = static_cast<short>(Word(d[12], d[13]));
      record.wStatus = d[14];
      record.bValid = (d[14] == kStatusGood || d[14] == kStatusGoodRetried) ? 1 : 0;
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
    case kPacketCount: {
      if (length != kCountLength) return false;
      UnPack(frame + kCountMaskAt, frame + kCountLastAt, d);
      const std::uint32_t count = (std::uint32_t{d[0]} << 24) | (std::uint32_t{d[1]} << 16) |
                                  (std::uint32_t{d[2]} << 8) | d[3];
      m_BPSet1.Head.nCount = static_cast<int>(count);
      return true;
    }
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

// The plan reply: texts and the two periods, and the number of records of
// data set 1. The recorder's clock is in it but not taken.
void CProtocolCOMKX71::StorePlanReply(const BYTE* pBody) {
  _BP_TRANSPORT_INFO& plan = m_UploadNeeded.Info;
  std::memcpy(plan.szPatientInfo1, pBody + kPatient1At, kPatient1Length);
  std::memcpy(plan.szPatientInfo2, pBody + kPatient2At, kPatient2Length);
  plan.nPeriod1Hour = pBody[kPeriod1HourAt];
  plan.nPeriod1Minute = pBody[kPeriod1MinuteAt];
  plan.nPeriod1Interval = pBody[kPeriod1IntervalAt];
  plan.nPeriod2Hour = pBody[kPeriod2HourAt];
  plan.nPeriod2Minute = pBody[kPeriod2MinuteAt];
  plan.nPeriod2Interval = pBody[kPeriod2IntervalAt];
  m_BPSet1.Head.nCount = Word(pBody[kPlanCountHighAt], pBody[kPlanCountLowAt]);
}
