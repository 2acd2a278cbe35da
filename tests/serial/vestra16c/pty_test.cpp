// The VESTRA16C protocol through the real serial port: the handshake at 4800
// baud, the data at 115200 on the same pseudo-terminal, the upload at 4800.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include "vestra16/bench.h"
#include "vestra16/pty_helpers.h"
#include "vestra16c/model.h"

namespace bplink::testing::vestra16 {
namespace {

TEST(Vestra16COverPty, DownloadUploadAndReadBack) {
  sim::vestra16c::Monitor monitor;
  monitor.settings().start = CarryStart();
  monitor.measurements() = CarryMeasurements();
  OverPty line(monitor);
  ASSERT_TRUE(line.started);
  CProtocolCOMVESTRA16C protocol;
  line.Bind(protocol);

  ASSERT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(line.bridge.LineSpeed(), 115200u);
  _DOWNLOAD_DATAINFO data = Fetch(protocol);
  ASSERT_EQ(data.BPSet.vecRecords.size(), 3u);
  EXPECT_EQ(When(data.BPSet.vecRecords[1]), (std::vector<int>{2026, 2, 1, 0, 5}));
  EXPECT_EQ(data.Info.nOption2, 1);

  _BP_TRANSPORT_INFO plan;
  plan.nOption2 = 0;
  plan.nPeriod2Hour = 20;
  protocol.SetUpLoadData(plan);
  ASSERT_EQ(protocol.PC_Upload(DATAMODE_BP), 1);
  EXPECT_EQ(line.bridge.LineSpeed(), 4800u);

  ASSERT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  data = Fetch(protocol);
  EXPECT_EQ(data.Info.nOption2, 0);
  EXPECT_EQ(data.Info.nPeriod2Hour, 20);

  line.bridge.Stop();
  EXPECT_EQ(monitor.confirmed_uploads(), 1);
}

}  // namespace
}  // namespace bplink::testing::vestra16
