// Every serial family through the real serial port: its simulated device on
// a pseudo-terminal, reached by CDevice_COM through the kernel's tty layer.
// A device hears only bytes sent at its own speeds, so a transfer that works
// shows the port really set (and changed) the line speed; the receive
// time-outs are real, and short. The protocols' pauses run on the virtual
// clock.

#include <algorithm>
#include <memory>

#include "family_devices.h"
#include "pty_bridge.h"
#include "real_time.h"
#include "serial_bench.h"

namespace bplink::testing {
namespace {

// Hears everything, answers nothing.
class Mute : public sim::DeviceModel {
  void Receive(const std::uint8_t*, std::size_t, unsigned) override {}
};

class OverPty : public ::testing::TestWithParam<const Family*> {
 protected:
  // Serves the device on a pty, the machine's only serial port.
  bool Serve(std::unique_ptr<sim::DeviceModel> model) {
    model_ = std::move(model);
    bridge_ = std::make_unique<sim::PtyBridge>(*model_);
    if (!bridge_->Start()) return false;
    const std::wstring path(bridge_->Path().begin(), bridge_->Path().end());
    env_.SetPortNames({path});
    env_.SetOpenablePaths({path});
    port_.SetRecvTimeout(kShortTimeoutMs);
    protocol_->SetDevice(&port_, false);
    protocol_->SetProgressInfo(&progress_, &state_, &stage_);
    return true;
  }
  // The first data mode the family offers.
  enum_DataMode Mode() {
    const std::vector<int> modes = OfferedModes(*protocol_);
    return enum_DataMode(std::find(modes.begin(), modes.end(), 1) - modes.begin());
  }

  VirtualEnv env_;
  ScopedEnv scope_{&env_};
  std::unique_ptr<sim::DeviceModel> model_;  // outlives the bridge that serves it
  std::unique_ptr<sim::PtyBridge> bridge_;
  CDevice_COM port_;
  std::unique_ptr<CProtocolBase> protocol_ = GetParam()->make();
  int progress_ = 0, state_ = 0;
  enum_TransportType stage_ = TRANSPORT_BP_MODE0;
};

// The plan fields a family's devices keep, as numbers.
std::vector<int> Kept(const _BP_TRANSPORT_INFO& p, unsigned fields) {
  std::vector<int> kept;
  if (fields & kKeepsPeriod1) kept.insert(kept.end(), {p.nPeriod1Hour, p.nPeriod1Minute, p.nPeriod1Interval});
  if (fields & kKeepsPeriod2) kept.insert(kept.end(), {p.nPeriod2Hour, p.nPeriod2Minute, p.nPeriod2Interval});
  if (fields & kKeepsExtraWindow)
    kept.insert(kept.end(), {p.nExtraStartHour, p.nExtraStartMinute, p.nExtraInterval, p.nExtraEndHour, p.nExtraEndMinute});
  if (fields & kKeepsPatientTexts)
    for (const char* text : {p.szPatientInfo1, p.szPatientInfo2}) kept.insert(kept.end(), text, text + std::strlen(text));
  return kept;
}

TEST_P(OverPty, DownloadThenUploadAPlanAndReadItBack) {
  const Family& family = *GetParam();
  ASSERT_TRUE(Serve(MakeFamilyDevice(family.name, 3)));
  const enum_DataMode mode = Mode();
  ASSERT_EQ(protocol_->PC_Download(mode), 1);
  EXPECT_EQ(std::tuple(state_, port_.IsOpen(), Fetch(*protocol_).BPSet.vecRecords.size()),
            std::tuple(kStateSucceeded, false, 3u));
  if (!family.Uploads()) {
    EXPECT_EQ(protocol_->PC_Upload(mode), 6);
    return;
  }
  const _BP_TRANSPORT_INFO plan = PlanOf("OVER A REAL TTY", "PTY-1", {6, 30, 20, 21, 45, 40}, {12, 0, 15, 13, 30});
  protocol_->SetUpLoadData(plan);
  ASSERT_EQ(protocol_->PC_Upload(mode), 1);
  ASSERT_EQ(protocol_->PC_Download(mode), 1);
  EXPECT_EQ(Kept(Fetch(*protocol_).Info, family.planFields), Kept(plan, family.planFields));
}

// A line with nothing on it costs one receive time-out, and no port stays open.
TEST_P(OverPty, ASilentLineIsGivenUpAfterATimeOut) {
  ASSERT_TRUE(Serve(std::make_unique<Mute>()));
  const Stopwatch watch;
  EXPECT_EQ(protocol_->PC_Download(Mode()), 2);
  EXPECT_GE(watch.ElapsedMs(), kShortTimeoutMs);
  EXPECT_LT(watch.ElapsedMs(), kShortTimeoutMs + kSchedulingSlackMs);
  EXPECT_EQ(std::tuple(state_, port_.IsOpen()), std::tuple(kStateFailed, false));
}

INSTANTIATE_TEST_SUITE_P(Serial, OverPty, ::testing::ValuesIn(SerialFamilies()),
                         [](const auto& info) { return std::string(info.param->name); });

}  // namespace
}  // namespace bplink::testing
