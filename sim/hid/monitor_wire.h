// What every part of the simulated HID monitor writes and reads on the wire:
// the frame codes it knows, the shape of commands and acknowledgements, and
// small helpers for bytes.
#pragma once

#include <bplink/env.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace bplink::sim::hid_wire {

// Codes of the frames the monitor takes and sends.
inline constexpr std::uint8_t kInfoCommand = 0x40;
inline constexpr std::uint8_t kInfoReply = 0x41;
inline constexpr std::uint8_t kHandShakeCommand = 0x42;
inline constexpr std::uint8_t kHandShakeReply = 0x48;
inline constexpr std::uint8_t kParameterCommand = 0x43;
inline constexpr std::uint8_t kPlanFrame = 0x44;
inline constexpr std::uint8_t kBlockHeaderFrame = 0x46;
inline constexpr std::uint8_t kSpO2HeaderFrame = 0x47;
inline constexpr std::uint8_t kAckFrame = 0x4A;
inline constexpr std::uint8_t kEndCommand = 0x4B;
inline constexpr std::uint8_t kAlarmFrame = 0x4D;
inline constexpr std::uint8_t kIntervalFrame = 0x4E;
inline constexpr std::uint8_t kSwitchWrite = 0x60;
inline constexpr std::uint8_t kSwitchRead = 0x61;
inline constexpr std::uint8_t kPatientAnnounce = 0x37;
inline constexpr std::uint8_t kPatientRequest = 0x38;
inline constexpr std::uint8_t kPatientPacket = 0x39;
inline constexpr std::uint8_t kPatientStatus = 0x3B;
inline constexpr std::uint8_t kPatientEnd = 0x3F;

inline constexpr std::uint8_t kAccepted = 0x01;
inline constexpr std::uint8_t kRefused = 0x00;

// A command without payload: its code, a marker, then FF FE FD FC. The
// marker is the packing header 0x8F, or 0x9F for the patient announcement.
inline constexpr std::size_t kCommandLength = 6;
inline constexpr std::uint8_t kPlainMarker = 0x8F;
inline constexpr std::uint8_t kPatientMarker = 0x9F;
inline constexpr std::array<std::uint8_t, 4> kNoPayload{0xFF, 0xFE, 0xFD, 0xFC};

inline bool IsCommand(const std::uint8_t* data, std::size_t size, std::uint8_t marker) {
  if (size != kCommandLength || data[1] != marker) return false;
  for (std::size_t i = 0; i < kNoPayload.size(); ++i)
    if (data[2 + i] != kNoPayload[i]) return false;
  return true;
}

inline std::uint8_t Byte(int value) { return static_cast<std::uint8_t>(value & 0xFF); }

// Records with their own time count years from 2000.
inline constexpr int kOwnTimeYearBase = 2000;

// Year (two bytes), month, day, hour, minute: how the monitor writes a time.
inline void PutTime(const CalendarTime& t, std::uint8_t* to) {
  const std::uint8_t bytes[] = {Byte(t.year >> 8), Byte(t.year), Byte(t.month),
                                Byte(t.day), Byte(t.hour), Byte(t.minute)};
  std::copy(std::begin(bytes), std::end(bytes), to);
}

// Texts fill their field from the start; the rest stays 0.
inline void PutText(const std::string& text, std::size_t length, std::uint8_t* to) {
  std::copy_n(text.begin(), std::min(length, text.size()), to);
}

inline std::string GetText(const std::uint8_t* from, std::size_t length) {
  std::string text(from, from + length);
  return text.substr(0, text.find('\0'));
}

inline std::string HexOf(const std::uint8_t* data, std::size_t size) {
  std::string text;
  char cell[4];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(cell, sizeof cell, i ? " %02X" : "%02X", data[i]);
    text += cell;
  }
  return text;
}

}  // namespace bplink::sim::hid_wire
