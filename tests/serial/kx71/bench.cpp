#include "bench.h"

namespace kx71test {

std::vector<Kx71Reading> Readings(int count, const bplink::CalendarTime& start, int sysBase) {
  std::vector<Kx71Reading> readings;
  for (int i = 0; i < count; ++i) {
    Kx71Reading r;
    r.time = bplink::AddMinutes(start, 30 * i);
    r.sys = sysBase + 3 * i;  // crosses 128 and 256
    r.map = 0x1FF - i;
    r.dia = 70 + i;
    r.pulse = 0x80 + i;
    r.status = i % 3 == 2 ? 2 : (i % 2 == 0 ? 0 : 3);
    readings.push_back(r);
  }
  return readings;
}

_BP_RECORD Expected(const Kx71Reading& r) {
  _BP_RECORD e;
  e.nYear = r.time.year;
  e.wMonth = static_cast<short>(r.time.month);
  e.wDay = static_cast<short>(r.time.day);
  e.wHour = static_cast<short>(r.time.hour);
  e.wMinute = static_cast<short>(r.time.minute);
  e.nSys = r.sys;
  e.wPress3 = static_cast<short>(r.map);
  e.wPress2 = static_cast<short>(r.dia);
  e.wPulseRate = static_cast<short>(r.pulse);
  e.wStatus = static_cast<short>(r.status);
  e.bValid = r.status == 0 || r.status == 3 ? 1 : 0;
  return e;
}

std::vector<_BP_RECORD> Expected(const std::vector<Kx71Reading>& readings) {
  std::vector<_BP_RECORD> records;
  for (const Kx71Reading& r : readings) records.push_back(Expected(r));
  return records;
}

std::vector<Kx71Group> TwoGroups(int primaryCount, int secondaryCount) {
  const bplink::CalendarTime day1{2025, 12, 31, 23, 45, 0};
  const bplink::CalendarTime day2{2026, 2, 28, 8, 0, 0};
  return {Kx71Group{false, day2, Readings(secondaryCount, day2, 250)},
          Kx71Group{true, day1, Readings(primaryCount, day1, 120)}};
}

Bench::Bench() {
  env.SetPortNames({L"ttyS0", L"ttyS1", L"ttyS2"});
  env.SetOpenablePaths({L"/dev/ttyS0", L"/dev/ttyS2"});
  device.AttachPort(L"/dev/ttyS0", nullptr);
  device.AttachPort(L"/dev/ttyS2", &recorder);
  protocol.SetDevice(&device, false);
  protocol.SetProgressInfo(&progress, &state, &stage);
}

_DOWNLOAD_DATAINFO Bench::Fetch() {
  _DOWNLOAD_DATAINFO info;
  protocol.GetDownLoadData(&info);
  return info;
}

}  // namespace kx71test
