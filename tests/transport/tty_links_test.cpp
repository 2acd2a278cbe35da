// The links that run over a tty or socket: the termios serial port and the
// host-connected link. On a pseudo-terminal the test plays the device on the
// master side; the link under test has the slave.

#include <bplink/comports.h>
#include <bplink/device.h>
#include <bplink/env.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <numeric>
#include <thread>
#include <vector>

#include "pty.h"
#include "real_time.h"

namespace {

using namespace bplink::testing;
using bplink::LinkErrorKind;
using bplink::SerialLine;
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
  static long OpenDescriptors() {
    auto fds = std::filesystem::directory_iterator("/proc/self/fd");
    return std::distance(begin(fds), end(fds));
  }

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
  ASSERT_EQ(port_.Open(Path(), SerialLine(CBR_9600)), 1);
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
  ASSERT_EQ(port_.Open(Path(), SerialLine(CBR_115200)), 1);
  port_.SetRecvTimeout(kShortTimeoutMs);
  DeviceSends({0xAA, 0xBB});
  BYTE in[3] = {};
  Stopwatch clock;
  EXPECT_EQ(port_.RecvData(in, 3), 0);
  EXPECT_GE(clock.ElapsedMs(), kShortTimeoutMs);
  EXPECT_LT(clock.ElapsedMs(), kShortTimeoutMs + kSchedulingSlackMs);
  EXPECT_EQ(Why().kind, LinkErrorKind::kTimedOut);
  // The deadline is the time-out plus the line time of three bytes, rounded up to 1 ms.
  EXPECT_THAT(Why().text, HasSubstr("2 of 3 bytes within " + std::to_string(kShortTimeoutMs + 1) + " ms"));

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
  ASSERT_EQ(port_.Open(Path(), SerialLine(CBR_9600)), 1);
  EXPECT_EQ(second.Open(Path(), SerialLine(CBR_9600)), 0);
  EXPECT_EQ(second.GetLastLinkError().kind, LinkErrorKind::kInUse);
  EXPECT_THAT(second.GetLastLinkError().text, HasSubstr("in use by another program"));
  // The port search's probe sees the hold, and leaves nothing open or locked behind it.
  const long held = OpenDescriptors();
  EXPECT_FALSE(bplink::Env::Default()->CanOpenComPort(Path()));

  port_.Close();
  port_.Close();
  EXPECT_TRUE(bplink::Env::Default()->CanOpenComPort(Path()));
  EXPECT_EQ(OpenDescriptors(), held - 1);
  BYTE b = 0;
  EXPECT_EQ(port_.SendData(&b, 1), 0);
  EXPECT_EQ(port_.RecvData(&b, 1), 0);
  EXPECT_EQ(Why().kind, LinkErrorKind::kNotOpen);
  EXPECT_EQ(second.Open(Path(), SerialLine(CBR_9600)), 1);
}

TEST_F(SerialPort, SetsTheRequestedSpeedWithoutFlowControl) {
  for (DWORD baud : {CBR_4800, CBR_9600, CBR_115200}) {
    ASSERT_EQ(port_.Open(Path(), SerialLine(baud)), 1) << baud;
    EXPECT_EQ(pty_.LineSpeed(), baud);
  }
  termios line{};
  ASSERT_EQ(::tcgetattr(pty_.Master(), &line), 0);  // the master shows the slave's settings
  EXPECT_EQ(line.c_cflag & (CRTSCTS | PARENB | CSTOPB), 0u);
  EXPECT_NE(line.c_cflag & CLOCAL, 0u);
  // The Win32 form of a path names the same port.
  ASSERT_EQ(port_.Open(L"\\\\.\\" + Path().substr(5), SerialLine(CBR_4800)), 1);
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
    EXPECT_EQ(port_.Open(path, SerialLine(baud)), 0);
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
  EXPECT_EQ(port_.Open(Path(), SerialLine(CBR_9600)), 0);
  EXPECT_EQ(Why().kind, LinkErrorKind::kPermissionDenied);
  // The system's words, the node, and what lets this user in.
  EXPECT_TRUE(Why().text.starts_with("permission denied: this user may not open " + pty_.Path() + " (owner "))
      << Why().text;
  EXPECT_NE(Why().text.find("60-bplink.rules"), std::string::npos) << Why().text;
}

// The host-connected link: a socket or tty the host opened, used as it is.
class HostLink : public SerialPort {};

TEST_F(HostLink, MovesExactCountsAndLeavesTheLinkToTheHost) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  CDevice_Bluetooth dev(fds[0]);
  EXPECT_EQ(dev.Open(L"", DCB{}), 1);

  const BYTE reply[5] = {0x88, 1, 2, 3, 4};
  ASSERT_EQ(::write(fds[1], reply, 5), 5);
  BYTE got[6] = {};
  ASSERT_NE(dev.RecvData(got, 1), 0);
  ASSERT_NE(dev.RecvData(got + 1, 4), 0);
  EXPECT_EQ(Bytes(got, got + 5), Bytes(reply, reply + 5));

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
  EXPECT_EQ(copy.GetLastLinkError().kind, LinkErrorKind::kLinkLost);
  EXPECT_EQ(copy.GetLastLinkError().os_error, EPIPE);
  EXPECT_LT(dropped.ElapsedMs(), static_cast<long long>(kLongTimeoutMs) / 2);
  ::close(fds[0]);

  CDevice_Bluetooth none;
  EXPECT_EQ(none.Open(0), 0);
  EXPECT_EQ(none.RecvData(got, 1), 0);
  EXPECT_EQ(none.GetLastLinkError().kind, LinkErrorKind::kNoDevice);
}

// A host may hand over a tty it opened blocking, set to wait for several
// bytes at once; a receive must still end at its time-out, and the bytes
// stay for the next one.
TEST_F(HostLink, BlockingTtyFromTheHostStillTimesOut) {
  const int tty = ::open(pty_.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(tty, 0);
  termios line{};
  ::tcgetattr(tty, &line);
  ::cfmakeraw(&line);
  line.c_cc[VMIN] = 4;
  line.c_cc[VTIME] = 0;
  ::tcsetattr(tty, TCSANOW, &line);

  CDevice_Bluetooth dev(tty);
  dev.SetRecvTimeout(kShortTimeoutMs);
  DeviceSends({7, 8});
  BYTE got[4] = {};
  Stopwatch clock;
  EXPECT_EQ(dev.RecvData(got, 3), 0);
  EXPECT_LT(clock.ElapsedMs(), kShortTimeoutMs + kSchedulingSlackMs);
  DeviceSends({7, 8});
  ASSERT_NE(dev.RecvData(got, 4), 0);
  EXPECT_EQ(Bytes(got, got + 4), (Bytes{7, 8, 7, 8}));
  ::close(tty);
}

}  // namespace
