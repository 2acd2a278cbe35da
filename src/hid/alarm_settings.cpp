// Alarm limits and the alarm switch value. The limits travel as one packed
// block behind 0x4D: a day and a night group, each with its own switch and
// pressure limits. Most devices use a long block with six limits per group;
// type 4 devices of version byte 2 use a short one with four.

#include <bplink/protocol_new.h>

#include <array>

#include "frame/wire_bytes.h"
#include "hid/device_rules.h"
#include "hid/frames.h"

using namespace bplink::hid;
using bplink::kResultOk;

namespace {

constexpr unsigned kReadPauseMs = 50;  // given to the device before its acknowledgement

// Where each value of a group sits in the block. A limit is two bytes
// (big-endian) or one; limits a layout does not carry are absent.
struct LimitSlot {
  int at = -1;  // -1: not carried
  bool wide = false;
};
struct GroupSlots {
  DWORD switchAt;
  std::array<LimitSlot, 6> limits;
};
struct AlarmLayout {
  DWORD length;
  bool identityInUpload;  // the long upload frame names the device, the short one does not
  GroupSlots day, night;
};

constexpr AlarmLayout kShortLayout{
    14, false,
    {0, {{{1, true}, {3, true}, {5, false}, {6, false}, {}, {}}}},
    {7, {{{8, true}, {10, true}, {12, false}, {13, false}, {}, {}}}},
};
// Bytes 22..27 are reserved: sent as 0, not read.
constexpr AlarmLayout kLongLayout{
    28, true,
    {0, {{{2, true}, {4, true}, {6, false}, {7, false}, {8, true}, {10, true}}}},
    {1, {{{12, true}, {14, true}, {16, false}, {17, false}, {18, true}, {20, true}}}},
};
constexpr DWORD kLongestBlock = 28;
constexpr DWORD kLongestFrame = DataFrameLength(kLongestBlock);

constexpr int kShortLayoutType = bplink::kDeviceType4;
constexpr BYTE kShortLayoutVersion = 2;

// The switch value exchange: 15 plain bytes each way, the value at byte 2.
constexpr DWORD kSwitchFrameLength = 15;
constexpr DWORD kSwitchValueAt = 2;
constexpr DWORD kSwitchIdentityAt = 1;

// An upload is acknowledged by 0x4A with status 0x01 at byte 2; the code it
// echoes is not looked at.
constexpr DWORD kAckStatusByte = 2;

const AlarmLayout& LayoutFor(int deviceType, BYTE versionByte) {
  return deviceType == kShortLayoutType && versionByte == kShortLayoutVersion ? kShortLayout
                                                                               : kLongLayout;
}

int* LimitField(_WARN_GROUP& group, std::size_t index) {
  int* fields[] = {&group.nLimit1, &group.nLimit2, &group.nLimit3,
                   &group.nLimit4, &group.nLimit5, &group.nLimit6};
  return fields[index];
}

void PutGroup(const GroupSlots& slots, _WARN_GROUP group, BYTE* block) {
  block[slots.switchAt] = bplink::wire::Low(group.nWarnSwitch);
  for (std::size_t i = 0; i < slots.limits.size(); ++i) {
    const LimitSlot& slot = slots.limits[i];
    if (slot.at < 0) continue;
    const int value = *LimitField(group, i);
    if (slot.wide)
      bplink::wire::PutBigEndian16(block + slot.at, value);
    else
      block[slot.at] = bplink::wire::Low(value);
  }
}

// Limits the layout does not carry keep the values the group had.
void GetGroup(const GroupSlots& slots, const BYTE* block, _WARN_GROUP& group) {
  group.nWarnSwitch = block[slots.switchAt];
  for (std::size_t i = 0; i < slots.limits.size(); ++i) {
    const LimitSlot& slot = slots.limits[i];
    if (slot.at < 0) continue;
    *LimitField(group, i) = slot.wide ? bplink::wire::BigEndian16(block + slot.at) : block[slot.at];
  }
}

}  // namespace

