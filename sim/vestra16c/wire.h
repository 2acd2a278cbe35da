// What the VESTRA16C monitor says differently from the VESTRA16 one: its two
// speeds, its own settings command, and the one answer it gives to the
// handshake, the upload command and every uploaded byte. Its blocks are the
// VESTRA16's (vestra16/wire.h).
#pragma once

#include <cstdint>

namespace bplink::sim::vestra16c {

inline constexpr unsigned kControlBaud = 4800;   // handshake and uploads
inline constexpr unsigned kDataBaud = 115200;    // settings and records
inline constexpr std::uint8_t kAnswer = 0x6C;
inline constexpr std::uint8_t kReadSettings = 0x54;
// How this monitor stores its option switch.
inline constexpr std::uint8_t kSwitchOn = 0x00;
inline constexpr std::uint8_t kSwitchOff = 0xFF;

}  // namespace bplink::sim::vestra16c
