// What the VESTRA16C monitor says differently from the VESTRA16 monitor.
#pragma once

#include <bplink/wintypes.h>

namespace bplink::serial::vestra16c {

// Finds the device on the slow line; 0x88 is the older family's settings read.
inline constexpr BYTE kCmdHandshake = 0x88;
// Its answer to the opening commands and its acknowledgement of each
// uploaded byte.
inline constexpr BYTE kAnswer = 0x6C;
// Reads the settings block on the fast line ('T').
inline constexpr BYTE kCmdReadSettingsFast = 0x54;

// The option switch at offset 56: 0x00 is on, anything else off.
inline constexpr BYTE kOption2On = 0x00;
inline constexpr BYTE kOption2Off = 0xFF;

}  // namespace bplink::serial::vestra16c
