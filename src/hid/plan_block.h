// The 70-byte plan block: what a device stores as its measurement plan,
// read by the plan download and written by the plan upload. Single bytes are
// unsigned; wire::kUnset (0xFF) stands for "none" in the interval and window
// fields.
#pragma once

#include <bplink/wintypes.h>

#include "hid/frames.h"

namespace bplink::hid {

inline constexpr DWORD kPlanLength = 70;
inline constexpr DWORD kPlanFrameLength = DataFrameLength(kPlanLength);  // 82

inline constexpr DWORD kPlanPatient1At = 0;
inline constexpr DWORD kPlanPatient1Length = 30;
inline constexpr DWORD kPlanPatient2At = 30;
inline constexpr DWORD kPlanPatient2Length = 11;
// Date and time: year (2), month, day, hour, minute (as wire::PutClock writes them), second.
inline constexpr DWORD kPlanYearAt = 41;  // 16 bits
inline constexpr DWORD kPlanMonthAt = 43;
inline constexpr DWORD kPlanDayAt = 44;
inline constexpr DWORD kPlanHourAt = 45;
inline constexpr DWORD kPlanMinuteAt = 46;
inline constexpr DWORD kPlanSecondAt = 47;
inline constexpr DWORD kPlanPeriod1HourAt = 48;
inline constexpr DWORD kPlanPeriod1MinuteAt = 49;
inline constexpr DWORD kPlanPeriod1IntervalAt = 50;
inline constexpr DWORD kPlanPeriod2HourAt = 51;
inline constexpr DWORD kPlanPeriod2MinuteAt = 52;
inline constexpr DWORD kPlanPeriod2IntervalAt = 53;
inline constexpr DWORD kPlanExtraStartHourAt = 54;
inline constexpr DWORD kPlanExtraStartMinuteAt = 55;
inline constexpr DWORD kPlanExtraIntervalAt = 56;
inline constexpr DWORD kPlanExtraEndHourAt = 57;
inline constexpr DWORD kPlanExtraEndMinuteAt = 58;
// Device-identity bytes: what they carry depends on the device type.
inline constexpr DWORD kPlanModelAt = 59;
inline constexpr DWORD kPlanOption2At = 60;
inline constexpr DWORD kPlanOption1At = 61;
inline constexpr DWORD kPlanOption3At = 62;  // 16 bits
inline constexpr DWORD kPlanOption4At = 66;

}  // namespace bplink::hid
