// The termios serial port against a pseudo-terminal: the test plays the
// device on the pty's master side, the port under test opens the slave.

#include <bplink/device.h>
#include <bplink/env.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <numeric>
#include <thread>
#include <vector>

#include "pty.h"
#include "real_time.h"

namespace {

using namespace bplink::testing;
using bplink::LinkErrorKind;
using ::testing::HasSubstr;
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
  const bplink::LinkError& Why() const { return port_.GetLastLinkError(); }

  bplink::sim::Pty pty_;
  CDevice_COM port_;
};

// Line ends, flow-control, signal and line-editing characters are data on
// this line, both ways; a receive takes exactly what it asks for.
TEST_F(SerialPort, MovesEveryByteValueUntranslatedBothWays) {
  termios cooked{};  // as a tty starts: the port must make it raw
  ASSERT_EQ(::tcgetattr(pty_.Master(), &cooked), 0);
  cooked.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
  cooked.c_iflag |= IXON | ICRNL;
  cooked.c_oflag |= OPOST | ONLCR;
  ASSERT_EQ(::tcsetattr(pty_.Master(), TCSANOW, &cooked), 0);
  ASSERT_EQ(port_.Open(Path(), Line(CBR_9600)), 1);
  port_.SetRecvTimeout(kLongTimeoutMs);
  Bytes all(256), got(256);
  std::iota(all.begin(), all.end(), 0);
  ASSERT_EQ(port_.SendData(all.data(), 256), 1);
  EXPECT_EQ(DeviceReceives(256), all);

  std::thread device([&] {  // the reply comes in two parts, the second later
    DeviceSends(Bytes(all.begin(), all.begin() + 100));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    DeviceSends(Bytes(all.begin() + 100, all.end()));
  });
  EXPECT_NE(port_.RecvData(got.data(), 10), 0);
  EXPECT_NE(port_.RecvData(got.data() + 10, 246), 0);
  device.join();
  EXPECT_EQ(got, all);
  EXPECT_EQ(Why().kind, LinkErrorKind::kNone);
}

TEST_F(SerialPort, MissingBytesFailAfterTheTimeOutAndAreConsumed) {
  ASSERT_EQ(port_.Open(Path(), Line(CBR_115200)), 1);
  port_.SetRecvTimeout(kShortTimeoutMs);
  DeviceSends({0xAA, 0xBB});
  BYTE in[3] = {};
  Stopwatch clock;
  EXPECT_EQ(port_.RecvData(in, 3), 0);
  EXPECT_GE(clock.ElapsedMs(), kShortTimeoutMs);
  EXPECT_LT(clock.ElapsedMs(), kShortTimeoutMs + kSchedulingSlackMs);
  EXPECT_EQ(Why().kind, LinkErrorKind::kTimedOut);
  EXPECT_THAT(Why().text, HasSubstr("2 of 3 bytes"));

  DeviceSends({0x7E});  // the two bytes went with the failed read
  ASSERT_NE(port_.RecvData(in, 1), 0);
  EXPECT_EQ(in[0], 0x7E);
  EXPECT_EQ(Why().kind, LinkErrorKind::kNone);  // the next call clears the reason

  pty_.Close();  // the adapter is pulled out
  EXPECT_EQ(port_.RecvData(in, 1), 0);
  EXPECT_EQ(Why().kind, LinkErrorKind::kLinkLost) << Why().text;
}

TEST_F(SerialPort, HoldsThePortExclusivelyUntilClosed) {
  CDevice_COM second;
  ASSERT_EQ(port_.Open(Path(), Line(CBR_9600)), 1);
  EXPECT_EQ(second.Open(Path(), Line(CBR_9600)), 0);
  EXPECT_EQ(second.GetLastLinkError().kind, LinkErrorKind::kInUse);
  EXPECT_THAT(second.GetLastLinkError().text, HasSubstr("in use by another program"));
  EXPECT_FALSE(bplink::Env::Default()->CanOpenComPort(Path()));

  port_.Close();
  port_.Close();
  BYTE b = 0;
  EXPECT_EQ(port_.SendData(&b, 1), 0);
  EXPECT_EQ(port_.RecvData(&b, 1), 0);
  EXPECT_EQ(Why().kind, LinkErrorKind::kNotOpen);
  EXPECT_EQ(second.Open(Path(), Line(CBR_9600)), 1);
}

TEST_F(SerialPort, SetsTheRequestedSpeedWithoutFlowControl) {
  for (DWORD baud : {CBR_4800, CBR_9600, CBR_115200}) {
    ASSERT_EQ(port_.Open(Path(), Line(baud)), 1) << baud;
    EXPECT_EQ(pty_.LineSpeed(), baud);
  }
  termios line{};
  ASSERT_EQ(::tcgetattr(pty_.Master(), &line), 0);  // the master shows the slave's settings
  EXPECT_EQ(line.c_cflag & (CRTSCTS | PARENB | CSTOPB), 0u);
  EXPECT_NE(line.c_cflag & CLOCAL, 0u);
  // The Win32 form of a path names the same port.
  ASSERT_EQ(port_.Open(L"\\\\.\\" + Path().substr(5), Line(CBR_4800)), 1);
  EXPECT_EQ(pty_.LineSpeed(), 4800u);
}

// What is no usable serial port fails to open for its own reason, and
// leaves no lock behind.
TEST_F(SerialPort, RefusesWhatIsNoUsableSerialPortAndSaysWhy) {
  const std::tuple<std::wstring, DWORD, LinkErrorKind, int, std::string> cases[] = {
      {L"/dev/no-such-tty", CBR_9600, LinkErrorKind::kNoSuchPort, ENOENT, "no such file or directory"},
      {L"/dev/null", CBR_9600, LinkErrorKind::kNotSerialPort, ENOTTY, "not a serial port ("},
      {Path(), 12345, LinkErrorKind::kSettingsRefused, 0, "line speed 12345 is not supported"},
  };
  for (const auto& [path, baud, kind, os_error, text] : cases) {
    EXPECT_EQ(port_.Open(path, Line(baud)), 0);
    EXPECT_EQ(Why().kind, kind) << text;
    EXPECT_EQ(Why().os_error, os_error) << text;
    EXPECT_THAT(Why().text, HasSubstr(text));
  }
  EXPECT_EQ(port_.Open(0), 0);
  EXPECT_TRUE(bplink::Env::Default()->CanOpenComPort(Path()));
}

TEST_F(SerialPort, APortThisUserMayNotOpenIsDeniedByName) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root, which every port lets in: no permission to deny";
  ASSERT_EQ(::chmod(pty_.Path().c_str(), 0), 0);
  EXPECT_EQ(port_.Open(Path(), Line(CBR_9600)), 0);
  EXPECT_EQ(Why().kind, LinkErrorKind::kPermissionDenied);
  EXPECT_EQ(Why().text, "permission denied");
}

}  // namespace
