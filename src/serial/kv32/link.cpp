// The KV32 link: construction, the port search, the greeting at 4800 baud
// and the offered data modes.

#include <bplink/device.h>
#include <bplink/protocol_kv32.h>

#include "serial/kv32/wire.h"
#include "serial/port_search.h"

using namespace bplink::kv32;

namespace {

constexpr int kNotClassified = 255;

// The monitor is always searched for: a link the host opened is scanned past
// like any other port.
constexpr bplink::serial::SearchRules kAlwaysScan{false, bplink::kResultException};

}  // namespace

CProtocolCOMKV32::CProtocolCOMKV32() {
  m_SupportInfo.nDeviceType = bplink::kDeviceWithSpO2;
  m_SupportInfo.nProtocol = bplink::kProtocolKV32;
  m_SupportInfo.nReserved = kNotClassified;
  m_SupportInfo.nVariant = kNotClassified;
}

CProtocolCOMKV32::CProtocolCOMKV32(const CProtocolCOMKV32& other) = default;
CProtocolCOMKV32& CProtocolCOMKV32::operator=(const CProtocolCOMKV32& other) = default;
CProtocolCOMKV32::~CProtocolCOMKV32() = default;

int CProtocolCOMKV32::GetDownLoadDataMode(int* pnDataMode) {
  if (pnDataMode != nullptr) pnDataMode[DATAMODE_BP] = pnDataMode[DATAMODE_BP_SPO2] = 1;
  return bplink::kResultOk;
}

int CProtocolCOMKV32::OpenDevice(DCB dcb, BYTE byRequest, BYTE byExpected) {
  return bplink::serial::SearchPortByByte(m_pDevice, m_bOpened, dcb, byRequest, byExpected,
                                          kAlwaysScan, m_strPortPath);
}

// The monitor answers the greeting of the data mode by echoing it. The port
// is closed again: the download reopens it at its own speed.
int CProtocolCOMKV32::DoHandShake() {
  try {
    const BYTE greeting = m_nABPM_Type == DATAMODE_BP_SPO2 ? kCmdHandShakeMode2 : kCmdHandShakeMode1;
    const int result = OpenDevice(Line(kSlowBaud), greeting, greeting);
    CloseLink();
    return result;
  } catch (...) {
    CloseLink();
    return bplink::kResultException;
  }
}

void CProtocolCOMKV32::CloseLink() {
  try {
    if (m_pDevice != nullptr) m_pDevice->Close();
  } catch (...) {
  }
}

// Drains what the monitor still sends. No operation needs it: every reply
// has a known length.
bool CProtocolCOMKV32::ClearCommData() {
  if (m_pDevice == nullptr) return true;
  BYTE byte = 0;
  while (m_pDevice->RecvData(&byte, 1) != 0) {
  }
  return true;
}
