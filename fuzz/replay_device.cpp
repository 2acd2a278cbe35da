#include "replay_device.h"

#include <algorithm>

namespace bplink::fuzz {
namespace {

constexpr int kPortOpened = 1;
constexpr int kDone = 1;
constexpr int kFailed = 0;
// The one serial port the host sees; the replay device sits on it.
constexpr const wchar_t* kPortName = L"ttyS0";

}  // namespace

int ReplayDevice::Open(CString, DCB) { return kPortOpened; }
int ReplayDevice::Open(int) { return kDone; }
int ReplayDevice::Close() { return kDone; }
int ReplayDevice::SendData(BYTE*, DWORD) { return kDone; }

bool ReplayDevice::NextBurst() {
  if (at_ >= input_.size()) return false;
  const std::size_t length = input_[at_++];
  if (length == kSilence) return false;
  const std::size_t taken = std::min(length, input_.size() - at_);
  pending_.insert(pending_.end(), input_.begin() + at_, input_.begin() + at_ + taken);
  at_ += taken;
  return true;
}

int ReplayDevice::RecvData(BYTE* pBuffer, DWORD dwLen) {
  while (pending_.size() < dwLen)
    if (!NextBurst()) {
      pending_.clear();
      CurrentEnv()->Sleep(kRecvTimeoutMs);
      return kFailed;
    }
  std::copy_n(pending_.begin(), dwLen, pBuffer);
  pending_.erase(pending_.begin(), pending_.begin() + dwLen);
  return kDone;
}

void AppendReply(Bytes& input, std::span<const std::uint8_t> reply) {
  while (!reply.empty()) {
    const std::size_t length = std::min(reply.size(), kMaxBurst);
    input.push_back(static_cast<std::uint8_t>(length));
    input.insert(input.end(), reply.begin(), reply.begin() + length);
    reply = reply.subspan(length);
  }
}

void AppendSilence(Bytes& input) { input.push_back(kSilence); }

FuzzMachine::FuzzMachine() {
  env.SetPortNames({kPortName});
  env.SetOpenablePaths({ComPortPath(kPortName)});
}

std::wstring FuzzMachine::PortPath() { return ComPortPath(kPortName); }

enum_DataMode TakeDataMode(std::span<const std::uint8_t>& input) {
  if (input.empty()) return DATAMODE_NONE;
  const auto mode = static_cast<enum_DataMode>(input.front() % kDataModeCount);
  input = input.subspan(1);
  return mode;
}

}  // namespace bplink::fuzz
