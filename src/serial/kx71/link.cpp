// The KX71 link: construction, the port search in its two forms, and the two
// single-byte helpers of the class interface.

#include <bplink/codes.h>
#include <bplink/device.h>
#include <bplink/protocol_kx71.h>

#include "serial/kx71/wire.h"
#include "serial/port_search.h"

using namespace bplink::kx71;

namespace {

// A link the host opened itself is probed as it is; an exception gives 8.
constexpr bplink::serial::SearchRules kSearchRules{true, bplink::kResultException};

bool EchoesHandShake(const BYTE* answer) {
  return answer[kAnswerEchoAt] == kAnswerEcho1 && answer[kAnswerEchoAt + 1] == kAnswerEcho2;
}

}  // namespace

CProtocolCOMKX71::CProtocolCOMKX71() {
  m_SupportInfo.nDeviceType = bplink::kDeviceAmbulatory;
  m_SupportInfo.nProtocol = bplink::kProtocolKX71;
  m_SupportInfo.nReserved = bplink::kDeviceNotIdentified;
  m_SupportInfo.nVariant = kVariantUnknown;
}

CProtocolCOMKX71::CProtocolCOMKX71(const CProtocolCOMKX71& other) = default;
CProtocolCOMKX71& CProtocolCOMKX71::operator=(const CProtocolCOMKX71& other) = default;
CProtocolCOMKX71::~CProtocolCOMKX71() = default;

int CProtocolCOMKX71::OpenDevice(DCB dcb, BYTE byRequest, BYTE byExpected) {
  return bplink::serial::SearchPortByByte(m_pDevice, m_bOpened, dcb, byRequest, byExpected,
                                          kSearchRules, m_strPortPath);
}

int CProtocolCOMKX71::OpenDevice(DCB dcb, BYTE* pRequest, BYTE& byReply) {
  BYTE answer[kHandShakeLength] = {};
  const bplink::serial::Probe probe{pRequest, kHandShakeLength, answer, kHandShakeLength,
                                    EchoesHandShake};
  const int r = bplink::serial::SearchPort(m_pDevice, m_bOpened, dcb, probe, kSearchRules,
                                           m_strPortPath);
  if (r == bplink::kResultOk) byReply = answer[0];
  return r;
}

int CProtocolCOMKX71::IsRightReceive(BYTE* pRequest, BYTE* pExpected) {
  try {
    if (m_pDevice == nullptr || pRequest == nullptr || pExpected == nullptr) return 0;
    m_pDevice->SendData(pRequest, 1);
    BYTE answer = 0;
    m_pDevice->RecvData(&answer, 1);
    return answer == *pExpected ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

bool CProtocolCOMKX71::ClearCommData() {
  try {
    if (m_pDevice == nullptr) return true;
    BYTE discard = 0;
    while (m_pDevice->RecvData(&discard, 1) != 0) {
    }
  } catch (...) {
  }
  return true;
}

void CProtocolCOMKX71::CloseLink() {
  if (m_pDevice != nullptr) m_pDevice->Close();
}

int CProtocolCOMKX71::EndWithFailure(int nResult) {
  SetState(bplink::kStateFailed);
  try {
    CloseLink();
  } catch (...) {
  }
  return nResult;
}
