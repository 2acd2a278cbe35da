// Detection against simulated devices behind one borrowed in-process device,
// on the virtual clock: each serial family of the table found by its probe,
// the near misses no family takes, the HID identity bytes, and failures.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <tuple>

#include "detect/probe_responders.h"
#include "family_devices.h"
#include "hid/hid_monitor.h"
#include "in_process_device.h"
#include "virtual_env.h"

namespace bplink::testing {
namespace {

using sim::DeviceModel;
using sim::InProcessDevice;
using sim::ProbeResponder;

constexpr int kUnset = 255;
const std::wstring kSilentPort = ComPortPath(L"ttyS0");
const std::wstring kDevicePort = ComPortPath(L"ttyUSB0");

// A port with nothing on it, a busy one, then the port the device sits on.
class Detection : public ::testing::Test {
 protected:
  Detection() {
    env_.SetPortNames({L"ttyS0", L"ttyS1", L"ttyUSB0"});
    env_.SetOpenablePaths({kSilentPort, kDevicePort});
  }
  // Detection on a fresh device, borrowed: deleting it would free it twice.
  int Detect(DeviceModel* model, DeviceModel* hid = nullptr) {
    device_ = std::make_unique<InProcessDevice>(hid);
    device_->AttachPort(kSilentPort, nullptr);
    device_->AttachPort(kDevicePort, model);
    device_->SetRecvTimeout(CDevice_COM::kDefaultRecvTimeoutMs);
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
  tag_SUPPORT_PROTOCOL out_{};
};

// The devices of a family and of every family after it in the table on one
// port: each hears what the host sends, and their answers queue in turn.
struct Chorus : DeviceModel {
  explicit Chorus(const Family* first) {
    const auto serial = SerialFamilies();
    for (auto f = std::find(serial.begin(), serial.end(), first); f != serial.end(); ++f)
      members.push_back(MakeFamilyDevice((*f)->name, 1));
  }
  void Receive(const std::uint8_t* data, std::size_t size, unsigned baud) override {
    for (auto& m : members) {
      m->Receive(data, size, baud);
      Send(m->Outbox());
      m->Outbox().clear();
    }
  }
  std::vector<std::unique_ptr<DeviceModel>> members;
};

class EachFamily : public Detection, public ::testing::WithParamInterface<const Family*> {};

// Each family is found by its own probe, after the probes before it have
// failed on its device, and before any later family that would answer too;
// as the protocol its class says it serves.
TEST_P(EachFamily, IsFoundByItsOwnProbeInTheTablesOrder) {
  const auto serial = SerialFamilies();
  Chorus chorus(GetParam());
  ASSERT_EQ(Detect(&chorus), 1);
  tag_SUPPORT_PROTOCOL own;
  GetParam()->make()->GetCurDeviceInfo(own);
  EXPECT_EQ(std::tuple(out_.nDeviceType, out_.nProtocol, out_.nReserved, out_.nVersion),
            std::tuple(own.nDeviceType, own.nProtocol, kUnset, kUnset));
  EXPECT_EQ(FamilyForProtocol(out_.nProtocol), GetParam());
  std::vector<std::wstring> tried(serial.size(), kSilentPort);
  tried.insert(tried.end(), std::find(serial.begin(), serial.end(), GetParam()) - serial.begin() + 1, kDevicePort);
  EXPECT_EQ(device_->TriedPaths(), tried);
}

INSTANTIATE_TEST_SUITE_P(Serial, EachFamily, ::testing::ValuesIn(SerialFamilies()),
                         [](const auto& info) { return std::string(info.param->name); });

TEST_F(Detection, RecorderVariantsNearMissesAndSilence) {
  const std::pair<BYTE, int> variants[] = {{0x15, 1}, {0x02, 2}, {0x34, 2}};
  for (const auto& [kind, variant] : variants) {
    EXPECT_EQ(Detect(sim::MakeKX71ProbeResponder(kind).get()), 1);
    EXPECT_EQ(out_, (tag_SUPPORT_PROTOCOL{1, 6, kUnset, variant, kUnset}));
  }
  const std::vector<std::uint8_t> wake{0x01, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC};
  // A wrong tail, a wrong kind, a wrong, a half and a short answer.
  ProbeResponder nearMisses[] = {{115200, wake, {0x02, 0x8F, 0xFF, 0xFE, 0xFD, 0x00}},
                                 {115200, wake, {0x03, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC}},
                                 {4800, {0x14}, {0x14, 0x12}}, {4800, {0x14}, {0x14}}, {4800, {0x88}, {0x88, 0x01, 0x02}}};
  for (ProbeResponder& model : nearMisses) {
    EXPECT_EQ(Detect(&model), 11);
    EXPECT_EQ(out_, (tag_SUPPORT_PROTOCOL{kUnset, kUnset, kUnset, kUnset, kUnset}));
  }
  // On a port with nothing on it each probe waits for its answer, then drains.
  const auto before = env_.ElapsedMs();
  EXPECT_EQ(Detect(nullptr), 11);
  EXPECT_EQ(env_.ElapsedMs() - before, 2 * 5 * (100 + 2 * CDevice_COM::kDefaultRecvTimeoutMs));
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
  const auto kv32 = MakeFamilyDevice("kv32", 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.identity));
    sim::HidMonitor hid;
    hid.Config().identity = c.identity, hid.Config().version = c.version, hid.Config().flags = c.flags;
    EXPECT_EQ(Detect(kv32.get(), &hid), 1);
    EXPECT_EQ(out_, (tag_SUPPORT_PROTOCOL{c.type, c.protocol, kUnset, c.variant, c.version}));
    EXPECT_EQ(std::tuple(device_->TriedPaths().size(), hid.Complaints().size()), std::tuple(0u, 0u));
  }
}

// A HID reply that is no answer falls back to the serial ports; the version
// of an earlier HID find stays, and a second call answers alike.
TEST_F(Detection, SerialFindAfterHidKeepsTheVersionAndRepeats) {
  sim::HidMonitor hid;
  hid.Config().identity = 0x51, hid.Config().version = 9;
  const auto kv32 = MakeFamilyDevice("kv32", 0);
  InProcessDevice device(&hid);
  device.AttachPort(kDevicePort, kv32.get());
  CSelectProtocol select;
  select.SetDevice(&device);
  ASSERT_EQ(select.OnTestProtocol(out_), 1);
  EXPECT_EQ(out_.nProtocol, 2);
  for (sim::HidFault fault : {sim::HidFault::kWrongFirstByte, sim::HidFault::kSilent}) {
    hid.SetFault(sim::HidExchange::kDeviceInfo, fault);
    EXPECT_EQ(select.OnTestProtocol(out_), 1);
    EXPECT_EQ(out_, (tag_SUPPORT_PROTOCOL{3, 7, kUnset, kUnset, 9}));
  }
}

// The system cannot list its ports, or the line breaks on the first byte.
TEST_F(Detection, ExceptionsGiveEightWithTheAnswerUntouched) {
  struct : VirtualEnv {
    std::vector<std::wstring> ComPortNames() override { throw ComPortError(L"Could not read"); }
  } noList;
  struct Breaking : InProcessDevice {
    int SendData(BYTE*, DWORD) override { throw std::runtime_error("line gone"); }
  };
  const auto kx71 = MakeFamilyDevice("kx71", 0);
  for (Env* env : {static_cast<Env*>(&noList), static_cast<Env*>(&env_)}) {
    ScopedEnv scope(env);
    Breaking device;
    device.AttachPort(kDevicePort, kx71.get());
    CSelectProtocol select;
    select.SetDevice(&device);
    out_ = {1, 2, 3, 4, 5};
    EXPECT_EQ(select.OnTestProtocol(out_), 8);
    EXPECT_EQ(std::tuple(out_, device.IsOpen()), std::tuple(tag_SUPPORT_PROTOCOL{1, 2, 3, 4, 5}, false));
  }
}

}  // namespace
}  // namespace bplink::testing
