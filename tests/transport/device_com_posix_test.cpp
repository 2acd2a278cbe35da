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

using bplink::testing::kLongTimeoutMs;
using bplink::testing::kSchedulingSlackMs;
using bplink::testing::kShortTimeoutMs;
using bplink::testing::Line;
using bplink::testing::Stopwatch;
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
    Bytes got;
    Stopwatch clock;
    while (got.size() < size && clock.ElapsedMs() < 2000) {
      pollfd p{pty_.Master(), POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      BYTE buffer[256];
      const ssize_t n = ::read(pty_.Master(), buffer, std::min(sizeof buffer, size - got.size()));
      if (n > 0) got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

  bplink::sim::Pty pty_;
};

TEST_F(SerialPort, MovesExactByteCountsBothWays) {
  CDevice_COM port;
  ASSERT_EQ(port.Open(Path(), Line(115200)), 1);

  Bytes request = {0x01, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC};
  ASSERT_EQ(port.SendData(request.data(), 6), 1);
  EXPECT_EQ(DeviceReceives(6), request);

  // A reply read in two parts, header then body.
  DeviceSends({0x15, 0x8F, 0xFF, 0xFE, 0xFD});
  BYTE head[2] = {}, body[3] = {};
  ASSERT_NE(port.RecvData(head, 2), 0);
  ASSERT_NE(port.RecvData(body, 3), 0);
  EXPECT_EQ(Bytes(head, head + 2), (Bytes{0x15, 0x8F}));
  EXPECT_EQ(Bytes(body, body + 3), (Bytes{0xFF, 0xFE, 0xFD}));

  // A frame that arrives in pieces is gathered into one receive.
  std::thread late([&] {
    DeviceSends({1, 2, 3});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    DeviceSends({4, 5, 6});
  });
  BYTE frame[6] = {};
  port.SetRecvTimeout(kLongTimeoutMs);
  EXPECT_NE(port.RecvData(frame, 6), 0);
  late.join();
  EXPECT_EQ(Bytes(frame, frame + 6), (Bytes{1, 2, 3, 4, 5, 6}));
}

TEST_F(SerialPort, CarriesEveryByteValueUntranslated) {
  CDevice_COM port;
  ASSERT_EQ(port.Open(Path(), Line(9600)), 1);
  // Line ends, flow-control and signal characters are data on this line.
  Bytes all(256);
  std::iota(all.begin(), all.end(), 0);
  ASSERT_EQ(port.SendData(all.data(), 256), 1);
  EXPECT_EQ(DeviceReceives(256), all);
  DeviceSends(all);
  Bytes back(256);
  ASSERT_NE(port.RecvData(back.data(), 256), 0);
  EXPECT_EQ(back, all);
}

TEST_F(SerialPort, MissingBytesFailAfterTheTimeOutAndAreConsumed) {
  CDevice_COM port;
  ASSERT_EQ(port.Open(Path(), Line(115200)), 1);
  port.SetRecvTimeout(kShortTimeoutMs);

  DeviceSends({0xAA, 0xBB});
  BYTE in[3] = {};
  Stopwatch clock;
  EXPECT_EQ(port.RecvData(in, 3), 0);
  const long long elapsed = clock.ElapsedMs();
  EXPECT_GE(elapsed, kShortTimeoutMs);
  EXPECT_LT(elapsed, kShortTimeoutMs + kSchedulingSlackMs);

  // The two bytes went with the failed read; the next one is fresh.
  DeviceSends({0x7E});
  ASSERT_NE(port.RecvData(in, 1), 0);
  EXPECT_EQ(in[0], 0x7E);

  Stopwatch silent;
  EXPECT_EQ(port.RecvData(in, 1), 0);
  EXPECT_GE(silent.ElapsedMs(), kShortTimeoutMs);
}

TEST_F(SerialPort, HoldsThePortExclusivelyUntilClosed) {
  CDevice_COM first, second;
  ASSERT_EQ(first.Open(Path(), Line(9600)), 1);
  EXPECT_EQ(second.Open(Path(), Line(9600)), 0);
  EXPECT_FALSE(bplink::Env::Default()->CanOpenComPort(Path()));

  first.Close();
  first.Close();
  EXPECT_FALSE(first.IsOpen());
  BYTE b = 0;
  EXPECT_EQ(first.SendData(&b, 1), 0);
  EXPECT_EQ(first.RecvData(&b, 1), 0);
  EXPECT_TRUE(bplink::Env::Default()->CanOpenComPort(Path()));
  ASSERT_EQ(second.Open(Path(), Line(9600)), 1);
  // Opening again switches the object to the new port settings.
  ASSERT_EQ(second.Open(Path(), Line(4800)), 1);
  EXPECT_EQ(pty_.LineSpeed(), 4800u);
}

TEST_F(SerialPort, SetsTheRequestedSpeedRawWithoutFlowControl) {
  for (DWORD baud : {CBR_4800, CBR_9600, CBR_115200}) {
    CDevice_COM port;
    ASSERT_EQ(port.Open(Path(), Line(baud)), 1) << baud;
    EXPECT_EQ(pty_.LineSpeed(), baud);
    EXPECT_FALSE(pty_.TwoStopBits());

    termios line{};
    ASSERT_EQ(::tcgetattr(pty_.Master(), &line), 0);  // the master shows the slave's settings
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_cflag & (CRTSCTS | PARENB), 0u);
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_NE(line.c_cflag & CLOCAL, 0u);
  }

  DCB two_stop = Line(CBR_9600);
  two_stop.StopBits = 2;
  CDevice_COM port;
  ASSERT_EQ(port.Open(Path(), two_stop), 1);
  EXPECT_TRUE(pty_.TwoStopBits());
}

