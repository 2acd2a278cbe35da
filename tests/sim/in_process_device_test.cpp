// The in-process adapter behaves like a port: only where a model sits does
// anything answer, and a silent read costs the receive time-out.

#include <gtest/gtest.h>

#include "in_process_device.h"
#include "virtual_env.h"

namespace {

using bplink::sim::InProcessDevice;

// Answers every byte with its complement, and only at its own speed.
class ComplementModel : public bplink::sim::DeviceModel {
 public:
  explicit ComplementModel(unsigned speed) : speed_(speed) {}
  void Receive(const std::uint8_t* data, std::size_t size, unsigned baud) override {
    if (baud != speed_) return;
    for (std::size_t i = 0; i < size; ++i) Send(static_cast<std::uint8_t>(~data[i]));
  }
  int opens = 0, closes = 0;
  void OnOpen(unsigned) override { ++opens; }
  void OnClose() override { ++closes; }

 private:
  unsigned speed_;
};

DCB Line(DWORD baud) {
  DCB dcb{};
  dcb.BaudRate = baud;
  dcb.ByteSize = 8;
  return dcb;
}

TEST(InProcessDevice, OnlyThePortWithTheModelAnswers) {
  bplink::testing::VirtualEnv env;
  bplink::testing::ScopedEnv scope(&env);
  ComplementModel model(9600);
  InProcessDevice dev;
  dev.AttachPort(L"/dev/ttyS0", nullptr);
  dev.AttachPort(L"/dev/ttyUSB0", &model);
  BYTE out[2] = {0x0F, 0xAA}, in[2] = {};

  EXPECT_EQ(dev.Open(L"/dev/ttyS9", Line(9600)), 0);  // no such port
  ASSERT_EQ(dev.Open(L"/dev/ttyS0", Line(9600)), 1);  // a port with nothing on it
  EXPECT_EQ(dev.SendData(out, 2), 1);
  EXPECT_EQ(dev.RecvData(in, 1), 0);
  EXPECT_EQ(env.ElapsedMs(), InProcessDevice::kDefaultRecvTimeoutMs);
  dev.Close();

  ASSERT_EQ(dev.Open(L"/dev/ttyUSB0", Line(9600)), 1);
  EXPECT_EQ(dev.Open(L"/dev/ttyUSB0", Line(9600)), 0);  // already open
  EXPECT_EQ(dev.SendData(out, 2), 1);
  ASSERT_EQ(dev.RecvData(in, 2), 1);
  EXPECT_EQ(in[0], 0xF0);
  EXPECT_EQ(in[1], 0x55);
  dev.Close();
  EXPECT_EQ(model.opens, 1);
  EXPECT_EQ(model.closes, 1);
  EXPECT_EQ(dev.SendData(out, 2), 0);  // closed
}

TEST(InProcessDevice, WrongSpeedAndShortRepliesFailLikeAWire) {
  bplink::testing::VirtualEnv env;
  bplink::testing::ScopedEnv scope(&env);
  ComplementModel model(4800);
  InProcessDevice dev;
  dev.SetRecvTimeout(250);
  dev.AttachPort(L"COM1", &model);
  BYTE out[1] = {0x01}, in[2] = {};

  ASSERT_EQ(dev.Open(L"COM1", Line(115200)), 1);
  dev.SendData(out, 1);
  EXPECT_EQ(dev.RecvData(in, 1), 0);  // not understood at this speed
  dev.Close();

  ASSERT_EQ(dev.Open(L"COM1", Line(4800)), 1);
  dev.SendData(out, 1);
  EXPECT_EQ(dev.RecvData(in, 2), 0);  // one byte came, two were asked for
  EXPECT_EQ(dev.RecvData(in, 1), 0);  // and the failed read consumed it
  EXPECT_EQ(env.ElapsedMs(), 750u);
}

TEST(InProcessDevice, HidModelAnswersOpenZero) {
  ComplementModel model(bplink::sim::kNoLineSpeed);
  InProcessDevice dev;
  EXPECT_EQ(dev.Open(0), 0);
  dev.AttachHid(&model);
  ASSERT_NE(dev.Open(0), 0);
  BYTE out[1] = {0x40}, in[1] = {};
  dev.SendData(out, 1);
  ASSERT_EQ(dev.RecvData(in, 1), 1);
  EXPECT_EQ(in[0], 0xBF);
}

}  // namespace
