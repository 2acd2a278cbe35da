// The monitor's own 7-in-8 codec: every byte it puts on the wire has bit 7
// set; the bit 7s of up to seven payload bytes ride in a leading byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bplink::sim {

std::vector<std::uint8_t> Pack7in8(const std::uint8_t* plain, std::size_t size);

// Strict, as a device checks what it is sent: false when a byte lacks bit 7
// or a group ends without data.
bool Unpack7in8(const std::uint8_t* packed, std::size_t size, std::vector<std::uint8_t>& plain);

}  // namespace bplink::sim
