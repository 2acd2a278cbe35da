// CDevice_Bluetooth: a stream the host connected itself.
//
// The device borrows the host's handle: copies share it, and neither Close
// nor the destructor closes it, since the protocols close their device at
// the end of every transfer and the host's link must outlive that.

#include <bplink/device.h>

#include "stream_io.h"

CDevice_Bluetooth::CDevice_Bluetooth(const CDevice_Bluetooth&) = default;
CDevice_Bluetooth& CDevice_Bluetooth::operator=(const CDevice_Bluetooth&) = default;
CDevice_Bluetooth::~CDevice_Bluetooth() = default;

int CDevice_Bluetooth::Open(CString, DCB) { return m_BlueTooth.IsConnected() ? 1 : 0; }
int CDevice_Bluetooth::Open(int) { return m_BlueTooth.IsConnected() ? 1 : 0; }
int CDevice_Bluetooth::Close() { return 1; }

int CDevice_Bluetooth::RecvData(BYTE* pBuffer, DWORD dwLen) {
  try {
    if (!m_BlueTooth.IsConnected()) return 0;
    return bplink::stream_io::ReadExact(m_BlueTooth.m_hLink, pBuffer, dwLen, m_nRecvTimeoutMs) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int CDevice_Bluetooth::SendData(BYTE* pBuffer, DWORD dwLen) {
  try {
    if (!m_BlueTooth.IsConnected()) return 0;
    return bplink::stream_io::WriteAll(m_BlueTooth.m_hLink, pBuffer, dwLen, m_nRecvTimeoutMs) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
