// The upload at 4800 baud: the 70-byte plan block, each byte acknowledged
// with 0x6C.

#include <bplink/env.h>
#include <bplink/protocol_vestra16c.h>

#include <algorithm>
#include <iterator>

#include "frame/wire_bytes.h"
#include "serial/line.h"
#include "serial/vestra16c/wire.h"

using namespace bplink::serial::vestra16;
using namespace bplink::serial::vestra16c;
using bplink::wire::kUnset;
using bplink::wire::Low;

int CProtocolCOMVESTRA16C::UploadBPInfo() {
  CProtocolBase::UploadBPInfo();
  try {
    std::fill(std::begin(m_byBuffer), std::end(m_byBuffer), 0);
    if (!PC_Pack()) return bplink::kResultNotForDevice;
    const bool sent = bplink::serial::SendAcknowledged(*m_pDevice, m_byBuffer, kUploadBlockLength,
                                                       {kAnswer, kAckReceives, kAnswerPauseMs, true},
                                                       bplink::HostVariables(m_pnProgress, m_pnState));
    return sent ? bplink::kResultOk : bplink::kResultUnexpectedReply;
  } catch (...) {
    return bplink::kResultException;
  }
}

bool CProtocolCOMVESTRA16C::PC_Pack() {
  try {
    std::fill(std::begin(m_byBuffer), std::end(m_byBuffer), 0);
    const _BP_TRANSPORT_INFO& plan = m_UploadNeeded.Info;
    PackCommonFields(plan, bplink::CurrentEnv()->LocalTime(), m_byBuffer);
    m_byBuffer[kOption2] = plan.nOption2 == 1 ? kOption2On : kOption2Off;

    // This device takes each part of the extra window on its own: a missing
    // start does not hide a valid end.
    BYTE* window = m_byBuffer + kExtraWindow;
    const bool startSet = plan.nExtraStartHour >= 0;
    const bool endSet = MinuteOfDay(plan.nExtraEndHour, plan.nExtraEndMinute) >= 0;
    window[0] = startSet ? Low(plan.nExtraStartHour) : kUnset;
    window[1] = startSet ? Low(plan.nExtraStartMinute) : kUnset;
    window[2] = bplink::wire::PositiveOrUnset(plan.nExtraInterval);
    window[3] = endSet ? Low(plan.nExtraEndHour) : kUnset;
    window[4] = endSet ? Low(plan.nExtraEndMinute) : kUnset;
    return true;
  } catch (...) {
    return false;
  }
}
