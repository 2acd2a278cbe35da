// The VESTRA16 protocol object: identity and offered data modes.

#include <bplink/protocol_vestra16.h>

#include "serial/vestra16/transfer.h"

CProtocolCOMVESTRA16::CProtocolCOMVESTRA16() {
  bplink::serial::vestra16::Transfer::Identify(*this, bplink::kDeviceType4, bplink::kProtocolVESTRA16);
}

CProtocolCOMVESTRA16::CProtocolCOMVESTRA16(const CProtocolCOMVESTRA16& other) = default;
CProtocolCOMVESTRA16& CProtocolCOMVESTRA16::operator=(const CProtocolCOMVESTRA16& other) = default;
CProtocolCOMVESTRA16::~CProtocolCOMVESTRA16() = default;

int CProtocolCOMVESTRA16::GetDownLoadDataMode(int* pnDataMode) {
  if (pnDataMode != nullptr) pnDataMode[DATAMODE_BP] = 1;
  return bplink::kResultOk;
}
