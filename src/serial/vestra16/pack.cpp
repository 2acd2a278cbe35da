// The VESTRA16 upload block.

#include <bplink/env.h>
#include <bplink/protocol_vestra16.h>

#include <algorithm>
#include <iterator>

#include "serial/vestra16/blocks.h"

using namespace bplink::serial::vestra16;

bool CProtocolCOMVESTRA16::PC_Pack() {
  try {
    std::fill(std::begin(m_byBuffer), std::end(m_byBuffer), 0);
    const _BP_TRANSPORT_INFO& plan = m_UploadNeeded.Info;
    PackCommonFields(plan, bplink::CurrentEnv()->LocalTime(), m_byBuffer);
    m_byBuffer[kOption2] = LowByte(plan.nOption2);

    // This device takes the extra window whole or not at all.
    BYTE* window = m_byBuffer + kExtraWindow;
    const bool sendWindow = MinuteOfDay(plan.nExtraStartHour, plan.nExtraStartMinute) >= 0 &&
                            MinuteOfDay(plan.nExtraEndHour, plan.nExtraEndMinute) >= 0 &&
                            plan.nExtraInterval > 0;
    if (sendWindow) {
      window[0] = LowByte(plan.nExtraStartHour);
      window[1] = LowByte(plan.nExtraStartMinute);
      window[2] = LowByte(plan.nExtraInterval);
      window[3] = LowByte(plan.nExtraEndHour);
      window[4] = LowByte(plan.nExtraEndMinute);
    } else {
      std::fill_n(window, kExtraWindowLength, kUnset);
    }
    return true;
  } catch (...) {
    return false;
  }
}
