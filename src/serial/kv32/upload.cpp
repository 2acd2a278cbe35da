// The upload: the plan block, sent one byte at a time, each confirmed by the
// monitor; and the code of the period its recording starts in.

#include <bplink/env.h>
#include <bplink/protocol_kv32.h>

#include <algorithm>

#include "frame/wire_bytes.h"
#include "serial/line.h"
#include "serial/kv32/wire.h"

using namespace bplink::serial::kv32;
using bplink::wire::kUnset;
using bplink::wire::Low;
using bplink::wire::PositiveOrUnset;

namespace {

// Ten receives per byte, a pause after every one that did not confirm.
constexpr bplink::serial::AckRules kConfirmRules{kCmdUpload, kConfirmAttempts, kConfirmRetryPauseMs, true};

// The monitor starts recording this long after the plan arrives.
constexpr int kRecordingDelayMinutes = 5;
constexpr int kMinutesPerHour = 60;

// Which period the recording starts in, as the monitor wants to be told.
enum PeriodCode : BYTE {
  kPeriodFirst = 1,
  kPeriodSecond = 2,
  kPeriodExtra = 3,
};

// Wide enough for any hour the host puts in a plan.
long long MinuteOfDay(int hour, int minute) {
  return static_cast<long long>(hour) * kMinutesPerHour + minute;
}

// A window from A to B holds the start S when A <= S <= B; a window that
// wraps past midnight (A > B) is taken to hold S only before its end. The
// periods: the first runs from C to D, the second from D to C.
BYTE PeriodCodeAt(long long start, const _BP_TRANSPORT_INFO& plan) {
  const long long extraStart = MinuteOfDay(plan.nExtraStartHour, plan.nExtraStartMinute);
  const long long extraEnd = MinuteOfDay(plan.nExtraEndHour, plan.nExtraEndMinute);
  const long long first = MinuteOfDay(plan.nPeriod1Hour, plan.nPeriod1Minute);
  const long long second = MinuteOfDay(plan.nPeriod2Hour, plan.nPeriod2Minute);

  if (extraStart <= start && start <= extraEnd && extraStart < extraEnd) return kPeriodExtra;
  if (extraStart > extraEnd && start < extraEnd) return kPeriodExtra;
  if (first <= second) return first <= start && start <= second ? kPeriodFirst : kPeriodSecond;
  return start <= second || start >= first ? kPeriodFirst : kPeriodSecond;
}

}  // namespace

int CProtocolCOMKV32::UploadBPInfo() {
  CProtocolBase::UploadBPInfo();
  if (!PC_Pack()) return bplink::kResultNotForDevice;
  if (m_pDevice == nullptr) return bplink::kResultIoFailed;
  const bool sent = bplink::serial::SendAcknowledged(*m_pDevice, m_byFrame, kPlanBlockLength, kConfirmRules,
                                                     bplink::HostVariables(m_pnProgress, m_pnState));
  return sent ? bplink::kResultOk : bplink::kResultIoFailed;
}

bool CProtocolCOMKV32::PC_Pack() {
  try {
    std::fill(std::begin(m_byFrame), std::end(m_byFrame), BYTE{0});
    const _BP_TRANSPORT_INFO& plan = m_UploadNeeded.Info;
    BYTE* block = m_byFrame;

    bplink::wire::PutPatientTexts(block + kBlockPatientTextsAt, plan);
    const bplink::CalendarTime now = bplink::CurrentEnv()->LocalTime();
    bplink::wire::PutClock(block + kBlockClockAt, now);

    if (m_nABPM_Type == DATAMODE_BP_SPO2) {
      block[kBlockClockSecondAt] = Low(now.second);
      block[kBlockTrailerAt] = kCmdHandShakeMode2;
      return true;
    }

    const bplink::CalendarTime start = bplink::AddMinutes(now, kRecordingDelayMinutes);
    bplink::wire::PutClock(block + kBlockStartAt, start);
    block[kBlockOption2At] = plan.nOption2 == 1 ? BYTE{1} : kUnset;
    bplink::wire::PutPeriods(block + kBlockPeriodsAt, plan);
    const bool noExtraStart = plan.nExtraStartHour < 0;
    block[kBlockExtraStartAt] = noExtraStart ? kUnset : Low(plan.nExtraStartHour);
    block[kBlockExtraStartAt + 1] = noExtraStart ? kUnset : Low(plan.nExtraStartMinute);
    block[kBlockExtraIntervalAt] = PositiveOrUnset(plan.nExtraInterval);
    const bool noExtraEnd = MinuteOfDay(plan.nExtraEndHour, plan.nExtraEndMinute) < 0;
    block[kBlockExtraEndAt] = noExtraEnd ? kUnset : Low(plan.nExtraEndHour);
    block[kBlockExtraEndAt + 1] = noExtraEnd ? kUnset : Low(plan.nExtraEndMinute);
    block[kBlockPeriodCodeAt] = PeriodCodeAt(MinuteOfDay(start.hour, start.minute), plan);
    block[kBlockTrailerAt] = kCmdHandShakeMode1;
    return true;
  } catch (...) {
    return false;
  }
}
