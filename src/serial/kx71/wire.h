// The bytes of the KX71 recorder's line: serial settings, the handshake and
// the detection probe, the packets of the download stream and their
// acknowledgements, and the plan block in both directions.
#pragma once

#include <bplink/codes.h>
#include <bplink/comports.h>
#include <bplink/wintypes.h>

#include <algorithm>
#include <array>
#include <cstddef>

#include "serial/detection_probe.h"

namespace bplink::serial::kx71 {

inline constexpr DWORD kBaudRate = CBR_115200;

inline DCB Line() { return SerialLine(kBaudRate); }

// Pauses.
inline constexpr unsigned kPacketPauseMs = 100;   // after every packet of the stream
inline constexpr unsigned kConfirmPauseMs = 100;  // after an upload byte that was not confirmed

// Handshake: six bytes out, six back. The answer's first byte is the reply
// code; the next two echo the request, the last three are not checked.
inline constexpr DWORD kHandShakeLength = 6;
inline constexpr BYTE kHandShakeRequest[kHandShakeLength] = {0x01, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC};
inline constexpr std::size_t kAnswerEchoAt = 1;  // two bytes: the request's 0x8F 0xFF

// Handshake reply codes: which variant the recorder is, and whether it keeps
// a plan. Any other code is not a KX71 recorder.
struct ReplyCode {
  BYTE code;
  bool keepsPlan;
  int variant;
};
inline constexpr std::array<ReplyCode, 3> kReplyCodes{{
    {0x15, false, 1},
    {0x02, false, 2},
    {0x34, true, 2},
}};
constexpr const ReplyCode* FindReplyCode(BYTE code) {
  const auto* it = std::find_if(kReplyCodes.begin(), kReplyCodes.end(),
                                [code](const ReplyCode& known) { return known.code == code; });
  return it != kReplyCodes.end() ? it : nullptr;
}

// Detection sends the handshake with a trailing zero, and a recorder answers
// with a known reply code and the request's tail echoed whole (the handshake
// itself checks only the first two bytes of the tail).
inline constexpr std::array<BYTE, kHandShakeLength + 1> kDetectionRequest = [] {
  std::array<BYTE, kHandShakeLength + 1> request{};
  std::copy(std::begin(kHandShakeRequest), std::end(kHandShakeRequest), request.begin());
  return request;
}();
inline constexpr DetectionProbe kDetectionProbe{
    kBaudRate, kDetectionRequest, kHandShakeLength,
    [](const BYTE* answer) {
      return FindReplyCode(answer[0]) != nullptr &&
             std::equal(std::begin(kHandShakeRequest) + 1, std::end(kHandShakeRequest), answer + 1);
    },
    std::nullopt, [](const BYTE* answer) { return FindReplyCode(answer[0])->variant; }};

// Upload: the recorder is found again by this probe and confirms every byte.
inline constexpr BYTE kUploadProbe = 0xAA;
inline constexpr BYTE kConfirm = 0x6C;
inline constexpr int kConfirmAttempts = 10;

// The stored plan, asked for after the records.
inline constexpr BYTE kPlanRequest = 0x54;  // 'T'
inline constexpr BYTE kPlanReply = 0x55;    // 'U'

// Packet types of the download stream and the length of their bodies.
inline constexpr BYTE kPacketRecord = 0x07;
inline constexpr BYTE kPacketGroup = 0x12;
inline constexpr BYTE kPacketCount = 0x16;
inline constexpr BYTE kPacketPlan = kPlanReply;
inline constexpr DWORD kRecordBody = 21;
inline constexpr DWORD kGroupBody = 7;
inline constexpr DWORD kCountBody = 5;
inline constexpr DWORD kPlanBody = 72;

// A masked packet is valid when its body up to here holds no zero byte and
// the zero comes right after (in the body, or in the buffer's zero fill).
inline constexpr std::size_t kRecordLength = 21;
inline constexpr std::size_t kGroupLength = 8;
inline constexpr std::size_t kCountLength = 6;

// Record packet: three masked groups between two markers.
inline constexpr std::size_t kRecordMask1At = 1;
inline constexpr std::size_t kRecordMarker1At = 8;
inline constexpr std::size_t kRecordMask2At = 9;
inline constexpr std::size_t kRecordMarker2At = 16;
inline constexpr std::size_t kRecordMask3At = 17;
inline constexpr std::size_t kRecordLastAt = 20;
inline constexpr BYTE kRecordMarker1 = 0x08;
inline constexpr BYTE kRecordMarker2 = 0x09;

// Group header and count packets: one masked group each.
inline constexpr std::size_t kGroupMaskAt = 1;
inline constexpr std::size_t kGroupLastAt = 7;
inline constexpr BYTE kGroupPrimary = 0xFF;  // the raw last byte of a group of data set 1
inline constexpr std::size_t kCountMaskAt = 1;
inline constexpr std::size_t kCountLastAt = 5;

// Acknowledgements: a code, then this tail; one transport call per byte.
inline constexpr BYTE kAckRecordOk = 0x10;
inline constexpr BYTE kAckRecordBad = 0x11;
inline constexpr BYTE kAckGroupOk = 0x13;
inline constexpr BYTE kAckGroupBad = 0x14;
inline constexpr BYTE kAckCountOk = 0x17;
inline constexpr BYTE kAckCountBad = 0x18;
inline constexpr BYTE kAckTail[] = {0x83, 0xFF, 0xFF};
// Types a record acknowledgement also answers.
inline constexpr BYTE kPacketRecordAlias1 = 0x08;
inline constexpr BYTE kPacketRecordAlias2 = 0x09;

// The plan block (uploaded) and the plan reply body (downloaded) share this
// layout; the upload sends the first 70 bytes, the reply adds a record count.
inline constexpr DWORD kPlanBlockLength = 70;
inline constexpr std::size_t kPatientTextsAt = 0;  // wire::PutPatientTexts
inline constexpr std::size_t kClockAt = 41;        // wire::PutClock
inline constexpr std::size_t kPeriodsAt = 57;      // wire::PutPeriods
inline constexpr std::size_t kPlanCountAt = 70;  // 16 bits

}  // namespace bplink::serial::kx71
