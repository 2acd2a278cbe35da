// VESTRA16C plan upload: 0xAA answered and every byte acknowledged with 0x6C,
// the inverted option switch, the window sent part by part, a plan read back.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <cstring>

#include "vestra16/bench.h"
#include "vestra16c/model.h"

namespace bplink::testing::vestra16 {
namespace {

class Vestra16CUpload : public Bench {
 protected:
  Vestra16CUpload() {
    device.AttachPort(ComPortPath(L"ttyS0"), &monitor);
    env.SetLocalTime({2026, 3, 28, 23, 57, 0});
    Bind(protocol);
  }

  int Upload(const _BP_TRANSPORT_INFO& plan) {
    protocol.SetUpLoadData(plan);
    return protocol.PC_Upload(DATAMODE_BP);
  }

  Bytes Window() const { return Bytes(monitor.last_plan().begin() + 63, monitor.last_plan().begin() + 68); }

  sim::vestra16c::Monitor monitor;
  CProtocolCOMVESTRA16C protocol;
};

TEST_F(Vestra16CUpload, AcknowledgedAt4800AndReadBackAt115200) {
  _BP_TRANSPORT_INFO plan;
  std::strcpy(plan.szPatientInfo1, "NOVAK");
  std::strcpy(plan.szPatientInfo2, "0815");
  plan.nOption1 = 4;
  plan.nOption2 = 1;
  plan.nPeriod1Hour = 8, plan.nPeriod1Minute = 15, plan.nPeriod1Interval = 15;
  plan.nPeriod2Hour = 23, plan.nPeriod2Minute = 30, plan.nPeriod2Interval = 45;
  plan.nExtraStartHour = 0, plan.nExtraStartMinute = 0, plan.nExtraInterval = 10;
  plan.nExtraEndHour = 0, plan.nExtraEndMinute = 30;
  ASSERT_EQ(Upload(plan), 1);
  EXPECT_EQ((std::vector<int>{state, stage, progress}), (std::vector<int>{kStateSucceeded, TRANSPORT_PLAN_UPLOAD, 98}));
  ASSERT_EQ(monitor.confirmed_uploads(), 1);
  ASSERT_EQ(writes.size(), 71u);
  for (const Write& w : writes) EXPECT_EQ(w.baud, 4800u);

  const auto& block = monitor.last_plan();
  EXPECT_EQ(block[56], 0x00);  // switch on
  EXPECT_EQ(Window(), (Bytes{0, 0, 10, 0, 30}));
  EXPECT_EQ(Bytes(block.begin() + 41, block.begin() + 53),
            (Bytes{0x07, 0xEA, 3, 28, 23, 57, 0x07, 0xEA, 3, 29, 0, 2}));
  EXPECT_EQ(block[69], 3);  // 00:02 lies in the window from midnight

  ASSERT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  _BP_TRANSPORT_INFO expected = plan;
  expected.nYear = 2026, expected.nMonth = 3, expected.nDay = 28, expected.nHour = 23, expected.nMinute = 57;
  EXPECT_EQ(Fetch(protocol).Info, expected);
}

TEST_F(Vestra16CUpload, SwitchAndWindowEncoding) {
  _BP_TRANSPORT_INFO plan;
  plan.nOption2 = 0;
  plan.nExtraStartHour = -1, plan.nExtraStartMinute = 20;
  plan.nExtraEndHour = 14, plan.nExtraEndMinute = 0;
  plan.nExtraInterval = 0;
  ASSERT_EQ(Upload(plan), 1);
  EXPECT_EQ(monitor.last_plan()[56], 0xFF);
  EXPECT_EQ(Window(), (Bytes{0xFF, 0xFF, 0xFF, 14, 0}));

  plan.nOption2 = 5;
  plan.nExtraStartHour = 13, plan.nExtraEndHour = 0, plan.nExtraEndMinute = -1;
  plan.nExtraInterval = 20;
  ASSERT_EQ(Upload(plan), 1);
  EXPECT_EQ(monitor.last_plan()[56], 0xFF);
  EXPECT_EQ(Window(), (Bytes{13, 20, 20, 0xFF, 0xFF}));
}

TEST_F(Vestra16CUpload, UnacknowledgedByteEndsWithSeven) {
  monitor.faults().unacknowledged_plan_byte = 69;
  EXPECT_EQ(Upload(_BP_TRANSPORT_INFO{}), 7);
  EXPECT_EQ(state, kStateFailed);
  EXPECT_EQ(monitor.confirmed_uploads(), 0);
  EXPECT_EQ(progress, 97);
  EXPECT_FALSE(device.IsOpen());
}

}  // namespace
}  // namespace bplink::testing::vestra16
