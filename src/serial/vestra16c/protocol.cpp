// The VESTRA16C protocol object: identity and offered data modes.

#include <bplink/protocol_vestra16c.h>

#include "serial/vestra16/transfer.h"

CProtocolCOMVESTRA16C::CProtocolCOMVESTRA16C() {
  bplink::serial::vestra16::Transfer::Identify(*this, bplink::kDeviceType6, bplink::kProtocolVESTRA16C);
}

CProtocolCOMVESTRA16C::CProtocolCOMVESTRA16C(const CProtocolCOMVESTRA16C& other) = default;
CProtocolCOMVESTRA16C& CProtocolCOMVESTRA16C::operator=(const CProtocolCOMVESTRA16C& other) = default;
CProtocolCOMVESTRA16C::~CProtocolCOMVESTRA16C() = default;

int CProtocolCOMVESTRA16C::GetDownLoadDataMode(int* pnDataMode) {
  if (pnDataMode != nullptr) pnDataMode[DATAMODE_BP] = 1;
  return bplink::kResultOk;
}
