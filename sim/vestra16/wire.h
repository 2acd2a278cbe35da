// The VESTRA16 monitor's side of the line: the command bytes it answers, and
// the settings, plan and record blocks as its firmware lays them out. The
// VESTRA16C monitor keeps the same blocks (vestra16c/wire.h has what it says
// differently).
#pragma once

#include <cstddef>
#include <cstdint>

namespace bplink::sim::vestra16 {

// Finding the monitor, uploads, settings and records: all at one speed.
inline constexpr unsigned kBaud = 4800;

inline constexpr std::uint8_t kReadSettings = 0x88;
inline constexpr std::uint8_t kReadRecord = 0xEE;
inline constexpr std::uint8_t kWriteSettings = 0xAA;  // also acknowledges each uploaded byte
inline constexpr std::uint8_t kNotSet = 0xFF;         // a time or interval the settings leave unset

inline constexpr std::size_t kSettingsBytes = 72;  // what the monitor sends, count included
inline constexpr std::size_t kPlanBytes = 70;      // what an upload writes
inline constexpr std::size_t kRecordBytes = 13;

// Where things sit in the settings area (and in an uploaded plan, which is
// the area without its count).
inline constexpr std::size_t kPatient1At = 0;
inline constexpr std::size_t kPatient2At = 30;
inline constexpr std::size_t kStartAt = 41;  // year (2 bytes), month, day, hour, minute
inline constexpr std::size_t kNextAt = 47;
inline constexpr std::size_t kOption1At = 55;
inline constexpr std::size_t kOption2At = 56;
inline constexpr std::size_t kPeriodsAt = 57;  // hour, minute, interval of each of two periods
inline constexpr std::size_t kExtraAt = 63;
inline constexpr std::size_t kCodeAt = 69;
inline constexpr std::size_t kCountAt = 70;  // the number of measurements, high byte first

}  // namespace bplink::sim::vestra16
