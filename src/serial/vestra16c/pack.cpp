// The VESTRA16C upload block.

#include <bplink/env.h>
#include <bplink/protocol_vestra16c.h>

#include <algorithm>
#include <iterator>

#include "serial/vestra16/blocks.h"
#include "serial/vestra16c/commands.h"

using namespace bplink::serial::vestra16;
using namespace bplink::serial::vestra16c;

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
    window[0] = startSet ? LowByte(plan.nExtraStartHour) : kUnset;
    window[1] = startSet ? LowByte(plan.nExtraStartMinute) : kUnset;
    window[2] = IntervalByte(plan.nExtraInterval);
    window[3] = endSet ? LowByte(plan.nExtraEndHour) : kUnset;
    window[4] = endSet ? LowByte(plan.nExtraEndMinute) : kUnset;
    return true;
  } catch (...) {
    return false;
  }
}
