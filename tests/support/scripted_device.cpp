#include "scripted_device.h"

#include <cstdio>

namespace bplink::testing {

std::string Hex(const Bytes& bytes) {
  std::string out;
  char cell[4];
  for (BYTE b : bytes) {
    std::snprintf(cell, sizeof cell, "%02X ", b);
    out += cell;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

ScriptedDevice& ScriptedDevice::ExpectSend(Bytes bytes, int result) {
  steps_.push_back(Step{Kind::kSend, std::move(bytes), 0, result});
  return *this;
}

ScriptedDevice& ScriptedDevice::ExpectSendAny(DWORD length, int result) {
  steps_.push_back(Step{Kind::kSendAny, {}, length, result});
  return *this;
}

ScriptedDevice& ScriptedDevice::Reply(Bytes bytes) {
  if (!bytes.empty()) steps_.push_back(Step{Kind::kReply, std::move(bytes)});
  return *this;
}

ScriptedDevice& ScriptedDevice::Silence() {
  steps_.push_back(Step{Kind::kSilence, {}});
  return *this;
}

int ScriptedDevice::Open(CString strPath, DCB dcb) {
  ++opens_;
  opened_paths_.push_back(std::move(strPath));
  opened_bauds_.push_back(dcb.BaudRate);
  return open_result_;
}

int ScriptedDevice::Open(int) {
  ++opens_;
  return open_result_;
}

int ScriptedDevice::Close() {
  ++closes_;
  return 1;
}

std::string ScriptedDevice::Describe(size_t index) const {
  if (index >= steps_.size()) return "the end of the script";
  const Step& s = steps_[index];
  switch (s.kind) {
    case Kind::kSend: return "send of [" + Hex(s.bytes) + "]";
    case Kind::kSendAny: return "send of " + std::to_string(s.length) + " bytes";
    case Kind::kReply: return "reply [" + Hex(s.bytes) + "]";
    case Kind::kSilence: return "silence";
  }
  return "?";
}

int ScriptedDevice::SendData(BYTE* pBuffer, DWORD dwLen) {
  Bytes frame(pBuffer, pBuffer + dwLen);
  sent_.push_back(frame);
  if (next_ >= steps_.size() ||
      (steps_[next_].kind != Kind::kSend && steps_[next_].kind != Kind::kSendAny)) {
    problems_.push_back("sent [" + Hex(frame) + "] where the script expects " + Describe(next_));
    return 0;
  }
  const Step& step = steps_[next_++];
  if (step.kind == Kind::kSend && step.bytes != frame)
    problems_.push_back("sent [" + Hex(frame) + "], expected [" + Hex(step.bytes) + "]");
  if (step.kind == Kind::kSendAny && step.length != dwLen)
    problems_.push_back("sent " + std::to_string(dwLen) + " bytes [" + Hex(frame) +
                        "], expected " + std::to_string(step.length));
  return step.result;
}

int ScriptedDevice::RecvData(BYTE* pBuffer, DWORD dwLen) {
  if (on_recv_) on_recv_(reads_);
  ++reads_;
  if (next_ >= steps_.size()) {
    problems_.push_back("read of " + std::to_string(dwLen) + " bytes after the end of the script");
    return 0;
  }
  Step& step = steps_[next_];
  if (step.kind == Kind::kSilence) {
    ++next_;
    return 0;
  }
  if (step.kind != Kind::kReply) {
    problems_.push_back("read of " + std::to_string(dwLen) + " bytes where the script expects " +
                        Describe(next_));
    return 0;
  }
  if (step.bytes.size() - step.read < dwLen) {
    problems_.push_back("read of " + std::to_string(dwLen) + " bytes with " +
                        std::to_string(step.bytes.size() - step.read) + " left in " +
                        Describe(next_));
    ++next_;
    return 0;
  }
  std::copy_n(step.bytes.begin() + static_cast<long>(step.read), dwLen, pBuffer);
  step.read += dwLen;
  if (step.read == step.bytes.size()) ++next_;
  return 1;
}

std::vector<std::string> ScriptedDevice::Problems() const {
  std::vector<std::string> all = problems_;
  if (!Finished()) all.push_back("the script stopped before " + Describe(next_));
  return all;
}

}  // namespace bplink::testing
