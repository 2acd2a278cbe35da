// Reading and writing the bytes of a device's wire, the same for HID and
// every serial family: numbers travel big-endian (high byte first), a value
// the device keeps as "not set" travels as 0xFF, the clock as year high, year
// low, month, day, hour, minute, and texts as their characters as they stand.
#pragma once

#include <bplink/env.h>
#include <bplink/records.h>
#include <bplink/wintypes.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace bplink::wire {

// The byte a device keeps for a time, interval, window or option that is not set.
inline constexpr BYTE kUnset = 0xFF;

// The low byte of a value: what a field sent as one byte carries.
constexpr BYTE Low(int value) { return static_cast<BYTE>(value & 0xFF); }

constexpr int BigEndian16(const BYTE* at) { return (at[0] << 8) | at[1]; }
constexpr int BigEndian24(const BYTE* at) { return (at[0] << 16) | (at[1] << 8) | at[2]; }
constexpr std::uint32_t BigEndian32(const BYTE* at) {
  return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) | (std::uint32_t{at[2]} << 8) | at[3];
}
// The one count a device sends low byte first.
constexpr int LittleEndian24(const BYTE* at) { return at[0] | (at[1] << 8) | (at[2] << 16); }

inline void PutBigEndian16(BYTE* at, int value) {
  at[0] = Low(value >> 8);
  at[1] = Low(value);
}

// An interval (or other count of minutes) of 0 or less is "not set".
constexpr BYTE PositiveOrUnset(int value) { return value > 0 ? Low(value) : kUnset; }
// An hour or minute below 0 is "not set".
constexpr BYTE NonNegativeOrUnset(int value) { return value >= 0 ? Low(value) : kUnset; }

// Six bytes: year high, year low, month, day, hour, minute.
inline void PutClock(BYTE* at, const CalendarTime& t) {
  PutBigEndian16(at, t.year);
  at[2] = Low(t.month);
  at[3] = Low(t.day);
  at[4] = Low(t.hour);
  at[5] = Low(t.minute);
}

// The clock PutClock writes, read back; second 0.
constexpr CalendarTime TakeClock(const BYTE* at) { return {BigEndian16(at), at[2], at[3], at[4], at[5], 0}; }

// The first `length` characters of a text field, as they stand (what
// follows a terminator included, the terminator's own place not).
template <std::size_t N>
void PutText(BYTE* to, const char (&text)[N], std::size_t length) {
  static_assert(N > 0);
  std::copy_n(text, std::min(length, N), to);
}

// `length` characters from the wire into a text field, cut to fit and
// terminated.
template <std::size_t N>
void TakeText(char (&to)[N], const BYTE* from, std::size_t length) {
  static_assert(N > 0);
  const std::size_t n = std::min(length, N - 1);
  std::copy_n(from, n, to);
  to[n] = '\0';
}

// What every device's plan block lays out alike: the two patient texts (30
// and 11 characters, one after the other), and the two periods (start hour,
// start minute and interval of the first, then of the second).
inline constexpr std::size_t kPatientText1Length = 30;
inline constexpr std::size_t kPatientText2Length = 11;
inline constexpr std::size_t kPeriodsLength = 6;

inline void PutPatientTexts(BYTE* at, const _BP_TRANSPORT_INFO& plan) {
  PutText(at, plan.szPatientInfo1, kPatientText1Length);
  PutText(at + kPatientText1Length, plan.szPatientInfo2, kPatientText2Length);
}
inline void TakePatientTexts(_BP_TRANSPORT_INFO& plan, const BYTE* at) {
  TakeText(plan.szPatientInfo1, at, kPatientText1Length);
  TakeText(plan.szPatientInfo2, at + kPatientText1Length, kPatientText2Length);
}

// An interval of 0 or less goes as "not set".
inline void PutPeriods(BYTE* at, const _BP_TRANSPORT_INFO& plan) {
  at[0] = Low(plan.nPeriod1Hour);
  at[1] = Low(plan.nPeriod1Minute);
  at[2] = PositiveOrUnset(plan.nPeriod1Interval);
  at[3] = Low(plan.nPeriod2Hour);
  at[4] = Low(plan.nPeriod2Minute);
  at[5] = PositiveOrUnset(plan.nPeriod2Interval);
}
inline void TakePeriods(_BP_TRANSPORT_INFO& plan, const BYTE* at) {
  plan.nPeriod1Hour = at[0];
  plan.nPeriod1Minute = at[1];
  plan.nPeriod1Interval = at[2];
  plan.nPeriod2Hour = at[3];
  plan.nPeriod2Minute = at[4];
  plan.nPeriod2Interval = at[5];
}

}  // namespace bplink::wire
