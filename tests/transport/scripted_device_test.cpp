// The scripted device is what most protocol tests stand on: it must notice
// every way a protocol can stray from the script. (Playing a script through
// is what every protocol test that uses it does.)

#include <gtest/gtest.h>

#include "scripted_device.h"

namespace {

using bplink::testing::ScriptedDevice;

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
