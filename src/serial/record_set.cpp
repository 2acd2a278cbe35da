#include "serial/record_set.h"

namespace bplink::serial {

void HeadFromFirstRecord(_BP_DATASET& set) {
  if (set.vecRecords.empty()) return;
  const _BP_RECORD& first = set.vecRecords.front();
  set.Head.nCount = static_cast<int>(set.vecRecords.size());
  set.Head.nYear = first.nYear;
  set.Head.nMonth = first.wMonth;
  set.Head.nDay = first.wDay;
  set.Head.nHour = first.wHour;
  set.Head.nMinute = first.wMinute;
  set.Head.nSecond = first.wSecond;
}

}  // namespace bplink::serial
