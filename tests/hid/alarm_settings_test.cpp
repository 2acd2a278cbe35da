// Alarm limits and the alarm switch: both block layouts, and which devices
// take part in which exchange.

#include "hid_bench.h"

namespace bplink::testing {
namespace {

using sim::HidExchange;
using sim::HidFault;

_BP_TRANSPORT_INFO PlanWithAlarms() {
  _BP_TRANSPORT_INFO plan;
  plan.DayWarn = {1, 300, 95, 200, 45, 1000, 7};
  plan.NightWarn = {0, 135, 85, 180, 40, 65535, 2};
  plan.nWarnSwitchInfo = 0x3C;
  return plan;
}

// Uploaded and then downloaded again, in the layout of each device.
TEST(HidAlarms, LimitsRoundTripInBothLayouts) {
  struct Case {
    BYTE identity, version;
    sim::HidAlarmLayout layout;
  };
  for (const Case& c : {Case{0x51, 1, sim::HidAlarmLayout::kLong}, Case{0x31, 2, sim::HidAlarmLayout::kShort},
                        Case{0x31, 3, sim::HidAlarmLayout::kLong}}) {
    SCOPED_TRACE(::testing::Message() << "identity " << int(c.identity) << " version " << int(c.version));
    HidBench bench(c.identity);
    bench.monitor.Config().version = c.version;
    bench.monitor.Config().alarm_layout = c.layout;
    ASSERT_EQ(bench.protocol.GetDownLoadDataMode(nullptr), 1);
    const _BP_TRANSPORT_INFO sent = PlanWithAlarms();
    bench.protocol.SetUpLoadData(sent);
    ASSERT_EQ(bench.protocol.PC_Upload(DATAMODE_BP), 1);
    EXPECT_EQ(bench.monitor.Config().alarms.day.limits[0], 300);

    ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 1);
    EXPECT_TRUE(bench.monitor.Complaints().empty()) << bench.monitor.Complaints().front();
    _BP_TRANSPORT_INFO got = bench.Fetch().Info;
    if (c.layout == sim::HidAlarmLayout::kShort) {
      // The short block does not carry limits 5 and 6: they keep their values.
      EXPECT_EQ(got.DayWarn.nLimit5, 0);
      EXPECT_EQ(got.NightWarn.nLimit6, 0);
      got.DayWarn.nLimit5 = 1000, got.DayWarn.nLimit6 = 7;
      got.NightWarn.nLimit5 = 65535, got.NightWarn.nLimit6 = 2;
    }
    EXPECT_EQ(got.DayWarn, sent.DayWarn);
    EXPECT_EQ(got.NightWarn, sent.NightWarn);
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
    HidBench bench(c.identity);
    bench.monitor.Config().version = c.version;
    bench.monitor.Config().alarm_layout = c.identity == 0x31 && c.version == 2 ? sim::HidAlarmLayout::kShort
                                                                                : sim::HidAlarmLayout::kLong;
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 1);
    ASSERT_EQ(bench.protocol.PC_Upload(DATAMODE_BP), 1);
    ::testing::internal::GetCapturedStdout();
    const auto& m = bench.monitor;
    EXPECT_EQ(m.Served(HidExchange::kReadAlarms), c.alarmReads);
    EXPECT_EQ(m.Served(HidExchange::kWriteAlarms), c.alarmWrites);
    EXPECT_EQ(m.Served(HidExchange::kWriteSwitch), c.switchWrites);
    EXPECT_EQ(m.Served(HidExchange::kPatientRequest), c.patientRequests);
    EXPECT_TRUE(m.Complaints().empty()) << m.Complaints().front();
  }
}

TEST(HidAlarms, FailuresLeaveThePlanRecordAlone) {
  struct Case {
    HidExchange where;
    HidFault fault;
    bool upload;
    int result;
  };
  const Case cases[] = {
      {HidExchange::kAlarmFrame, HidFault::kWrongFirstByte, false, 7},  // a frame beginning 0x4E
      {HidExchange::kAlarmFrame, HidFault::kDamaged, false, 5},
      {HidExchange::kAlarmFrame, HidFault::kSilent, false, 5},
      {HidExchange::kReadAlarms, HidFault::kWrongStatus, false, 7},
      {HidExchange::kWriteAlarms, HidFault::kWrongStatus, true, 5},  // a refused upload is 5, not 7
      {HidExchange::kWriteAlarms, HidFault::kSilent, true, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "exchange " << int(c.where) << " fault " << int(c.fault));
    HidBench bench(0x51);
    bench.monitor.Config().alarms.day = {1, {180, 110, 0, 0, 0, 0}};
    bench.monitor.SetFault(c.where, c.fault);
    ASSERT_EQ(bench.protocol.GetDownLoadDataMode(nullptr), 1);
    const int r = c.upload ? bench.protocol.PC_Upload(DATAMODE_BP) : bench.protocol.PC_Download(DATAMODE_BP);
    EXPECT_EQ(r, c.result);
    EXPECT_EQ(bench.state, 2);
    EXPECT_EQ(bench.Fetch().Info.DayWarn, kDefaultDayWarn);
    EXPECT_EQ(bench.monitor.Config().alarms.day.limits[0], 180);
  }
}

}  // namespace
}  // namespace bplink::testing
