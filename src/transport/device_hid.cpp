// CDevice_HID and CHID.
//
// The HID backend is not wired yet: Open fails cleanly and nothing moves.

#include <bplink/device.h>

CHID::CHID(const CHID&) = default;
CHID& CHID::operator=(const CHID&) = default;
CHID::~CHID() = default;

// A copy takes the settings of the device it copies, not its open handle:
// two objects closing one handle would leave one of them dangling.
CDevice_HID::CDevice_HID(const CDevice_HID& other) : CDevice(other) {
  m_HID.m_nBlockLen = other.m_HID.m_nBlockLen;
}

CDevice_HID& CDevice_HID::operator=(const CDevice_HID& other) {
  if (this != &other) {
    Close();
    CDevice::operator=(other);
    m_HID.m_nBlockLen = other.m_HID.m_nBlockLen;
  }
  return *this;
}

CDevice_HID::~CDevice_HID() { Close(); }

int CDevice_HID::Open(CString, DCB) { return 0; }
int CDevice_HID::Open(int) { return 0; }

int CDevice_HID::Close() {
  m_HID.m_hDevice = nullptr;
  return 1;
}

int CDevice_HID::RecvData(BYTE*, DWORD) { return 0; }
int CDevice_HID::SendData(BYTE*, DWORD) { return 0; }
