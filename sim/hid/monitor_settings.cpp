// The monitor's settings: alarm limits in its own block layout, the alarm
// switch value, and the table of intervals a plan may use.

#include <algorithm>

#include "hid/hid_monitor.h"
#include "hid/monitor_wire.h"
#include "hid/seven_in_eight.h"

namespace bplink::sim {
namespace {

using namespace hid_wire;

// The long block: both switches, then each group's six limits (two bytes,
// two bytes, one, one, two, two), then six reserved bytes. The short block:
// each group in turn, its switch then four limits (two, two, one, one).
constexpr std::size_t kLongBlock = 28;
constexpr std::size_t kShortBlock = 14;
constexpr std::array<bool, 6> kLongLimitIsWide{true, true, false, false, true, true};
constexpr std::array<bool, 4> kShortLimitIsWide{true, true, false, false};
constexpr std::size_t kLongUploadFrame = 2 + 32;   // 0x4D, identity, packed block
constexpr std::size_t kShortUploadFrame = 1 + 16;  // 0x4D, packed block

// The switch frames: 15 plain bytes, the value at byte 2.
constexpr std::size_t kSwitchFrameLength = 15;
constexpr std::size_t kSwitchValueAt = 2;

// Interval table: a count and up to 19 intervals.
constexpr std::size_t kTableLength = 20;

template <std::size_t N>
void PutLimits(const HidAlarmGroup& group, const std::array<bool, N>& wide, std::vector<std::uint8_t>& block) {
  for (std::size_t i = 0; i < N; ++i) {
    if (wide[i]) block.push_back(Byte(group.limits[i] >> 8));
    block.push_back(Byte(group.limits[i]));
  }
}

template <std::size_t N>
const std::uint8_t* GetLimits(const std::uint8_t* at, const std::array<bool, N>& wide, HidAlarmGroup& group) {
  for (std::size_t i = 0; i < N; ++i) {
    group.limits[i] = wide[i] ? (at[0] << 8 | at[1]) : at[0];
    at += wide[i] ? 2 : 1;
  }
  return at;
}

std::vector<std::uint8_t> EncodeAlarms(const HidAlarms& alarms, HidAlarmLayout layout) {
  std::vector<std::uint8_t> block;
  if (layout == HidAlarmLayout::kLong) {
    block = {Byte(alarms.day.on), Byte(alarms.night.on)};
    PutLimits(alarms.day, kLongLimitIsWide, block);
    PutLimits(alarms.night, kLongLimitIsWide, block);
    block.resize(kLongBlock, 0x00);
  } else {
    for (const HidAlarmGroup* group : {&alarms.day, &alarms.night}) {
      block.push_back(Byte(group->on));
      PutLimits(*group, kShortLimitIsWide, block);
    }
  }
  return block;
}

// The short block leaves the limits it does not carry as they were.
void DecodeAlarms(const std::vector<std::uint8_t>& block, HidAlarmLayout layout, HidAlarms& alarms) {
  if (layout == HidAlarmLayout::kLong) {
    alarms.day.on = block[0];
    alarms.night.on = block[1];
    GetLimits(GetLimits(&block[2], kLongLimitIsWide, alarms.day), kLongLimitIsWide, alarms.night);
  } else {
    const std::uint8_t* at = block.data();
    for (HidAlarmGroup* group : {&alarms.day, &alarms.night}) {
      group->on = *at++;
      at = GetLimits(at, kShortLimitIsWide, *group);
    }
  }
}

}  // namespace

void HidMonitor::SendAlarms() {
  const auto block = EncodeAlarms(config_.alarms, config_.alarm_layout);
  SendDataFrame(HidExchange::kAlarmFrame, kAlarmFrame, block.data(), block.size());
}

// An alarm block sent by the host, in the layout this monitor keeps: the
// long frame names the device, the short one does not.
void HidMonitor::TakeAlarms(const std::uint8_t* frame, std::size_t size) {
  const bool isLong = config_.alarm_layout == HidAlarmLayout::kLong;
  const std::size_t codeBytes = isLong ? 2 : 1;
  std::vector<std::uint8_t> block;
  if (size != (isLong ? kLongUploadFrame : kShortUploadFrame) || (isLong && frame[1] != config_.identity) ||
      !Unpack7in8(frame + codeBytes, size - codeBytes, block) ||
      block.size() != (isLong ? kLongBlock : kShortBlock)) {
    Complain("alarm block: " + HexOf(frame, size));
    Send(std::array<std::uint8_t, 4>{kAckFrame, kAlarmFrame, kRefused, 0x00});
    return;
  }
  if (isLong && std::any_of(block.begin() + 22, block.end(), [](std::uint8_t b) { return b != 0; }))
    Complain("alarm block with reserved bytes set: " + HexOf(frame, size));
  if (!Has(HidExchange::kWriteAlarms, HidFault::kSilent) && !Has(HidExchange::kWriteAlarms, HidFault::kWrongStatus))
    DecodeAlarms(block, config_.alarm_layout, config_.alarms);
  SendAck(HidExchange::kWriteAlarms, kAlarmFrame);
}

void HidMonitor::SendSwitch() {
  ++served_[HidExchange::kReadSwitch];
  if (Has(HidExchange::kReadSwitch, HidFault::kSilent)) return;
  std::array<std::uint8_t, kSwitchFrameLength> reply{kSwitchRead, config_.identity};
  reply[kSwitchValueAt] = Byte(config_.warn_switch);
  Send(reply);
}

void HidMonitor::TakeSwitch(const std::uint8_t* frame, std::size_t size) {
  if (size != kSwitchFrameLength || frame[1] != config_.identity ||
      std::any_of(frame + kSwitchValueAt + 1, frame + size, [](std::uint8_t b) { return b != 0; })) {
    Complain("alarm switch: " + HexOf(frame, size));
    Send(std::array<std::uint8_t, 4>{kAckFrame, kSwitchWrite, kRefused, 0x00});
    return;
  }
  if (!Has(HidExchange::kWriteSwitch, HidFault::kSilent) && !Has(HidExchange::kWriteSwitch, HidFault::kWrongStatus))
    config_.warn_switch = frame[kSwitchValueAt];
  SendAck(HidExchange::kWriteSwitch, kSwitchWrite);
}

void HidMonitor::SendIntervals() {
  const std::vector<int>& intervals = *config_.intervals;
  const std::size_t count = std::min(intervals.size(), kTableLength - 1);
  std::array<std::uint8_t, kTableLength> table{Byte(static_cast<int>(count))};
  std::transform(intervals.begin(), intervals.begin() + static_cast<std::ptrdiff_t>(count), table.begin() + 1, Byte);
  SendDataFrame(HidExchange::kIntervalFrame, kIntervalFrame, table.data(), table.size());
}

}  // namespace bplink::sim
