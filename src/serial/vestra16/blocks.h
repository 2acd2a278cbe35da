// The settings and record blocks of the VESTRA16 family, shared by the
// VESTRA16 and VESTRA16C classes: both devices lay their blocks out alike and
// differ only in the option switch at offset 56, in how the extra window is
// sent, and in whether a record carries its last byte.
#pragma once

#include <bplink/env.h>
#include <bplink/records.h>
#include <bplink/wintypes.h>

#include <cstddef>

#include "serial/record_set.h"

namespace bplink::serial::vestra16 {

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
inline constexpr std::size_t kPatientInfo1 = 0;
inline constexpr std::size_t kPatientInfo1Length = 30;
inline constexpr std::size_t kPatientInfo2 = 30;
inline constexpr std::size_t kPatientInfo2Length = 11;
inline constexpr std::size_t kStartTime = 41;  // year (2), month, day, hour, minute
inline constexpr std::size_t kNextTime = 47;   // upload only: the clock five minutes on
inline constexpr std::size_t kReserved1 = 53;  // two zero bytes
inline constexpr std::size_t kOption1 = 55;
inline constexpr std::size_t kOption2 = 56;
inline constexpr std::size_t kPeriod1 = 57;    // hour, minute, interval
inline constexpr std::size_t kPeriod2 = 60;    // hour, minute, interval
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

// A plan value the device takes as "not set".
inline constexpr BYTE kUnset = 0xFF;

// Current-period codes at offset 69.
inline constexpr BYTE kFirstPeriod = 1;
inline constexpr BYTE kSecondPeriod = 2;
inline constexpr BYTE kExtraWindowPeriod = 3;

// How far ahead of the PC clock the device is told to start.
inline constexpr int kStartLeadSeconds = 5 * 60;

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

// A plan value as one wire byte: its low byte; an interval that is 0 or
// less goes as kUnset.
BYTE LowByte(int value);
BYTE IntervalByte(int minutes);
int MinuteOfDay(int hour, int minute);

using bplink::serial::HeadFromFirstRecord;

}  // namespace bplink::serial::vestra16
