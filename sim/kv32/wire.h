// The KV32 monitor's side of the line: the single-byte commands it hears at
// each of its two speeds, and the blocks it sends and takes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bplink::sim::kv32 {

// Greeting and upload at one speed, plan, records and samples at the other.
inline constexpr unsigned kGreetingBaud = 4800;
inline constexpr unsigned kDownloadBaud = 115200;

// Commands, as the monitor hears them; each is answered with its own echo.
inline constexpr std::uint8_t kGreetMinutes = 'Q';
inline constexpr std::uint8_t kGreetSeconds = 'R';
inline constexpr std::uint8_t kUploadAndConfirm = 'U';  // also confirms each uploaded byte
inline constexpr std::uint8_t kPlanInSeconds = 'S';
inline constexpr std::uint8_t kPlanInMinutes = 'T';
inline constexpr std::uint8_t kRecordPlease = 0xEE;
inline constexpr std::uint8_t kSamplePlease = 0xDB;

// What a wrong echo or a stray byte looks like.
inline constexpr std::uint8_t kGarbled = 0x3F;

// The plan the monitor sends back.
inline constexpr std::size_t kPlanReplyLength = 77;
inline constexpr std::size_t kPatient1Length = 30;
inline constexpr std::size_t kPatient2Length = 11;
inline constexpr std::size_t kReplyPatient2At = 30;
inline constexpr std::size_t kReplyStartAt = 41;  // year (2 bytes), month, day, hour, minute, second
inline constexpr std::size_t kReplyOption1At = 55;
inline constexpr std::size_t kReplyOption2At = 56;
inline constexpr std::size_t kReplyDayAt = 57;    // hour, minute, interval; then the night's
inline constexpr std::size_t kReplyExtraAt = 63;  // start hour, start minute, interval, end hour, end minute
inline constexpr std::size_t kReplyRecordsAt = 71;
inline constexpr std::size_t kReplySamplesAt = 73;

// One record: the offset's top byte, systolic (2 bytes), diastolic, pulse,
// mean, the offset's low two bytes, status, flags, three spare bytes.
inline constexpr std::size_t kRecordLength = 13;

// The uploaded plan block.
inline constexpr std::size_t kPlanBlockLength = 71;
inline constexpr std::size_t kBlockPatient2At = 30;
inline constexpr std::size_t kBlockClockAt = 41;  // year (2 bytes), month, day, hour, minute; second in mode 'R'
inline constexpr std::size_t kBlockStartAt = 47;  // mode 'Q': start of recording, year .. minute
inline constexpr std::size_t kBlockOption2At = 56;
inline constexpr std::size_t kBlockDayAt = 57;
inline constexpr std::size_t kBlockExtraAt = 63;
inline constexpr std::size_t kBlockLayoutAt = 70;  // 'Q' full plan, 'R' texts and clock only

}  // namespace bplink::sim::kv32
