// DetectAll through the real serial port, on pseudo-terminals: every port is
// probed at once and reported, a device on each, a silent, a missing and a
// vanishing port, the host's stop request, and the first answer against
// CSelectProtocol's. Pauses run on the virtual clock; receive time-outs are
// real, so they are short here except where a test needs a worker to wait.

#include <bplink/bplink.h>
#include <bplink/scan/detect_all.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <thread>

#include "family_devices.h"
#include "hid/hid_monitor.h"
#include "in_process_device.h"
#include "pty.h"
#include "pty_bridge.h"
#include "real_time.h"
#include "virtual_env.h"

namespace bplink::testing {
namespace {

constexpr unsigned kTimeoutMs = 60;
constexpr int kUnset = 255;
const std::wstring kMissing = L"/dev/bplink-no-such-port";

// The ports a test lists, all of them openable for the Env's probe: which
// ones open is up to the ports themselves.
struct PtyRig {
  explicit PtyRig(std::vector<std::wstring> paths) : paths(std::move(paths)) {
    env.SetPortNames(this->paths);
    env.SetOpenablePaths({this->paths.begin(), this->paths.end()});
  }
  // DetectAll without the HID link, whose request would reach this
  // machine's own HID devices.
  int Detect(unsigned timeoutMs = kTimeoutMs, int* state = nullptr) {
    DetectAllOptions options;
    options.probeHid = false;
    options.serialTimeoutMs = timeoutMs;
    options.state = state;
    options.linksDone = &done;
    options.linksToProbe = &toProbe;
    return DetectAll(found, options);
  }
  // Whether every port that opened for detection opens again: none is held.
  bool AllFree() const {
    for (const auto& path : paths) {
      if (path == kMissing) continue;
      CDevice_COM port;
      if (port.Open(path, SerialLine(CBR_9600)) != 1) return false;
    }
    return true;
  }
  std::vector<std::wstring> paths;
  VirtualEnv env;
  ScopedEnv scope{&env};
  std::vector<DetectedPort> found;
  int done = 0, toProbe = 0;
};

std::vector<PortStatus> Statuses(const std::vector<DetectedPort>& ports) {
  std::vector<PortStatus> statuses;
  for (const auto& p : ports) statuses.push_back(p.status);
  return statuses;
}

// Waits until every pty has heard the host, so every worker has sent its
// first request and is inside the receive that follows it (the pause before
// it runs on the virtual clock).
void AwaitRequests(const std::vector<sim::Pty*>& ptys) {
  for (sim::Pty* pty : ptys) {
    pollfd fd{pty->Master(), POLLIN, 0};
    ASSERT_EQ(::poll(&fd, 1, static_cast<int>(kLongTimeoutMs)), 1);
  }
}

// Two devices of different families behind a silent and a missing port are
// both found, each port says what it is, and the first answer is the one
// CSelectProtocol gives on the same ports.
TEST(DetectAll, FindsEveryDeviceAndSaysWhyEachOtherPortGaveNothing) {
  const auto kx71 = MakeFamilyDevice("kx71", 1);
  const auto vestra16 = MakeFamilyDevice("vestra16", 1);
  sim::PtyBridge first(*vestra16), second(*kx71);
  sim::Pty silent;
  ASSERT_TRUE(silent.IsOpen() && first.Start() && second.Start());
  PtyRig rig({Wide(silent.Path()), kMissing, Wide(first.Path()), Wide(second.Path())});

  ASSERT_EQ(rig.Detect(), 1);
  ASSERT_EQ(rig.found.size(), 4u);
  EXPECT_EQ(Statuses(rig.found), (std::vector<PortStatus>{PortStatus::kSilent, PortStatus::kCannotOpen,
                                                            PortStatus::kFound, PortStatus::kFound}));
  EXPECT_EQ(rig.found[1].error.kind, LinkErrorKind::kNoSuchPort);
  EXPECT_EQ(rig.found[1].error.text, "no such file or directory");
  EXPECT_EQ(rig.found[2].device, (tag_SUPPORT_PROTOCOL{4, 8, kUnset, kUnset, kUnset}));
  EXPECT_EQ(rig.found[3].device, (tag_SUPPORT_PROTOCOL{1, 6, kUnset, 2, kUnset}));
  for (std::size_t i = 0; i < rig.paths.size(); ++i) EXPECT_EQ(rig.found[i].port, rig.paths[i]);
  EXPECT_EQ(std::pair(rig.done, rig.toProbe), std::pair(4, 4));
  // Every probe ran once on the silent port, up to its family's on the others.
  EXPECT_EQ(rig.env.Sleeps(), std::vector<unsigned>(5 + 4 + 1, 100));
  EXPECT_TRUE(rig.AllFree());

  CDevice_COM port;
  port.SetRecvTimeout(kTimeoutMs);
  CSelectProtocol select;
  select.SetDevice(&port);
  tag_SUPPORT_PROTOCOL sequential{};
  ASSERT_EQ(select.OnTestProtocol(sequential), 1);
  ASSERT_NE(FirstFound(rig.found), nullptr);
  EXPECT_EQ(FirstFound(rig.found)->device, sequential);
}

// A port unplugged while its worker waits for an answer ends that worker at
// once with "gone"; the device on the other port is still found.
TEST(DetectAll, APortThatVanishesMidProbeIsGoneAndDisturbsNoOther) {
  constexpr unsigned kWaitMs = 1000;
  const auto kx71 = MakeFamilyDevice("kx71", 1);
  sim::PtyBridge device(*kx71);
  sim::Pty vanishing;
  ASSERT_TRUE(vanishing.IsOpen() && device.Start());
  PtyRig rig({Wide(vanishing.Path()), Wide(device.Path())});
  std::thread unplug([&] {
    AwaitRequests({&vanishing});
    vanishing.Close();
  });
  const Stopwatch watch;
  EXPECT_EQ(rig.Detect(kWaitMs), 1);
  unplug.join();
  // A silent port would wait ten receives; the recorder's costs one drain.
  EXPECT_LT(watch.ElapsedMs(), 2 * kWaitMs + kSchedulingSlackMs);
  EXPECT_EQ(Statuses(rig.found), (std::vector<PortStatus>{PortStatus::kGone, PortStatus::kFound}));
  EXPECT_EQ(rig.found[0].error.kind, LinkErrorKind::kLinkLost);
  EXPECT_EQ(rig.found[1].device.nProtocol, 6);
  EXPECT_EQ(rig.done, 2);
}

// The host's stop request, written while every worker waits inside a
// receive, ends them all within that receive, and no port stays open.
TEST(DetectAll, StopWhileEveryWorkerReceivesEndsWithinOneTimeOut) {
  constexpr unsigned kWaitMs = 1000;
  std::vector<std::unique_ptr<sim::Pty>> ptys(4);
  std::vector<sim::Pty*> raw;
  std::vector<std::wstring> paths;
  for (auto& pty : ptys) {
    pty = std::make_unique<sim::Pty>();
    ASSERT_TRUE(pty->IsOpen());
    raw.push_back(pty.get());
    paths.push_back(Wide(pty->Path()));
  }
  PtyRig rig(paths);
  int state = kStateRunning;
  std::atomic<long long> stoppedAt{0};
  const Stopwatch watch;
  std::thread host([&] {
    AwaitRequests(raw);
    std::atomic_ref<int>(state).store(kStateStopRequested);
    stoppedAt = watch.ElapsedMs();
  });
  EXPECT_EQ(rig.Detect(kWaitMs, &state), 11);
  const long long ended = watch.ElapsedMs();
  host.join();
  EXPECT_LT(ended - stoppedAt, static_cast<long long>(kWaitMs) + kSchedulingSlackMs);
  EXPECT_LT(ended, 2LL * kWaitMs + kSchedulingSlackMs) << "no worker went on to a second receive";
  EXPECT_EQ(Statuses(rig.found), (std::vector<PortStatus>(4, PortStatus::kStopped)));
  EXPECT_EQ(std::pair(rig.done, rig.toProbe), std::pair(4, 4));
  EXPECT_EQ(std::atomic_ref<int>(state).load(), kStateStopRequested) << "detection leaves the state to the host";
  EXPECT_TRUE(rig.AllFree());
}

// In process, on the virtual clock: the HID link beside the ports, a port
// this user may not open, and the answer CSelectProtocol gives.
TEST(DetectAll, HidBesideThePortsAndAPortNotPermitted) {
  VirtualEnv env;
  ScopedEnv scope(&env);
  env.SetPortNames({L"ttyS0", L"ttyS1", L"ttyUSB0"});
  env.SetOpenablePaths({L"/dev/ttyS0", L"/dev/ttyUSB0"});
  sim::HidMonitor hid;
  hid.Config().identity = 0x05, hid.Config().version = 7;
  const auto kv32 = MakeFamilyDevice("kv32", 0);
  const auto attach = [&](sim::InProcessDevice& device) {
    device.AttachHid(&hid);
    device.AttachPort(L"/dev/ttyS0", nullptr);
    device.AttachPort(L"/dev/ttyUSB0", kv32.get());
  };
  // Each worker's device says, as DetectAll deletes it, whether it was left
  // open and whether every open was closed.
  struct Told : sim::InProcessDevice {
    explicit Told(std::vector<std::pair<bool, bool>>& told) : told(told) {}
    ~Told() override { told.emplace_back(IsOpen(), Opens() == Closes()); }
    std::vector<std::pair<bool, bool>>& told;
  };
  std::vector<std::pair<bool, bool>> told;
  DetectAllOptions options;
  options.makeDevice = [&](LinkKind) {
    auto device = std::make_unique<Told>(told);
    attach(*device);
    return device;
  };
  options.lastError = [](const CDevice&) { return LinkError{LinkErrorKind::kPermissionDenied, 13, "permission denied"}; };
  std::vector<DetectedPort> ports;
  ASSERT_EQ(DetectAll(ports, options), 1);
  EXPECT_EQ(Statuses(ports), (std::vector<PortStatus>{PortStatus::kFound, PortStatus::kSilent,
                                                      PortStatus::kNotPermitted, PortStatus::kFound}));
  EXPECT_EQ(ports[0].link, LinkKind::kUsbHid);
  EXPECT_EQ(ports[0].device, (tag_SUPPORT_PROTOCOL{1, 1, kUnset, 2, 7}));
  EXPECT_EQ(ports[2].error.text, "permission denied");
  EXPECT_EQ(ports[3].device.nProtocol, 7);
  EXPECT_EQ(told, (std::vector<std::pair<bool, bool>>(4, {false, true})));

  sim::InProcessDevice borrowed;
  attach(borrowed);
  CSelectProtocol select;
  select.SetDevice(&borrowed);
  tag_SUPPORT_PROTOCOL sequential{};
  ASSERT_EQ(select.OnTestProtocol(sequential), 1);
  EXPECT_EQ(FirstFound(ports)->device, sequential);
}

TEST(DetectAll, PortsThatCannotBeListedGiveEightAndNothing) {
  struct : VirtualEnv {
    std::vector<std::wstring> ComPortNames() override { throw ComPortError(L"Could not read"); }
  } noList;
  ScopedEnv scope(&noList);
  std::vector<DetectedPort> ports(1);
  DetectAllOptions options;
  options.probeHid = false;
  EXPECT_EQ(DetectAll(ports, options), 8);
  EXPECT_TRUE(ports.empty());
}

}  // namespace
}  // namespace bplink::testing
