// The upload: the 70-byte plan block, each byte acknowledged; and the block
// encoder both VESTRA16 monitors share.

#include <bplink/env.h>
#include <bplink/protocol_vestra16.h>

#include <algorithm>
#include <iterator>

#include "frame/wire_bytes.h"
#include "serial/line.h"
#include "serial/vestra16/wire.h"

using namespace bplink::serial::vestra16;
using bplink::wire::kUnset;
using bplink::wire::Low;

namespace bplink::serial::vestra16 {
namespace {

constexpr int kMinutesPerHour = 60;

}  // namespace

int MinuteOfDay(int hour, int minute) { return hour * kMinutesPerHour + minute; }

void PackCommonFields(const _BP_TRANSPORT_INFO& plan, const CalendarTime& now, BYTE* block) {
  // The texts go as they stand, whatever follows a terminator included.
  wire::PutPatientTexts(block + kPatientTexts, plan);

  const CalendarTime next = AddSeconds(now, kStartLeadSeconds);
  wire::PutClock(block + kStartTime, now);
  wire::PutClock(block + kNextTime, next);
  block[kReserved1] = 0;
  block[kReserved1 + 1] = 0;

  block[kOption1] = Low(plan.nOption1);
  wire::PutPeriods(block + kPeriods, plan);

  block[kReserved2] = 0;
  block[kPeriodCode] = CurrentPeriodCode(plan, MinuteOfDay(next.hour, next.minute));
}

BYTE CurrentPeriodCode(const _BP_TRANSPORT_INFO& plan, int t) {
  // The window decides even when it is not sent (interval 0): the device
  // is told which period the plan says it is in.
  const int extraStart = MinuteOfDay(plan.nExtraStartHour, plan.nExtraStartMinute);
  const int extraEnd = MinuteOfDay(plan.nExtraEndHour, plan.nExtraEndMinute);
  if (extraStart <= t && t <= extraEnd) return kExtraWindowPeriod;

  const int first = MinuteOfDay(plan.nPeriod1Hour, plan.nPeriod1Minute);
  const int second = MinuteOfDay(plan.nPeriod2Hour, plan.nPeriod2Minute);
  const bool inFirst = first <= second ? (first <= t && t <= second) : (t <= second || t >= first);
  return inFirst ? kFirstPeriod : kSecondPeriod;
}

}  // namespace bplink::serial::vestra16

int CProtocolCOMVESTRA16::UploadBPInfo() {
  CProtocolBase::UploadBPInfo();
  SetProgress(0);
  SetState(bplink::kStateRunning);
  std::fill(std::begin(m_byBuffer), std::end(m_byBuffer), 0);

  if (!PC_Pack()) return bplink::kResultIoFailed;
  const bool sent = bplink::serial::SendAcknowledged(
      *m_pDevice, m_byBuffer, kUploadBlockLength, {kCmdWriteSettings, kAckReceives, kAnswerPauseMs, true},
      bplink::HostVariables(m_pnProgress, m_pnState));
  return sent ? bplink::kResultOk : bplink::kResultIoFailed;
}

bool CProtocolCOMVESTRA16::PC_Pack() {
  try {
    std::fill(std::begin(m_byBuffer), std::end(m_byBuffer), 0);
    const _BP_TRANSPORT_INFO& plan = m_UploadNeeded.Info;
    PackCommonFields(plan, bplink::CurrentEnv()->LocalTime(), m_byBuffer);
    m_byBuffer[kOption2] = Low(plan.nOption2);

    // This device takes the extra window whole or not at all.
    BYTE* window = m_byBuffer + kExtraWindow;
    const bool sendWindow = MinuteOfDay(plan.nExtraStartHour, plan.nExtraStartMinute) >= 0 &&
                            MinuteOfDay(plan.nExtraEndHour, plan.nExtraEndMinute) >= 0 &&
                            plan.nExtraInterval > 0;
    if (sendWindow) {
      window[0] = Low(plan.nExtraStartHour);
      window[1] = Low(plan.nExtraStartMinute);
      window[2] = Low(plan.nExtraInterval);
      window[3] = Low(plan.nExtraEndHour);
      window[4] = Low(plan.nExtraEndMinute);
    } else {
      std::fill_n(window, kExtraWindowLength, kUnset);
    }
    return true;
  } catch (...) {
    return false;
  }
}
