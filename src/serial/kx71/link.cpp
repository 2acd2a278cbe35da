// Finding the KX71 recorder: the port search in its two forms, the
// handshake that tells which recorder answered, and the single-byte helpers
// of the class interface.

#include <bplink/codes.h>
#include <bplink/device.h>
#include <bplink/protocol_kx71.h>

#include "serial/line.h"
#include "serial/port_search.h"
#include "serial/kx71/wire.h"

using namespace bplink::serial::kx71;

namespace {

// A link the host opened itself is probed as it is; an exception gives 8.
constexpr bplink::serial::SearchRules kSearchRules{true, bplink::kResultException};

bool EchoesHandShake(const BYTE* answer) {
  return answer[kAnswerEchoAt] == kHandShakeRequest[kAnswerEchoAt] &&
         answer[kAnswerEchoAt + 1] == kHandShakeRequest[kAnswerEchoAt + 1];
}

}  // namespace

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

// The port found stays open, also when the reply code is unknown (5): the
// caller closes it.
int CProtocolCOMKX71::DoHandShake() {
  try {
    m_SupportInfo.nVariant = bplink::kNotReported;
    BYTE request[kHandShakeLength];
    std::copy(std::begin(kHandShakeRequest), std::end(kHandShakeRequest), request);
    BYTE reply = 0;
    const int r = OpenDevice(Line(), request, reply);
    if (r != bplink::kResultOk) return r;

    const ReplyCode* known = FindReplyCode(reply);
    if (known == nullptr) return bplink::kResultIoFailed;
    m_bDeviceKeepsPlan = known->keepsPlan;
    m_SupportInfo.nVariant = known->variant;
    return bplink::kResultOk;
  } catch (...) {
    bplink::serial::CloseQuietly(m_pDevice);
    return bplink::kResultException;
  }
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
    if (m_pDevice != nullptr) bplink::serial::Drain(*m_pDevice);
  } catch (...) {
  }
  return true;
}
