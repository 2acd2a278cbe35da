// How the KX71 recorder puts its data on the line: masked groups that keep
// every byte of a packet non-zero, the four packet types of its stream, and
// the plan block.
#pragma once

#include <cstdint>
#include <vector>

#include "kx71/model.h"

namespace bplink::sim::kx71 {

using Packet = std::vector<std::uint8_t>;

enum class RecordDamage { kNone, kZeroByte, kWrongMarker };

Packet GroupPacket(const Kx71Group& group);
Packet CountPacket(std::uint32_t count);
Packet RecordPacket(const Kx71Reading& reading, RecordDamage damage);
// The plan with the number of records of the primary group behind it.
Packet PlanPacket(const Kx71Plan& plan, std::uint16_t primaryRecords);

inline constexpr std::uint8_t kPlanPacketType = 0x55;

}  // namespace bplink::sim::kx71
