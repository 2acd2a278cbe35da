// Downloads from the simulated recorder: both data sets routed by their
// group headers, headers filled, the stored plan, the silent end of the
// stream, damaged packets, the stop request and the running progress.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "bench.h"

namespace kx71test {
namespace {

bplink::sim::kx71::Plan SomePlan() {
  bplink::sim::kx71::Plan plan;
  plan.patient1 = "Jane Q. Example";
  plan.patient2 = "ID-0042";
  plan.clock = {2025, 11, 2, 7, 15, 0};
  plan.day_hour = 6;
  plan.day_minute = 30;
  plan.day_interval = 15;
  plan.night_hour = 23;
  plan.night_minute = 5;
  plan.night_interval = 45;
  return plan;
}

_DATA_HEAD HeadOf(const std::vector<Kx71Reading>& readings) {
  const bplink::CalendarTime& t = readings.front().time;
  return {static_cast<int>(readings.size()), t.year, t.month, t.day, t.hour, t.minute, 0, 0};
}

TEST(Kx71Download, BringsBothSetsByTheirGroupsAndTheStoredPlan) {
  for (bool planInStream : {false, true}) {
    SCOPED_TRACE(planInStream);
    Bench b;
    b.recorder.Config().groups = TwoGroups(5, 3);
    b.recorder.Config().plan = SomePlan();
    b.recorder.Config().plan_in_stream = planInStream;
    const auto& secondary = b.recorder.Config().groups[0].readings;
    const auto& primary = b.recorder.Config().groups[1].readings;

    EXPECT_EQ(b.protocol.PC_Download(DATAMODE_BP_SET2), 1);
    EXPECT_EQ(b.state, 3);
    EXPECT_EQ(b.stage, TRANSPORT_PLAN_DOWNLOAD);
    const _DOWNLOAD_DATAINFO info = b.Fetch();
    EXPECT_EQ(info.BPSet.vecRecords, Expected(primary));
    EXPECT_EQ(info.BPSet2.vecRecords, Expected(secondary));
    EXPECT_EQ(info.BPSet.Head, HeadOf(primary));
    EXPECT_EQ(info.BPSet2.Head, HeadOf(secondary));
    EXPECT_STREQ(info.Info.szPatientInfo1, "Jane Q. Example");
    EXPECT_STREQ(info.Info.szPatientInfo2, "ID-0042");
    EXPECT_EQ((std::vector<int>{info.Info.nPeriod1Hour, info.Info.nPeriod1Minute, info.Info.nPeriod1Interval,
                                info.Info.nPeriod2Hour, info.Info.nPeriod2Minute, info.Info.nPeriod2Interval}),
              (std::vector<int>{6, 30, 15, 23, 5, 45}));
    EXPECT_EQ(info.Info.nYear, 0) << "the recorder's clock is not taken";
    EXPECT_EQ(b.recorder.PositiveAcks(), 2 * 2 + 5 + 3);
    EXPECT_EQ(b.recorder.NegativeAcks(), 0);
    EXPECT_TRUE(b.recorder.Complaints().empty());
  }
}

TEST(Kx71Download, SilentRecorderEndsAfterTheSixthMissWithEmptySets) {
  Bench b;
  b.recorder.Config().reply_code = 0x15;
  b.recorder.Config().groups = TwoGroups(2, 2);
  b.recorder.Config().faults.silent_stream = true;
  EXPECT_EQ(b.protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(b.state, 3);
  const _DOWNLOAD_DATAINFO info = b.Fetch();
  EXPECT_EQ(info.BPSet, _BP_DATASET{});
  EXPECT_EQ(info.BPSet2, _BP_DATASET{});
  EXPECT_EQ(b.recorder.PlanRequests(), 0);
  // The silent port and the recorder's port cost a pause each (and the
  // silent one a time-out); then six misses of a time-out and a pause.
  constexpr unsigned timeout = bplink::sim::InProcessDevice::kDefaultRecvTimeoutMs;
  EXPECT_EQ(b.env.ElapsedMs(), (100 + timeout) + 100 + 6 * (timeout + 100));
}

TEST(Kx71Download, DamagedRecordsAreAnsweredBadAndSentAgain) {
  Bench b;
  b.recorder.Config().groups = TwoGroups(4, 3);
  b.recorder.Config().faults.zero_byte_record = 1;     // in the secondary group
  b.recorder.Config().faults.wrong_marker_record = 3;  // the first primary record
  const auto secondary = b.recorder.Config().groups[0].readings;
  const auto primary = b.recorder.Config().groups[1].readings;

  EXPECT_EQ(b.protocol.PC_Download(DATAMODE_BP), 1);
  const _DOWNLOAD_DATAINFO info = b.Fetch();
  EXPECT_EQ(info.BPSet2.vecRecords, Expected(secondary)) << "the zero-byte record is dropped, its resend kept";
  std::vector<_BP_RECORD> twice = Expected(primary);
  twice.insert(twice.begin(), twice.front());  // a wrong marker is still stored
  EXPECT_EQ(info.BPSet.vecRecords, twice);
  EXPECT_EQ(b.recorder.NegativeAcks(), 2);
}

TEST(Kx71Download, StopRequestEndsTheStreamWithWhatCame) {
  for (BYTE code : {0x15, 0x34}) {
    SCOPED_TRACE(code);
    Bench b;
    b.recorder.Config().reply_code = code;
    b.recorder.Config().groups = TwoGroups(5, 5);
    int acks = 0;
    b.device.SetTap([&](bool fromHost, const BYTE* data, DWORD size) {
      if (fromHost && size == 1 && data[0] >= 0x10 && data[0] <= 0x18 && ++acks == 4) b.state = 5;
    });
    // A recorder that keeps a plan has sent its next packet already when the
    // host stops, so the plan request reads that packet instead of the plan.
    const int result = code == 0x34 ? 7 : 1;
    EXPECT_EQ(b.protocol.PC_Download(DATAMODE_BP), result);
    EXPECT_EQ(b.state, result == 1 ? 3 : 2);
    const _DOWNLOAD_DATAINFO info = b.Fetch();
    EXPECT_EQ(info.BPSet2.vecRecords.size(), 2u) << "group, count, two records";
    EXPECT_TRUE(info.BPSet.vecRecords.empty());
  }
}

TEST(Kx71Download, ProgressCyclesWhileThePacketsCome) {
  Bench b;
  b.recorder.Config().reply_code = 0x02;
  b.recorder.Config().groups = TwoGroups(70, 0);
  std::vector<int> seen;  // at every acknowledgement
  b.device.SetTap([&](bool fromHost, const BYTE*, DWORD size) {
    if (fromHost && size == 1) seen.push_back(b.progress);
  });
  EXPECT_EQ(b.protocol.PC_Download(DATAMODE_BP_SET2), 1);
  EXPECT_EQ(b.stage, TRANSPORT_BP_SET2);
  EXPECT_EQ(b.progress, 80);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(*std::min_element(seen.begin(), seen.end()), 20);
  EXPECT_EQ(*std::max_element(seen.begin(), seen.end()), 80);
  const auto top = std::find(seen.begin(), seen.end(), 80);
  ASSERT_NE(top, seen.end());
  EXPECT_NE(std::find(top, seen.end(), 21), seen.end()) << "it starts over after 80";

  int modes[kDataModeCount] = {0, 0, 7, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(b.protocol.GetDownLoadDataMode(modes), 1);
  EXPECT_EQ(std::vector<int>(modes, modes + kDataModeCount), (std::vector<int>{0, 1, 7, 1, 0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace kx71test
