// Writing a computed calendar time into a measurement record, the one step
// every family that dates records by arithmetic shares.
#pragma once

#include <bplink/env.h>
#include <bplink/records.h>

namespace bplink {

inline void SetRecordTime(_BP_RECORD& record, const CalendarTime& time) {
  record.nYear = time.year;
  record.wMonth = static_cast<short>(time.month);
  record.wDay = static_cast<short>(time.day);
  record.wHour = static_cast<short>(time.hour);
  record.wMinute = static_cast<short>(time.minute);
  record.wSecond = static_cast<short>(time.second);
}

}  // namespace bplink
