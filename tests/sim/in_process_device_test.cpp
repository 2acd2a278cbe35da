// The in-process adapter behaves like a port: only where a model sits does
// anything answer, only at the model's speed, and a silent read costs the
// receive time-out. The registry makes every family's demo device by name.

#include <bplink/comports.h>
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <typeindex>

#include "echo_model.h"
#include "in_process_device.h"
#include "models.h"
#include "real_time.h"
#include "virtual_env.h"

namespace {

using bplink::sim::InProcessDevice;
using bplink::SerialLine;

// An echo at one speed that counts how often the host opened and closed it.
struct CountingEcho : bplink::sim::EchoModel {
  using EchoModel::EchoModel;
  void OnOpen(unsigned) override { ++opens; }
  void OnClose() override { ++closes; }
  int opens = 0, closes = 0;
};

TEST(InProcessDevice, OnlyTheModelAtItsSpeedAnswersAndEverySilenceCostsTheTimeOut) {
  bplink::testing::VirtualEnv env;
  bplink::testing::ScopedEnv scope(&env);
  CountingEcho model(CBR_4800), hid(bplink::sim::kNoLineSpeed);
  InProcessDevice dev;
  dev.AttachPort(L"/dev/ttyS0", nullptr);
  dev.AttachPort(L"/dev/ttyUSB0", &model);
  BYTE out[2] = {0x0F, 0xAA}, in[2] = {};

  EXPECT_EQ(dev.Open(L"/dev/ttyS9", SerialLine(CBR_4800)), 0);  // no such port
  EXPECT_EQ(dev.Open(0), 0);                                    // no HID device
  ASSERT_EQ(dev.Open(L"/dev/ttyS0", SerialLine(CBR_4800)), 1);  // a port with nothing on it
  EXPECT_EQ(dev.SendData(out, 2), 1);
  EXPECT_EQ(dev.RecvData(in, 1), 0);
  dev.Close();
  ASSERT_EQ(dev.Open(L"/dev/ttyUSB0", SerialLine(CBR_115200)), 1);
  dev.SendData(out, 1);
  EXPECT_EQ(dev.RecvData(in, 1), 0);  // not understood at this speed
  dev.Close();
  EXPECT_EQ(env.ElapsedMs(), 2 * InProcessDevice::kDefaultRecvTimeoutMs);

  dev.SetRecvTimeout(250);
  ASSERT_EQ(dev.Open(L"/dev/ttyUSB0", SerialLine(CBR_4800)), 1);
  EXPECT_EQ(dev.Open(L"/dev/ttyUSB0", SerialLine(CBR_4800)), 0);  // already open
  EXPECT_EQ(dev.SendData(out, 2), 1);
  ASSERT_EQ(dev.RecvData(in, 2), 1);
  EXPECT_EQ(in[1], 0xAA);
  dev.SendData(out, 1);
  EXPECT_EQ(dev.RecvData(in, 2), 0);  // one byte came, two were asked for
  EXPECT_EQ(dev.RecvData(in, 1), 0);  // and the failed read consumed it
  dev.Close();
  EXPECT_EQ(env.ElapsedMs(), 2 * InProcessDevice::kDefaultRecvTimeoutMs + 2 * 250);
  EXPECT_EQ(std::pair(model.opens, model.closes), std::pair(2, 2));
  EXPECT_EQ(dev.SendData(out, 2), 0);  // closed

  dev.AttachHid(&hid);
  ASSERT_EQ(dev.Open(0), 1);
  dev.SendData(out + 1, 1);
  EXPECT_EQ(dev.RecvData(in, 1), 1);
  EXPECT_EQ(in[0], 0xAA);
}

// Every family has its own demo device, which refuses what it cannot store;
// a name no family has is answered with the names there are.
TEST(Models, EveryFamilyMakesItsOwnDeviceAndAnUnknownNameListsThem) {
  const std::vector<std::string> names = bplink::sim::FamilyNames();
  bplink::sim::SimSettings impossible;
  impossible.records = -1;
  std::set<std::type_index> kinds;
  for (const std::string& name : names) {
    const auto model = bplink::sim::MakeModel(name, {});
    ASSERT_NE(model, nullptr) << name;
    const bplink::sim::DeviceModel& device = *model;
    kinds.insert(typeid(device));
    EXPECT_THROW(bplink::sim::MakeModel(name, impossible), std::invalid_argument) << name;
  }
  EXPECT_EQ(kinds.size(), names.size());
  try {
    bplink::sim::MakeModel("kx72", {});
    ADD_FAILURE() << "an unknown family was made";
  } catch (const std::invalid_argument& e) {
    for (const std::string& name : names) EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << name;
  }
}

}  // namespace
