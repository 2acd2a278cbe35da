// The KV32 wire: line speeds, the single-byte commands and the layouts of the
// plan block, the plan reply and the record reply.
//
// Every command is one byte sent alone, echoed by the monitor before anything
// else; a reply of fixed length follows the echo.
#pragma once

#include <bplink/wintypes.h>

#include <array>

#include "serial/detection_probe.h"

namespace bplink::serial::kv32 {

// --- line speeds: greeting and upload, then the download
inline constexpr DWORD kSlowBaud = CBR_4800;
inline constexpr DWORD kFastBaud = CBR_115200;

// --- commands
inline constexpr BYTE kCmdHandShakeMode1 = 0x51;  // 'Q', also every mode but 2
inline constexpr BYTE kCmdHandShakeMode2 = 0x52;  // 'R'
inline constexpr BYTE kCmdUpload = 0x55;          // 'U', also the confirmation of each plan byte
inline constexpr BYTE kCmdPlanMode2 = 0x53;       // 'S'
inline constexpr BYTE kCmdPlanMode1 = 0x54;       // 'T'
inline constexpr BYTE kCmdPlanOtherMode = 0x00;   // a mode the monitor has no plan for
inline constexpr BYTE kCmdNextRecord = 0xEE;
inline constexpr BYTE kCmdNextSpO2 = 0xDB;

// Detection: the greeting of data mode 1 at the slow speed, echoed.
inline constexpr std::array<BYTE, 1> kDetectionRequest{kCmdHandShakeMode1};
inline constexpr DetectionProbe kDetectionProbe{
    kSlowBaud, kDetectionRequest, 1, [](const BYTE* answer) { return answer[0] == kCmdHandShakeMode1; }};

// The pause between a command and reading its echo.
inline constexpr unsigned kEchoPauseMs = 10;

// --- where replies land in the frame buffer: the echo in byte 0, the reply
// from byte 1 on.
inline constexpr int kEchoAt = 0;
inline constexpr int kReplyAt = 1;

// --- plan reply (after the echo of 'S' or 'T'), offsets into the reply
inline constexpr DWORD kPlanReplyLength = 77;
inline constexpr int kReplyPatientTextsAt = 0;  // wire::TakePatientTexts
inline constexpr int kReplyStartAt = 41;         // wire::TakeClock, then the second
inline constexpr int kReplyOption1At = 55;
inline constexpr int kReplyOption2At = 56;
inline constexpr int kReplyPeriodsAt = 57;  // wire::TakePeriods
inline constexpr int kReplyExtraStartAt = 63;  // hour, minute
inline constexpr int kReplyExtraIntervalAt = 65;
inline constexpr int kReplyExtraEndAt = 66;  // hour, minute
inline constexpr int kReplyRecordCountAt = 71;  // 16 bits
inline constexpr int kReplySpO2CountAt = 73;    // 24 bits, low byte first

// --- record reply (after the echo of 0xEE)
inline constexpr DWORD kRecordReplyLength = 13;
inline constexpr int kRecOffsetHighAt = 0;  // offset bits 16..23
inline constexpr int kRecSysAt = 1;         // 16 bits
inline constexpr int kRecPress2At = 3;
inline constexpr int kRecPulseAt = 4;
inline constexpr int kRecPress3At = 5;
inline constexpr int kRecOffsetLowAt = 6;   // offset bits 8..15, then 0..7
inline constexpr int kRecStatusAt = 8;
inline constexpr int kRecFlagsAt = 9;

// --- plan block (uploaded)
inline constexpr int kPlanBlockLength = 71;
inline constexpr int kBlockPatientTextsAt = 0;  // wire::PutPatientTexts
inline constexpr int kBlockClockAt = 41;        // wire::PutClock
inline constexpr int kBlockClockSecondAt = 47;  // mode 2 only
inline constexpr int kBlockStartAt = 47;        // mode 1: start of recording, six time bytes
inline constexpr int kBlockOption2At = 56;
inline constexpr int kBlockPeriodsAt = 57;      // wire::PutPeriods
inline constexpr int kBlockExtraStartAt = 63;   // hour, minute
inline constexpr int kBlockExtraIntervalAt = 65;
inline constexpr int kBlockExtraEndAt = 66;     // hour, minute
inline constexpr int kBlockPeriodCodeAt = 69;
inline constexpr int kBlockTrailerAt = 70;      // the handshake byte of the layout

// --- upload confirmations
inline constexpr int kConfirmAttempts = 10;
inline constexpr unsigned kConfirmRetryPauseMs = 100;

// --- record and sample requests
inline constexpr int kMaxRequestFailures = 10;

}  // namespace bplink::serial::kv32
