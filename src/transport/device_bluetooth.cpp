// CDevice_Bluetooth: a stream the host connected itself.
//
// Reading and writing the host's handle is not wired yet: the device reports
// whether it holds a handle and moves no bytes.

#include <bplink/device.h>

CDevice_Bluetooth::CDevice_Bluetooth(const CDevice_Bluetooth&) = default;
CDevice_Bluetooth& CDevice_Bluetooth::operator=(const CDevice_Bluetooth&) = default;
CDevice_Bluetooth::~CDevice_Bluetooth() = default;

int CDevice_Bluetooth::Open(CString, DCB) { return m_BlueTooth.IsConnected() ? 1 : 0; }
int CDevice_Bluetooth::Open(int) { return m_BlueTooth.IsConnected() ? 1 : 0; }
int CDevice_Bluetooth::Close() { return 1; }
int CDevice_Bluetooth::RecvData(BYTE*, DWORD) { return 0; }
int CDevice_Bluetooth::SendData(BYTE*, DWORD) { return 0; }
