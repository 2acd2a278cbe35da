// What a plan may contain and the alarm settings that go with it: the
// interval query of each device, with or without an interval table of its
// own, and the alarm limits and switch in both block layouts. Faults on the
// alarm exchanges are in faults_test.cpp.

#include <algorithm>
#include <cstring>
#include <optional>

#include "hid_bench.h"

namespace bplink::testing {
namespace {

using sim::HidAlarmLayout;
using sim::HidExchange;
using sim::HidFault;

const std::vector<int> kAny{5, 10, 15, 20, 30, 45, 60, 90, 120};
const std::vector<int> kRecorderDay{15, 30, 60, 120}, kRecorderNight{15, 30, 60, 120, 240};
const std::vector<int> kNoTable{15, 20, 30, 40, 60, 90, 120, 180, 240};
const std::vector<int> kTable{10, 25, 40, 255};

struct Row {
  BYTE identity, version;
  std::optional<std::vector<int>> table;  // what the device keeps
  std::vector<int> list1, list2;
  bool plan;        // the device's plan comes back
  int switchValue;  // -1: the switch is not read
  int result = 1;
  std::optional<std::pair<HidExchange, HidFault>> fault = std::nullopt;  // put on the monitor
};

const Row kRows[] = {
    {0x05, 2, kTable, kRecorderDay, kRecorderNight, false, -1},
    {0x05, 3, kTable, kTable, kTable, true, -1},
    {0x05, 4, kTable, kTable, kTable, true, 0x81},
    {0x05, 5, std::nullopt, kNoTable, kNoTable, true, 0x81},
    {0x05, 6, kTable, kRecorderDay, kRecorderNight, false, 0x81},
    {0x05, 7, kTable, kTable, kTable, true, 0x81},
    {0x03, 4, kTable, kTable, kTable, false, 0x81},  // a recorder that keeps no plan
    {0x51, 1, kTable, kTable, kTable, true, -1},
    {0x51, 1, std::vector<int>{}, {}, {}, true, -1},
    // A table that cannot be read counts as none; a plan that cannot be read
    // fails the query but hands over what the object holds.
    {0x51, 1, kTable, kNoTable, kNoTable, true, -1, 1, {{HidExchange::kIntervalFrame, HidFault::kWrongFirstByte}}},
    {0x51, 1, kTable, kNoTable, kNoTable, true, -1, 1, {{HidExchange::kIntervalFrame, HidFault::kDamaged}}},
    {0x51, 1, kTable, {}, {}, false, -1, 10, {{HidExchange::kPlanFrame, HidFault::kDamaged}}},
    {0x11, 4, kTable, kAny, kAny, false, 0x81},
    {0x31, 2, kTable, kAny, kAny, false, -1},
    {0x41, 1, kTable, kAny, kAny, false, -1},
};

TEST(HidIntervals, EachDeviceAnswersWithItsLists) {
  sim::HidPlan plan;
  plan.patient1 = "ON THE DEVICE";
  _BP_TRANSPORT_INFO planRead;  // as the host reads it: "none" comes back as 255
  std::strcpy(planRead.szPatientInfo1, "ON THE DEVICE");
  planRead.nExtraStartHour = planRead.nExtraStartMinute = planRead.nExtraInterval = 255;
  planRead.nExtraEndHour = planRead.nExtraEndMinute = 255;
  for (const Row& row : kRows) {
    SCOPED_TRACE(::testing::Message() << "identity " << int(row.identity) << " version " << int(row.version)
                                      << ", table of " << (row.table ? int(row.table->size()) : -1));
    HidBench bench(row.identity, row.version);
    auto& config = bench.monitor.Config();
    config.capability_a = config.capability_b = 0x20;  // offers data mode 6 besides its own
    config.warn_switch = 0x81;
    config.intervals = row.table;
    config.plan = sim::EncodePlan(plan);
    if (row.fault) bench.monitor.SetFault(row.fault->first, row.fault->second);
    for (int call = 0; call < 2; ++call) {  // a second call answers the same
      _UPLOAD_NEEDED_DATA data;
      data.vecInterval2 = {1};  // the host's leftovers are not kept
      data.Info.nPeriod1Hour = 3;
      ASSERT_EQ(bench.protocol.PC_DownloadBPInfoTimeInterval(data), row.result);
      EXPECT_EQ(std::tie(data.vecInterval1, data.vecInterval2), std::tie(row.list1, row.list2));
      EXPECT_EQ(std::tuple(data.nDataMode[DATAMODE_BP], data.nDataMode[DATAMODE_ZONE3]),
                std::tuple(row.identity == 0x41 ? 0 : 1, 1));
      _BP_TRANSPORT_INFO expected = row.plan ? planRead : _BP_TRANSPORT_INFO{};
      expected.nWarnSwitchInfo = std::max(row.switchValue, 0);
      EXPECT_EQ(data.Info, expected);
    }
    EXPECT_EQ(std::pair(bench.monitor.Served(HidExchange::kReadSwitch), bench.device.Closes()),
              std::pair(row.switchValue < 0 ? 0 : 2, 2));
    bench.ExpectUnderstood();
  }
}

// A failed identification leaves the answer untouched.
TEST(HidIntervals, AFailedIdentificationLeavesTheAnswerAlone) {
  HidBench silent(0x51);
  silent.monitor.SetFault(HidExchange::kDeviceInfo, HidFault::kSilent);
  _UPLOAD_NEEDED_DATA data;
  data.vecInterval1 = {42};
  EXPECT_EQ(silent.protocol.PC_DownloadBPInfoTimeInterval(data), 5);
  EXPECT_EQ(std::pair(data.vecInterval1, silent.device.Closes()), std::pair(std::vector<int>{42}, 1));
}

// Uploaded, as the monitor decodes it, then downloaded again, in the layout
// of each device.
TEST(HidAlarms, LimitsTravelInBothLayouts) {
  for (const auto& [identity, version, layout] : {std::tuple(0x51, 1, HidAlarmLayout::kLong),
                                                  std::tuple(0x31, 2, HidAlarmLayout::kShort),
                                                  std::tuple(0x31, 3, HidAlarmLayout::kLong)}) {
    SCOPED_TRACE(::testing::Message() << "identity " << identity << " version " << version);
    HidBench bench(identity, version);
    bench.monitor.Config().alarm_layout = layout;
    ASSERT_EQ(bench.protocol.GetDownLoadDataMode(nullptr), 1);
    _BP_TRANSPORT_INFO sent;
    sent.DayWarn = {1, 300, 95, 200, 45, 1000, 7};
    sent.NightWarn = {0x102, 135, 85, 180, 40, 65535, 2};  // a switch travels as its low byte
    bench.protocol.SetUpLoadData(sent);
    ASSERT_EQ(bench.protocol.PC_Upload(DATAMODE_BP), 1);
    // The short block carries four limits: the others keep their values
    // (0 in the monitor, the defaults in a downloaded plan).
    std::array<int, 6> day{300, 95, 200, 45, 1000, 7}, night{135, 85, 180, 40, 65535, 2};
    if (layout == HidAlarmLayout::kShort) day[4] = day[5] = night[4] = night[5] = 0;
    const auto& got = bench.monitor.Config().alarms;
    EXPECT_EQ(std::tuple(got.day.on, got.night.on, got.day.limits, got.night.limits), std::tuple(1, 2, day, night));
    ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 1);
    bench.ExpectUnderstood();
    const _BP_TRANSPORT_INFO info = bench.Fetch().Info;
    EXPECT_EQ(info.DayWarn, (_WARN_GROUP{1, day[0], day[1], day[2], day[3], day[4], day[5]}));
    EXPECT_EQ(info.NightWarn, (_WARN_GROUP{2, night[0], night[1], night[2], night[3], night[4], night[5]}));
  }
}

// Who is asked for what, by device type and version byte.
TEST(HidAlarms, DeviceTypeAndVersionDecideTheExchanges) {
  struct Case {
    BYTE identity, version;
    int alarmReads, alarmWrites, switchWrites, patientRequests;
  };
  const Case cases[] = {
      {0x51, 0, 1, 1, 0, 0},  // type 2: limits at any version
      {0x31, 1, 0, 0, 0, 0},  // type 4 before version 2: none
      {0x31, 2, 1, 1, 0, 0},
      {0x11, 3, 0, 0, 0, 0},  // type 3: the switch from version 4
      {0x11, 4, 0, 0, 1, 0},
      {0x05, 4, 0, 0, 1, 0},  // type 1: the switch from 4, the patient block from 5
      {0x05, 5, 0, 0, 1, 2},
      {0x21, 9, 0, 0, 0, 0},  // type 6: none
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "identity " << int(c.identity) << " version " << int(c.version));
    HidBench bench(c.identity, c.version);
    if (c.identity == 0x31 && c.version == 2) bench.monitor.Config().alarm_layout = HidAlarmLayout::kShort;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 1);
    EXPECT_EQ(std::ranges::count(bench.env.Sleeps(), 50u), c.alarmReads);  // the pause before the limits
    EXPECT_EQ(bench.protocol.PC_Upload(DATAMODE_BP), 1);
    ::testing::internal::GetCapturedStdout();
    const auto& m = bench.monitor;
    EXPECT_EQ(std::tuple(m.Served(HidExchange::kReadAlarms), m.Served(HidExchange::kWriteAlarms),
                         m.Served(HidExchange::kWriteSwitch), m.Served(HidExchange::kPatientRequest)),
              std::tuple(c.alarmReads, c.alarmWrites, c.switchWrites, c.patientRequests));
    bench.ExpectUnderstood();
  }
}

}  // namespace
}  // namespace bplink::testing
