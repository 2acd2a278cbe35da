// What the VESTRA18 tests share: stores of readings, the sets the host should
// make of them, and the check that every mode reads its stores.
#pragma once

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <vector>

#include "vestra18/model.h"

namespace bplink::testing {

using Vestra18Reading = sim::vestra18::Reading;

// A quarter of an hour apart from 2024-03-15 08:30, a day later per store;
// store 2's systolic values pass 255; the statuses mix usable and unusable.
inline std::vector<Vestra18Reading> Readings(int store, int count) {
  constexpr int kStatuses[] = {1, 0, 3, 2};
  std::vector<Vestra18Reading> readings;
  for (int i = 0; i < count; ++i)
    readings.push_back({AddMinutes({2024, 3, 15, 8, 30, 0}, store * 24 * 60 + i * 15),
                        100 + 60 * store + 7 * i, 60 + i, 70 + i, 80 + i, kStatuses[i % 4]});
  return readings;
}

// This family flags unusable measurements with status 0 or 3.
inline _BP_DATASET ExpectedSet(const std::vector<Vestra18Reading>& readings) {
  _BP_DATASET set;
  for (const Vestra18Reading& r : readings) {
    const CalendarTime& t = r.time;
    set.vecRecords.push_back({.nYear = t.year, .wMonth = short(t.month), .wDay = short(t.day),
                              .wHour = short(t.hour), .wMinute = short(t.minute), .nSys = r.sys,
                              .wPress2 = short(r.press2), .wPress3 = short(r.press3),
                              .wPulseRate = short(r.pulse), .wStatus = short(r.status),
                              .bValid = r.status == 0 || r.status == 3 ? 0 : 1, .strNote = {}});
  }
  if (!readings.empty()) {
    const CalendarTime& t = readings.front().time;
    set.Head = {int(readings.size()), t.year, t.month, t.day, t.hour, t.minute, 0, 0};
  }
  return set;
}

// A protocol object bound to a device, with the host's progress variables.
struct Vestra18Host {
  Vestra18Host(CDevice& device, bool hostOpened) {
    protocol.SetDevice(&device, hostOpened);
    protocol.SetProgressInfo(&progress, &state, &stage);
  }
  CProtocolCOMVESTRA18 protocol;
  int progress = -1, state = 0;
  enum_TransportType stage = TRANSPORT_BP_MODE0;
};

// The three sets a type-5 download hands out; the plan's storage is left alone.
inline std::vector<_BP_DATASET> Zones(CProtocolCOMVESTRA18& protocol) {
  _DOWNLOAD_DATAINFO info;
  info.Info.nPatientInfo5 = 77;
  EXPECT_EQ(protocol.GetDownLoadData(&info), 1);
  EXPECT_EQ(info.Info.nPatientInfo5, 77);
  return {info.ZoneSet1, info.ZoneSet2, info.ZoneSet3};
}

// Modes 4, 5, 6 read one store each, mode 7 all three. `each` runs after
// every download with the number of records read.
template <typename Check>
void ExpectEveryModeReadsItsStores(CProtocolCOMVESTRA18& protocol, const sim::vestra18::MonitorConfig& config,
                                   const int& state, Check each) {
  const std::vector<std::vector<int>> storesOfMode = {{0}, {1}, {2}, {0, 1, 2}};
  for (int m = 0; m < 4; ++m) {
    SCOPED_TRACE(m + DATAMODE_ZONE1);
    EXPECT_EQ(protocol.PC_Download(enum_DataMode(m + DATAMODE_ZONE1)), 1);
    EXPECT_EQ(state, kStateSucceeded);
    std::vector<_BP_DATASET> expected(3);
    int records = 0;
    for (int s : storesOfMode[m]) {
      expected[s] = ExpectedSet(config.stores[s]);
      records += int(config.stores[s].size());
    }
    EXPECT_EQ(Zones(protocol), expected);
    each(records);
  }
}

}  // namespace bplink::testing
