// Detection against simulated devices behind one borrowed in-process device,
// on the virtual clock.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "detect/probe_responders.h"
#include "hid/hid_monitor.h"
#include "in_process_device.h"
#include "virtual_env.h"

namespace {

using namespace bplink::sim;
using bplink::testing::ScopedEnv;
using bplink::testing::VirtualEnv;
using Paths = std::vector<std::wstring>;

constexpr int kUnset = 255;
const std::wstring kSilentPort = L"/dev/ttyS0";
const std::wstring kDevicePort = L"/dev/ttyUSB0";

// A port with nothing on it, a busy one, then the port `model` sits on.
class Detection : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.SetPortNames({L"ttyS0", L"ttyS1", L"ttyUSB0"});
    env_.SetOpenablePaths({kSilentPort, kDevicePort});
  }
  // Detection on a fresh device, borrowed: deleting it would free it twice.
  // No port may be left open.
  int Detect(DeviceModel* model, DeviceModel* hid = nullptr) {
    device_ = std::make_unique<InProcessDevice>(hid);
    device_->AttachPort(kSilentPort, nullptr);
    device_->AttachPort(kDevicePort, model);
    device_->SetRecvTimeout(CDevice_COM::kDefaultRecvTimeoutMs);
    device_->SetTap([this](bool fromHost, const BYTE* data, DWORD size) {
      if (fromHost) lastRequest_.assign(data, data + size);
    });
    CSelectProtocol select;
    EXPECT_FALSE(select.SetDevice(nullptr));
    EXPECT_TRUE(select.SetDevice(device_.get()));
    const int result = select.OnTestProtocol(out_);
    EXPECT_FALSE(device_->IsOpen());
    EXPECT_EQ(device_->Opens(), device_->Closes());
    return result;
  }
  VirtualEnv env_;
  ScopedEnv scope_{&env_};
  std::unique_ptr<InProcessDevice> device_;
  std::vector<BYTE> lastRequest_;  // the last frame the host sent
  tag_SUPPORT_PROTOCOL out_{};
};

TEST_F(Detection, EachSerialFamilyAnswersOnlyItsOwnProbe) {
  struct Case {
    std::unique_ptr<DeviceModel> model;
    int type, protocol, variant;
    size_t probesOnItsPort;  // the probes that run before it answers, its own included
    DWORD baud;
    DWORD downloadBaud = 0;  // a speed where the same request means something else
  };
  Case cases[] = {
      {MakeKX71ProbeResponder(kx71::kWithoutPlan), 1, 6, 1, 1, CBR_115200},
      {MakeKX71ProbeResponder(kx71::kStandard), 1, 6, 2, 1, CBR_115200},
      {MakeKX71ProbeResponder(kx71::kKeepsPlan), 1, 6, 2, 1, CBR_115200},
      {MakeProbeResponder(SerialFamily::kKV32), 3, 7, kUnset, 2, CBR_4800},
      {MakeProbeResponder(SerialFamily::kVestra16C), 6, 9, kUnset, 3, CBR_4800},
      // Also echoes the VESTRA16C request, with its settings block: found as 8, not 9.
      {MakeProbeResponder(SerialFamily::kVestra16), 4, 8, kUnset, 4, CBR_4800},
      // At 9600 its probe byte 0x14 is a real request: download store 1.
      {MakeProbeResponder(SerialFamily::kVestra18), 5, 10, kUnset, 5, CBR_4800, CBR_9600},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.protocol);
    EXPECT_EQ(Detect(c.model.get()), 1);
    EXPECT_EQ(out_, (tag_SUPPORT_PROTOCOL{c.type, c.protocol, kUnset, c.variant, kUnset}));
    Paths tried(5, kSilentPort);
    tried.insert(tried.end(), c.probesOnItsPort, kDevicePort);
    EXPECT_EQ(device_->TriedPaths(), tried);
    EXPECT_EQ(device_->LineSpeed(), c.baud);

    // The request it answered is noise to it at any other speed.
    for (unsigned baud : {CBR_4800, CBR_9600, CBR_115200})
      if (baud != c.baud && baud != c.downloadBaud) c.model->Receive(lastRequest_.data(), lastRequest_.size(), baud);
    EXPECT_TRUE(c.model->Outbox().empty());
  }
}

TEST_F(Detection, NearMissesAndSilenceFindNothing) {
  const std::vector<std::uint8_t> wake{0x01, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC};
  ProbeResponder wrongTail(CBR_115200, wake, {0x02, 0x8F, 0xFF, 0xFE, 0xFD, 0x00});
  ProbeResponder wrongKind(CBR_115200, wake, {0x03, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC});
  ProbeResponder wrong18(CBR_4800, {0x14}, {0x14, 0x12});
  ProbeResponder half18(CBR_4800, {0x14}, {0x14});
  ProbeResponder short16(CBR_4800, {0x88}, {0x88, 0x01, 0x02});
  for (DeviceModel* model : {&wrongTail, &wrongKind, &wrong18, &half18, &short16}) {
    EXPECT_EQ(Detect(model), 11);
    EXPECT_EQ(out_, (tag_SUPPORT_PROTOCOL{kUnset, kUnset, kUnset, kUnset, kUnset}));
  }
  // What two ports with nothing on them cost at the serial port's default time-out.
  const auto before = env_.ElapsedMs();
  EXPECT_EQ(Detect(nullptr), 11);
  const auto perSilentPort = (env_.ElapsedMs() - before) / 2;
  EXPECT_EQ(perSilentPort, 5 * (100 + 2 * CDevice_COM::kDefaultRecvTimeoutMs));
  RecordProperty("virtual_ms_per_silent_port", static_cast<int>(perSilentPort));
  env_.SetPortNames({});
  EXPECT_EQ(Detect(nullptr), 11);
}

