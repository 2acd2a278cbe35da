// Finding the KV32 monitor: the port search and the greeting at 4800 baud.

#include <bplink/comports.h>
#include <bplink/device.h>
#include <bplink/protocol_kv32.h>

#include "serial/line.h"
#include "serial/port_search.h"
#include "serial/kv32/wire.h"

using namespace bplink::serial::kv32;

namespace {

// The monitor is always searched for: a link the host opened is scanned past
// like any other port.
constexpr bplink::serial::SearchRules kAlwaysScan{false, bplink::kResultException};

}  // namespace

int CProtocolCOMKV32::OpenDevice(DCB dcb, BYTE byRequest, BYTE byExpected) {
  return bplink::serial::SearchPortByByte(m_pDevice, m_bOpened, dcb, byRequest, byExpected,
                                          kAlwaysScan, m_strPortPath);
}

// The monitor answers the greeting of the data mode by echoing it. The port
// is closed again: the download reopens it at its own speed.
int CProtocolCOMKV32::DoHandShake() {
  try {
    const BYTE greeting = m_nABPM_Type == DATAMODE_BP_SPO2 ? kCmdHandShakeMode2 : kCmdHandShakeMode1;
    const int result = OpenDevice(bplink::SerialLine(kSlowBaud), greeting, greeting);
    CloseLink();
    return result;
  } catch (...) {
    CloseLink();
    return bplink::kResultException;
  }
}

void CProtocolCOMKV32::CloseLink() { bplink::serial::CloseQuietly(m_pDevice); }

// Drains what the monitor still sends. No operation needs it: every reply
// has a known length.
bool CProtocolCOMKV32::ClearCommData() {
  if (m_pDevice != nullptr) bplink::serial::Drain(*m_pDevice);
  return true;
}
