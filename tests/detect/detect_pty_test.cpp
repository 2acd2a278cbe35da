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

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// The ports are listed by their full paths, which ComPortPath keeps.
class DetectionOnPty : public ::testing::Test {
 protected:
  void List(std::vector<std::wstring> paths) {
    env_.SetOpenablePaths({paths.begin(), paths.end()});
    env_.SetPortNames(std::move(paths));
  }
  VirtualEnv env_;
  ScopedEnv scope_{&env_};
};

TEST_F(DetectionOnPty, EachFamilyIsFoundBehindASilentPort) {
  constexpr unsigned kTimeoutMs = 60;
  // Each of the five probes waits for its answer and then for the drain.
  constexpr long long kSilentPortMs = 10 * kTimeoutMs;
  const std::tuple<SerialFamily, int, int, int> families[] = {
      {SerialFamily::kKX71, 1, 6, 2},        {SerialFamily::kKV32, 3, 7, 255},
      {SerialFamily::kVestra16C, 6, 9, 255}, {SerialFamily::kVestra16, 4, 8, 255},
      {SerialFamily::kVestra18, 5, 10, 255}};
  Pty silent;
  for (const auto& [family, type, protocol, variant] : families) {
    SCOPED_TRACE(protocol);
    auto model = MakeProbeResponder(family);
    PtyBridge bridge(*model);
    ASSERT_TRUE(silent.IsOpen() && bridge.Start());
    List({Wide(silent.Path()), Wide(bridge.Path())});

    CDevice_COM port;
    port.SetRecvTimeout(kTimeoutMs);
    CSelectProtocol select;
    select.SetDevice(&port);
    tag_SUPPORT_PROTOCOL out{};
    Stopwatch watch;
    EXPECT_EQ(select.OnTestProtocol(out), 1);
    EXPECT_GE(watch.ElapsedMs(), kSilentPortMs);
    EXPECT_EQ(out, (tag_SUPPORT_PROTOCOL{type, protocol, 255, variant, 255}));
    EXPECT_FALSE(port.IsOpen());
  }
}

// Without a device of the host's, detection makes its own and leaves the port
// free for the protocol class that comes next.
TEST_F(DetectionOnPty, OwnDevicesAreMadeAndReleased) {
  auto model = MakeProbeResponder(SerialFamily::kKX71);
  PtyBridge bridge(*model);
  ASSERT_TRUE(bridge.Start());
  List({Wide(bridge.Path())});
  // The HID request goes nowhere on a machine with HID devices of its own.
  const bplink::HidSelector hostSelector = bplink::DefaultHidSelector();
  bplink::SetDefaultHidSelector({.vendor_id = 0xFFFF, .product_id = 0xFFFF});

  CSelectProtocol select;
  tag_SUPPORT_PROTOCOL out{};
  EXPECT_EQ(select.OnTestProtocol(out), 1);
  EXPECT_EQ(out.nProtocol, 6);
  bplink::SetDefaultHidSelector(hostSelector);

  CDevice_COM next;
  EXPECT_EQ(next.Open(Wide(bridge.Path()), Line(CBR_115200)), 1);
}

}  // namespace
