// The host-connected link: a socket or tty the host opened, used as it is.

#include <bplink/device.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <vector>

#include "pty.h"
#include "real_time.h"

namespace {

using bplink::testing::kLongTimeoutMs;
using bplink::testing::kSchedulingSlackMs;
using bplink::testing::kShortTimeoutMs;
using bplink::testing::Stopwatch;
using Bytes = std::vector<BYTE>;


class SocketLink : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_), 0); }
  void TearDown() override {
    for (int fd : fds_)
      if (fd >= 0) ::close(fd);
  }
  int host_end() const { return fds_[0]; }
  int device_end() const { return fds_[1]; }
  void HangUpDevice() {
    ::close(fds_[1]);
    fds_[1] = -1;
  }

  int fds_[2] = {-1, -1};
};

TEST_F(SocketLink, MovesExactCountsAndLeavesTheLinkToTheHost) {
  CDevice_Bluetooth dev(host_end());
  EXPECT_TRUE(dev.m_BlueTooth.IsConnected());
  EXPECT_EQ(dev.Open(L"", DCB{}), 1);

  Bytes request = {0x51};
  ASSERT_EQ(dev.SendData(request.data(), 1), 1);
  BYTE got[8] = {};
  ASSERT_EQ(::read(device_end(), got, sizeof got), 1);
  EXPECT_EQ(got[0], 0x51);

  const BYTE reply[5] = {0x88, 1, 2, 3, 4};
  ASSERT_EQ(::write(device_end(), reply, 5), 5);
  ASSERT_NE(dev.RecvData(got, 1), 0);
  ASSERT_NE(dev.RecvData(got + 1, 4), 0);
  EXPECT_EQ(Bytes(got, got + 5), Bytes(reply, reply + 5));

  // A protocol closes its device after each transfer; the link stays up.
  dev.Close();
  CDevice_Bluetooth copy(dev);
  EXPECT_EQ(copy.m_BlueTooth.m_hLink, host_end());
  EXPECT_NE(::fcntl(host_end(), F_GETFD), -1);
  ASSERT_EQ(copy.SendData(request.data(), 1), 1);
  EXPECT_EQ(::read(device_end(), got, sizeof got), 1);
}

TEST_F(SocketLink, MissingBytesTimeOut) {
  CDevice_Bluetooth dev(host_end());
  dev.SetRecvTimeout(kShortTimeoutMs);
  const BYTE one = 0x14;
  ASSERT_EQ(::write(device_end(), &one, 1), 1);
  BYTE got[2] = {};
  Stopwatch clock;
  EXPECT_EQ(dev.RecvData(got, 2), 0);
  EXPECT_GE(clock.ElapsedMs(), kShortTimeoutMs);
  EXPECT_LT(clock.ElapsedMs(), kShortTimeoutMs + kSchedulingSlackMs);
}

TEST_F(SocketLink, DroppedLinkFailsAtOnceWithoutSignals) {
  CDevice_Bluetooth dev(host_end());
  dev.SetRecvTimeout(kLongTimeoutMs);
  HangUpDevice();
  BYTE b[4] = {};
  Stopwatch clock;
  EXPECT_EQ(dev.RecvData(b, 4), 0);
  // Writing to a socket whose peer is gone would raise SIGPIPE and end the host.
  EXPECT_EQ(dev.SendData(b, 4), 0);
  EXPECT_EQ(dev.SendData(b, 4), 0);
  EXPECT_LT(clock.ElapsedMs(), static_cast<long long>(kLongTimeoutMs) / 2);
}

TEST(BluetoothLink, WithoutAHandleNothingMoves) {
  CDevice_Bluetooth dev;
  BYTE b = 0;
  EXPECT_FALSE(dev.m_BlueTooth.IsConnected());
  EXPECT_EQ(dev.Open(0), 0);
  EXPECT_EQ(dev.SendData(&b, 1), 0);
  EXPECT_EQ(dev.RecvData(&b, 1), 0);
}

// A host may hand over a tty it opened blocking, set to wait for several
// bytes at once; a receive must still end at its time-out, and the bytes
// stay for the next one.
TEST(BluetoothLink, BlockingTtyFromTheHostStillTimesOut) {
  bplink::sim::Pty pty;
  ASSERT_TRUE(pty.IsOpen());
  const int tty = ::open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(tty, 0);
  termios line{};
  ::tcgetattr(tty, &line);
  ::cfmakeraw(&line);
  line.c_cc[VMIN] = 4;
  line.c_cc[VTIME] = 0;
  ::tcsetattr(tty, TCSANOW, &line);

  CDevice_Bluetooth dev(tty);
  dev.SetRecvTimeout(kShortTimeoutMs);
  const BYTE two[2] = {7, 8};
  ASSERT_EQ(::write(pty.Master(), two, 2), 2);
  BYTE got[4] = {};
  Stopwatch clock;
  EXPECT_EQ(dev.RecvData(got, 3), 0);
  EXPECT_LT(clock.ElapsedMs(), kShortTimeoutMs + kSchedulingSlackMs);

  ASSERT_EQ(::write(pty.Master(), two, 2), 2);
  ASSERT_NE(dev.RecvData(got, 4), 0);
  EXPECT_EQ(Bytes(got, got + 4), (Bytes{7, 8, 7, 8}));
  ::close(tty);
}

}  // namespace
