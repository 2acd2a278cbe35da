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

inline constexpr DWORD kPlanPatientTextsAt = 0;  // wire::PutPatientTexts
// Date and time: year (2), month, day, hour, minute (wire::PutClock), second.
inline constexpr DWORD kPlanClockAt = 41;
inline constexpr DWORD kPlanSecondAt = 47;
inline constexpr DWORD kPlanPeriodsAt = 48;  // wire::PutPeriods
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
