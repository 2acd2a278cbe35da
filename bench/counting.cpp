#include "counting.h"

#include "transport/line_timing.h"

namespace bplink::bench {

WireCount& WireCount::operator+=(const WireCount& other) {
  bytes += other.bytes;
  wire_ms += other.wire_ms;
  timeouts += other.timeouts;
  timeout_ms += other.timeout_ms;
  calls += other.calls;
  turns += other.turns;
  return *this;
}

int CountingDevice::Open(CString strPath, DCB dcb) {
  const int opened = port_.Open(strPath, dcb);
  baud_ = opened == 1 ? dcb.BaudRate : 0;
  if (opened == 1) speeds_.insert(baud_);
  return opened;
}

double CountingDevice::LineMs(std::uint64_t bytes) const {
  if (baud_ == 0) return 0;
  return static_cast<double>(bytes * kBitsPerCharacter * kMsPerSecond) / baud_;
}

int CountingDevice::RecvData(BYTE* pBuffer, DWORD dwLen) {
  ++count_.calls;
  if (sent_last_) ++count_.turns;
  sent_last_ = false;
  const int got = port_.RecvData(pBuffer, dwLen);
  if (got != 0) {
    count_.bytes += dwLen;
    count_.wire_ms += LineMs(dwLen);
  } else if (port_.IsOpen()) {
    ++count_.timeouts;
    count_.timeout_ms += DeadlineMs(port_.GetRecvTimeout(), dwLen, baud_);
  }
  return got;
}

int CountingDevice::SendData(BYTE* pBuffer, DWORD dwLen) {
  ++count_.calls;
  sent_last_ = true;
  const int sent = port_.SendData(pBuffer, dwLen);
  if (sent != 0) {
    count_.bytes += dwLen;
    count_.wire_ms += LineMs(dwLen);
  }
  return sent;
}

void CountingEnv::Sleep(unsigned milliseconds) {
  paused_ms_ += milliseconds;
  ++pauses_count_;
  if (clock_ == Clock::kReal) EnvWrapper::Sleep(milliseconds);
}

CalendarTime CountingEnv::LocalTime() {
  if (clock_ == Clock::kReal) return EnvWrapper::LocalTime();
  return {2026, 1, 5, 9, 30, 0};
}

void CountingEnv::SetPorts(std::vector<std::wstring> paths) {
  openable_ = {paths.begin(), paths.end()};
  ports_ = std::move(paths);
}

}  // namespace bplink::bench
