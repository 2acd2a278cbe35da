// The scripted device is what most protocol tests stand on: it must notice
// every way a protocol can stray from the script.

#include <gtest/gtest.h>

#include "scripted_device.h"

namespace {

using bplink::testing::Bytes;
using bplink::testing::ScriptedDevice;

TEST(ScriptedDevice, PlaysTheExchangeInOrder) {
  ScriptedDevice dev;
  dev.ExpectSend({0x40}).Reply({0x41, 1, 2, 3}).ExpectSend({0x42}).Silence();
  BYTE cmd = 0x40;
  BYTE buf[4] = {};
  EXPECT_EQ(dev.SendData(&cmd, 1), 1);
  EXPECT_EQ(dev.RecvData(buf, 1), 1);  // a reply may be read in parts
  EXPECT_EQ(dev.RecvData(buf + 1, 3), 1);
  EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{0x41, 1, 2, 3}));
  cmd = 0x42;
  EXPECT_EQ(dev.SendData(&cmd, 1), 1);
  EXPECT_EQ(dev.RecvData(buf, 1), 0);
  EXPECT_TRUE(dev.Problems().empty());
}

TEST(ScriptedDevice, ReportsEveryDeviation) {
  ScriptedDevice dev;
  dev.ExpectSend({0x40}).Reply({0x41}).ExpectSend({0x43});
  BYTE wrong = 0x44;
  BYTE buf[2];
  dev.SendData(&wrong, 1);                 // wrong bytes
  EXPECT_EQ(dev.RecvData(buf, 2), 0);      // more than the reply holds
  EXPECT_EQ(dev.RecvData(buf, 1), 0);      // a read where a send is due
  EXPECT_EQ(dev.Problems().size(), 4u);    // three deviations, and 0x43 never came
}

}  // namespace
