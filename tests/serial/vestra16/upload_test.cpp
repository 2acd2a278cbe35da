// VESTRA16 plan upload: the block on the wire, the clock and the
// current-period code, acknowledgements, and a plan read back.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

#include "bench.h"

namespace bplink::testing::vestra16 {
namespace {

using sim::vestra16::Monitor;

// A plan with a night period that wraps past midnight.
_BP_TRANSPORT_INFO NightPlan() {
  _BP_TRANSPORT_INFO plan;
  std::strcpy(plan.szPatientInfo1, "ROE RICHARD");
  std::strcpy(plan.szPatientInfo2, "P-7");
  plan.nOption1 = 3;
  plan.nOption2 = 1;
  plan.nPeriod1Hour = 22, plan.nPeriod1Minute = 0, plan.nPeriod1Interval = 30;
  plan.nPeriod2Hour = 6, plan.nPeriod2Minute = 0, plan.nPeriod2Interval = 60;
  return plan;
}

class Vestra16Upload : public Bench {
 protected:
  Vestra16Upload() {
    device.AttachPort(ComPortPath(L"ttyS0"), &monitor);
    Bind(protocol);
  }

  // Uploads `plan` with the PC clock five minutes before `next`.
  int UploadAt(const _BP_TRANSPORT_INFO& plan, const CalendarTime& next) {
    env.SetLocalTime(AddMinutes(next, -5));
    protocol.SetUpLoadData(plan);
    return protocol.PC_Upload(DATAMODE_BP);
  }

  Monitor monitor;
  CProtocolCOMVESTRA16 protocol;
};

TEST_F(Vestra16Upload, BlockGoesByteByByteAndReadsBack) {
  _BP_TRANSPORT_INFO plan = NightPlan();
  plan.nExtraStartHour = 10, plan.nExtraStartMinute = 15, plan.nExtraInterval = 5;
  plan.nExtraEndHour = 11, plan.nExtraEndMinute = 45;
  ASSERT_EQ(UploadAt(plan, {2027, 1, 1, 0, 2, 0}), 1);
  EXPECT_EQ((std::vector<int>{state, stage, progress}), (std::vector<int>{kStateSucceeded, TRANSPORT_PLAN_UPLOAD, 98}));
  ASSERT_EQ(monitor.confirmed_uploads(), 1);

  // 0xAA, then the 70 bytes one write each.
  ASSERT_EQ(writes.size(), 71u);
  EXPECT_EQ(writes[0].bytes, Bytes{0xAA});
  const auto& block = monitor.last_plan();
  for (std::size_t i = 0; i < block.size(); ++i) EXPECT_EQ(writes[i + 1].bytes, Bytes{block[i]}) << i;

  // The clock now and five minutes on, across the year's end.
  EXPECT_EQ(Bytes(block.begin() + 41, block.begin() + 53),
            (Bytes{0x07, 0xEA, 12, 31, 23, 57, 0x07, 0xEB, 1, 1, 0, 2}));
  EXPECT_EQ(Bytes(block.begin() + 53, block.begin() + 70),
            (Bytes{0, 0, 3, 1, 22, 0, 30, 6, 0, 60, 10, 15, 5, 11, 45, 0, 1}));

  // Read back, the plan is what was sent wherever the block carries it; the
  // start is the PC clock of the upload.
  ASSERT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  _BP_TRANSPORT_INFO expected = plan;
  expected.nYear = 2026, expected.nMonth = 12, expected.nDay = 31, expected.nHour = 23, expected.nMinute = 57;
  EXPECT_EQ(Fetch(protocol).Info, expected);
}

struct PeriodCase {
  int hour, minute;  // the clock five minutes on
  int extraInterval;
  BYTE code;
  friend void PrintTo(const PeriodCase& c, std::ostream* os) {
    *os << c.hour << ":" << c.minute << " window interval " << c.extraInterval;
  }
};

class Vestra16PeriodCode : public Vestra16Upload, public ::testing::WithParamInterface<PeriodCase> {};

TEST_P(Vestra16PeriodCode, FollowsThePlanAndTheWindow) {
  const PeriodCase c = GetParam();
  _BP_TRANSPORT_INFO plan = NightPlan();
  plan.nExtraStartHour = 11, plan.nExtraStartMinute = 30, plan.nExtraInterval = c.extraInterval;
  plan.nExtraEndHour = 12, plan.nExtraEndMinute = 30;
  ASSERT_EQ(UploadAt(plan, {2026, 6, 1, c.hour, c.minute, 0}), 1);
  EXPECT_EQ(monitor.last_plan()[69], c.code);
  const Bytes window(monitor.last_plan().begin() + 63, monitor.last_plan().begin() + 68);
  const Bytes sent = c.extraInterval > 0 ? Bytes{11, 30, 15, 12, 30} : Bytes(5, 0xFF);
  EXPECT_EQ(window, sent);
}

INSTANTIATE_TEST_SUITE_P(Times, Vestra16PeriodCode,
                         ::testing::Values(PeriodCase{23, 0, 15, 1}, PeriodCase{3, 0, 15, 1},
                                           PeriodCase{22, 0, 15, 1}, PeriodCase{6, 1, 15, 2},
                                           PeriodCase{11, 29, 15, 2}, PeriodCase{12, 0, 15, 3},
                                           PeriodCase{12, 0, 0, 3}, PeriodCase{12, 31, 0, 2}));

TEST_F(Vestra16Upload, DayPeriodFirstAndUnsetIntervals) {
  _BP_TRANSPORT_INFO plan;  // 07:00 and 22:00, no window
  plan.nPeriod1Interval = -5;
  plan.nPeriod2Interval = 0;
  plan.nOption2 = 0;
  ASSERT_EQ(UploadAt(plan, {2026, 6, 1, 22, 1, 0}), 1);
  const auto& block = monitor.last_plan();
  EXPECT_EQ((Bytes{block[56], block[59], block[62], block[69]}), (Bytes{0, 0xFF, 0xFF, 2}));
}

TEST_F(Vestra16Upload, UnacknowledgedByteEndsWithFiveAndIsNotResent) {
  monitor.faults().unacknowledged_plan_byte = 10;
  EXPECT_EQ(UploadAt(NightPlan(), {2026, 6, 1, 12, 0, 0}), 5);
  EXPECT_EQ(state, kStateFailed);
  EXPECT_EQ(monitor.confirmed_uploads(), 0);
  EXPECT_EQ(writes.size(), 1u + 11u);
  EXPECT_EQ(progress, 12);  // byte 9 was the last acknowledged
  // Ten receives, each a time-out and a pause.
  EXPECT_EQ(env.ElapsedMs(), 100 + kTimeoutMs + 10 * (kTimeoutMs + 100));
  EXPECT_FALSE(device.IsOpen());
}

}  // namespace
}  // namespace bplink::testing::vestra16
