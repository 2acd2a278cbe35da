#include "kx71/model.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "kx71/packets.h"

namespace bplink::sim {
namespace {

constexpr std::uint8_t kGreeting[] = {0x01, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC};
constexpr std::uint8_t kKeepsPlan = 0x34;
constexpr std::uint8_t kBrokenEcho = 0x00;
constexpr std::size_t kEchoAt = 2;
constexpr std::uint8_t kUploadProbe = 0xAA;
constexpr std::uint8_t kConfirm = 0x6C;
constexpr std::uint8_t kPlanRequest = 0x54;
constexpr std::uint8_t kAckTail[] = {0x83, 0xFF, 0xFF};
constexpr std::size_t kAckLength = 1 + std::size(kAckTail);

// The acknowledgement codes of each packet type: positive, negative.
struct AckCodes {
  std::uint8_t type, ok, bad;
};
constexpr AckCodes kAckCodes[] = {{0x07, 0x10, 0x11}, {0x12, 0x13, 0x14}, {0x16, 0x17, 0x18}};

const AckCodes* CodesFor(std::uint8_t type) {
  for (const AckCodes& c : kAckCodes)
    if (c.type == type) return &c;
  return nullptr;
}

bool IsAckCode(std::uint8_t byte) {
  return std::any_of(std::begin(kAckCodes), std::end(kAckCodes),
                     [byte](const AckCodes& c) { return byte == c.ok || byte == c.bad; });
}

enum class Match { kWhole, kSoFar, kNot };

// Whether the bytes heard begin with `head` followed by `tail`.
Match Matches(const std::vector<std::uint8_t>& heard, std::uint8_t head, const std::uint8_t* tail,
              std::size_t tailLength) {
  if (heard[0] != head) return Match::kNot;
  const std::size_t n = std::min(heard.size() - 1, tailLength);
  if (!std::equal(heard.begin() + 1, heard.begin() + 1 + static_cast<std::ptrdiff_t>(n), tail))
    return Match::kNot;
  return n == tailLength ? Match::kWhole : Match::kSoFar;
}

std::string Hex(std::uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", byte);
  return text;
}

}  // namespace

void Kx71Recorder::OnClose() {
  mode_ = Mode::kIdle;
  pending_.clear();
  stream_.clear();
  Outbox().clear();
}

void Kx71Recorder::Receive(const std::uint8_t* data, std::size_t size, unsigned baud) {
  if (baud != kKx71Baud) return;  // noise at any other speed
  for (std::size_t i = 0; i < size; ++i) {
    if (mode_ == Mode::kUploading) {
      TakeUploadByte(data[i]);
    } else {
      pending_.push_back(data[i]);
      Parse();
    }
  }
}

void Kx71Recorder::Parse() {
  while (!pending_.empty() && mode_ != Mode::kUploading) {
    const std::uint8_t first = pending_[0];
    std::size_t used = 1;
    if (first == kGreeting[0]) {
      const Match m = Matches(pending_, first, kGreeting + 1, std::size(kGreeting) - 1);
      if (m == Match::kSoFar) return;
      if (m == Match::kWhole) {
        used = std::size(kGreeting);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
        Greet();
        continue;
      }
      complaints_.push_back("a greeting that broke off");
    } else if (IsAckCode(first)) {
      const Match m = Matches(pending_, first, kAckTail, std::size(kAckTail));
      if (m == Match::kSoFar) return;
      if (m == Match::kWhole) {
        pending_.erase(pending_.begin(), pending_.begin() + kAckLength);
        OnAcknowledgement(first);
        continue;
      }
      complaints_.push_back("acknowledgement " + Hex(first) + " with a wrong tail");
    } else if (first == kUploadProbe) {
      mode_ = Mode::kUploading;
      stream_.clear();
      upload_at_ = 0;
      Send(kConfirm);
    } else if (first == kPlanRequest) {
      SendPlan();
    } else if (first != 0) {
      // A zero follows the greeting of some hosts; anything else is noise.
      complaints_.push_back("byte " + Hex(first) + " understood as nothing");
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
  }
  // Bytes that came right behind the upload probe are the upload's.
  std::vector<std::uint8_t> rest;
  rest.swap(pending_);
  for (std::uint8_t byte : rest) {
    if (mode_ == Mode::kUploading) TakeUploadByte(byte);
  }
}

void Kx71Recorder::Greet() {
  ++greetings_;
  Outbox().clear();
  const std::uint8_t echo = config_.faults.broken_greeting ? kBrokenEcho : kGreeting[kEchoAt];
  Send(config_.reply_code);
  Send(kGreeting[1]);
  Send(echo);
  for (std::size_t i = kEchoAt + 1; i < std::size(kGreeting); ++i) Send(kGreeting[i]);

  // Everything stored, in the order it goes out.
  stream_.clear();
  int record = 0;
  std::uint16_t primaryRecords = 0;
  for (const Kx71Group& g : config_.groups)
    if (g.primary) primaryRecords = static_cast<std::uint16_t>(primaryRecords + g.readings.size());
  if (config_.plan_in_stream && config_.reply_code == kKeepsPlan)
    stream_.push_back({kx71::PlanPacket(config_.plan, primaryRecords), {}});
  for (const Kx71Group& g : config_.groups) {
    stream_.push_back({kx71::GroupPacket(g), {}});
    stream_.push_back({kx71::CountPacket(static_cast<std::uint32_t>(g.readings.size())), {}});
    for (const Kx71Reading& r : g.readings) {
      StreamPacket p{kx71::RecordPacket(r, kx71::RecordDamage::kNone), {}};
      if (record == config_.faults.zero_byte_record)
        p.first_time = kx71::RecordPacket(r, kx71::RecordDamage::kZeroByte);
      else if (record == config_.faults.wrong_marker_record)
        p.first_time = kx71::RecordPacket(r, kx71::RecordDamage::kWrongMarker);
      stream_.push_back(std::move(p));
      ++record;
    }
  }
  primary_records_ = primaryRecords;
  next_packet_ = 0;
  resends_ = 0;
  mode_ = Mode::kStreaming;
  if (!config_.faults.silent_stream) SendPacket(true);
}

// Sends the packet due; the plan packet wants no answer, so the next one
// follows it at once. After the last packet the recorder falls silent.
void Kx71Recorder::SendPacket(bool first_time) {
  while (next_packet_ < stream_.size()) {
    const StreamPacket& p = stream_[next_packet_];
    Send(first_time && !p.first_time.empty() ? p.first_time : p.bytes);
    if (p.bytes[0] != kx71::kPlanPacketType) return;
    ++next_packet_;
    first_time = true;
  }
  mode_ = Mode::kIdle;
}

void Kx71Recorder::OnAcknowledgement(std::uint8_t code) {
  if (mode_ != Mode::kStreaming || next_packet_ >= stream_.size()) {
    complaints_.push_back("acknowledgement " + Hex(code) + " with no packet sent");
    return;
  }
  const AckCodes* expected = CodesFor(stream_[next_packet_].bytes[0]);
  if (expected == nullptr || (code != expected->ok && code != expected->bad)) {
    complaints_.push_back("acknowledgement " + Hex(code) + " for packet type " +
                          Hex(stream_[next_packet_].bytes[0]));
    return;
  }
  if (code == expected->ok) {
    ++positive_acks_;
  } else {
    ++negative_acks_;
    if (resends_ < kResends) {
      ++resends_;
      SendPacket(false);
      return;
    }
  }
  // Taken, or given up on after the resends.
  ++next_packet_;
  resends_ = 0;
  SendPacket(true);
}

void Kx71Recorder::SendPlan() {
  ++plan_requests_;
  mode_ = Mode::kIdle;
  stream_.clear();
  if (config_.reply_code != kKeepsPlan) {
    complaints_.push_back("asked for a plan it does not keep");
    return;
  }
  Send(kx71::PlanPacket(config_.plan, primary_records_));
}

void Kx71Recorder::TakeUploadByte(std::uint8_t byte) {
  if (static_cast<int>(upload_at_) == config_.faults.unconfirmed_byte) {
    mode_ = Mode::kIdle;  // gives up on the upload without a word
    return;
  }
  upload_[upload_at_++] = byte;
  Send(kConfirm);
  if (upload_at_ < upload_.size()) return;
  uploaded_ = upload_;
  config_.plan = DecodeKx71Plan(upload_);
  ++uploads_;
  mode_ = Mode::kIdle;
}

}  // namespace bplink::sim
