// The VESTRA18 monitor's side of the line: the detection probe it answers at
// one speed, the read-out requests it answers at another, and the sections
// and frames it sends.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bplink::sim::vestra18 {

inline constexpr unsigned kBaud = 9600;       // read-out
inline constexpr unsigned kProbeBaud = 4800;  // detection

// The detection probe and the monitor's two-byte answer.
inline constexpr std::uint8_t kProbe = 0x14;
inline constexpr std::uint8_t kProbeAnswer[] = {0x14, 0x11};

// Requests at the working speed: 0x10 plus 1, 2, 3 (one store) or 4 (all).
// The monitor echoes the request, then sends a section per store: its set
// number, its count, one frame per reading.
inline constexpr int kStores = 3;
inline constexpr std::uint8_t kRequestBase = 0x10;
inline constexpr std::uint8_t kFirstRequest = 0x11;
inline constexpr std::uint8_t kAllStoresRequest = 0x14;

// A section's count is one byte: a store sends at most this many readings.
inline constexpr std::size_t kMaxSection = 255;

// A frame: systolic (2 bytes), diastolic, pulse, mean, year after kYearBase,
// month, day, hour, minute, status, and a spare byte the monitor fills with
// a pattern, so a host that decodes it into anything shows.
inline constexpr std::size_t kFrameLength = 12;
inline constexpr int kYearBase = 2000;
inline constexpr std::uint8_t kSpare = 0xA5;

}  // namespace bplink::sim::vestra18
