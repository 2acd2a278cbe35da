// What the VESTRA16C monitor says differently from the VESTRA16 monitor; its
// blocks are laid out alike (serial/vestra16/wire.h).
#pragma once

#include <bplink/wintypes.h>

#include <array>

#include "serial/detection_probe.h"
#include "serial/vestra16/wire.h"

namespace bplink::serial::vestra16c {

// Finds the device on the slow line; 0x88 is the older family's settings read.
inline constexpr BYTE kCmdHandshake = vestra16::kCmdReadSettings;
// Its answer to the opening commands and its acknowledgement of each
// uploaded byte.
inline constexpr BYTE kAnswer = 0x6C;
// Reads the settings block on the fast line ('T').
inline constexpr BYTE kCmdReadSettingsFast = 0x54;

// The option switch at offset 56: 0x00 is on, anything else off.
inline constexpr BYTE kOption2On = 0x00;
inline constexpr BYTE kOption2Off = 0xFF;

// Detection: the handshake at the slow speed, answered with the monitor's
// own byte. A VESTRA16 monitor echoes it instead, so this probe runs first.
inline constexpr std::array<BYTE, 1> kDetectionRequest{kCmdHandshake};
inline constexpr DetectionProbe kDetectionProbe{vestra16::kHandshakeBaud, kDetectionRequest, 1,
                                                [](const BYTE* answer) { return answer[0] == kAnswer; }};

}  // namespace bplink::serial::vestra16c