TEST_F(Detection, HidIdentityBytesAsTheyCome) {
  struct Case {
    BYTE identity, flags, version;
    int type, protocol, variant;
  };
  const Case cases[] = {
      {0x11, 0x00, 3, 3, 3, kUnset},     {0x03, 0x00, 1, 1, 1, 1},       {0x05, 0x00, 7, 1, 1, 2},
      {0x05, 0x01, 7, 1, 1, kUnset},     {0x05, 0x80, 0, 1, 1, 2},       {0x25, 0x00, 1, 6, -1, kUnset},
      {0x00, 0x00, 255, -1, -1, kUnset}, {0x0F, 0x00, 1, -1, 6, kUnset}, {0x3F, 0x00, 1, -1, 8, kUnset},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.identity));
    HidMonitor hid;
    hid.Config().identity = c.identity;
    hid.Config().version = c.version;
    hid.Config().flags = c.flags;
    EXPECT_EQ(Detect(MakeProbeResponder(SerialFamily::kKV32).get(), &hid), 1);
    EXPECT_EQ(out_, (tag_SUPPORT_PROTOCOL{c.type, c.protocol, kUnset, c.variant, c.version}));
    EXPECT_TRUE(device_->TriedPaths().empty());
    EXPECT_TRUE(hid.Complaints().empty());
  }
}

TEST_F(Detection, SerialFindAfterHidKeepsTheVersionAndRepeats) {
  HidMonitor hid;
  hid.Config().identity = 0x51;
  hid.Config().version = 9;
  auto kv32 = MakeProbeResponder(SerialFamily::kKV32);
  InProcessDevice device(&hid);
  device.AttachPort(kDevicePort, kv32.get());
  CSelectProtocol select;
  select.SetDevice(&device);
  ASSERT_EQ(select.OnTestProtocol(out_), 1);
  EXPECT_EQ(out_.nProtocol, 2);

  const tag_SUPPORT_PROTOCOL serialFind{3, 7, kUnset, kUnset, 9};
  for (HidFault fault : {HidFault::kWrongFirstByte, HidFault::kSilent}) {
    hid.SetFault(HidExchange::kDeviceInfo, fault);
    EXPECT_EQ(select.OnTestProtocol(out_), 1);
    EXPECT_EQ(out_, serialFind);
  }
  device.AttachHid(nullptr);
  CSelectProtocol copy(select);
  EXPECT_EQ(copy.OnTestProtocol(out_), 1);
  EXPECT_EQ(out_, serialFind);
  EXPECT_FALSE(device.IsOpen());
}

// Lists no port: the system cannot be asked.
class NoPortList : public VirtualEnv {
  std::vector<std::wstring> ComPortNames() override { throw bplink::ComPortError(L"Could not read"); }
};
// A line that breaks on the first byte sent over it.
class BreakingLine : public InProcessDevice {
  int SendData(BYTE*, DWORD) override { throw std::runtime_error("line gone"); }
};

TEST_F(Detection, ExceptionsGiveEightWithTheRecordUntouched) {
  NoPortList noList;
  auto kx71 = MakeProbeResponder(SerialFamily::kKX71);
  const tag_SUPPORT_PROTOCOL earlier{1, 2, 3, 4, 5};
  for (bool listFails : {true, false}) {
    ScopedEnv scope(listFails ? static_cast<bplink::Env*>(&noList) : &env_);
    BreakingLine device;
    device.AttachPort(kDevicePort, kx71.get());
    CSelectProtocol select;
    select.SetDevice(&device);
    out_ = earlier;
    EXPECT_EQ(select.OnTestProtocol(out_), 8);
    EXPECT_EQ(out_, earlier);
    EXPECT_FALSE(device.IsOpen());
  }
}

// A line that never goes quiet, with nothing any family would answer.
class NoisyLine : public InProcessDevice {
  int RecvData(BYTE* data, DWORD size) override {
    std::fill_n(data, size, 0x00);
    return 1;
  }
};

TEST_F(Detection, ALineThatNeverGoesQuietEndsTheScan) {
  NoisyLine device;
  device.AttachPort(kDevicePort, nullptr);
  CSelectProtocol select;
  select.SetDevice(&device);
  EXPECT_EQ(select.OnTestProtocol(out_), 11);
}

}  // namespace
