// The VESTRA16 protocol object: identity and offered data modes.

#include <bplink/protocol_vestra16.h>

CProtocolCOMVESTRA16::CProtocolCOMVESTRA16() {
  m_SupportInfo.nDeviceType = bplink::kDeviceType4;
  m_SupportInfo.nProtocol = bplink::kProtocolVESTRA16;
  m_SupportInfo.nReserved = bplink::kDeviceNotIdentified;
  m_SupportInfo.nVariant = bplink::kDeviceNotIdentified;
}

CProtocolCOMVESTRA16::CProtocolCOMVESTRA16(const CProtocolCOMVESTRA16& other) = default;
CProtocolCOMVESTRA16& CProtocolCOMVESTRA16::operator=(const CProtocolCOMVESTRA16& other) = default;
CProtocolCOMVESTRA16::~CProtocolCOMVESTRA16() = default;

int CProtocolCOMVESTRA16::GetDownLoadDataMode(int* pnDataMode) {
  if (pnDataMode != nullptr) pnDataMode[DATAMODE_BP] = 1;
  return bplink::kResultOk;
}
