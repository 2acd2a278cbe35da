#include <bplink/transport/machine_links.h>

namespace bplink {

int MachineLinks::Open(CString strPath, DCB dcb) {
  hid_current_ = false;
  return com_.Open(std::move(strPath), dcb);
}

int MachineLinks::Open(int nDevice) {
  hid_current_ = true;
  return hid_.Open(nDevice);
}

int MachineLinks::Close() { return Current().Close(); }
int MachineLinks::RecvData(BYTE* pBuffer, DWORD dwLen) { return Current().RecvData(pBuffer, dwLen); }
int MachineLinks::SendData(BYTE* pBuffer, DWORD dwLen) { return Current().SendData(pBuffer, dwLen); }

}  // namespace bplink
