// The download: the settings block (the plan, the recording start and the
// number of stored measurements), then one record per 0xEE; and the block
// decoders both VESTRA16 monitors share.

#include <bplink/env.h>
#include <bplink/protocol_vestra16.h>

#include <algorithm>
#include <iterator>
#include <utility>

#include "frame/record_fields.h"
#include "frame/wire_bytes.h"
#include "serial/line.h"
#include "serial/vestra16/wire.h"

using namespace bplink::serial::vestra16;
using bplink::wire::BigEndian16;

namespace {

// The option switch is on when its byte is 0x01.
constexpr BYTE kOption2On = 0x01;
// Failed record exchanges that end a download; failed records are skipped.
constexpr int kMaxFailedRecords = 5;

}  // namespace

namespace bplink::serial::vestra16 {

int DecodeSettingsBlock(const BYTE* block, BYTE option2OnByte, _BP_TRANSPORT_INFO& plan) {
  wire::TakePatientTexts(plan, block + kPatientTexts);
  SetTimeFields(plan, wire::TakeClock(block + kStartTime));

  plan.nOption1 = block[kOption1];
  plan.nOption2 = block[kOption2] == option2OnByte ? 1 : 0;
  wire::TakePeriods(plan, block + kPeriods);

  const BYTE* extra = block + kExtraWindow;
  plan.nExtraStartHour = extra[0];
  plan.nExtraStartMinute = extra[1];
  plan.nExtraInterval = extra[2];
  plan.nExtraEndHour = extra[3];
  plan.nExtraEndMinute = extra[4];

  return BigEndian16(block + kRecordCount);
}

CalendarTime RecordingStart(const _BP_TRANSPORT_INFO& plan) {
  return CalendarTime{plan.nYear, plan.nMonth, plan.nDay, plan.nHour, plan.nMinute, 0};
}

_BP_RECORD DecodeRecordBlock(const BYTE* block, const CalendarTime& start) {
  _BP_RECORD record;
  record.nMinuteOffset = (block[kRecordOffsetHigh] << 16) | BigEndian16(block + kRecordOffsetLow);
  record.nSys = BigEndian16(block + kRecordSys);
  record.wPress2 = block[kRecordPress2];
  record.wPulseRate = block[kRecordPulse];
  record.wPress3 = block[kRecordPress3];
  record.wStatus = block[kRecordStatus];
  record.bValid = IsUsableStatus(block[kRecordStatus]) ? 1 : 0;
  record.byFlagsLow = block[kRecordFlags];  // the whole byte; this family has no high flags
  SetRecordTime(record, AddMinutes(start, record.nMinuteOffset));
  return record;
}

}  // namespace bplink::serial::vestra16

int CProtocolCOMVESTRA16::DownloadBPInfo() {
  CProtocolBase::DownloadBPInfo();
  SetProgress(0);
  SetState(bplink::kStateRunning);

  std::fill(std::begin(m_byBuffer), std::end(m_byBuffer), 0);
  m_byBuffer[0] = kCmdReadSettings;
  BYTE expected = kCmdReadSettings;
  if (!IsRightReceive(&m_byBuffer[0], &expected)) return bplink::kResultIoFailed;
  bplink::serial::ReceiveBytewise(*m_pDevice, m_byBuffer + 1, kSettingsBlockLength);
  m_BPSet1.Head.nCount = DecodeSettingsBlock(m_byBuffer + 1, kOption2On, m_UploadNeeded.Info);
  return bplink::kResultOk;
}

int CProtocolCOMVESTRA16::DownloadBPData() {
  CProtocolBase::DownloadBPData();
  bplink::CurrentEnv()->Sleep(kAnswerPauseMs);

  // Cleared once: a record byte that does not come keeps the previous
  // record's value, as the device's own software has always shown it.
  std::fill(std::begin(m_byBuffer), std::end(m_byBuffer), 0);
  m_byBuffer[0] = kCmdReadRecord;
  BYTE expected = kCmdReadRecord;
  const int count = m_BPSet1.Head.nCount;
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    if (failures >= kMaxFailedRecords) return bplink::kResultUnexpectedReply;
    if (IsRightReceive(&m_byBuffer[0], &expected)) {
      bplink::serial::ReceiveBytewise(*m_pDevice, m_byBuffer + 1, kRecordBlockLength);
      PC_Unpack();
    } else {
      ++failures;  // this record is skipped, not asked for again
    }
    SetProgress(bplink::serial::Percent(static_cast<std::size_t>(i), static_cast<std::size_t>(count)));
    if (IsStopRequested()) break;
  }
  return failures >= kMaxFailedRecords ? bplink::kResultUnexpectedReply : bplink::kResultOk;
}

bool CProtocolCOMVESTRA16::PC_Unpack() {
  const BYTE* block = m_byBuffer + 1;
  _BP_RECORD record = DecodeRecordBlock(block, RecordingStart(m_UploadNeeded.Info));
  record.nAux3 = block[kRecordAux3];
  m_BPSet1.vecRecords.push_back(std::move(record));
  return true;
}
