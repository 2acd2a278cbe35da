// The VESTRA16 line: its speeds, its three single-byte commands (each
// answered with its own echo), its detection probe, and the settings and
// record blocks. The VESTRA16C monitor lays its blocks out alike and differs
// only in the option switch at offset 56, in how the extra window is sent,
// and in whether a record carries its last byte, so it uses the block codec
// declared here too.
#pragma once

#include <bplink/codes.h>
#include <bplink/env.h>
#include <bplink/records.h>
#include <bplink/wintypes.h>

#include <array>
#include <cstddef>

#include "serial/detection_probe.h"
#include "serial/port_search.h"

namespace bplink::serial::vestra16 {

// The lines of both monitors: the handshake speed, and VESTRA16C's data speed.
inline constexpr DWORD kHandshakeBaud = CBR_4800;
inline constexpr DWORD kFastBaud = CBR_115200;

// Both families scan every port for every transfer, also when the host says
// it opened the link itself.
inline constexpr SearchRules kScanEveryPort{false, kResultException};

// The pause between a command and its answer, and between missed
// acknowledgements.
inline constexpr unsigned kAnswerPauseMs = 100;
// Receives for one acknowledgement before the byte counts as refused.
inline constexpr int kAckReceives = 10;

// Command bytes the two families have in common.
inline constexpr BYTE kCmdReadSettings = 0x88;
inline constexpr BYTE kCmdReadRecord = 0xEE;
inline constexpr BYTE kCmdWriteSettings = 0xAA;

// Block lengths. The device sends the whole settings block with the record
// count at its end; the PC writes back everything before that count.
inline constexpr std::size_t kSettingsBlockLength = 72;
inline constexpr std::size_t kUploadBlockLength = 70;
inline constexpr std::size_t kRecordBlockLength = 13;

// Settings block offsets.
inline constexpr std::size_t kPatientTexts = 0;  // wire::PutPatientTexts
inline constexpr std::size_t kStartTime = 41;    // wire::PutClock
inline constexpr std::size_t kNextTime = 47;   // upload only: the clock five minutes on
inline constexpr std::size_t kReserved1 = 53;  // two zero bytes
inline constexpr std::size_t kOption1 = 55;
inline constexpr std::size_t kOption2 = 56;
inline constexpr std::size_t kPeriods = 57;    // wire::PutPeriods
inline constexpr std::size_t kExtraWindow = 63;  // start hour, start minute, interval, end hour, end minute
inline constexpr std::size_t kExtraWindowLength = 5;
inline constexpr std::size_t kReserved2 = 68;
inline constexpr std::size_t kPeriodCode = 69;
inline constexpr std::size_t kRecordCount = 70;

// Record block offsets.
inline constexpr std::size_t kRecordOffsetHigh = 0;  // minute offset, bits 16..23
inline constexpr std::size_t kRecordSys = 1;         // two bytes
inline constexpr std::size_t kRecordPress2 = 3;
inline constexpr std::size_t kRecordPulse = 4;
inline constexpr std::size_t kRecordPress3 = 5;
inline constexpr std::size_t kRecordOffsetLow = 6;   // minute offset, bits 0..15
inline constexpr std::size_t kRecordStatus = 8;
inline constexpr std::size_t kRecordFlags = 9;
inline constexpr std::size_t kRecordAux3 = 12;       // VESTRA16 only

// Current-period codes at offset 69.
inline constexpr BYTE kFirstPeriod = 1;
inline constexpr BYTE kSecondPeriod = 2;
inline constexpr BYTE kExtraWindowPeriod = 3;

// How far ahead of the PC clock the device is told to start.
inline constexpr int kStartLeadSeconds = 5 * 60;

// Detection: the settings read, echoed and followed by the whole settings
// block (read with the echo and not examined).
inline constexpr std::array<BYTE, 1> kDetectionRequest{kCmdReadSettings};
inline constexpr DetectionProbe kDetectionProbe{kHandshakeBaud, kDetectionRequest, 1 + kSettingsBlockLength,
                                                [](const BYTE* answer) { return answer[0] == kCmdReadSettings; }};

// The block codec, shared with VESTRA16C: download.cpp decodes, upload.cpp
// encodes.

// Decodes a received settings block (kSettingsBlockLength bytes) into the
// plan: the two texts (their terminators left as they were), the start time
// with second 0, option 1, the periods and the extra window. The option
// switch is on when its byte is `option2OnByte`. Returns the number of stored
// measurements the block announces.
int DecodeSettingsBlock(const BYTE* block, BYTE option2OnByte, _BP_TRANSPORT_INFO& plan);

// The time the record offsets count from: the plan's start, second 0.
CalendarTime RecordingStart(const _BP_TRANSPORT_INFO& plan);

// Decodes a record block (kRecordBlockLength bytes) into a record dated
// `start` plus its minute offset. Byte 12 is left to the family that has it.
_BP_RECORD DecodeRecordBlock(const BYTE* block, const CalendarTime& start);

// Writes what both families send alike into an upload block of
// kUploadBlockLength bytes: the texts, the PC clock and the clock five
// minutes on, option 1, the periods, the zero bytes and the current-period
// code. Offsets 56 and 63..67 are the family's own.
void PackCommonFields(const _BP_TRANSPORT_INFO& plan, const CalendarTime& now, BYTE* block);

// 3 inside the extra window (no wrap past midnight), otherwise 1 in the first
// period and 2 in the second; the first period may wrap past midnight.
BYTE CurrentPeriodCode(const _BP_TRANSPORT_INFO& plan, int minuteOfDay);

int MinuteOfDay(int hour, int minute);

}  // namespace bplink::serial::vestra16
