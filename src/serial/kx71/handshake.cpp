// The handshake: find the recorder by its six-byte greeting and learn from
// its reply code which variant it is and whether it keeps a plan.

#include <bplink/codes.h>
#include <bplink/protocol_kx71.h>

#include <algorithm>
#include <array>
#include <iterator>

#include "serial/kx71/wire.h"

using namespace bplink::kx71;

namespace {

struct ReplyCode {
  BYTE code;
  bool keepsPlan;
  int variant;
};

constexpr std::array<ReplyCode, 3> kReplyCodes{{
    {kReplyVariant1, false, kVariant1},
    {kReplyVariant2, false, kVariant2},
    {kReplyKeepsPlan, true, kVariant2},
}};

}  // namespace

// The port found stays open, also when the reply code is unknown (5): the
// caller closes it.
int CProtocolCOMKX71::DoHandShake() {
  try {
    m_SupportInfo.nVariant = kVariantUnknown;
    BYTE request[kHandShakeLength];
    std::copy(std::begin(kHandShakeRequest), std::end(kHandShakeRequest), request);
    BYTE reply = 0;
    const int r = OpenDevice(Line(), request, reply);
    if (r != bplink::kResultOk) return r;

    for (const ReplyCode& known : kReplyCodes) {
      if (known.code != reply) continue;
      m_bDeviceKeepsPlan = known.keepsPlan;
      m_SupportInfo.nVariant = known.variant;
      return bplink::kResultOk;
    }
    return bplink::kResultIoFailed;
  } catch (...) {
    CloseLink();
    return bplink::kResultException;
  }
}
