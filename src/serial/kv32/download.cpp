// The download's two exchanges: the plan with the record counts, then the
// records one request at a time; and the SpO2 sample requests.

#include <bplink/device.h>
#include <bplink/env.h>
#include <bplink/protocol_kv32.h>

#include <algorithm>

#include "frame/record_fields.h"
#include "frame/wire_bytes.h"
#include "serial/line.h"
#include "serial/kv32/wire.h"

using namespace bplink::serial::kv32;
using bplink::kResultOk;
using bplink::wire::BigEndian16;

namespace {

// SpO2 samples: what follows the echo is not known, so each sample is taken
// from the frame bytes as they stand.
constexpr int kSampleSpO2At = 1;
constexpr int kSamplePulseAt = 2;
constexpr int kSampleOffsetAt = 3;  // 24 bits, low byte first
// Samples fill the first half of the progress range.
constexpr int kSampleProgressShare = 50;

}  // namespace

// The plan request of the data mode, its echo, then the 77-byte reply: the
// patient texts, the start of the recording, in mode 1 the plan's options,
// periods and extra window, and the two record counts.
int CProtocolCOMKV32::DownloadBPInfo() {
  CProtocolBase::DownloadBPInfo();
  const int mode = m_nABPM_Type;
  BYTE request = kCmdPlanOtherMode;
  if (mode == DATAMODE_BP_SPO2) request = kCmdPlanMode2;
  if (mode == DATAMODE_BP) request = kCmdPlanMode1;

  std::fill(std::begin(m_byFrame), std::end(m_byFrame), BYTE{0});
  if (m_pDevice == nullptr || m_pDevice->SendData(&request, 1) == 0) return bplink::kResultIoFailed;
  bplink::CurrentEnv()->Sleep(kEchoPauseMs);
  if (m_pDevice->RecvData(m_byFrame + kEchoAt, 1) == 0 || m_byFrame[kEchoAt] != request)
    return bplink::kResultIoFailed;
  // A short reply leaves zeros; the counts then say there is nothing to fetch.
  m_pDevice->RecvData(m_byFrame + kReplyAt, kPlanReplyLength);

  const BYTE* p = m_byFrame + kReplyAt;
  _BP_TRANSPORT_INFO& plan = m_UploadNeeded.Info;
  bplink::wire::TakePatientTexts(plan, p + kReplyPatientTextsAt);
  bplink::CalendarTime start = bplink::wire::TakeClock(p + kReplyStartAt);
  start.second = p[kReplyStartAt + 6];
  bplink::SetTimeFields(plan, start);
  if (mode == DATAMODE_BP) {
    plan.nOption1 = p[kReplyOption1At];
    plan.nOption2 = p[kReplyOption2At];
    bplink::wire::TakePeriods(plan, p + kReplyPeriodsAt);
    plan.nExtraStartHour = p[kReplyExtraStartAt];
    plan.nExtraStartMinute = p[kReplyExtraStartAt + 1];
    plan.nExtraInterval = p[kReplyExtraIntervalAt];
    plan.nExtraEndHour = p[kReplyExtraEndAt];
    plan.nExtraEndMinute = p[kReplyExtraEndAt + 1];
  }
  m_BPSet1.Head.nCount = BigEndian16(p + kReplyRecordCountAt);
  m_SpO2Set.Head.nCount = bplink::wire::LittleEndian24(p + kReplySpO2CountAt);
  return kResultOk;
}

// One request per announced record. A request the monitor does not echo
// skips that record; the tenth such failure gives up.
int CProtocolCOMKV32::DownloadBPData() {
  CProtocolBase::DownloadBPData();
  m_BPSet1.vecRecords.clear();
  if (m_pDevice == nullptr) return bplink::kResultIoFailed;
  const int count = m_BPSet1.Head.nCount;
  const _BP_TRANSPORT_INFO& plan = m_UploadNeeded.Info;
  const bplink::CalendarTime start{plan.nYear, plan.nMonth,  plan.nDay,
                                   plan.nHour, plan.nMinute, plan.nSecond};
  const bool inSeconds = m_nABPM_Type == DATAMODE_BP_SPO2;

  int failures = 0;
  for (int i = 0; i < count; ++i) {
    if (failures >= kMaxRequestFailures) return bplink::kResultIoFailed;
    BYTE request = kCmdNextRecord;
    m_pDevice->SendData(&request, 1);
    bplink::CurrentEnv()->Sleep(kEchoPauseMs);
    std::fill(std::begin(m_byFrame), std::end(m_byFrame), BYTE{0});
    m_pDevice->RecvData(m_byFrame + kEchoAt, 1);
    if (m_byFrame[kEchoAt] != kCmdNextRecord) {
      ++failures;
      continue;
    }
    m_pDevice->RecvData(m_byFrame + kReplyAt, kRecordReplyLength);

    const BYTE* q = m_byFrame + kReplyAt;
    _BP_RECORD record;
    record.nSys = BigEndian16(q + kRecSysAt);
    record.wPress2 = q[kRecPress2At];
    record.wPulseRate = q[kRecPulseAt];
    record.wPress3 = q[kRecPress3At];
    record.wStatus = q[kRecStatusAt];
    record.bValid = bplink::IsUsableStatus(q[kRecStatusAt]) ? 1 : 0;
    record.byFlagsLow = q[kRecFlagsAt];
    const int offset = (q[kRecOffsetHighAt] << 16) | BigEndian16(q + kRecOffsetLowAt);
    const bplink::CalendarTime time =
        inSeconds ? bplink::AddSeconds(start, offset) : bplink::AddMinutes(start, offset);
    bplink::SetRecordTime(record, time);
    m_BPSet1.vecRecords.push_back(std::move(record));

    SetProgress(bplink::serial::Percent(static_cast<std::size_t>(i), static_cast<std::size_t>(count)));
    if (IsStopRequested()) return kResultOk;
  }
  return kResultOk;
}

// No operation calls this (see the class header): the monitor echoes 0xDB,
// but the layout of what follows the echo is unknown.
int CProtocolCOMKV32::DownloadSpO2Data() {
  CProtocolBase::DownloadSpO2Data();
  m_SpO2Set.vecRecords.clear();
  const int count = m_SpO2Set.Head.nCount;
  if (count <= 0) return kResultOk;
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
    sample.nTimeOffset = bplink::wire::LittleEndian24(m_byFrame + kSampleOffsetAt);
    m_SpO2Set.vecRecords.push_back(sample);
    SetProgress(static_cast<int>(static_cast<long long>(i) * kSampleProgressShare / count));
  }
  return kResultOk;
}
