// What every family does alike to the measurement records it decodes: the
// statuses that mark a usable measurement, a computed time written into a
// record, and a data set's header taken from its records.
#pragma once

#include <bplink/env.h>
#include <bplink/records.h>

namespace bplink {

// The devices store 0 with a measurement that worked at once and 3 with one
// that worked on a retry; every other status marks a failed measurement.
constexpr bool IsUsableStatus(int status) { return status == 0 || status == 3; }

inline CalendarTime RecordTime(const _BP_RECORD& record) {
  return {record.nYear, record.wMonth, record.wDay, record.wHour, record.wMinute, record.wSecond};
}

inline void SetRecordTime(_BP_RECORD& record, const CalendarTime& time) {
  record.nYear = time.year;
  record.wMonth = static_cast<short>(time.month);
  record.wDay = static_cast<short>(time.day);
  record.wHour = static_cast<short>(time.hour);
  record.wMinute = static_cast<short>(time.minute);
  record.wSecond = static_cast<short>(time.second);
}

// The date and time fields of a data set's header or of a plan, which
// spell them alike.
template <typename Fields>
void SetTimeFields(Fields& fields, const CalendarTime& t) {
  fields.nYear = t.year;
  fields.nMonth = t.month;
  fields.nDay = t.day;
  fields.nHour = t.hour;
  fields.nMinute = t.minute;
  fields.nSecond = t.second;
}

// The serial devices announce no recording start of their own: after a
// download the set's header counts the records it holds and starts at its
// first record. Nothing changes for an empty set.
inline void HeadFromFirstRecord(_BP_DATASET& set) {
  if (set.vecRecords.empty()) return;
  set.Head.nCount = static_cast<int>(set.vecRecords.size());
  SetTimeFields(set.Head, RecordTime(set.vecRecords.front()));
}

}  // namespace bplink
