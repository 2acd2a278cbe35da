// CDevice_COM on Windows: a COM handle.
//
// Opening without sharing makes the port exclusive. Waiting is left to the
// driver: the COMMTIMEOUTS set before each transfer bound it by the receive
// time-out plus the line time of the bytes asked for, and a ReadFile or
// WriteFile that moves fewer bytes than asked is a failure.

#include <bplink/device.h>

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>

#include "line_timing.h"
#include "link_error.h"

namespace {

using bplink::LinkError;
using bplink::LinkErrorKind;

constexpr DWORD kQueueBytes = 4096;
// A DCB that leaves the character size unset means the usual 8 bits.
constexpr BYTE kDefaultByteSize = 8;

HANDLE AsHandle(std::intptr_t port) { return reinterpret_cast<HANDLE>(port); }

// What a CreateFileW that failed with `err` means for a COM port. Windows
// opens a COM port for one handle only and refuses the next with "access
// denied"; user rights do not come into it, so that means in use.
LinkErrorKind OpenFailure(DWORD err) {
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST: return LinkErrorKind::kNoSuchPort;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY: return LinkErrorKind::kInUse;
    default: return LinkErrorKind::kOther;
  }
}

int OsError() { return static_cast<int>(::GetLastError()); }

// Raw bytes, the DCB's speed and framing, no flow control, and the modem
// lines raised as a device on a plain cable expects. False with `why` set
// when the handle is no COM port or the driver refuses the settings.
bool ConfigureLine(HANDLE port, const DCB& wanted, LinkError& why) {
  DCB line{};
  line.DCBlength = sizeof line;
  if (!::GetCommState(port, &line)) {
    bplink::SetLinkError(why, LinkErrorKind::kNotSerialPort, OsError(), "not a serial port");
    return false;
  }
  line.BaudRate = wanted.BaudRate;
  line.ByteSize = wanted.ByteSize == 0 ? kDefaultByteSize : wanted.ByteSize;
  line.Parity = wanted.Parity;
  line.StopBits = wanted.StopBits;
  line.fBinary = TRUE;
  line.fParity = wanted.Parity != NOPARITY;
  line.fOutxCtsFlow = FALSE;
  line.fOutxDsrFlow = FALSE;
  line.fDtrControl = DTR_CONTROL_ENABLE;
  line.fDsrSensitivity = FALSE;
  line.fTXContinueOnXoff = TRUE;
  line.fOutX = FALSE;
  line.fInX = FALSE;
  line.fErrorChar = FALSE;
  line.fNull = FALSE;
  line.fRtsControl = RTS_CONTROL_ENABLE;
  line.fAbortOnError = FALSE;
  if (::SetCommState(port, &line)) return true;
  bplink::SetLinkError(why, LinkErrorKind::kSettingsRefused, OsError(),
                       "the port refused line speed " + std::to_string(wanted.BaudRate) + " or its framing");
  return false;
}

// One bound for reads and writes: the time-out, plus the line time of each
// byte (rounded up to a whole millisecond per byte).
bool SetDeadline(HANDLE port, unsigned timeoutMs, DWORD baud, LinkError& why) {
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = 0;
  t.ReadTotalTimeoutMultiplier = bplink::LineTimeMs(1, baud);
  t.ReadTotalTimeoutConstant = timeoutMs;
  t.WriteTotalTimeoutMultiplier = bplink::LineTimeMs(1, baud);
  t.WriteTotalTimeoutConstant = timeoutMs;
  if (::SetCommTimeouts(port, &t)) return true;
  bplink::SetLinkError(why, LinkErrorKind::kLinkLost, OsError());  // an adapter unplugged, typically
  return false;
}

// The bound SetDeadline gives a transfer of `bytes`.
unsigned DeadlineFor(unsigned timeoutMs, DWORD bytes, DWORD baud) {
  const std::uint64_t total = std::uint64_t{timeoutMs} + std::uint64_t{bplink::LineTimeMs(1, baud)} * bytes;
  return static_cast<unsigned>(std::min<std::uint64_t>(total, UINT_MAX));
}

int NotOpen(LinkError& why) {
  bplink::SetLinkError(why, LinkErrorKind::kNotOpen, 0, "the port is not open");
  return 0;
}

int NoBuffer(LinkError& why) {
  bplink::SetLinkError(why, LinkErrorKind::kOther, 0, "no buffer for the bytes");
  return 0;
}

// A whole read or write (`move` is ReadFile or WriteFile) within the
// deadline SetDeadline gives it; fewer bytes than asked is a time-out.
template <typename Move>
int MoveAll(Move move, bool open, std::intptr_t handle, unsigned timeoutMs, DWORD baud, LinkError& why, BYTE* bytes,
            DWORD size, const char* failed) {
  try {
    bplink::ClearLinkError(why);
    if (!open) return NotOpen(why);
    if (bytes == nullptr && size > 0) return NoBuffer(why);
    if (size == 0) return 1;
    HANDLE port = AsHandle(handle);
    if (!SetDeadline(port, timeoutMs, baud, why)) return 0;
    DWORD moved = 0;
    if (!move(port, bytes, size, &moved)) {
      bplink::SetLinkError(why, LinkErrorKind::kLinkLost, OsError());
      return 0;
    }
    if (moved == size) return 1;
    bplink::SetTimedOut(why, moved, size, DeadlineFor(timeoutMs, size, baud));
    return 0;
  } catch (...) {
    bplink::SetLinkError(why, LinkErrorKind::kOther, 0, failed);
    return 0;
  }
}

}  // namespace

CDevice_COM::CDevice_COM() = default;
CDevice_COM::~CDevice_COM() { Close(); }

int CDevice_COM::Open(CString strPath, DCB dcb) {
  try {
    Close();
    bplink::ClearLinkError(m_LastError);
    HANDLE port = ::CreateFileW(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
      const DWORD err = ::GetLastError();
      const LinkErrorKind kind = OpenFailure(err);
      bplink::SetLinkError(m_LastError, kind, static_cast<int>(err),
                           kind == LinkErrorKind::kInUse ? bplink::kInUseText : "");
      return 0;
    }
    m_hPort = reinterpret_cast<std::intptr_t>(port);
    if (!ConfigureLine(port, dcb, m_LastError)) {
      Close();
      return 0;
    }
    ::SetupComm(port, kQueueBytes, kQueueBytes);
    // Bytes the device sent before this open were meant for no one here.
    ::PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
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
  if (IsOpen()) ::CloseHandle(AsHandle(m_hPort));
  m_hPort = kInvalidPort;
  m_nBaudRate = 0;
  return 1;
}

int CDevice_COM::RecvData(BYTE* pBuffer, DWORD dwLen) {
  const auto read = [](HANDLE port, BYTE* bytes, DWORD size, DWORD* moved) {
    return ::ReadFile(port, bytes, size, moved, nullptr);
  };
  return MoveAll(read, IsOpen(), m_hPort, m_nRecvTimeoutMs, m_nBaudRate, m_LastError, pBuffer, dwLen,
                 "the receive failed");
}

int CDevice_COM::SendData(BYTE* pBuffer, DWORD dwLen) {
  const auto write = [](HANDLE port, BYTE* bytes, DWORD size, DWORD* moved) {
    return ::WriteFile(port, bytes, size, moved, nullptr);
  };
  return MoveAll(write, IsOpen(), m_hPort, m_nRecvTimeoutMs, m_nBaudRate, m_LastError, pBuffer, dwLen,
                 "the send failed");
}
