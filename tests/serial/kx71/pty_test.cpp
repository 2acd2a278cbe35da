// End to end through the real serial port: the recorder served on a
// pseudo-terminal, among other ports that stay silent at its speed. The
// protocol's own pauses run on the virtual clock; the line's time-outs are
// real, so the port gets a short one.

#include <gtest/gtest.h>

#include <cstring>

#include "bench.h"
#include "echo_model.h"
#include "pty_bridge.h"
#include "real_time.h"

namespace kx71test {
namespace {

using bplink::sim::PtyBridge;
using namespace bplink::testing;

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Hears everything, answers nothing.
class Mute : public bplink::sim::DeviceModel {
 public:
  void Receive(const std::uint8_t*, std::size_t, unsigned) override {}
};

class Kx71OverPty : public ::testing::Test {
 protected:
  void SetUp() override {
    for (PtyBridge* bridge : {&mute_bridge_, &echo_bridge_, &recorder_bridge_})
      ASSERT_TRUE(bridge->Start());
    // The recorder is listed last.
    const std::vector<std::wstring> ports = {Wide(mute_bridge_.Path()), Wide(echo_bridge_.Path()),
                                             Wide(recorder_bridge_.Path())};
    env_.SetPortNames(ports);
    env_.SetOpenablePaths({ports.begin(), ports.end()});
    port_.SetRecvTimeout(kShortTimeoutMs);
    protocol_.SetDevice(&port_, false);
    protocol_.SetProgressInfo(&progress_, &state_, &stage_);
  }

  VirtualEnv env_;
  ScopedEnv scope_{&env_};
  Mute mute_;
  bplink::sim::EchoModel echo_{CBR_4800};  // would echo the greeting, but not at 115200
  Kx71Recorder recorder_;
  PtyBridge mute_bridge_{mute_};
  PtyBridge echo_bridge_{echo_};
  PtyBridge recorder_bridge_{recorder_};
  CDevice_COM port_;
  CProtocolCOMKX71 protocol_;
  int progress_ = 0, state_ = 0;
  enum_TransportType stage_{};
};

TEST_F(Kx71OverPty, UploadThenDownloadBringsTheRecordsAndThePlan) {
  recorder_.Config().groups = TwoGroups(6, 4);
  const auto secondary = recorder_.Config().groups[0].readings;
  const auto primary = recorder_.Config().groups[1].readings;
  _BP_TRANSPORT_INFO plan;
  std::strcpy(plan.szPatientInfo1, "Over a real tty");
  plan.nPeriod1Interval = 10;
  protocol_.SetUpLoadData(plan);
  EXPECT_EQ(protocol_.PC_Upload(DATAMODE_BP), 1);
  EXPECT_EQ(recorder_.Uploads(), 1);

  const Stopwatch watch;
  EXPECT_EQ(protocol_.PC_Download(DATAMODE_BP), 1);
  // Two silent ports and the six misses at the end cost a time-out each.
  EXPECT_LT(watch.ElapsedMs(), 8 * kShortTimeoutMs + kSchedulingSlackMs);
  EXPECT_FALSE(port_.IsOpen());
  _DOWNLOAD_DATAINFO info;
  protocol_.GetDownLoadData(&info);
  EXPECT_EQ(info.BPSet.vecRecords, Expected(primary));
  EXPECT_EQ(info.BPSet2.vecRecords, Expected(secondary));
  EXPECT_EQ(info.BPSet2.Head.nCount, 4);
  EXPECT_STREQ(info.Info.szPatientInfo1, "Over a real tty");
  EXPECT_EQ(info.Info.nPeriod1Interval, 10);
  EXPECT_TRUE(recorder_.Complaints().empty());
}

}  // namespace
}  // namespace kx71test
