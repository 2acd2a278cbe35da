#include "synthetic_download.h"

#include <cstring>

namespace {

constexpr int kDayStart = 7 * 60;
constexpr int kNightStart = 22 * 60;

bool AtNight(const bplink::CalendarTime& t) {
  const int minute = t.hour * 60 + t.minute;
  return minute >= kNightStart || minute < kDayStart;
}

}  // namespace

SyntheticDownload RecorderDownload() {
  SyntheticDownload d;
  d.device = {1, 1, 255, 2, 5};  // ambulatory recorder on HID
  _BP_TRANSPORT_INFO& plan = d.data.Info;
  std::strcpy(plan.szPatientInfo1, "Test <Patient>");
  std::strcpy(plan.szPatientInfo2, "ID 0042");
  plan.nPeriod1Hour = kDayStart / 60;
  plan.nPeriod1Interval = 30;
  plan.nPeriod2Hour = kNightStart / 60;
  plan.nPeriod2Interval = 60;

  bplink::CalendarTime t{2024, 3, 4, 9, 0, 0};
  const bplink::CalendarTime end{2024, 3, 5, 9, 0, 0};
  for (int i = 0; bplink::SecondsBetween(t, end) >= 0; ++i) {
    const bool night = AtNight(t);
    _BP_RECORD r;
    r.nYear = t.year;
    r.wMonth = static_cast<short>(t.month);
    r.wDay = static_cast<short>(t.day);
    r.wHour = static_cast<short>(t.hour);
    r.wMinute = static_cast<short>(t.minute);
    r.nSys = 132 + (i * 7) % 13 - 6 - (night ? 16 : 0);
    const short dia = static_cast<short>(83 + (i * 5) % 9 - 4 - (night ? 9 : 0));
    const short map = static_cast<short>(dia + (r.nSys - dia) / 3);
    // The families store diastolic and mean in either order.
    r.wPress2 = i % 3 ? map : dia;
    r.wPress3 = i % 3 ? dia : map;
    r.wPulseRate = static_cast<short>(night ? 62 : 75 + i % 5);
    d.data.BPSet.vecRecords.push_back(r);
    t = bplink::AddMinutes(t, night ? plan.nPeriod2Interval : plan.nPeriod1Interval);
  }
  auto& records = d.data.BPSet.vecRecords;
  records[4].wStatus = 1;
  records[4].bValid = 0;
  records[30].wStatus = 2;
  records[30].bValid = 0;
  d.marked_invalid = 2;
  records[10].nSys = 251;
  d.artifacts = 1;
  records[12].wPulseRate = 0;
  d.data.BPSet.Head.nCount = static_cast<int>(records.size());
  return d;
}

_SPO2_DATASET OximetrySamples(int count) {
  _SPO2_DATASET set;
  set.Head = {count, 2024, 3, 4, 23, 0, 0, 0};
  for (int i = 0; i < count; ++i)
    set.vecRecords.push_back({static_cast<BYTE>(93 + i % 5), static_cast<BYTE>(60 + i % 7), i * 4});
  return set;
}
