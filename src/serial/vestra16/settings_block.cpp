// The settings block both ways, and the current-period code.

#include "serial/vestra16/blocks.h"

#include <algorithm>

namespace bplink::serial::vestra16 {
namespace {

constexpr int kMinutesPerHour = 60;
constexpr int kBitsPerByte = 8;

int Word(const BYTE* at) { return (at[0] << kBitsPerByte) | at[1]; }

void PutClock(const CalendarTime& t, BYTE* at) {
  at[0] = LowByte(t.year >> kBitsPerByte);
  at[1] = LowByte(t.year);
  at[2] = LowByte(t.month);
  at[3] = LowByte(t.day);
  at[4] = LowByte(t.hour);
  at[5] = LowByte(t.minute);
}

}  // namespace

int MinuteOfDay(int hour, int minute) { return hour * kMinutesPerHour + minute; }

BYTE LowByte(int value) { return static_cast<BYTE>(value & 0xFF); }

BYTE IntervalByte(int minutes) { return minutes > 0 ? LowByte(minutes) : kUnset; }

int DecodeSettingsBlock(const BYTE* block, BYTE option2OnByte, _BP_TRANSPORT_INFO& plan) {
  std::copy_n(block + kPatientInfo1, kPatientInfo1Length, plan.szPatientInfo1);
  std::copy_n(block + kPatientInfo2, kPatientInfo2Length, plan.szPatientInfo2);

  const BYTE* start = block + kStartTime;
  plan.nYear = Word(start);
  plan.nMonth = start[2];
  plan.nDay = start[3];
  plan.nHour = start[4];
  plan.nMinute = start[5];
  plan.nSecond = 0;

  plan.nOption1 = block[kOption1];
  plan.nOption2 = block[kOption2] == option2OnByte ? 1 : 0;
  plan.nPeriod1Hour = block[kPeriod1];
  plan.nPeriod1Minute = block[kPeriod1 + 1];
  plan.nPeriod1Interval = block[kPeriod1 + 2];
  plan.nPeriod2Hour = block[kPeriod2];
  plan.nPeriod2Minute = block[kPeriod2 + 1];
  plan.nPeriod2Interval = block[kPeriod2 + 2];

  const BYTE* extra = block + kExtraWindow;
  plan.nExtraStartHour = extra[0];
  plan.nExtraStartMinute = extra[1];
  plan.nExtraInterval = extra[2];
  plan.nExtraEndHour = extra[3];
  plan.nExtraEndMinute = extra[4];

  return Word(block + kRecordCount);
}

CalendarTime RecordingStart(const _BP_TRANSPORT_INFO& plan) {
  return CalendarTime{plan.nYear, plan.nMonth, plan.nDay, plan.nHour, plan.nMinute, 0};
}

void PackCommonFields(const _BP_TRANSPORT_INFO& plan, const CalendarTime& now, BYTE* block) {
  // The texts go as they stand, whatever follows a terminator included.
  std::copy_n(plan.szPatientInfo1, kPatientInfo1Length, block + kPatientInfo1);
  std::copy_n(plan.szPatientInfo2, kPatientInfo2Length, block + kPatientInfo2);

  const CalendarTime next = AddSeconds(now, kStartLeadSeconds);
  PutClock(now, block + kStartTime);
  PutClock(next, block + kNextTime);
  block[kReserved1] = 0;
  block[kReserved1 + 1] = 0;

  block[kOption1] = LowByte(plan.nOption1);
  block[kPeriod1] = LowByte(plan.nPeriod1Hour);
  block[kPeriod1 + 1] = LowByte(plan.nPeriod1Minute);
  block[kPeriod1 + 2] = IntervalByte(plan.nPeriod1Interval);
  block[kPeriod2] = LowByte(plan.nPeriod2Hour);
  block[kPeriod2 + 1] = LowByte(plan.nPeriod2Minute);
  block[kPeriod2 + 2] = IntervalByte(plan.nPeriod2Interval);

  block[kReserved2] = 0;
  block[kPeriodCode] = CurrentPeriodCode(plan, MinuteOfDay(next.hour, next.minute));
}

BYTE CurrentPeriodCode(const _BP_TRANSPORT_INFO& plan, int t) {
  // The window decides even when it is not sent (interval 0): the device
  // is told which period the plan says it is in.
  const int extraStart = MinuteOfDay(plan.nExtraStartHour, plan.nExtraStartMinute);
  const int extraEnd = MinuteOfDay(plan.nExtraEndHour, plan.nExtraEndMinute);
  if (extraStart <= t && t <= extraEnd) return kExtraWindowPeriod;

  const int first = MinuteOfDay(plan.nPeriod1Hour, plan.nPeriod1Minute);
  const int second = MinuteOfDay(plan.nPeriod2Hour, plan.nPeriod2Minute);
  const bool inFirst = first <= second ? (first <= t && t <= second) : (t <= second || t >= first);
  return inFirst ? kFirstPeriod : kSecondPeriod;
}

}  // namespace bplink::serial::vestra16
