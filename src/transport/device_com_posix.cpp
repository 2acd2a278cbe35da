// CDevice_COM on POSIX.
//
// The termios link is not wired yet: every Open fails cleanly, so a serial
// search finds no device rather than misbehaving.

#include <bplink/device.h>

CDevice_COM::CDevice_COM() = default;
CDevice_COM::~CDevice_COM() { Close(); }

int CDevice_COM::Open(CString, DCB) { return 0; }
int CDevice_COM::Open(int) { return 0; }

int CDevice_COM::Close() {
  m_hPort = kInvalidPort;
  return 1;
}

int CDevice_COM::RecvData(BYTE*, DWORD) { return 0; }
int CDevice_COM::SendData(BYTE*, DWORD) { return 0; }
