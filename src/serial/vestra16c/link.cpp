// Finding the VESTRA16C monitor, the handshake, and the command-and-answer
// exchange.

#include <bplink/comports.h>
#include <bplink/protocol_vestra16c.h>

#include "serial/line.h"
#include "serial/port_search.h"
#include "serial/vestra16c/wire.h"

using namespace bplink::serial::vestra16;
using namespace bplink::serial::vestra16c;

int CProtocolCOMVESTRA16C::OpenDevice(DCB dcb, BYTE byCommand, BYTE byExpected) {
  // Unlike its older sibling, this device sends nothing after its answer,
  // so the line needs no draining.
  return bplink::serial::SearchPortByByte(m_pDevice, m_bOpened, dcb, byCommand, byExpected,
                                          kScanEveryPort, m_strPortPath);
}

int CProtocolCOMVESTRA16C::IsRightReceive(BYTE* pbyCommand, BYTE* pbyExpected) {
  if (m_pDevice == nullptr) return 0;
  m_pDevice->SendData(pbyCommand, 1);
  BYTE answer = 0;
  m_pDevice->RecvData(&answer, 1);  // at once: the fast line answers without a pause
  return answer == *pbyExpected ? 1 : 0;
}

bool CProtocolCOMVESTRA16C::ClearCommData() {
  if (m_pDevice != nullptr) bplink::serial::Drain(*m_pDevice);
  return true;
}

int CProtocolCOMVESTRA16C::DoHandShake() {
  try {
    const int found = OpenDevice(bplink::SerialLine(kHandshakeBaud), kCmdHandshake, kAnswer);
    if (found == bplink::kResultOk) m_pDevice->Close();
    return found;
  } catch (...) {
    bplink::serial::CloseQuietly(m_pDevice);
    return bplink::kResultException;
  }
}
