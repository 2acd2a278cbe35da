// Plan upload: the plan record becomes the 70-byte plan block, stamped with
// the PC clock, and travels packed behind 0x44 in two writes, each one
// acknowledged by the device.

#include <bplink/env.h>
#include <bplink/protocol_new.h>

#include <array>

#include "frame/wire_bytes.h"
#include "hid/frames.h"
#include "hid/plan_block.h"

using namespace bplink::hid;
using bplink::kResultOk;
using bplink::wire::kUnset;
using bplink::wire::Low;
using bplink::wire::NonNegativeOrUnset;
using bplink::wire::PositiveOrUnset;

namespace {

constexpr unsigned kRequestPauseMs = 100;
constexpr unsigned kFirstPartPauseMs = 100;
constexpr unsigned kSecondPartPauseMs = 50;
constexpr DWORD kFirstPartLength = 64;  // the rest of the 82-byte frame follows in a second write
constexpr int kProgressRequested = 10;
constexpr int kProgressPartSent = 20;

// Byte 59 of a monitor with SpO2 tells it what the plan is for.
constexpr BYTE kSpO2PlanBloodPressure = 0x51;  // data mode 1
constexpr BYTE kSpO2PlanWithSpO2 = 0x52;       // data mode 2

// Bytes 59..66 say which device the plan is meant for and carry the settings
// only some devices keep.
void PutDeviceIdentity(const _BP_TRANSPORT_INFO& plan, int deviceType, int dataMode, BYTE* block) {
  switch (deviceType) {
    case bplink::kDeviceWithSpO2:
      block[kPlanModelAt] = dataMode == DATAMODE_BP        ? kSpO2PlanBloodPressure
                            : dataMode == DATAMODE_BP_SPO2 ? kSpO2PlanWithSpO2
                                                           : 0;
      block[kPlanOption1At] = 0;
      block[kPlanOption3At] = block[kPlanOption3At + 1] = kUnset;
      break;
    case bplink::kDeviceType4:
      block[kPlanModelAt] = 0;
      block[kPlanOption1At] = Low(plan.nOption1);
      bplink::wire::PutBigEndian16(block + kPlanOption3At, plan.nOption3);
      block[kPlanOption4At] = Low(plan.nOption4);
      break;
    case bplink::kDeviceType6:
      block[kPlanModelAt] = 0;
      block[kPlanOption1At] = kUnset;
      block[kPlanOption3At] = block[kPlanOption3At + 1] = 0;
      break;
    default:
      block[kPlanModelAt] = block[kPlanOption2At] = block[kPlanOption1At] = kUnset;
      block[kPlanOption3At] = block[kPlanOption3At + 1] = kUnset;
      break;
  }
}

}  // namespace

bool CProtocol_NEW::Pack_BPInfo(_BP_TRANSPORT_INFO info, BYTE* pOut, int& nOutLength) {
  try {
    BYTE* block = NewBuffer(kPlanLength);
    bplink::wire::PutPatientTexts(block + kPlanPatientTextsAt, info);

    // The plan carries the PC clock, read once.
    const bplink::CalendarTime now = bplink::CurrentEnv()->LocalTime();
    bplink::wire::PutClock(block + kPlanClockAt, now);
    block[kPlanSecondAt] = Low(now.second);

    bplink::wire::PutPeriods(block + kPlanPeriodsAt, info);
    block[kPlanExtraStartHourAt] = NonNegativeOrUnset(info.nExtraStartHour);
    block[kPlanExtraStartMinuteAt] = NonNegativeOrUnset(info.nExtraStartMinute);
    block[kPlanExtraIntervalAt] = PositiveOrUnset(info.nExtraInterval);
    block[kPlanExtraEndHourAt] = NonNegativeOrUnset(info.nExtraEndHour);
    block[kPlanExtraEndMinuteAt] = NonNegativeOrUnset(info.nExtraEndMinute);
    block[kPlanOption2At] = Low(info.nOption2);
    PutDeviceIdentity(info, m_SupportInfo.nDeviceType, m_nABPM_Type, block);

    nOutLength = static_cast<int>(PackedLength(kPlanLength));
    const bool packed = PackData(block, kPlanLength, pOut) == kPackOk;
    FreeBuffer();
    return packed;
  } catch (...) {
    FreeBuffer();
    return false;
  }
}

int CProtocol_NEW::UploadBPInfo() {
  try {
    CProtocolBase::UploadBPInfo();
    int r = RequestParameter(kOpWrite, kObjPlan, kRequestPauseMs);
    if (r != kResultOk) return r;
    AddProgress(kProgressRequested);

    // The whole block is packed before any of it is sent.
    std::array<BYTE, kPlanFrameLength> frame{kCmdPlan, m_byIdentity};
    int packedLength = 0;
    if (!Pack_BPInfo(m_UploadNeeded.Info, frame.data() + kDataFrameCodeBytes, packedLength))
      return bplink::kResultNotForDevice;

    if (!SendFrame(frame.data(), kFirstPartLength)) return bplink::kResultIoFailed;
    bplink::CurrentEnv()->Sleep(kFirstPartPauseMs);
    std::array<BYTE, kAckLength> ack{};
    // Without the first acknowledgement the second part is never sent, and
    // the device keeps the plan it had.
    if (!ReceiveFrame(ack.data(), kAckLength) || !IsAccepted(ack.data(), kCmdPlan))
      return bplink::kResultUnexpectedReply;
    AddProgress(kProgressPartSent);

    if (!SendFrame(frame.data() + kFirstPartLength, kPlanFrameLength - kFirstPartLength))
      return bplink::kResultIoFailed;
    bplink::CurrentEnv()->Sleep(kSecondPartPauseMs);
    ack = {};
    if (!ReceiveFrame(ack.data(), kAckLength)) return bplink::kResultIoFailed;
    if (!IsAccepted(ack.data(), kCmdPlan)) return bplink::kResultUnexpectedReply;
    AddProgress(kProgressPartSent);
    return kResultOk;
  } catch (...) {
    return bplink::kResultException;
  }
}
