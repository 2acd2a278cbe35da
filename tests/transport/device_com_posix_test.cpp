// The termios serial port against a pseudo-terminal: the test plays the
// device on the pty's master side, the port under test opens the slave.

#include <bplink/device.h>
#include <bplink/env.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <numeric>
#include <thread>
#include <vector>

#include "pty.h"
#include "real_time.h"

namespace {

using namespace bplink::testing;
using Bytes = std::vector<BYTE>;

class SerialPort : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pty_.IsOpen()); }
  std::wstring Path() const { return std::wstring(pty_.Path().begin(), pty_.Path().end()); }

  void DeviceSends(const Bytes& bytes) {
    ASSERT_EQ(::write(pty_.Master(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What reaches the device within two seconds, up to `size` bytes.
  Bytes DeviceReceives(std::size_t size) {
    Bytes got(size);
    std::size_t n = 0;
    for (Stopwatch clock; n < size && clock.ElapsedMs() < 2000;) {
      pollfd p{pty_.Master(), POLLIN, 0};
      if (::poll(&p, 1, 100) > 0) n += std::max<ssize_t>(::read(pty_.Master(), &got[n], size - n), 0);
    }
    got.resize(n);
    return got;
  }

  bplink::sim::Pty pty_;
};

TEST_F(SerialPort, MovesExactByteCountsUntranslated) {
  CDevice_COM port;
  ASSERT_EQ(port.Open(Path(), Line(CBR_9600)), 1);
  port.SetRecvTimeout(kLongTimeoutMs);
  // Line ends, flow-control and signal characters are data on this line.
  Bytes all(256);
  std::iota(all.begin(), all.end(), 0);
  ASSERT_EQ(port.SendData(all.data(), 256), 1);
  EXPECT_EQ(DeviceReceives(256), all);

  // A reply read in two parts, the second arriving later in pieces.
  std::thread device([&] {
    DeviceSends({0x15, 0x8F, 1, 2});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    DeviceSends({3, 4});
  });
  BYTE head[2] = {}, body[4] = {};
  ASSERT_NE(port.RecvData(head, 2), 0);
  ASSERT_NE(port.RecvData(body, 4), 0);
  device.join();
  EXPECT_EQ(Bytes(head, head + 2), (Bytes{0x15, 0x8F}));
  EXPECT_EQ(Bytes(body, body + 4), (Bytes{1, 2, 3, 4}));
}

TEST_F(SerialPort, MissingBytesFailAfterTheTimeOutAndAreConsumed) {
  CDevice_COM port;
  ASSERT_EQ(port.Open(Path(), Line(CBR_115200)), 1);
  port.SetRecvTimeout(kShortTimeoutMs);

  DeviceSends({0xAA, 0xBB});
  BYTE in[3] = {};
  Stopwatch clock;
  EXPECT_EQ(port.RecvData(in, 3), 0);
  EXPECT_GE(clock.ElapsedMs(), kShortTimeoutMs);
  EXPECT_LT(clock.ElapsedMs(), kShortTimeoutMs + kSchedulingSlackMs);

  DeviceSends({0x7E});  // the two bytes went with the failed read
  ASSERT_NE(port.RecvData(in, 1), 0);
  EXPECT_EQ(in[0], 0x7E);
}

TEST_F(SerialPort, HoldsThePortExclusivelyUntilClosed) {
  CDevice_COM first, second;
  ASSERT_EQ(first.Open(Path(), Line(CBR_9600)), 1);
  EXPECT_EQ(second.Open(Path(), Line(CBR_9600)), 0);
  EXPECT_FALSE(bplink::Env::Default()->CanOpenComPort(Path()));

  first.Close();
  first.Close();
  BYTE b = 0;
  EXPECT_EQ(first.SendData(&b, 1), 0);
  EXPECT_EQ(first.RecvData(&b, 1), 0);
  ASSERT_EQ(second.Open(Path(), Line(CBR_9600)), 1);
}

TEST_F(SerialPort, SetsTheRequestedSpeedRawWithoutFlowControl) {
  for (DWORD baud : {CBR_4800, CBR_9600, CBR_115200}) {
    CDevice_COM port;
    ASSERT_EQ(port.Open(Path(), Line(baud)), 1) << baud;
    EXPECT_EQ(pty_.LineSpeed(), baud);
    termios line{};
    ASSERT_EQ(::tcgetattr(pty_.Master(), &line), 0);  // the master shows the slave's settings
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(line.c_cflag & (CRTSCTS | PARENB | CSTOPB), 0u);
    EXPECT_NE(line.c_cflag & CLOCAL, 0u);
  }
  // The Win32 form of a path names the same port.
  CDevice_COM port;
  ASSERT_EQ(port.Open(L"\\\\.\\" + Path().substr(5), Line(CBR_4800)), 1);
  EXPECT_EQ(pty_.LineSpeed(), 4800u);
}

TEST_F(SerialPort, RefusesWhatIsNoUsableSerialPort) {
  CDevice_COM port;
  EXPECT_EQ(port.Open(Path(), Line(12345)), 0);                // no such line speed
  EXPECT_EQ(port.Open(L"/dev/null", Line(CBR_9600)), 0);       // opens, but is no tty
  EXPECT_EQ(port.Open(L"/dev/no-such-tty", Line(CBR_9600)), 0);
  EXPECT_EQ(port.Open(0), 0);
  EXPECT_TRUE(bplink::Env::Default()->CanOpenComPort(Path()));  // no lock left behind
}

}  // namespace
