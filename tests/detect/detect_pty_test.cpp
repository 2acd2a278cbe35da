// Detection through the real serial port: each family's device served on a
// pseudo-terminal. Pauses run on the virtual clock; receive time-outs are
// real, so they are kept short here.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include "family_devices.h"
#include "pty_bridge.h"
#include "real_time.h"
#include "virtual_env.h"

namespace bplink::testing {
namespace {

constexpr unsigned kTimeoutMs = 60;

// Detects on the pty paths listed, through a port of the test's with a short
// time-out, or through detection's own devices.
tag_SUPPORT_PROTOCOL DetectOn(const std::vector<std::wstring>& paths, bool ownDevices = false) {
  VirtualEnv env;
  ScopedEnv scope(&env);
  env.SetPortNames(paths);
  env.SetOpenablePaths({paths.begin(), paths.end()});
  CDevice_COM port;
  port.SetRecvTimeout(kTimeoutMs);
  CSelectProtocol select;
  if (!ownDevices) select.SetDevice(&port);
  // The HID request goes nowhere on a machine with HID devices of its own.
  const HidSelector hostSelector = DefaultHidSelector();
  SetDefaultHidSelector({.vendor_id = 0xFFFF, .product_id = 0xFFFF});
  tag_SUPPORT_PROTOCOL out{};
  EXPECT_EQ(select.OnTestProtocol(out), 1);
  SetDefaultHidSelector(hostSelector);
  EXPECT_FALSE(port.IsOpen());
  return out;
}

class DetectionOnPty : public ::testing::TestWithParam<const Family*> {};

TEST_P(DetectionOnPty, FindsTheFamilyThroughTheRealPort) {
  const auto device = MakeFamilyDevice(GetParam()->name, 1);
  sim::PtyBridge bridge(*device);
  ASSERT_TRUE(bridge.Start());
  EXPECT_EQ(DetectOn({Wide(bridge.Path())}).nProtocol, GetParam()->firstProtocol);
}

INSTANTIATE_TEST_SUITE_P(Serial, DetectionOnPty, ::testing::ValuesIn(SerialFamilies()),
                         [](const auto& info) { return std::string(info.param->name); });

// Without a device of the host's, detection makes its own and leaves the
// port free for the protocol class that comes next. (What a silent port
// costs is counted on the virtual clock in detect_test.cpp.)
TEST(DetectionOnPtys, WithDevicesOfItsOwnLeavesThePortFree) {
  const auto device = MakeFamilyDevice("kx71", 1);
  sim::PtyBridge bridge(*device);
  ASSERT_TRUE(bridge.Start());
  EXPECT_EQ(DetectOn({Wide(bridge.Path())}, true).nProtocol, 6);
  CDevice_COM next;
  EXPECT_EQ(next.Open(Wide(bridge.Path()), SerialLine(CBR_115200)), 1);
}

}  // namespace
}  // namespace bplink::testing
