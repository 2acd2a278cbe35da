// CDevice_COM on Windows: a COM handle.
//
// Opening without sharing makes the port exclusive. Waiting is left to the
// driver: the COMMTIMEOUTS set before each transfer bound it by the receive
// time-out plus the line time of the bytes asked for, and a ReadFile or
// WriteFile that moves fewer bytes than asked is a failure.

#include <bplink/device.h>

#include <windows.h>

#include "line_timing.h"

namespace {

constexpr DWORD kQueueBytes = 4096;
// A DCB that leaves the character size unset means the usual 8 bits.
constexpr BYTE kDefaultByteSize = 8;

HANDLE AsHandle(std::intptr_t port) { return reinterpret_cast<HANDLE>(port); }

// Raw bytes, the DCB's speed and framing, no flow control, and the modem
// lines raised as a device on a plain cable expects.
bool ConfigureLine(HANDLE port, const DCB& wanted) {
  DCB line{};
  line.DCBlength = sizeof line;
  if (!::GetCommState(port, &line)) return false;
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
  return ::SetCommState(port, &line) != FALSE;
}

// One bound for reads and writes: the time-out, plus the line time of each
// byte (rounded up to a whole millisecond per byte).
bool SetDeadline(HANDLE port, unsigned timeoutMs, DWORD baud) {
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = 0;
  t.ReadTotalTimeoutMultiplier = bplink::LineTimeMs(1, baud);
  t.ReadTotalTimeoutConstant = timeoutMs;
  t.WriteTotalTimeoutMultiplier = bplink::LineTimeMs(1, baud);
  t.WriteTotalTimeoutConstant = timeoutMs;
  return ::SetCommTimeouts(port, &t) != FALSE;
}

}  // namespace

CDevice_COM::CDevice_COM() = default;
CDevice_COM::~CDevice_COM() { Close(); }

int CDevice_COM::Open(CString strPath, DCB dcb) {
  try {
    Close();
    HANDLE port = ::CreateFileW(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) return 0;
    m_hPort = reinterpret_cast<std::intptr_t>(port);
    if (!ConfigureLine(port, dcb)) {
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
    return 0;
  }
}

int CDevice_COM::Open(int) { return 0; }

int CDevice_COM::Close() {
  if (IsOpen()) ::CloseHandle(AsHandle(m_hPort));
  m_hPort = kInvalidPort;
  m_nBaudRate = 0;
  return 1;
}

int CDevice_COM::RecvData(BYTE* pBuffer, DWORD dwLen) {
  try {
    if (!IsOpen() || (pBuffer == nullptr && dwLen > 0)) return 0;
    if (dwLen == 0) return 1;
    HANDLE port = AsHandle(m_hPort);
    if (!SetDeadline(port, m_nRecvTimeoutMs, m_nBaudRate)) return 0;
    DWORD got = 0;
    if (!::ReadFile(port, pBuffer, dwLen, &got, nullptr)) return 0;
    return got == dwLen ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int CDevice_COM::SendData(BYTE* pBuffer, DWORD dwLen) {
  try {
    if (!IsOpen() || (pBuffer == nullptr && dwLen > 0)) return 0;
    if (dwLen == 0) return 1;
    HANDLE port = AsHandle(m_hPort);
    if (!SetDeadline(port, m_nRecvTimeoutMs, m_nBaudRate)) return 0;
    DWORD sent = 0;
    if (!::WriteFile(port, pBuffer, dwLen, &sent, nullptr)) return 0;
    return sent == dwLen ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
