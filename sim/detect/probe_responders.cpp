#include "detect/probe_responders.h"

#include <algorithm>
#include <utility>

namespace bplink::sim {
namespace {

// Every family but the KX71 is probed at 4800 baud: the VESTRA16C and
// VESTRA18 monitors listen at that speed before a transfer, although they
// move their data at 115200 and 9600.
constexpr unsigned kHandshakeSpeed = 4800;
constexpr unsigned kKX71Speed = 115200;

// The KX71 recorder wakes on the frame 01 8F FF FE FD FC and echoes its tail.
constexpr std::uint8_t kKX71Wake = 0x01;
const std::vector<std::uint8_t> kKX71Tail{0x8F, 0xFF, 0xFE, 0xFD, 0xFC};

constexpr std::uint8_t kKV32Handshake = 0x51;
constexpr std::uint8_t kSettingsRequest = 0x88;
constexpr std::uint8_t kVestra16CReady = 0x6C;
constexpr std::uint8_t kVestra18Request = 0x14;
constexpr std::uint8_t kVestra18Ready = 0x11;

// The VESTRA16 monitor sends its settings block after the echo. Detection
// does not read it; a recognisable filler keeps a test from taking a
// leftover block byte for an answer.
constexpr std::size_t kSettingsBlockLength = 72;
constexpr std::uint8_t kFillerStep = 7;

std::vector<std::uint8_t> Vestra16Answer() {
  std::vector<std::uint8_t> answer{kSettingsRequest};
  for (std::size_t i = 0; i < kSettingsBlockLength; ++i)
    answer.push_back(static_cast<std::uint8_t>(1 + i * kFillerStep));
  return answer;
}

std::vector<std::uint8_t> KX71Frame(std::uint8_t first) {
  std::vector<std::uint8_t> frame(1 + kKX71Tail.size(), first);
  std::copy(kKX71Tail.begin(), kKX71Tail.end(), frame.begin() + 1);
  return frame;
}

}  // namespace

ProbeResponder::ProbeResponder(unsigned baud, std::vector<std::uint8_t> request,
                               std::vector<std::uint8_t> answer)
    : baud_(baud), request_(std::move(request)), answer_(std::move(answer)) {}

void ProbeResponder::Receive(const std::uint8_t* data, std::size_t size, unsigned baud) {
  if (baud != baud_) {
    heard_.clear();
    return;
  }
  for (std::size_t i = 0; i < size; ++i) {
    heard_.push_back(data[i]);
    if (heard_.size() > request_.size()) heard_.erase(heard_.begin());
    if (heard_ == request_) {
      Send(answer_);
      heard_.clear();
    }
  }
}

std::unique_ptr<DeviceModel> MakeKX71ProbeResponder(std::uint8_t kind) {
  return std::make_unique<ProbeResponder>(kKX71Speed, KX71Frame(kKX71Wake), KX71Frame(kind));
}

std::unique_ptr<DeviceModel> MakeProbeResponder(SerialFamily family) {
  switch (family) {
    case SerialFamily::kKX71:
      return MakeKX71ProbeResponder(kKX71Standard);
    case SerialFamily::kKV32:
      return std::make_unique<ProbeResponder>(kHandshakeSpeed, std::vector{kKV32Handshake},
                                              std::vector{kKV32Handshake});
    case SerialFamily::kVestra16C:
      return std::make_unique<ProbeResponder>(kHandshakeSpeed, std::vector{kSettingsRequest},
                                              std::vector{kVestra16CReady});
    case SerialFamily::kVestra16:
      return std::make_unique<ProbeResponder>(kHandshakeSpeed, std::vector{kSettingsRequest},
                                              Vestra16Answer());
    case SerialFamily::kVestra18:
      return std::make_unique<ProbeResponder>(kHandshakeSpeed, std::vector{kVestra18Request},
                                              std::vector{kVestra18Request, kVestra18Ready});
  }
  return nullptr;
}

}  // namespace bplink::sim
