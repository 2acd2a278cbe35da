// The KX71 recorder's side of the line: the bytes it hears, the packets it
// streams and the plan block it keeps, at the one speed it listens at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace bplink::sim::kx71 {

inline constexpr unsigned kBaud = 115200;

// The greeting a host opens with. The recorder answers it with the code of
// its kind, then the greeting's bytes from the second on; a broken recorder
// gets the byte at kEchoAt wrong.
inline constexpr std::uint8_t kGreeting[] = {0x01, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC};
inline constexpr std::size_t kEchoAt = 2;
inline constexpr std::uint8_t kBrokenEcho = 0x00;

// The code its greeting answer opens with names its kind.
inline constexpr std::uint8_t kWithoutPlan = 0x15;
inline constexpr std::uint8_t kStandard = 0x02;
inline constexpr std::uint8_t kKeepsPlan = 0x34;

// Single-byte commands: the upload probe (answered, and every uploaded byte
// confirmed, with kConfirm) and the plan request of a recorder that keeps one.
inline constexpr std::uint8_t kUploadProbe = 0xAA;
inline constexpr std::uint8_t kConfirm = 0x6C;
inline constexpr std::uint8_t kPlanRequest = 0x54;

// The packets of the stream, by their first byte. The plan packet wants no
// acknowledgement.
inline constexpr std::uint8_t kRecordType = 0x07;
inline constexpr std::uint8_t kGroupType = 0x12;
inline constexpr std::uint8_t kCountType = 0x16;
inline constexpr std::uint8_t kPlanPacketType = 0x55;

// An acknowledgement: a code, then a fixed tail. Each packet type has its
// positive and its negative code.
inline constexpr std::uint8_t kAckTail[] = {0x83, 0xFF, 0xFF};
inline constexpr std::size_t kAckLength = 1 + std::size(kAckTail);
struct AckCodes {
  std::uint8_t type, ok, bad;
};
inline constexpr AckCodes kAckCodes[] = {{kRecordType, 0x10, 0x11}, {kGroupType, 0x13, 0x14}, {kCountType, 0x17, 0x18}};

// Inside packets: masked groups (a mask byte, then data bytes with the top
// bit set, so no byte on the line is ever zero), markers between a record's
// groups, and the end byte of a record.
inline constexpr std::uint8_t kTopBit = 0x80;
inline constexpr std::uint8_t kMarker1 = 0x08;
inline constexpr std::uint8_t kMarker2 = 0x09;
inline constexpr std::uint8_t kEnd = 0x00;
// The recorder's own tag on its groups: the primary one ends in 0xFF.
inline constexpr std::uint8_t kPrimaryTag = 0xFF;
inline constexpr std::uint8_t kSecondaryTag = 0x01;

// The plan block, as uploaded and as the plan packet carries it.
inline constexpr std::size_t kPlanBlockLength = 70;
inline constexpr std::size_t kPatient1Length = 30;
inline constexpr std::size_t kPatient2Length = 11;
inline constexpr std::size_t kPatient2At = 30;
inline constexpr std::size_t kClockAt = 41;    // year (2 bytes), month, day, hour, minute
inline constexpr std::size_t kPeriodsAt = 57;  // day hour, minute, interval; then the night's

}  // namespace bplink::sim::kx71
