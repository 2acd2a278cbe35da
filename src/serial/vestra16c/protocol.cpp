// The VESTRA16C protocol object: identity and offered data modes.

#include <bplink/protocol_vestra16c.h>

CProtocolCOMVESTRA16C::CProtocolCOMVESTRA16C() {
  m_SupportInfo.nDeviceType = bplink::kDeviceType6;
  m_SupportInfo.nProtocol = bplink::kProtocolVESTRA16C;
  m_SupportInfo.nReserved = bplink::kDeviceNotIdentified;
  m_SupportInfo.nVariant = bplink::kDeviceNotIdentified;
}

CProtocolCOMVESTRA16C::CProtocolCOMVESTRA16C(const CProtocolCOMVESTRA16C& other) = default;
CProtocolCOMVESTRA16C& CProtocolCOMVESTRA16C::operator=(const CProtocolCOMVESTRA16C& other) = default;
CProtocolCOMVESTRA16C::~CProtocolCOMVESTRA16C() = default;

int CProtocolCOMVESTRA16C::GetDownLoadDataMode(int* pnDataMode) {
  if (pnDataMode != nullptr) pnDataMode[DATAMODE_BP] = 1;
  return bplink::kResultOk;
}
