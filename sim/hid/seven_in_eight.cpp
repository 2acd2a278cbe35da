#include "hid/seven_in_eight.h"

#include <algorithm>

namespace bplink::sim {
namespace {

constexpr std::uint8_t kTopBit = 0x80;
constexpr std::size_t kPayloadPerGroup = 7;
constexpr std::size_t kWirePerGroup = 8;

}  // namespace

std::vector<std::uint8_t> Pack7in8(const std::uint8_t* plain, std::size_t size) {
  std::vector<std::uint8_t> wire;
  wire.reserve(size + size / kPayloadPerGroup + 1);
  for (std::size_t at = 0; at < size; at += kPayloadPerGroup) {
    const std::size_t n = std::min(kPayloadPerGroup, size - at);
    std::uint8_t lead = kTopBit;
    for (std::size_t i = 0; i < n; ++i)
      if (plain[at + i] & kTopBit) lead |= static_cast<std::uint8_t>(1u << i);
    wire.push_back(lead);
    for (std::size_t i = 0; i < n; ++i) wire.push_back(plain[at + i] | kTopBit);
  }
  return wire;
}

bool Unpack7in8(const std::uint8_t* packed, std::size_t size, std::vector<std::uint8_t>& plain) {
  plain.clear();
  for (std::size_t at = 0; at < size; at += kWirePerGroup) {
    const std::size_t n = std::min(kWirePerGroup, size - at);
    const std::uint8_t lead = packed[at];
    if (n < 2 || !(lead & kTopBit)) return false;
    for (std::size_t i = 1; i < n; ++i) {
      const std::uint8_t byte = packed[at + i];
      if (!(byte & kTopBit)) return false;
      const bool top = (lead >> (i - 1)) & 1u;
      plain.push_back(top ? byte : static_cast<std::uint8_t>(byte & ~kTopBit));
    }
  }
  return true;
}

}  // namespace bplink::sim
