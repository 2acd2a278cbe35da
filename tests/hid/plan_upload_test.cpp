// Plan upload: the plan block each device gets, and the exchange with its
// two acknowledged parts.

#include <cstring>

#include "hid_bench.h"

namespace bplink::testing {
namespace {

_BP_TRANSPORT_INFO SomePlan() {
  _BP_TRANSPORT_INFO plan;
  std::strcpy(plan.szPatientInfo1, "MAX MUSTER");
  std::strcpy(plan.szPatientInfo2, "B-2231");
  plan.nPeriod1Hour = 6, plan.nPeriod1Minute = 45, plan.nPeriod1Interval = 20;
  plan.nPeriod2Hour = 22, plan.nPeriod2Minute = 30, plan.nPeriod2Interval = 40;
  plan.nExtraStartHour = 14, plan.nExtraStartMinute = 0, plan.nExtraInterval = 5;
  plan.nExtraEndHour = 15, plan.nExtraEndMinute = 15;
  plan.nOption1 = 7, plan.nOption2 = 3, plan.nOption3 = 300, plan.nOption4 = 9;
  return plan;
}

// The whole block as the monitor received it, for every kind of device:
// bytes 59..66 depend on the device type, and "none" travels as 0xFF.
TEST(HidPlanUpload, EachDeviceGetsItsPlanBlock) {
  struct Row {
    BYTE identity;
    enum_DataMode mode;
    int model, option2, option1, option3, option4;  // bytes 59, 60, 61, 62-63, 66
    bool absent;                                    // periods and window left out
  };
  const Row rows[] = {
      {0x01, DATAMODE_BP, 0xFF, 0xFF, 0xFF, 0xFFFF, 0, false},  // type 1
      {0x5A, DATAMODE_BP, 0xFF, 0xFF, 0xFF, 0xFFFF, 0, false},  // type 2
      {0x11, DATAMODE_BP, 0x51, 3, 0, 0xFFFF, 0, false},        // type 3, blood pressure
      {0x11, DATAMODE_BP_SPO2, 0x52, 3, 0, 0xFFFF, 0, false},   // type 3, with SpO2
      {0x11, DATAMODE_BP_SET2, 0x00, 3, 0, 0xFFFF, 0, false},   // type 3, other modes
      {0x31, DATAMODE_BP, 0x00, 3, 7, 300, 9, false},           // type 4 keeps the options
      {0x31, DATAMODE_BP, 0x00, 3, 7, 300, 9, true},
      {0x2E, DATAMODE_BP, 0x00, 3, 0xFF, 0, 0, false},  // type 6
      {0x60, DATAMODE_BP, 0xFF, 0xFF, 0xFF, 0xFFFF, 0, false},  // unknown identity
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << "identity " << int(row.identity) << " mode " << row.mode);
    HidBench bench(row.identity);
    bench.env.SetLocalTime({2024, 2, 29, 23, 59, 58});
    ASSERT_EQ(bench.protocol.GetDownLoadDataMode(nullptr), 1);
    _BP_TRANSPORT_INFO plan = SomePlan();
    sim::HidPlan expected{"MAX MUSTER", "B-2231", {2024, 2, 29, 23, 59, 58}, 6, 45, 20, 22, 30, 40, 14, 0, 5, 15, 15,
                          row.model, row.option2, row.option1, row.option3, row.option4};
    if (row.absent) {
      plan.nPeriod1Interval = 0, plan.nPeriod2Interval = -5, plan.nExtraInterval = 0;
      plan.nExtraStartHour = -1, plan.nExtraEndHour = -1, plan.nExtraEndMinute = -1;
      expected.day_interval = expected.night_interval = expected.extra_interval = 0xFF;
      expected.extra_start_hour = expected.extra_end_hour = expected.extra_end_minute = 0xFF;
    }
    bench.protocol.SetUpLoadData(plan);
    ASSERT_EQ(bench.protocol.PC_Upload(row.mode), 1);
    EXPECT_EQ(bench.state, 3);
    EXPECT_EQ(bench.monitor.Uploads(), std::vector{sim::EncodePlan(expected)});
    // Recorders, and only they, are told that the session ends.
    EXPECT_EQ(bench.monitor.SessionsEnded(), row.identity <= 0x0F ? 1 : 0);
    bench.ExpectUnderstood();
  }
}

// A recorder: the request, the two parts, then the end of the session, with
// the pauses and the progress the host sees at each reply.
TEST(HidPlanUpload, ARecorderUploadIsThisExchange) {
  ScriptedBench bench;
  bench.Identify(0x05, 0x02, 0x80);
  bench.Accept({0x43, 0x05, 0x02, 0x01, 0x01, 0x00});
  bench.dev.ExpectSendAny(64).Reply({0x4A, 0x44, 0x01, 0x00});
  bench.dev.ExpectSendAny(18).Reply({0x4A, 0x44, 0x01, 0x00});
  bench.Accept({0x4B, 0x05, 0x01, 0x00, 0x00, 0x00});

  std::vector<int> progressAtRead;
  bench.dev.OnRecv([&](int) { progressAtRead.push_back(bench.progress); });
  ASSERT_EQ(bench.protocol.GetDownLoadDataMode(nullptr), 1);
  bench.protocol.SetUpLoadData(SomePlan());
  ASSERT_EQ(bench.protocol.PC_Upload(DATAMODE_BP), 1);

  bench.ExpectScriptPlayed();
  EXPECT_EQ(bench.env.Sleeps(), (std::vector<unsigned>{100, 100, 50, 100}));
  EXPECT_EQ(progressAtRead, (std::vector<int>{-1, -1, 40, 50, 70, 99}));
  EXPECT_EQ(std::tuple(bench.progress, bench.stage, bench.state), std::tuple(100, TRANSPORT_PLAN_UPLOAD, 3));
}

}  // namespace
}  // namespace bplink::testing
