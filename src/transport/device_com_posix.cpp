// CDevice_COM on POSIX: a termios tty.
//
// The port is opened exclusively in two ways, since programs guard ttys in
// either: TIOCEXCL makes the kernel refuse further opens (except to root),
// and an flock that the Env's port probe also asks for. The descriptor stays
// non-blocking; every wait is a poll bounded by the receive time-out.

#include <bplink/device.h>
#include <bplink/env.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "line_timing.h"
#include "stream_io.h"

namespace {

// The DCB's framing values, as Win32 numbers them.
constexpr BYTE kOddParity = 1;
constexpr BYTE kEvenParity = 2;
constexpr BYTE kTwoStopBits = 2;
// A DCB that leaves the character size unset means the usual 8 bits.
constexpr BYTE kDefaultByteSize = 8;

// The prefix of Win32 device paths; a port named after it is looked up
// where this system keeps its ports.
constexpr std::wstring_view kWin32DevicePrefix = L"\\\\.\\";

struct LineSpeed {
  DWORD baud;
  speed_t code;
};
constexpr LineSpeed kLineSpeeds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

std::optional<speed_t> SpeedCode(DWORD baud) {
  for (const LineSpeed& s : kLineSpeeds)
    if (s.baud == baud) return s.code;
  return std::nullopt;
}

std::optional<tcflag_t> CharacterSize(BYTE byteSize) {
  switch (byteSize == 0 ? kDefaultByteSize : byteSize) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    case 8: return CS8;
    default: return std::nullopt;
  }
}

std::string PathToOpen(const std::wstring& path) {
  if (path.starts_with(kWin32DevicePrefix))
    return std::filesystem::path(bplink::ComPortPath(path.substr(kWin32DevicePrefix.size()))).string();
  return std::filesystem::path(path).string();
}

// Raw bytes both ways, the DCB's speed and framing, no flow control of any
// kind, and reads that never wait in the kernel (poll does the waiting).
bool ConfigureLine(int fd, const DCB& dcb) {
  const auto speed = SpeedCode(dcb.BaudRate);
  const auto size = CharacterSize(dcb.ByteSize);
  if (!speed || !size || dcb.Parity > kEvenParity) return false;
  if (dcb.StopBits != ONESTOPBIT && dcb.StopBits != kTwoStopBits) return false;

  termios line{};
  if (::tcgetattr(fd, &line) != 0) return false;  // not a terminal: no serial port
  ::cfmakeraw(&line);
  line.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
  line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  line.c_cflag |= *size | CLOCAL | CREAD;
  if (dcb.Parity != NOPARITY) {
    line.c_cflag |= PARENB;
    line.c_iflag |= INPCK;
    if (dcb.Parity == kOddParity) line.c_cflag |= PARODD;
  }
  if (dcb.StopBits == kTwoStopBits) line.c_cflag |= CSTOPB;
  line.c_cc[VMIN] = 0;
  line.c_cc[VTIME] = 0;
  if (::cfsetispeed(&line, *speed) != 0 || ::cfsetospeed(&line, *speed) != 0) return false;
  if (::tcsetattr(fd, TCSANOW, &line) != 0) return false;

  // tcsetattr succeeds when any part of the change took; a driver that kept
  // its old speed would put the device on the wrong line.
  termios taken{};
  return ::tcgetattr(fd, &taken) == 0 && ::cfgetospeed(&taken) == *speed;
}

}  // namespace

CDevice_COM::CDevice_COM() = default;
CDevice_COM::~CDevice_COM() { Close(); }

int CDevice_COM::Open(CString strPath, DCB dcb) {
  try {
    Close();
    const int fd = ::open(PathToOpen(strPath).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 0;
    m_hPort = fd;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !ConfigureLine(fd, dcb)) {
      Close();
      return 0;
    }
    ::ioctl(fd, TIOCEXCL);
    // Bytes the device sent before this open were meant for no one here.
    ::tcflush(fd, TCIOFLUSH);
    m_nBaudRate = dcb.BaudRate;
    return 1;
  } catch (...) {
    Close();
    return 0;
  }
}

int CDevice_COM::Open(int) { return 0; }

int CDevice_COM::Close() {
  if (IsOpen()) {
    const int fd = static_cast<int>(m_hPort);
    // The exclusive flag outlives this descriptor while anyone else holds the
    // tty open; clear it so the next program can open the port.
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
  }
  m_hPort = kInvalidPort;
  m_nBaudRate = 0;
  return 1;
}

int CDevice_COM::RecvData(BYTE* pBuffer, DWORD dwLen) {
  try {
    if (!IsOpen()) return 0;
    const unsigned timeout = bplink::DeadlineMs(m_nRecvTimeoutMs, dwLen, m_nBaudRate);
    return bplink::stream_io::ReadExact(m_hPort, pBuffer, dwLen, timeout) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int CDevice_COM::SendData(BYTE* pBuffer, DWORD dwLen) {
  try {
    if (!IsOpen()) return 0;
    const unsigned timeout = bplink::DeadlineMs(m_nRecvTimeoutMs, dwLen, m_nBaudRate);
    return bplink::stream_io::WriteAll(m_hPort, pBuffer, dwLen, timeout) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
