// What crosses the line to a VESTRA18 monitor.
//
// PC to monitor: one request byte, 0x10 plus the sub-mode. Monitor to PC:
// the same byte back, then one section per store requested:
//
//   set number (1..3; 0 = records the host drops) | record count n | n frames
//
// A record frame is 12 bytes: systolic (16 bits), second pressure, pulse,
// third pressure, year - 2000, month, day, hour, minute, status, one spare.
#pragma once

#include <bplink/records.h>
#include <bplink/wintypes.h>

#include <array>

#include "serial/detection_probe.h"

namespace bplink::serial::vestra18 {

inline constexpr DWORD kLineBaudRate = CBR_9600;

// Data modes 4..7 are sub-modes 1..4; the request byte names the sub-mode.
inline constexpr int kFirstMode = DATAMODE_ZONE1;
inline constexpr int kLastMode = DATAMODE_ZONE_ALL;
inline constexpr int kSubModeOffset = 3;
inline constexpr int kSubModeAllStores = 4;
inline constexpr BYTE kRequestBase = 0x10;

inline constexpr int kSectionsOfAllStores = 3;
inline constexpr int kSectionsOfOneStore = 1;

// Section header, read into the frame buffer.
inline constexpr DWORD kSetNumberAt = 0;
inline constexpr DWORD kRecordCountAt = 1;
inline constexpr int kHighestSetNumber = 3;

// Record frame.
inline constexpr DWORD kRecordFrameLength = 12;
inline constexpr DWORD kSysAt = 0;  // high byte first
inline constexpr DWORD kPress2At = 2;
inline constexpr DWORD kPulseAt = 3;
inline constexpr DWORD kPress3At = 4;
inline constexpr DWORD kYearAt = 5;
inline constexpr DWORD kMonthAt = 6;
inline constexpr DWORD kDayAt = 7;
inline constexpr DWORD kHourAt = 8;
inline constexpr DWORD kMinuteAt = 9;
inline constexpr DWORD kStatusAt = 10;
inline constexpr int kYearBase = 2000;

// Detection asks for sub-mode 4 at 4800 baud, the speed the monitor listens
// at between transfers: the request echoed, then the monitor's own 0x11.
inline constexpr DWORD kProbeBaudRate = CBR_4800;
inline constexpr std::array<BYTE, 1> kDetectionRequest{kRequestBase + kSubModeAllStores};
inline constexpr DetectionProbe kDetectionProbe{
    kProbeBaudRate, kDetectionRequest, 1, [](const BYTE* answer) { return answer[0] == kDetectionRequest[0]; },
    BYTE{0x11}};

// The monitor paces its frames; the host waits this long before each one.
inline constexpr unsigned kRecordPauseMs = 100;
// Frames of one section that may fail to come before the section is given up.
inline constexpr int kMaxMissingFrames = 10;

constexpr bool IsFamilyMode(int mode) { return mode >= kFirstMode && mode <= kLastMode; }

}  // namespace bplink::serial::vestra18
