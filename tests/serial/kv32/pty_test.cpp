// End to end through a pseudo-terminal and the real serial port: the monitor
// hears the greeting only at 4800 baud and the download only at 115200, so a
// transfer that works proves the port really changed speed in between.

#include <cstring>

#include "kv32_bench.h"
#include "pty_bridge.h"
#include "real_time.h"
#include "virtual_env.h"

namespace {

using namespace bplink::testing;
using bplink::CalendarTime;
using Kv32Monitor = bplink::sim::kv32::Monitor;

// The host's pauses are virtual; the port's receive time-out is real.
struct PtyBench {
  Kv32Monitor monitor;
  bplink::sim::PtyBridge bridge{monitor};
  VirtualEnv env;
  ScopedEnv scope{&env};
  CDevice_COM port;
  CProtocolCOMKV32 protocol;
  int progress = 0, state = 0;
  enum_TransportType stage = TRANSPORT_BP_MODE0;

  bool Start() {
    if (!bridge.Start()) return false;
    const std::wstring path(bridge.Path().begin(), bridge.Path().end());
    env.SetPortNames({path});
    env.SetOpenablePaths({path});
    port.SetRecvTimeout(kShortTimeoutMs);
    protocol.SetDevice(&port, false);
    protocol.SetProgressInfo(&progress, &state, &stage);
    return true;
  }
};

TEST(Kv32OverPty, DownloadAndUploadAcrossBothSpeeds) {
  PtyBench bench;
  auto& config = bench.monitor.Config();
  config.plan.start = {2024, 2, 28, 23, 30, 0};
  config.readings = {ReadingAt({2024, 2, 29, 0, 0, 0}), ReadingAt({2024, 3, 1, 0, 30, 0})};
  ASSERT_TRUE(bench.Start());  // from here only the bridge's thread touches the monitor

  ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(bench.bridge.LineSpeed(), 115200u);
  _DOWNLOAD_DATAINFO data;
  bench.protocol.GetDownLoadData(&data);
  ASSERT_EQ(data.BPSet.vecRecords.size(), 2u);
  EXPECT_EQ(RecordTime(data.BPSet.vecRecords[1]), (CalendarTime{2024, 3, 1, 0, 30, 0}));

  _BP_TRANSPORT_INFO plan;
  std::strcpy(plan.szPatientInfo1, "Pty");
  bench.protocol.SetUpLoadData(plan);
  ASSERT_EQ(bench.protocol.PC_Upload(DATAMODE_BP_SPO2), 1);
  EXPECT_EQ(bench.bridge.LineSpeed(), 4800u);
  ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP_SPO2), 1);
  bench.protocol.GetDownLoadData(&data);
  EXPECT_STREQ(data.Info.szPatientInfo1, "Pty");
  EXPECT_TRUE(data.BPSet.vecRecords.empty());
}

TEST(Kv32OverPty, AMonitorAtOtherSpeedsIsNotReached) {
  for (bool greetingMoved : {true, false}) {
    PtyBench bench;
    (greetingMoved ? bench.monitor.Config().greeting_baud : bench.monitor.Config().download_baud) = 9600;
    ASSERT_TRUE(bench.Start());
    Stopwatch clock;
    EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP_SPO2), greetingMoved ? 2 : 5);
    EXPECT_LT(clock.ElapsedMs(), kShortTimeoutMs + kSchedulingSlackMs);
  }
}

}  // namespace
