// CDevice: the six slots every transport implements. The base opens nothing.

#include <bplink/device.h>

CDevice::CDevice(const CDevice&) = default;
CDevice& CDevice::operator=(const CDevice&) = default;
CDevice::~CDevice() = default;

int CDevice::Open(CString, DCB) { return 0; }
int CDevice::Open(int) { return 0; }
