// Plan upload: what the plan block carries for each device, and the
// exchange with its two acknowledged parts.

#include <cstdio>

#include "hid_bench.h"

namespace bplink::testing {
namespace {

_BP_TRANSPORT_INFO SomePlan() {
  _BP_TRANSPORT_INFO plan;
  std::snprintf(plan.szPatientInfo1, sizeof plan.szPatientInfo1, "%s", "MAX MUSTER");
  std::snprintf(plan.szPatientInfo2, sizeof plan.szPatientInfo2, "%s", "B-2231");
  plan.nPeriod1Hour = 6, plan.nPeriod1Minute = 45, plan.nPeriod1Interval = 20;
  plan.nPeriod2Hour = 22, plan.nPeriod2Minute = 30, plan.nPeriod2Interval = 40;
  plan.nExtraStartHour = 14, plan.nExtraStartMinute = 0, plan.nExtraInterval = 5;
  plan.nExtraEndHour = 15, plan.nExtraEndMinute = 15;
  plan.nOption1 = 7, plan.nOption2 = 3, plan.nOption3 = 300, plan.nOption4 = 9;
  return plan;
}

// Bytes 59, 60, 61, 62, 63 and 66 of the plan block for SomePlan().
struct IdentityRow {
  BYTE identity;
  enum_DataMode mode;
  std::array<int, 6> bytes;
};
const IdentityRow kIdentityRows[] = {
    {0x01, DATAMODE_BP, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0}},       // type 1
    {0x5A, DATAMODE_BP, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0}},       // type 2
    {0x11, DATAMODE_BP, {0x51, 3, 0, 0xFF, 0xFF, 0}},             // type 3, blood pressure
    {0x11, DATAMODE_BP_SPO2, {0x52, 3, 0, 0xFF, 0xFF, 0}},        // type 3, with SpO2
    {0x11, DATAMODE_BP_SET2, {0x00, 3, 0, 0xFF, 0xFF, 0}},        // type 3, other modes
    {0x31, DATAMODE_BP, {0x00, 3, 7, 0x01, 0x2C, 9}},             // type 4 keeps the options
    {0x2E, DATAMODE_BP, {0x00, 3, 0xFF, 0x00, 0x00, 0}},          // type 6
    {0x60, DATAMODE_BP, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0}},       // unknown identity
};

TEST(HidPlanUpload, IdentityBytesFollowTheDeviceType) {
  for (const auto& row : kIdentityRows) {
    SCOPED_TRACE(::testing::Message() << "identity " << int(row.identity) << " mode " << row.mode);
    HidBench bench(row.identity);
    ASSERT_EQ(bench.protocol.GetDownLoadDataMode(nullptr), 1);
    bench.protocol.SetUpLoadData(SomePlan());
    ASSERT_EQ(bench.protocol.PC_Upload(row.mode), 1);
    EXPECT_EQ(bench.state, 3);
    ASSERT_EQ(bench.monitor.Uploads().size(), 1u);
    const sim::HidPlanBlock& block = bench.monitor.Uploads().front();
    EXPECT_EQ((std::array<int, 6>{block[59], block[60], block[61], block[62], block[63], block[66]}),
              row.bytes);
    for (int unused : {64, 65, 67, 68, 69}) EXPECT_EQ(block[unused], 0) << unused;
    // Recorders, and only they, are told that the session ends.
    EXPECT_EQ(bench.monitor.SessionsEnded(), row.identity <= 0x0F ? 1 : 0);
    EXPECT_TRUE(bench.monitor.Complaints().empty());
  }
}

TEST(HidPlanUpload, APlanComesBackAsItWasSent) {
  HidBench bench(0x31);
  bench.env.SetLocalTime({2026, 3, 9, 17, 5, 42});
  ASSERT_EQ(bench.protocol.GetDownLoadDataMode(nullptr), 1);
  const _BP_TRANSPORT_INFO sent = SomePlan();
  bench.protocol.SetUpLoadData(sent);
  ASSERT_EQ(bench.protocol.PC_Upload(DATAMODE_BP), 1);
  const CalendarTime uploadedAt{2026, 3, 9, 17, 5, 42};  // 100 ms after the clock was set

  ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 1);
  _BP_TRANSPORT_INFO expected = sent;
  expected.nYear = uploadedAt.year, expected.nMonth = uploadedAt.month, expected.nDay = uploadedAt.day;
  expected.nHour = uploadedAt.hour, expected.nMinute = uploadedAt.minute, expected.nSecond = uploadedAt.second;
  // The plan block carries neither nOption1 and nOption4 back nor the
  // patient texts 3 and 4, the patient values or the alarm settings.
  const _BP_TRANSPORT_INFO defaults;
  expected.nOption1 = defaults.nOption1;
  expected.nOption4 = defaults.nOption4;
  EXPECT_EQ(bench.Fetch().Info, expected);
}

