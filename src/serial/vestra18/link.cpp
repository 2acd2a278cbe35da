// Finding the monitor: the request byte is sent on every openable port in
// turn, and the port that echoes it is the monitor's, left open for the
// download that follows.

#include <bplink/codes.h>
#include <bplink/comports.h>
#include <bplink/protocol_vestra18.h>

#include "serial/port_search.h"
#include "serial/vestra18/wire.h"

using namespace bplink::serial::vestra18;

namespace {

// A link the host opened itself is probed as it is. An exception during the
// search ends it as a failed exchange, not as an exception.
constexpr bplink::serial::SearchRules kSearchRules{true, bplink::kResultIoFailed};

}  // namespace

int CProtocolCOMVESTRA18::DoHandShake() {
  const BYTE request = static_cast<BYTE>(kRequestBase + m_nSubMode);
  return OpenDevice(bplink::SerialLine(kLineBaudRate), request, request);
}

int CProtocolCOMVESTRA18::OpenDevice(_DCB dcb, BYTE byRequest, BYTE byExpected) {
  return bplink::serial::SearchPortByByte(m_pDevice, m_bOpened, dcb, byRequest, byExpected,
                                          kSearchRules, m_strPortPath);
}
