// Finding the VESTRA16C monitor, the handshake, and one request with its
// answer on the fast line.

#include <bplink/protocol_vestra16c.h>

#include <cstddef>

#include "serial/port_search.h"
#include "serial/vestra16/blocks.h"
#include "serial/vestra16/byte_link.h"
#include "serial/vestra16c/commands.h"

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
  if (m_pDevice != nullptr) Drain(*m_pDevice);
  return true;
}

int CProtocolCOMVESTRA16C::DoHandShake() {
  try {
    const int found = OpenDevice(Line(kHandshakeBaud), kCmdHandshake, kAnswer);
    if (found == bplink::kResultOk) m_pDevice->Close();
    return found;
  } catch (...) {
    CloseQuietly(m_pDevice);
    return bplink::kResultException;
  }
}

bool CProtocolCOMVESTRA16C::PC_ReceivePack() {
  std::size_t length = 0;
  switch (m_byBuffer[0]) {
    case kCmdReadSettingsFast: length = kSettingsBlockLength; break;
    case kCmdReadRecord: length = kRecordBlockLength; break;
    default: return true;  // no exchange for anything else
  }
  BYTE expected = m_byBuffer[0];
  if (!IsRightReceive(&m_byBuffer[0], &expected)) return false;
  ReceiveBytewise(*m_pDevice, m_byBuffer + 1, length);
  return true;
}
