// Plan upload: the plan record becomes the 70-byte plan block, stamped with
// the PC clock, and travels packed behind 0x44 in two writes, each one
// acknowledged by the device.

#include <bplink/env.h>
#include <bplink/protocol_new.h>

#include <array>
#include <cstring>

#include "hid/frames.h"
#include "hid/plan_block.h"

using namespace bplink::hid;
using bplink::kResultOk;

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

BYTE Low(int value) { return static_cast<BYTE>(value & 0xFF); }
BYTE PositiveOrNone(int value) { return value > 0 ? Low(value) : kPlanNone; }
BYTE NonNegativeOrNone(int value) { return value >= 0 ? Low(value) : kPlanNone; }

void CopyText(const char* text, DWORD length, BYTE* to) { std::memcpy(to, text, length); }

// Bytes 59..66 say which device the plan is meant for and carry the settings
// only some devices keep.
void PutDeviceIdentity(const _BP_TRANSPORT_INFO& plan, int deviceType, int dataMode, BYTE* block) {
  switch (deviceType) {
    case bplink::kDeviceWithSpO2:
      block[kPlanModelAt] = dataMode == DATAMODE_BP        ? kSpO2PlanBloodPressure
                            : dataMode == DATAMODE_BP_SPO2 ? kSpO2PlanWithSpO2
                                                           : 0;
      block[kPlanOption1At] = 0;
      block[kPlanOption3HighAt] = block[kPlanOption3LowAt] = kPlanNone;
      break;
    case bplink::kDeviceType4:
      block[kPlanModelAt] = 0;
      block[kPlanOption1At] = Low(plan.nOption1);
      block[kPlanOption3HighAt] = Low(plan.nOption3 >> 8);
      block[kPlanOption3LowAt] = Low(plan.nOption3);
      block[kPlanOption4At] = Low(plan.nOption4);
      break;
    case bplink::kDeviceType6:
      block[kPlanModelAt] = 0;
      block[kPlanOption1At] = kPlanNone;
      block[kPlanOption3HighAt] = block[kPlanOption3LowAt] = 0;
      break;
    default:
      block[kPlanModelAt] = block[kPlanOption2At] = block[kPlanOption1At] = kPlanNone;
      block[kPlanOption3HighAt] = block[kPlanOption3LowAt] = kPlanNone;
      break;
  }
}

}  // namespace

bool CProtocol_NEW::Pack_BPInfo(_BP_TRANSPORT_INFO info, BYTE* pOut, int& nOutLength) {
  try {
    BYTE* block = NewBuffer(kPlanLength);
    CopyText(info.szPatientInfo1, kPlanPatient1Length, block + kPlanPatient1At);
    CopyText(info.szPatientInfo2, kPlanPatient2Length, block + kPlanPatient2At);

    // The plan carries the PC clock, read once.
    const bplink::CalendarTime now = bplink::CurrentEnv()->LocalTime();
    block[kPlanYearHighAt] = Low(now.year / 256);
    block[kPlanYearLowAt] = Low(now.year % 256);
    block[kPlanMonthAt] = Low(now.month);
    block[kPlanDayAt] = Low(now.day);
    block[kPlanHourAt] = Low(now.hour);
    block[kPlanMinuteAt] = Low(now.minute);
    block[kPlanSecondAt] = Low(now.second);

    block[kPlanPeriod1HourAt] = Low(info.nPeriod1Hour);
    block[kPlanPeriod1MinuteAt] = Low(info.nPeriod1Minute);
    block[kPlanPeriod1IntervalAt] = PositiveOrNone(info.nPeriod1Interval);
    block[kPlanPeriod2HourAt] = Low(info.nPeriod2Hour);
    block[kPlanPeriod2MinuteAt] = Low(info.nPeriod2Minute);
    block[kPlanPeriod2IntervalAt] = PositiveOrNone(info.nPeriod2Interval);
    block[kPlanExtraStartHourAt] = NonNegativeOrNone(info.nExtraStartHour);
    block[kPlanExtraStartMinuteAt] = NonNegativeOrNone(info.nExtraStartMinute);
    block[kPlanExtraIntervalAt] = PositiveOrNone(info.nExtraInterval);
    block[kPlanExtraEndHourAt] = NonNegativeOrNone(info.nExtraEndHour);
    block[kPlanExtraEndMinuteAt] = NonNegativeOrNone(info.nExtraEndMinute);
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
