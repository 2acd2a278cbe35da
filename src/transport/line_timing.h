// How long a serial line takes to carry bytes, for receive and send deadlines.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

namespace bplink {

// Each character on an 8N1 line is a start bit, 8 data bits and a stop bit;
// other framings are shorter or no more than a bit longer, which the margin of
// the time-out covers.
inline constexpr std::uint64_t kBitsPerCharacter = 10;
inline constexpr std::uint64_t kMsPerSecond = 1000;

// Milliseconds, rounded up, that `bytes` take at `baud`; 0 when the link has
// no line speed.
constexpr unsigned LineTimeMs(std::uint64_t bytes, std::uint64_t baud) {
  if (baud == 0) return 0;
  const std::uint64_t bits_ms = bytes * kBitsPerCharacter * kMsPerSecond;
  const std::uint64_t ms = (bits_ms + baud - 1) / baud;
  return static_cast<unsigned>(std::min<std::uint64_t>(ms, std::numeric_limits<unsigned>::max()));
}

// A time-out plus the line time of `bytes`, without overflowing.
constexpr unsigned DeadlineMs(unsigned timeoutMs, std::uint64_t bytes, std::uint64_t baud) {
  const std::uint64_t total = std::uint64_t{timeoutMs} + LineTimeMs(bytes, baud);
  return static_cast<unsigned>(std::min<std::uint64_t>(total, std::numeric_limits<unsigned>::max()));
}

}  // namespace bplink
