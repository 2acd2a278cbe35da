// The plan block the monitor is given on upload, and the code of the period
// its recording starts in.

#include <bplink/env.h>
#include <bplink/protocol_kv32.h>

#include <algorithm>

#include "serial/kv32/wire.h"

using namespace bplink::kv32;

namespace {

// The monitor starts recording this long after the plan arrives.
constexpr int kRecordingDelayMinutes = 5;
constexpr int kMinutesPerHour = 60;
constexpr int kYearHighDivisor = 256;

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

BYTE Low(int value) { return static_cast<BYTE>(value & 0xFF); }

// An interval the plan leaves at 0 or below is sent as "none".
BYTE Interval(int minutes) { return minutes > 0 ? Low(minutes) : kNone; }

// Year high, year low, month, day, hour, minute.
void PutTime(BYTE* at, const bplink::CalendarTime& t) {
  at[0] = Low(t.year / kYearHighDivisor);
  at[1] = Low(t.year % kYearHighDivisor);
  at[2] = Low(t.month);
  at[3] = Low(t.day);
  at[4] = Low(t.hour);
  at[5] = Low(t.minute);
}

}  // namespace

bool CProtocolCOMKV32::PC_Pack() {
  try {
    std::fill(std::begin(m_byFrame), std::end(m_byFrame), BYTE{0});
    const _BP_TRANSPORT_INFO& plan = m_UploadNeeded.Info;
    BYTE* block = m_byFrame;

    std::copy_n(plan.szPatientInfo1, kPatient1Length, block + kBlockPatient1At);
    std::copy_n(plan.szPatientInfo2, kPatient2Length, block + kBlockPatient2At);
    const bplink::CalendarTime now = bplink::CurrentEnv()->LocalTime();
    PutTime(block + kBlockClockAt, now);

    if (m_nABPM_Type == DATAMODE_BP_SPO2) {
      block[kBlockClockSecondAt] = Low(now.second);
      block[kBlockTrailerAt] = kCmdHandShakeMode2;
      return true;
    }

    const bplink::CalendarTime start = bplink::AddMinutes(now, kRecordingDelayMinutes);
    PutTime(block + kBlockStartAt, start);
    block[kBlockOption2At] = plan.nOption2 == 1 ? BYTE{1} : kNone;
    block[kBlockPeriod1At] = Low(plan.nPeriod1Hour);
    block[kBlockPeriod1At + 1] = Low(plan.nPeriod1Minute);
    block[kBlockPeriod1At + 2] = Interval(plan.nPeriod1Interval);
    block[kBlockPeriod2At] = Low(plan.nPeriod2Hour);
    block[kBlockPeriod2At + 1] = Low(plan.nPeriod2Minute);
    block[kBlockPeriod2At + 2] = Interval(plan.nPeriod2Interval);
    const bool noExtraStart = plan.nExtraStartHour < 0;
    block[kBlockExtraStartAt] = noExtraStart ? kNone : Low(plan.nExtraStartHour);
    block[kBlockExtraStartAt + 1] = noExtraStart ? kNone : Low(plan.nExtraStartMinute);
    block[kBlockExtraIntervalAt] = Interval(plan.nExtraInterval);
    const bool noExtraEnd = MinuteOfDay(plan.nExtraEndHour, plan.nExtraEndMinute) < 0;
    block[kBlockExtraEndAt] = noExtraEnd ? kNone : Low(plan.nExtraEndHour);
    block[kBlockExtraEndAt + 1] = noExtraEnd ? kNone : Low(plan.nExtraEndMinute);
    block[kBlockPeriodCodeAt] = PeriodCodeAt(MinuteOfDay(start.hour, start.minute), plan);
    block[kBlockTrailerAt] = kCmdHandShakeMode1;
    return true;
  } catch (...) {
    return false;
  }
}
