// The VESTRA16 protocol through the real serial port and the kernel's tty
// layer, against the simulated monitor on a pseudo-terminal.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <cstring>

#include "bench.h"
#include "pty_helpers.h"

namespace bplink::testing::vestra16 {
namespace {

TEST(Vestra16OverPty, DownloadUploadAndReadBack) {
  sim::vestra16::Monitor monitor;
  monitor.settings().start = CarryStart();
  monitor.measurements() = CarryMeasurements();
  OverPty line(monitor);
  ASSERT_TRUE(line.started);
  CProtocolCOMVESTRA16 protocol;
  line.Bind(protocol);
  Stopwatch watch;

  ASSERT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  _DOWNLOAD_DATAINFO data = Fetch(protocol);
  ASSERT_EQ(data.BPSet.vecRecords.size(), 3u);
  EXPECT_EQ(When(data.BPSet.vecRecords[2]), (std::vector<int>{2026, 3, 18, 12, 6}));
  EXPECT_EQ(data.BPSet.Head, (_DATA_HEAD{3, 2026, 1, 31, 23, 50, 0, 0}));

  _BP_TRANSPORT_INFO plan;
  std::strcpy(plan.szPatientInfo1, "OVER THE LINE");
  plan.nPeriod1Interval = 15;
  plan.nExtraStartHour = 9, plan.nExtraStartMinute = 0, plan.nExtraInterval = 5;
  plan.nExtraEndHour = 9, plan.nExtraEndMinute = 45;
  protocol.SetUpLoadData(plan);
  ASSERT_EQ(protocol.PC_Upload(DATAMODE_BP), 1);
  EXPECT_EQ(line.state, kStateSucceeded);

  ASSERT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  data = Fetch(protocol);
  EXPECT_STREQ(data.Info.szPatientInfo1, "OVER THE LINE");
  EXPECT_EQ(data.Info.nPeriod1Interval, 15);
  EXPECT_EQ(data.Info.nExtraEndMinute, 45);
  // One drain per search, the only waits on a line that answers.
  EXPECT_LT(watch.ElapsedMs(), 3 * kShortTimeoutMs + kSchedulingSlackMs);

  line.bridge.Stop();
  EXPECT_EQ(monitor.confirmed_uploads(), 1);
}

}  // namespace
}  // namespace bplink::testing::vestra16
