// A simulated VESTRA16C monitor: the VESTRA16 monitor's settings and
// records, with its own way of talking. It answers the handshake 0x88 and the
// upload command 0xAA with 0x6C at 4800 baud, acknowledges uploaded bytes
// with 0x6C, and serves the settings (0x54) and the records (0xEE) only at
// 115200 baud.
#pragma once

#include "vestra16/model.h"

namespace bplink::sim::vestra16c {

inline constexpr std::uint8_t kAnswer = 0x6C;
inline constexpr std::uint8_t kReadSettings = 0x54;
// How this monitor stores its option switch.
inline constexpr std::uint8_t kSwitchOn = 0x00;
inline constexpr std::uint8_t kSwitchOff = 0xFF;

inline constexpr vestra16::Dialect kVestra16C{4800, 115200, kReadSettings, kAnswer, kAnswer, kAnswer};

class Monitor : public vestra16::Monitor {
 public:
  Monitor() : vestra16::Monitor(kVestra16C) { settings().option2 = kSwitchOn; }
};

}  // namespace bplink::sim::vestra16c
