// What the KX71 recorder answers on the line. It hears bytes at its own speed
// only, sorts them into greetings, acknowledgements, plan requests and the
// upload probe, and answers a greeting with the code of its kind.
#include <algorithm>
#include <cstdio>
#include <iterator>

#include "kx71/model.h"

namespace bplink::sim::kx71 {
namespace {

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

}  // namespace

std::string Recorder::Hex(std::uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", byte);
  return text;
}

void Recorder::OnClose() {
  mode_ = Mode::kIdle;
  pending_.clear();
  stream_.clear();
  Outbox().clear();
}

void Recorder::Receive(const std::uint8_t* data, std::size_t size, unsigned baud) {
  if (baud != kBaud) return;  // noise at any other speed
  for (std::size_t i = 0; i < size; ++i) {
    if (mode_ == Mode::kUploading) {
      TakeUploadByte(data[i]);
    } else {
      pending_.push_back(data[i]);
      Parse();
    }
  }
}

void Recorder::Parse() {
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
      StartUpload();
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

// The answer is the greeting itself behind the recorder's kind; the stream
// of what it stored follows at once.
void Recorder::Greet() {
  ++greetings_;
  Outbox().clear();
  const std::uint8_t echo = config_.faults.broken_greeting ? kBrokenEcho : kGreeting[kEchoAt];
  Send(config_.reply_code);
  Send(kGreeting[1]);
  Send(echo);
  for (std::size_t i = kEchoAt + 1; i < std::size(kGreeting); ++i) Send(kGreeting[i]);
  StartStream();
}

}  // namespace bplink::sim::kx71
