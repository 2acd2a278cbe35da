// The HID frame rules: command codes, frame kinds and their lengths.
//
// Every exchange is one write of a whole frame and one read of a length known
// in advance. Payloads travel 7-in-8 packed behind a code byte and the
// identity byte; requests and acknowledgements are short plain frames.
#pragma once

#include <bplink/packing.h>
#include <bplink/wintypes.h>

#include <array>

namespace bplink::hid {

// --- command and frame codes, both directions
inline constexpr BYTE kCmdDeviceInfo = 0x40;        // short command; reply 0x41
inline constexpr BYTE kReplyDeviceInfo = 0x41;
inline constexpr BYTE kCmdHandShake = 0x42;         // short command; reply 0x48
inline constexpr BYTE kReplyHandShake = 0x48;
inline constexpr BYTE kCmdParameter = 0x43;         // parameter request; acknowledged
inline constexpr BYTE kCmdPlan = 0x44;              // data frame, the 70-byte plan
inline constexpr BYTE kFrameBPHeader = 0x46;        // data frame, block header
inline constexpr BYTE kFrameSpO2Header = 0x47;      // data frame, SpO2 header
inline constexpr BYTE kAck = 0x4A;                  // acknowledgement
inline constexpr BYTE kCmdEndSession = 0x4B;        // end of session; acknowledged
inline constexpr BYTE kFrameAlarm = 0x4D;           // data frame, alarm limits
inline constexpr BYTE kFrameIntervals = 0x4E;       // data frame, interval table
inline constexpr BYTE kCmdWarnSwitchWrite = 0x60;
inline constexpr BYTE kCmdWarnSwitchRead = 0x61;    // short command
inline constexpr BYTE kCmdPatientAnnounce = 0x37;   // short command, patient-info variant
inline constexpr BYTE kCmdPatientRequest = 0x38;
inline constexpr BYTE kFramePatientPacket = 0x39;
inline constexpr BYTE kFramePatientEnd = 0x3F;
inline constexpr BYTE kFramePatientStatus = 0x3B;

// --- the parameter request 0x43: code, identity, operation, data mode, object, 0
inline constexpr BYTE kOpRead = 0x01;
inline constexpr BYTE kOpWrite = 0x02;
inline constexpr BYTE kOpDelete = 0x03;
inline constexpr BYTE kObjPlan = 0x01;
inline constexpr BYTE kObjBPRecords = 0x02;
inline constexpr BYTE kObjSpO2 = 0x03;
inline constexpr BYTE kObjAlarm = 0x06;
inline constexpr BYTE kObjIntervals = 0x07;

// --- acknowledgement: 0x4A, code acknowledged, status, one unused byte
inline constexpr BYTE kAckAccepted = 0x01;
inline constexpr DWORD kAckCodeAt = 1;
inline constexpr DWORD kAckStatusAt = 2;

// --- frame lengths
inline constexpr DWORD kShortCommandLength = 6;
inline constexpr DWORD kRequestLength = 6;
inline constexpr DWORD kAckLength = 4;
inline constexpr DWORD kDataFrameCodeBytes = 2;  // code and identity before the payload

// A data frame: code, identity, then n plain bytes packed.
constexpr DWORD DataFrameLength(DWORD plainLength) {
  return PackedLength(plainLength) + kDataFrameCodeBytes;
}

// --- device-information reply (0x41): 0x41, x, identity, version, flags, x, x
inline constexpr DWORD kDeviceInfoReplyLength = 7;
inline constexpr DWORD kInfoIdentityAt = 2;
inline constexpr DWORD kInfoVersionAt = 3;
inline constexpr DWORD kInfoFlagsAt = 4;
inline constexpr BYTE kFlagsValid = 0x80;        // the flags byte carries the bits below
inline constexpr BYTE kFlagsFirstStoreOnly = 0x04;  // a three-store monitor offers store 1 only

// --- handshake reply (0x48): capability bytes follow a marker
inline constexpr DWORD kHandShakeReplyLength = 22;
inline constexpr DWORD kCapabilityMarkerAt = 7;
inline constexpr BYTE kCapabilityMarker = 0x81;
inline constexpr DWORD kCapabilityAAt = 8;
inline constexpr DWORD kCapabilityBAt = 9;
inline constexpr int kCapabilityModes = 6;  // bits 0..5 offer data modes 1..6

using ShortFrame = std::array<BYTE, kShortCommandLength>;

// A command without payload: its code, then FF FE FD FC in packed form.
ShortFrame ShortCommand(BYTE code);
// The 0x43 request; the data mode travels as the low byte of the running mode.
ShortFrame ParameterRequest(BYTE identity, BYTE operation, int dataMode, BYTE object);
// The end-of-session frame 0x4B.
ShortFrame EndSessionFrame(BYTE identity);

// True when `reply` (kAckLength bytes) accepts the frame with this code.
bool IsAccepted(const BYTE* reply, BYTE code);

// Unpacks PackedLength(plainLength) bytes; false unless the codec answers 1.
bool UnpackPayload(const BYTE* packed, DWORD plainLength, BYTE* plain);

}  // namespace bplink::hid
