// Finding the VESTRA16 monitor, and the command-and-echo exchange.

#include <bplink/env.h>
#include <bplink/protocol_vestra16.h>

#include "serial/line.h"
#include "serial/port_search.h"
#include "serial/vestra16/wire.h"

using namespace bplink::serial::vestra16;

int CProtocolCOMVESTRA16::OpenDevice(DCB dcb, BYTE byCommand, BYTE byExpected) {
  BYTE answer = 0;
  const bplink::serial::Probe probe{&byCommand, 1, &answer, 1, [this, byExpected](const BYTE* got) {
                                      // The device follows its echo of 0x88 with the whole
                                      // settings block; none of it is wanted while searching.
                                      ClearCommData();
                                      return got[0] == byExpected;
                                    }};
  return bplink::serial::SearchPort(m_pDevice, m_bOpened, dcb, probe, kScanEveryPort, m_strPortPath);
}

int CProtocolCOMVESTRA16::IsRightReceive(BYTE* pbyCommand, BYTE* pbyExpected) {
  if (m_pDevice == nullptr || m_pDevice->SendData(pbyCommand, 1) == 0) return 0;
  bplink::CurrentEnv()->Sleep(kAnswerPauseMs);
  BYTE answer = 0;
  m_pDevice->RecvData(&answer, 1);
  return answer == *pbyExpected ? 1 : 0;
}

bool CProtocolCOMVESTRA16::ClearCommData() {
  if (m_pDevice != nullptr) bplink::serial::Drain(*m_pDevice);
  return true;
}