TEST_F(SerialPort, RefusesWhatIsNoUsableSerialPort) {
  CDevice_COM port;
  DCB odd_speed = Line(12345), nine_bits = Line(CBR_9600), mark_parity = Line(CBR_9600);
  nine_bits.ByteSize = 9;
  mark_parity.Parity = 3;
  EXPECT_EQ(port.Open(Path(), odd_speed), 0);
  EXPECT_EQ(port.Open(Path(), nine_bits), 0);
  EXPECT_EQ(port.Open(Path(), mark_parity), 0);
  EXPECT_EQ(port.Open(L"/dev/null", Line(CBR_9600)), 0);  // opens, but is no tty
  EXPECT_EQ(port.Open(L"/dev/no-such-tty", Line(CBR_9600)), 0);
  EXPECT_EQ(port.Open(0), 0);
  EXPECT_FALSE(port.IsOpen());
  // A refused open leaves no lock behind.
  EXPECT_TRUE(bplink::Env::Default()->CanOpenComPort(Path()));
}

TEST_F(SerialPort, AcceptsTheWin32DevicePrefix) {
  ASSERT_EQ(pty_.Path().rfind("/dev/", 0), 0u);
  const std::wstring name = Path().substr(5);  // "pts/N"
  CDevice_COM port;
  ASSERT_EQ(port.Open(L"\\\\.\\" + name, Line(CBR_9600)), 1);
  EXPECT_EQ(pty_.LineSpeed(), 9600u);
}

TEST_F(SerialPort, VanishedPortFailsAtOnce) {
  CDevice_COM port;
  ASSERT_EQ(port.Open(Path(), Line(115200)), 1);
  port.SetRecvTimeout(kLongTimeoutMs);
  pty_.Close();

  BYTE b[4] = {1, 2, 3, 4};
  Stopwatch clock;
  EXPECT_EQ(port.RecvData(b, 4), 0);
  EXPECT_EQ(port.SendData(b, 4), 0);
  EXPECT_LT(clock.ElapsedMs(), static_cast<long long>(kLongTimeoutMs) / 2);
  port.Close();
  port.Close();
}

TEST_F(SerialPort, PortVanishingDuringAReceiveEndsIt) {
  CDevice_COM port;
  ASSERT_EQ(port.Open(Path(), Line(115200)), 1);
  port.SetRecvTimeout(kLongTimeoutMs);
  std::thread unplug([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pty_.Close();
  });
  BYTE b[8] = {};
  Stopwatch clock;
  EXPECT_EQ(port.RecvData(b, 8), 0);
  EXPECT_LT(clock.ElapsedMs(), static_cast<long long>(kLongTimeoutMs) / 2);
  unplug.join();
}

}  // namespace
