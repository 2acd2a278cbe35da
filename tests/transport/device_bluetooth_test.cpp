// The host-connected link: a socket or tty the host opened, used as it is.

#include <bplink/device.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "pty.h"
#include "real_time.h"

namespace {

using namespace bplink::testing;
using Bytes = std::vector<BYTE>;

TEST(BluetoothLink, MovesExactCountsAndLeavesTheLinkToTheHost) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  CDevice_Bluetooth dev(fds[0]);
  dev.SetRecvTimeout(kShortTimeoutMs);
  EXPECT_EQ(dev.Open(L"", DCB{}), 1);

  const BYTE reply[5] = {0x88, 1, 2, 3, 4};
  ASSERT_EQ(::write(fds[1], reply, 5), 5);
  BYTE got[6] = {};
  ASSERT_NE(dev.RecvData(got, 1), 0);
  ASSERT_NE(dev.RecvData(got + 1, 4), 0);
  EXPECT_EQ(Bytes(got, got + 5), Bytes(reply, reply + 5));
  Stopwatch clock;
  EXPECT_EQ(dev.RecvData(got, 1), 0);
  EXPECT_GE(clock.ElapsedMs(), kShortTimeoutMs);
  EXPECT_EQ(dev.GetLastLinkError().kind, bplink::LinkErrorKind::kTimedOut);

  // A protocol closes its device after each transfer; the link stays up.
  dev.Close();
  CDevice_Bluetooth copy(dev);
  ASSERT_EQ(copy.SendData(got, 6), 1);
  EXPECT_EQ(::read(fds[1], got, sizeof got), 6);

  // The peer goes: no wait, and no SIGPIPE to end the host.
  ::close(fds[1]);
  copy.SetRecvTimeout(kLongTimeoutMs);
  Stopwatch dropped;
  EXPECT_EQ(copy.RecvData(got, 1), 0);
  EXPECT_EQ(copy.GetLastLinkError().text, "the other end closed the link");
  EXPECT_EQ(copy.SendData(got, 6), 0);
  EXPECT_EQ(copy.SendData(got, 6), 0);
  EXPECT_EQ(copy.GetLastLinkError().kind, bplink::LinkErrorKind::kLinkLost);
  EXPECT_EQ(copy.GetLastLinkError().os_error, EPIPE);
  EXPECT_LT(dropped.ElapsedMs(), static_cast<long long>(kLongTimeoutMs) / 2);
  ::close(fds[0]);

  CDevice_Bluetooth none;
  EXPECT_EQ(none.Open(0), 0);
  EXPECT_EQ(none.RecvData(got, 1), 0);
  EXPECT_EQ(none.GetLastLinkError().kind, bplink::LinkErrorKind::kNoDevice);
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
