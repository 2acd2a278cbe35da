// The interval query: what each device answers, with or without an
// interval table of its own.

#include "hid_bench.h"

namespace bplink::testing {
namespace {

using sim::HidExchange;
using sim::HidFault;

const std::vector<int> kAny{5, 10, 15, 20, 30, 45, 60, 90, 120};
const std::vector<int> kRecorderDay{15, 30, 60, 120}, kRecorderNight{15, 30, 60, 120, 240};
const std::vector<int> kNoTable{15, 20, 30, 40, 60, 90, 120, 180, 240};
const std::vector<int> kTable{10, 25, 40, 255};

struct Row {
  BYTE identity, version;
  bool hasTable;
  std::vector<int> list1, list2;
  bool plan;      // the device's plan comes back
  int switchValue;  // -1: the switch is not read
};

const Row kRows[] = {
    {0x05, 2, true, kRecorderDay, kRecorderNight, false, -1},
    {0x05, 3, true, kTable, kTable, true, -1},
    {0x05, 4, true, kTable, kTable, true, 0x81},
    {0x05, 5, false, kNoTable, kNoTable, true, 0x81},
    {0x05, 6, true, kRecorderDay, kRecorderNight, false, 0x81},
    {0x05, 7, true, kTable, kTable, true, 0x81},
    {0x03, 4, true, kTable, kTable, false, 0x81},  // a recorder that keeps no plan
    {0x51, 1, true, kTable, kTable, true, -1},
    {0x51, 1, false, kNoTable, kNoTable, true, -1},
    {0x11, 4, true, kAny, kAny, false, 0x81},
    {0x31, 2, true, kAny, kAny, false, -1},
    {0x41, 1, true, kAny, kAny, false, -1},
    {0x21, 1, true, kAny, kAny, false, -1},
};

TEST(HidIntervals, EachDeviceAnswersWithItsLists) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(::testing::Message() << "identity " << int(row.identity) << " version " << int(row.version)
                                      << (row.hasTable ? "" : ", no table"));
    HidBench bench(row.identity);
    auto& config = bench.monitor.Config();
    config.version = row.version;
    config.capability_a = config.capability_b = 0x20;  // offers data mode 6 besides its own
    config.warn_switch = 0x81;
    if (row.hasTable) config.intervals = kTable;
    sim::HidPlan plan;
    plan.patient1 = "ON THE DEVICE";
    config.plan = sim::EncodePlan(plan);

    for (int call = 0; call < 2; ++call) {  // a second call answers the same
      _UPLOAD_NEEDED_DATA data;
      data.vecInterval2 = {1};
      ASSERT_EQ(bench.protocol.PC_DownloadBPInfoTimeInterval(data), 1);
      EXPECT_EQ(data.vecInterval1, row.list1);
      EXPECT_EQ(data.vecInterval2, row.list2);
      EXPECT_EQ(std::string(data.Info.szPatientInfo1), row.plan ? plan.patient1 : "");
      EXPECT_EQ(data.Info.nWarnSwitchInfo, std::max(row.switchValue, 0));
      EXPECT_EQ(data.nDataMode[DATAMODE_ZONE3], 1);
      EXPECT_EQ(data.nDataMode[DATAMODE_BP], row.identity == 0x41 ? 0 : 1);
      _BP_TRANSPORT_INFO rest = data.Info;
      std::fill(std::begin(rest.szPatientInfo1), std::end(rest.szPatientInfo1), '\0');
      rest.nWarnSwitchInfo = 0;
      if (!row.plan) {
        EXPECT_EQ(rest, _BP_TRANSPORT_INFO{});
      }
    }
    EXPECT_EQ(bench.monitor.Served(HidExchange::kReadSwitch), row.switchValue < 0 ? 0 : 2);
    EXPECT_EQ(bench.device.Closes(), 2);
    EXPECT_TRUE(bench.monitor.Complaints().empty()) << bench.monitor.Complaints().front();
  }
}

TEST(HidIntervals, AnEmptyTableGivesEmptyLists) {
  HidBench bench(0x51);
  bench.monitor.Config().intervals = std::vector<int>{};
  _UPLOAD_NEEDED_DATA data;
  ASSERT_EQ(bench.protocol.PC_DownloadBPInfoTimeInterval(data), 1);
  EXPECT_TRUE(data.vecInterval1.empty());
  EXPECT_TRUE(data.vecInterval2.empty());
}

// A table that cannot be read counts as none; a plan that cannot be read
// fails the query but hands over what the object holds.
TEST(HidIntervals, FailuresOnTheWay) {
  struct Case {
    HidExchange where;
    HidFault fault;
    int result;
    std::vector<int> list;
  };
  const Case cases[] = {
      {HidExchange::kIntervalFrame, HidFault::kWrongFirstByte, 1, kNoTable},
      {HidExchange::kIntervalFrame, HidFault::kDamaged, 1, kNoTable},
      {HidExchange::kReadIntervals, HidFault::kSilent, 1, kNoTable},
      {HidExchange::kPlanFrame, HidFault::kDamaged, 10, {}},
      {HidExchange::kReadPlan, HidFault::kWrongStatus, 7, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    HidBench bench(0x51);
    bench.monitor.Config().intervals = kTable;
    bench.monitor.SetFault(c.where, c.fault);
    _UPLOAD_NEEDED_DATA data;
    EXPECT_EQ(bench.protocol.PC_DownloadBPInfoTimeInterval(data), c.result);
    EXPECT_EQ(data.vecInterval1, c.list);
    EXPECT_EQ(data.vecInterval2, c.list);
  }

  // A failed identification leaves the answer untouched.
  HidBench silent(0x51);
  silent.monitor.SetFault(HidExchange::kDeviceInfo, HidFault::kSilent);
  _UPLOAD_NEEDED_DATA data;
  data.vecInterval1 = {42};
  EXPECT_EQ(silent.protocol.PC_DownloadBPInfoTimeInterval(data), 5);
  EXPECT_EQ(data.vecInterval1, std::vector<int>{42});
  EXPECT_EQ(silent.device.Closes(), 1);
}

}  // namespace
}  // namespace bplink::testing
