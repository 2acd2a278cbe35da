// Detection through the real serial port: devices served on pseudo-terminals,
// behind a port that opens but stays silent. Pauses run on the virtual
// clock; receive time-outs are real, so they are kept short here.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include "detect/probe_responders.h"
#include "pty.h"
#include "pty_bridge.h"
#include "real_time.h"
#include "virtual_env.h"

namespace {

using namespace bplink::sim;
using namespace bplink::testing;

constexpr unsigned kProbeTimeoutMs = 60;
// Receives on a silent port: each of the five probes waits for its answer
// and then for the drain. The serial port adds the line time of the bytes
// asked for to each.
constexpr long long kReceivesPerSilentPort = 10;
// All the line time adds to them, most of it for the 73 bytes of Test16.
constexpr long long kLineTimeAtMostMs = 200;

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Lists the ports (full paths, which ComPortPath keeps) as openable.
void ListPorts(VirtualEnv& env, std::vector<std::wstring> paths) {
  env.SetOpenablePaths({paths.begin(), paths.end()});
  env.SetPortNames(std::move(paths));
}

// Detection with a serial port of the test's own; its time in real ms.
long long Detect(tag_SUPPORT_PROTOCOL& out, int expectedResult) {
  CDevice_COM port;
  port.SetRecvTimeout(kProbeTimeoutMs);
  CSelectProtocol select;
  select.SetDevice(&port);
  Stopwatch watch;
  EXPECT_EQ(select.OnTestProtocol(out), expectedResult);
  EXPECT_FALSE(port.IsOpen());
  return watch.ElapsedMs();
}

class DetectionOnPty : public ::testing::TestWithParam<std::tuple<SerialFamily, int, int>> {
 protected:
  VirtualEnv env_;
  ScopedEnv scope_{&env_};
  Pty silent_;
};

TEST_P(DetectionOnPty, FamilyIsFoundBehindASilentPort) {
  const auto [family, type, protocol] = GetParam();
  auto model = MakeProbeResponder(family);
  PtyBridge bridge(*model);
  ASSERT_TRUE(silent_.IsOpen() && bridge.Start());
  ListPorts(env_, {Wide(silent_.Path()), Wide(bridge.Path())});

  tag_SUPPORT_PROTOCOL out{};
  const long long ms = Detect(out, 1);
  EXPECT_EQ(out.nDeviceType, type);
  EXPECT_EQ(out.nProtocol, protocol);
  EXPECT_GE(ms, kReceivesPerSilentPort * kProbeTimeoutMs);
}

INSTANTIATE_TEST_SUITE_P(
    Families, DetectionOnPty,
    ::testing::Values(std::tuple{SerialFamily::kKX71, 1, 6}, std::tuple{SerialFamily::kKV32, 3, 7},
                      std::tuple{SerialFamily::kVestra16C, 6, 9}, std::tuple{SerialFamily::kVestra16, 4, 8},
                      std::tuple{SerialFamily::kVestra18, 5, 10}));

TEST_F(DetectionOnPty, SilentPortCostsTenReceiveTimeOuts) {
  ASSERT_TRUE(silent_.IsOpen());
  ListPorts(env_, {Wide(silent_.Path())});
  tag_SUPPORT_PROTOCOL out{};
  const long long ms = Detect(out, 11);
  EXPECT_EQ(out.nProtocol, 255);
  EXPECT_GE(ms, kReceivesPerSilentPort * kProbeTimeoutMs);
  EXPECT_LE(ms, kReceivesPerSilentPort * kProbeTimeoutMs + kLineTimeAtMostMs + kSchedulingSlackMs);
  RecordProperty("real_ms_per_silent_port", static_cast<int>(ms));
}

// Without a device of the host's, detection makes its own and leaves the port
// free for the protocol class that comes next.
TEST_F(DetectionOnPty, OwnDevicesAreMadeAndReleased) {
  auto model = MakeProbeResponder(SerialFamily::kKX71);
  PtyBridge bridge(*model);
  ASSERT_TRUE(bridge.Start());
  ListPorts(env_, {Wide(bridge.Path())});
  // The HID request goes nowhere on a machine with HID devices of its own.
  const bplink::HidSelector hostSelector = bplink::DefaultHidSelector();
  bplink::SetDefaultHidSelector({.vendor_id = 0xFFFF, .product_id = 0xFFFF});

  CSelectProtocol select;
  tag_SUPPORT_PROTOCOL out{};
  EXPECT_EQ(select.OnTestProtocol(out), 1);
  EXPECT_EQ(out, (tag_SUPPORT_PROTOCOL{1, 6, 255, 2, 255}));
  bplink::SetDefaultHidSelector(hostSelector);

  CDevice_COM next;
  EXPECT_EQ(next.Open(Wide(bridge.Path()), Line(CBR_115200)), 1);
}

}  // namespace
