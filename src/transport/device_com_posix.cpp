// CDevice_COM on POSIX: a termios tty.
//
// The port is opened exclusively in two ways, since programs guard ttys in
// either: TIOCEXCL makes the kernel refuse further opens (except to root),
// and an flock that the Env's port probe also asks for. The descriptor stays
// non-blocking; every wait is a poll bounded by the receive time-out.

#include <bplink/device.h>
#include <bplink/env.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "line_timing.h"
#include "link_error.h"
#include "stream_io.h"

namespace {

using bplink::LinkError;
using bplink::LinkErrorKind;

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

// What an open() that failed with `err` means for a port. A built-in port
// without its UART answers with an input/output error.
LinkErrorKind OpenFailure(int err) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
    case EIO: return LinkErrorKind::kNoSuchPort;
    case EACCES:
    case EPERM:
    case EROFS: return LinkErrorKind::kPermissionDenied;
    case EBUSY: return LinkErrorKind::kInUse;  // held with TIOCEXCL
    default: return LinkErrorKind::kOther;
  }
}

int NotOpen(LinkError& why) {
  bplink::SetLinkError(why, LinkErrorKind::kNotOpen, 0, "the port is not open");
  return 0;
}

bool Refuse(LinkError& why, const std::string& what) {
  bplink::SetLinkError(why, LinkErrorKind::kSettingsRefused, 0, what);
  return false;
}

// Raw bytes both ways, the DCB's speed and framing, no flow control of any
// kind, and reads that never wait in the kernel (poll does the waiting).
// False with `why` set when the port cannot take them.
bool ConfigureLine(int fd, const DCB& dcb, LinkError& why) {
  const auto speed = SpeedCode(dcb.BaudRate);
  const auto size = CharacterSize(dcb.ByteSize);
  if (!speed) return Refuse(why, "line speed " + std::to_string(dcb.BaudRate) + " is not supported");
  if (!size) return Refuse(why, "character size " + std::to_string(dcb.ByteSize) + " is not supported");
  if (dcb.Parity > kEvenParity) return Refuse(why, "parity " + std::to_string(dcb.Parity) + " is not supported");
  if (dcb.StopBits != ONESTOPBIT && dcb.StopBits != kTwoStopBits)
    return Refuse(why, "stop bits " + std::to_string(dcb.StopBits) + " are not supported");

  termios line{};
  if (::tcgetattr(fd, &line) != 0) {
    bplink::SetLinkError(why, LinkErrorKind::kNotSerialPort, errno, "not a serial port");
    return false;
  }
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
  if (::cfsetispeed(&line, *speed) != 0 || ::cfsetospeed(&line, *speed) != 0 ||
      ::tcsetattr(fd, TCSANOW, &line) != 0) {
    bplink::SetLinkError(why, LinkErrorKind::kSettingsRefused, errno, "the port refused the line settings");
    return false;
  }

  // tcsetattr succeeds when any part of the change took; a driver that kept
  // its old speed would put the device on the wrong line.
  termios taken{};
  if (::tcgetattr(fd, &taken) == 0 && ::cfgetospeed(&taken) == *speed) return true;
  return Refuse(why, "the port kept another line speed than " + std::to_string(dcb.BaudRate));
}

}  // namespace

CDevice_COM::CDevice_COM() = default;
CDevice_COM::~CDevice_COM() { Close(); }

int CDevice_COM::Open(CString strPath, DCB dcb) {
  try {
    Close();
    bplink::ClearLinkError(m_LastError);
    const std::string path = PathToOpen(strPath);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      const int err = errno;
      const LinkErrorKind kind = OpenFailure(err);
      if (kind == LinkErrorKind::kPermissionDenied)
        bplink::SetLinkErrorWorded(m_LastError, kind, err,
                                   bplink::PermissionDeniedText(err, path, bplink::NodeKind::kSerialPort));
      else
        bplink::SetLinkError(m_LastError, kind, err, kind == LinkErrorKind::kInUse ? bplink::kInUseText : "");
      return 0;
    }
    // Until the port is ours, a failure closes only this descriptor: Close
    // would clear the exclusive flag of whoever holds the port.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      if (err == EWOULDBLOCK)
        bplink::SetLinkErrorWorded(m_LastError, LinkErrorKind::kInUse, err, bplink::kInUseText);
      else
        bplink::SetLinkError(m_LastError, LinkErrorKind::kOther, err, "the port cannot be locked");
      ::close(fd);
      return 0;
    }
    bool configured = false;
    try {
      configured = ConfigureLine(fd, dcb, m_LastError);
    } catch (...) {
      bplink::SetLinkError(m_LastError, LinkErrorKind::kOther, 0, "the port cannot be set up");
    }
    if (!configured) {
      ::close(fd);
      return 0;
    }
    m_hPort = fd;
    ::ioctl(fd, TIOCEXCL);
    // Bytes the device sent before this open were meant for no one here.
    ::tcflush(fd, TCIOFLUSH);
    m_nBaudRate = dcb.BaudRate;
    return 1;
  } catch (...) {
    Close();
    bplink::SetLinkError(m_LastError, LinkErrorKind::kOther, 0, "the port cannot be opened here");
    return 0;
  }
}

int CDevice_COM::Open(int) {
  bplink::SetLinkError(m_LastError, LinkErrorKind::kOther, 0, "a serial port is opened by its path");
  return 0;
}

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
    bplink::ClearLinkError(m_LastError);
    if (!IsOpen()) return NotOpen(m_LastError);
    const unsigned timeout = bplink::DeadlineMs(m_nRecvTimeoutMs, dwLen, m_nBaudRate);
    return bplink::stream_io::ReadExact(m_hPort, pBuffer, dwLen, timeout, m_LastError) ? 1 : 0;
  } catch (...) {
    bplink::SetLinkError(m_LastError, LinkErrorKind::kOther, 0, "the receive failed");
    return 0;
  }
}

int CDevice_COM::SendData(BYTE* pBuffer, DWORD dwLen) {
  try {
    bplink::ClearLinkError(m_LastError);
    if (!IsOpen()) return NotOpen(m_LastError);
    const unsigned timeout = bplink::DeadlineMs(m_nRecvTimeoutMs, dwLen, m_nBaudRate);
    return bplink::stream_io::WriteAll(m_hPort, pBuffer, dwLen, timeout, m_LastError) ? 1 : 0;
  } catch (...) {
    bplink::SetLinkError(m_LastError, LinkErrorKind::kOther, 0, "the send failed");
    return 0;
  }
}
