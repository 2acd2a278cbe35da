// Plan uploads to the simulated monitor: the block of each mode, the period
// code, read-back by a download, and unconfirmed bytes.

#include <algorithm>
#include <cstring>

#include "kv32_bench.h"

namespace {

using namespace bplink::testing;
using bplink::CalendarTime;
using Kv32Exchange = bplink::sim::kv32::Exchange;
using Kv32Fault = bplink::sim::kv32::Fault;
using Kv32PlanBlock = bplink::sim::kv32::PlanBlock;

_BP_TRANSPORT_INFO Plan() {
  _BP_TRANSPORT_INFO plan;
  std::strcpy(plan.szPatientInfo1, "Grace Hopper");
  std::strcpy(plan.szPatientInfo2, "ID-1906");
  plan.nPeriod1Hour = 6, plan.nPeriod1Minute = 30, plan.nPeriod1Interval = 20;
  plan.nPeriod2Hour = 21, plan.nPeriod2Minute = 45, plan.nPeriod2Interval = 0;
  plan.nExtraStartHour = 22, plan.nExtraStartMinute = 0, plan.nExtraInterval = 15;
  plan.nExtraEndHour = 6, plan.nExtraEndMinute = 0;
  return plan;
}

Kv32PlanBlock Upload(Kv32Bench& bench, const _BP_TRANSPORT_INFO& plan, enum_DataMode mode) {
  bench.protocol.SetUpLoadData(plan);
  EXPECT_EQ(bench.protocol.PC_Upload(mode), 1);
  EXPECT_EQ(bench.state, bplink::kStateSucceeded);
  EXPECT_EQ(bench.stage, TRANSPORT_PLAN_UPLOAD);
  EXPECT_EQ(bench.progress, 98);
  EXPECT_FALSE(bench.device.IsOpen());
  return bench.monitor.Uploads().empty() ? Kv32PlanBlock{} : bench.monitor.Uploads().back();
}

TEST(Kv32Upload, Mode1BlockReadsBackWhereItCarriesThePlan) {
  Kv32Bench bench;
  bench.env.SetLocalTime({2024, 12, 31, 23, 58, 41});  // recording starts next year
  bench.monitor.Config().readings.push_back(ReadingAt({2024, 1, 1, 8, 0, 0}));
  const Kv32PlanBlock b = Upload(bench, Plan(), DATAMODE_BP);
  EXPECT_EQ(Bytes(b.begin() + 41, b.begin() + 53),
            (Bytes{0x07, 0xE8, 12, 31, 23, 58, 0x07, 0xE9, 1, 1, 0, 3}));
  EXPECT_EQ(b[56], 1);     // option 2
  EXPECT_EQ(b[62], 0xFF);  // an interval of 0
  EXPECT_EQ(b[69], 3);     // 00:03 lies in the extra window that wraps past midnight
  EXPECT_EQ(b[70], 'Q');

  ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 1);
  const auto data = bench.Fetch();
  _BP_TRANSPORT_INFO expected = Plan();
  expected.nPeriod2Interval = 0xFF;
  expected.nOption1 = 0xFF;  // not in the block: the monitor's "none"
  expected.nYear = 2025, expected.nMonth = 1, expected.nDay = 1;
  expected.nHour = 0, expected.nMinute = 3, expected.nSecond = 0;
  EXPECT_EQ(data.Info, expected);
  EXPECT_TRUE(data.BPSet.vecRecords.empty());  // a new plan starts a new recording
}

TEST(Kv32Upload, Mode2BlockCarriesTextsAndClockOnly) {
  Kv32Bench bench;
  bench.env.SetLocalTime({2024, 6, 1, 9, 15, 42});
  const Kv32PlanBlock b = Upload(bench, Plan(), DATAMODE_BP_SPO2);
  const CalendarTime now = bench.env.LocalTime();  // the clock moved during the port search
  EXPECT_EQ(Bytes(b.begin() + 41, b.begin() + 48), (Bytes{0x07, 0xE8, 6, 1, 9, 15, BYTE(now.second)}));
  EXPECT_EQ(Bytes(b.begin() + 48, b.begin() + 70), Bytes(22, 0));
  EXPECT_EQ(b[70], 'R');

  ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP_SPO2), 1);
  const auto info = bench.Fetch().Info;
  EXPECT_STREQ(info.szPatientInfo1, "Grace Hopper");
  EXPECT_STREQ(info.szPatientInfo2, "ID-1906");
  EXPECT_EQ(PlanStart(info), now);
}

struct PeriodCase {
  int extraFrom, extraTo;  // hours; -1: no extra window
  int firstHour, secondHour;
  int startHour, startMinute;  // of the recording, five minutes after the upload
  int code;
};

TEST(Kv32Upload, PeriodCodeNamesWhereTheRecordingStarts) {
  const PeriodCase cases[] = {
      {22, 6, 7, 22, 1, 0, 3},    // inside a window that wraps past midnight
      {22, 6, 7, 22, 23, 0, 2},   // before its midnight: the periods decide
      {-1, -1, 7, 22, 12, 0, 1},  {-1, -1, 7, 22, 23, 30, 2},
      {-1, -1, 22, 7, 2, 0, 1},   {-1, -1, 22, 7, 12, 0, 2},  // first period wraps
      {10, 14, 7, 22, 14, 0, 3},
  };
  for (const PeriodCase& c : cases) {
    Kv32Bench bench;
    bench.env.SetLocalTime(bplink::AddMinutes({2024, 5, 5, c.startHour, c.startMinute, 0}, -5));
    _BP_TRANSPORT_INFO plan;
    plan.nExtraStartHour = c.extraFrom, plan.nExtraEndHour = c.extraTo;
    plan.nExtraStartMinute = plan.nExtraEndMinute = c.extraFrom < 0 ? -1 : 0;
    plan.nPeriod1Hour = c.firstHour, plan.nPeriod2Hour = c.secondHour;
    EXPECT_EQ(Upload(bench, plan, DATAMODE_BP)[69], c.code) << c.startHour << ":" << c.startMinute;
  }
}

TEST(Kv32Upload, ConfirmationsAreWaitedForTenTimes) {
  Kv32Bench late;
  late.monitor.SetFault(Kv32Exchange::kPlanByte, Kv32Fault::kNoise, 3);
  Upload(late, Plan(), DATAMODE_BP);
  const auto& sleeps = late.env.Sleeps();
  EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 100u), 2 + 3);  // two port probes, three retries

  Kv32Bench silent;
  silent.monitor.SetFault(Kv32Exchange::kPlanByte, Kv32Fault::kNoEcho);
  silent.protocol.SetUpLoadData(Plan());
  EXPECT_EQ(silent.protocol.PC_Upload(DATAMODE_BP), 5);
  EXPECT_EQ(silent.state, bplink::kStateFailed);
  EXPECT_FALSE(silent.device.IsOpen());
  EXPECT_TRUE(silent.monitor.Uploads().empty());
  const auto& waited = silent.env.Sleeps();
  EXPECT_EQ(std::count(waited.begin(), waited.end(), 100u), 2 + 10);

  Kv32Bench absent;
  absent.monitor.SetFault(Kv32Exchange::kUpload, Kv32Fault::kNoEcho);
  EXPECT_EQ(absent.protocol.PC_Upload(DATAMODE_BP), 2);
}

}  // namespace
