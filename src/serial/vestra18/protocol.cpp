// The VESTRA18 protocol object: identification, the offered data modes, and
// the upload the family does not take.

#include <bplink/codes.h>
#include <bplink/protocol_vestra18.h>

namespace {

constexpr int kNotReported = 255;

}  // namespace

CProtocolCOMVESTRA18::CProtocolCOMVESTRA18() {
  m_SupportInfo.nDeviceType = bplink::kDeviceThreeStores;
  m_SupportInfo.nProtocol = bplink::kProtocolVESTRA18;
  m_SupportInfo.nReserved = kNotReported;
  m_SupportInfo.nVariant = kNotReported;
}

CProtocolCOMVESTRA18::CProtocolCOMVESTRA18(const CProtocolCOMVESTRA18& other) = default;
CProtocolCOMVESTRA18& CProtocolCOMVESTRA18::operator=(const CProtocolCOMVESTRA18& other) = default;
CProtocolCOMVESTRA18::~CProtocolCOMVESTRA18() = default;

int CProtocolCOMVESTRA18::PC_Upload(enum_DataMode) { return bplink::kResultNotInFamily; }

int CProtocolCOMVESTRA18::GetDownLoadDataMode(int* pnDataMode) {
  if (pnDataMode != nullptr)
    pnDataMode[DATAMODE_ZONE1] = pnDataMode[DATAMODE_ZONE2] = pnDataMode[DATAMODE_ZONE3] = 1;
  return bplink::kResultOk;
}
