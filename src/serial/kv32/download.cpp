// Download: the greeting at 4800 baud, then on the same port at 115200 baud
// the plan with the record counts, and the records one request at a time.

#include <bplink/device.h>
#include <bplink/env.h>
#include <bplink/protocol_kv32.h>

#include <algorithm>

#include "frame/record_time.h"
#include "serial/kv32/wire.h"

using namespace bplink::kv32;
using bplink::kResultOk;

namespace {

constexpr int kByteShift = 8;
constexpr int kProgressFull = 100;
// The statuses the monitor stores with a usable measurement.
constexpr int kStatusOk = 0;
constexpr int kStatusOkToo = 3;

int BigEndian16(const BYTE* at) { return (at[0] << kByteShift) | at[1]; }

template <std::size_t N>
void CopyText(const BYTE* from, int length, char (&to)[N]) {
  static_assert(N > 0);
  std::copy_n(from, std::min<std::size_t>(static_cast<std::size_t>(length), N - 1), to);
}

}  // namespace

int CProtocolCOMKV32::PC_Download(enum_DataMode nMode) {
  try {
    m_nABPM_Type = nMode;
    SetProgress(0);
    SetState(bplink::kStateRunning);
    m_strPortPath.clear();

    int result = DoHandShake();
    if (result != kResultOk) {
      SetState(bplink::kStateFailed);
      return result;
    }
    // A port that will not reopen shows up as an unanswered plan request.
    m_pDevice->Open(m_strPortPath, Line(kFastBaud));
    ClearAllData();

    result = DownloadBPInfo();
    if (result != kResultOk) {
      SetState(bplink::kStateFailed);
      CloseLink();
      return result;
    }
    result = DownloadBPData();
    CloseLink();
    if (result != kResultOk) {
      SetState(bplink::kStateFailed);
      return result;
    }

    // The set is dated by its first record, and counts what came.
    if (!m_BPSet1.vecRecords.empty()) {
      const _BP_RECORD& first = m_BPSet1.vecRecords.front();
      _DATA_HEAD& head = m_BPSet1.Head;
      head.nCount = static_cast<int>(m_BPSet1.vecRecords.size());
      head.nYear = first.nYear;
      head.nMonth = first.wMonth;
      head.nDay = first.wDay;
      head.nHour = first.wHour;
      head.nMinute = first.wMinute;
      head.nSecond = first.wSecond;
    }
    SetState(bplink::kStateSucceeded);
    return kResultOk;
  } catch (...) {
    SetState(bplink::kStateFailed);
    CloseLink();
    return bplink::kResultException;
  }
}

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
  CopyText(p + kReplyPatient1At, kPatient1Length, plan.szPatientInfo1);
  CopyText(p + kReplyPatient2At, kPatient2Length, plan.szPatientInfo2);
  const BYTE* start = p + kReplyYearAt;
  plan.nYear = BigEndian16(start);
  plan.nMonth = start[2];
  plan.nDay = start[3];
  plan.nHour = start[4];
  plan.nMinute = start[5];
  plan.nSecond = start[6];
  if (mode == DATAMODE_BP) {
    plan.nOption1 = p[kReplyOption1At];
    plan.nOption2 = p[kReplyOption2At];
    plan.nPeriod1Hour = p[kReplyPeriod1At];
    plan.nPeriod1Minute = p[kReplyPeriod1At + 1];
    plan.nPeriod1Interval = p[kReplyPeriod1At + 2];
    plan.nPeriod2Hour = p[kReplyPeriod2At];
    plan.nPeriod2Minute = p[kReplyPeriod2At + 1];
    plan.nPeriod2Interval = p[kReplyPeriod2At + 2];
    plan.nExtraStartHour = p[kReplyExtraStartAt];
    plan.nExtraStartMinute = p[kReplyExtraStartAt + 1];
    plan.nExtraInterval = p[kReplyExtraIntervalAt];
    plan.nExtraEndHour = p[kReplyExtraEndAt];
    plan.nExtraEndMinute = p[kReplyExtraEndAt + 1];
  }
  m_BPSet1.Head.nCount = BigEndian16(p + kReplyRecordCountAt);
  const BYTE* spo2 = p + kReplySpO2CountAt;
  m_SpO2Set.Head.nCount = spo2[0] | (spo2[1] << kByteShift) | (spo2[2] << (2 * kByteShift));
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
    record.bValid = q[kRecStatusAt] == kStatusOk || q[kRecStatusAt] == kStatusOkToo ? 1 : 0;
    record.byFlagsLow = q[kRecFlagsAt];
    const int offset = (q[kRecOffsetHighAt] << (2 * kByteShift)) | BigEndian16(q + kRecOffsetLowAt);
    const bplink::CalendarTime time =
        inSeconds ? bplink::AddSeconds(start, offset) : bplink::AddMinutes(start, offset);
    bplink::SetRecordTime(record, time);
    m_BPSet1.vecRecords.push_back(std::move(record));

    SetProgress(static_cast<int>(static_cast<long long>(i) * kProgressFull / count));
    if (IsStopRequested()) return kResultOk;
  }
  return kResultOk;
}