TEST(HidPlanUpload, AbsentValuesTravelAsFF) {
  HidBench bench(0x31);
  bench.env.SetLocalTime({2024, 2, 29, 23, 59, 58});
  ASSERT_EQ(bench.protocol.GetDownLoadDataMode(nullptr), 1);
  _BP_TRANSPORT_INFO plan = SomePlan();
  plan.nPeriod1Interval = 0;
  plan.nPeriod2Interval = -5;
  plan.nExtraStartHour = -1;
  plan.nExtraStartMinute = 0;
  plan.nExtraInterval = 0;
  plan.nExtraEndHour = -1;
  plan.nExtraEndMinute = -1;
  bench.protocol.SetUpLoadData(plan);
  ASSERT_EQ(bench.protocol.PC_Upload(DATAMODE_BP), 1);
  const sim::HidPlanBlock& block = bench.monitor.Uploads().front();
  // The clock, then the two periods and the extra window, bytes 41..58.
  EXPECT_EQ(std::vector<int>(block.begin() + 41, block.begin() + 59),
            (std::vector<int>{0x07, 0xE8, 2, 29, 23, 59, 58, 6, 45, 0xFF, 22, 30, 0xFF, 0xFF, 0x00,
                              0xFF, 0xFF, 0xFF}));
}

// A recorder: the request, the two parts, then the end of the session, with
// the pauses and the progress the host sees at each reply.
TEST(HidPlanUpload, ARecorderUploadIsThisExchange) {
  ScriptedBench bench;
  ScriptedDevice& dev = bench.dev;
  dev.ExpectSend({0x40, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC}).Reply({0x41, 0x00, 0x05, 0x02, 0x80, 0, 0});
  dev.ExpectSend({0x42, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC}).Reply(Bytes(22, 0x48));
  dev.ExpectSend({0x43, 0x05, 0x02, 0x01, 0x01, 0x00}).Reply({0x4A, 0x43, 0x01, 0x00});
  dev.ExpectSendAny(64).Reply({0x4A, 0x44, 0x01, 0x00});
  dev.ExpectSendAny(18).Reply({0x4A, 0x44, 0x01, 0x00});
  dev.ExpectSend({0x4B, 0x05, 0x01, 0x00, 0x00, 0x00}).Reply({0x4A, 0x4B, 0x01, 0x00});

  std::vector<int> progressAtRead;
  dev.OnRecv([&](int) { progressAtRead.push_back(bench.progress); });
  ASSERT_EQ(bench.protocol.GetDownLoadDataMode(nullptr), 1);
  bench.protocol.SetUpLoadData(SomePlan());
  ASSERT_EQ(bench.protocol.PC_Upload(DATAMODE_BP), 1);

  bench.ExpectScriptPlayed();
  EXPECT_EQ(bench.env.Sleeps(), (std::vector<unsigned>{100, 100, 50, 100}));
  EXPECT_EQ(progressAtRead, (std::vector<int>{-1, -1, 40, 50, 70, 99}));
  EXPECT_EQ(bench.progress, 100);
  EXPECT_EQ(bench.stage, TRANSPORT_PLAN_UPLOAD);
  EXPECT_EQ(bench.state, 3);
  // The first part is the frame code, the identity and the packed block.
  ASSERT_GE(dev.Sent().size(), 4u);
  EXPECT_EQ(dev.Sent()[3][0], 0x44);
  EXPECT_EQ(dev.Sent()[3][1], 0x05);
}

// Without the first acknowledgement the second part never goes out; an
// object that identified nothing sends identity byte 0.
TEST(HidPlanUpload, ARefusedFirstPartEndsTheUpload) {
  ScriptedBench bench;
  ScriptedDevice& dev = bench.dev;
  dev.ExpectSend({0x43, 0x00, 0x02, 0x01, 0x01, 0x00}).Reply({0x4A, 0x43, 0x01, 0x00});
  dev.ExpectSendAny(64).Reply({0x4A, 0x44, 0x00, 0x00});

  EXPECT_EQ(bench.protocol.PC_Upload(DATAMODE_BP), 7);
  bench.ExpectScriptPlayed();
  EXPECT_EQ(bench.state, 2);
  EXPECT_EQ(dev.Closes(), 1);
}

}  // namespace
}  // namespace bplink::testing