// Only devices that keep alarm limits are asked; for the others there is
// nothing to read. A failed read leaves the plan record as it was.
int CProtocol_NEW::DownloadWarnInfo() {
  try {
    if (!HoldsAlarmLimits(m_SupportInfo.nDeviceType, m_byVersion)) return kResultOk;
    int r = RequestParameter(kOpRead, kObjAlarm, kReadPauseMs);
    if (r != kResultOk) return r;

    const AlarmLayout& layout = LayoutFor(m_SupportInfo.nDeviceType, m_byVersion);
    const DWORD frameLength = DataFrameLength(layout.length);
    BYTE* frame = NewBuffer(frameLength);
    std::array<BYTE, kLongestBlock> block{};
    if (!ReceiveFrame(frame, frameLength)) {
      r = bplink::kResultIoFailed;
    } else if (frame[0] != kFrameAlarm) {
      r = bplink::kResultUnexpectedReply;
    } else if (!UnpackPayload(frame + kDataFrameCodeBytes, layout.length, block.data())) {
      r = bplink::kResultIoFailed;
    } else {
      GetGroup(layout.day, block.data(), m_UploadNeeded.Info.DayWarn);
      GetGroup(layout.night, block.data(), m_UploadNeeded.Info.NightWarn);
    }
    FreeBuffer();
    return r;
  } catch (...) {
    FreeBuffer();
    return bplink::kResultException;
  }
}

// No request announces the block; the device takes it as it comes.
int CProtocol_NEW::UploadWarnInfo() {
  try {
    const AlarmLayout& layout = LayoutFor(m_SupportInfo.nDeviceType, m_byVersion);
    std::array<BYTE, kLongestBlock> block{};
    PutGroup(layout.day, m_UploadNeeded.Info.DayWarn, block.data());
    PutGroup(layout.night, m_UploadNeeded.Info.NightWarn, block.data());

    std::array<BYTE, kLongestFrame> frame{kFrameAlarm};
    DWORD codeBytes = 1;
    if (layout.identityInUpload) frame[codeBytes++] = m_byIdentity;
    if (PackData(block.data(), layout.length, frame.data() + codeBytes) != kPackOk)
      return bplink::kResultNotForDevice;
    if (!SendFrame(frame.data(), codeBytes + PackedLength(layout.length))) return bplink::kResultIoFailed;

    std::array<BYTE, kAckLength> ack{};
    if (!ReceiveFrame(ack.data(), kAckLength)) return bplink::kResultIoFailed;
    return ack[0] == kAck && ack[kAckStatusByte] == kAckAccepted ? kResultOk : bplink::kResultIoFailed;
  } catch (...) {
    return bplink::kResultException;
  }
}

// The reply is taken as it comes: only the value byte means anything.
int CProtocol_NEW::DownloadWarnSwitchInfo() {
  try {
    ShortFrame command = ShortCommand(kCmdWarnSwitchRead);
    if (!SendFrame(command.data(), kShortCommandLength)) return bplink::kResultIoFailed;
    std::array<BYTE, kSwitchFrameLength> reply{};
    if (!ReceiveFrame(reply.data(), kSwitchFrameLength)) return bplink::kResultIoFailed;
    m_UploadNeeded.Info.nWarnSwitchInfo = reply[kSwitchValueAt];
    return kResultOk;
  } catch (...) {
    return bplink::kResultException;
  }
}

int CProtocol_NEW::UploadWarnSwitchInfo() {
  try {
    std::array<BYTE, kSwitchFrameLength> frame{kCmdWarnSwitchWrite};
    frame[kSwitchIdentityAt] = m_byIdentity;
    frame[kSwitchValueAt] = bplink::wire::Low(m_UploadNeeded.Info.nWarnSwitchInfo);
    return SendForAck(frame.data(), kSwitchFrameLength, 0, bplink::kResultIoFailed);
  } catch (...) {
    return bplink::kResultException;
  }
}
