// CDevice_Bluetooth: a stream the host connected itself.
//
// The device borrows the host's handle: copies share it, and neither Close
// nor the destructor closes it, since the protocols close their device at
// the end of every transfer and the host's link must outlive that.

#include <bplink/device.h>

#include "link_error.h"
#include "stream_io.h"

namespace {

int NoLink(bplink::LinkError& why) {
  bplink::SetLinkError(why, bplink::LinkErrorKind::kNoDevice, 0, "no connected link was handed over");
  return 0;
}

}  // namespace

CDevice_Bluetooth::CDevice_Bluetooth(const CDevice_Bluetooth&) = default;
CDevice_Bluetooth& CDevice_Bluetooth::operator=(const CDevice_Bluetooth&) = default;
CDevice_Bluetooth::~CDevice_Bluetooth() = default;

int CDevice_Bluetooth::Open(CString, DCB) { return CDevice_Bluetooth::Open(0); }

int CDevice_Bluetooth::Open(int) {
  bplink::ClearLinkError(m_LastError);
  return m_BlueTooth.IsConnected() ? 1 : NoLink(m_LastError);
}

int CDevice_Bluetooth::Close() { return 1; }

int CDevice_Bluetooth::RecvData(BYTE* pBuffer, DWORD dwLen) {
  try {
    bplink::ClearLinkError(m_LastError);
    if (!m_BlueTooth.IsConnected()) return NoLink(m_LastError);
    return bplink::stream_io::ReadExact(m_BlueTooth.m_hLink, pBuffer, dwLen, m_nRecvTimeoutMs, m_LastError) ? 1 : 0;
  } catch (...) {
    bplink::SetLinkError(m_LastError, bplink::LinkErrorKind::kOther, 0, "the receive failed");
    return 0;
  }
}

int CDevice_Bluetooth::SendData(BYTE* pBuffer, DWORD dwLen) {
  try {
    bplink::ClearLinkError(m_LastError);
    if (!m_BlueTooth.IsConnected()) return NoLink(m_LastError);
    return bplink::stream_io::WriteAll(m_BlueTooth.m_hLink, pBuffer, dwLen, m_nRecvTimeoutMs, m_LastError) ? 1 : 0;
  } catch (...) {
    bplink::SetLinkError(m_LastError, bplink::LinkErrorKind::kOther, 0, "the send failed");
    return 0;
  }
}
