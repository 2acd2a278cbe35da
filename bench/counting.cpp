#include "counting.h"

#include "transport/line_timing.h"

#include <algorithm>

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

namespace {

double LineMs(std::uint64_t bytes, unsigned baud) {
  return baud == 0 ? 0 : static_cast<double>(bytes * kBitsPerCharacter * kMsPerSecond) / baud;
}

}  // namespace

void Floor::Pause(double ms) {
  with_.host += ms;
  without_.host += ms;
}

void Floor::Sent(Line& line, std::uint64_t bytes, unsigned baud) {
  const double start = std::max(line.host, line.out_free);
  line.out_free = start + LineMs(bytes, baud);
  line.heard = start + LineMs(1, baud);
}

void Floor::Received(Line& line, std::uint64_t bytes, unsigned baud) {
  line.in_free = std::max(line.in_free, line.heard) + LineMs(bytes, baud);
  line.host = std::max(line.host, line.in_free);
}

void Floor::Sent(std::uint64_t bytes, unsigned baud) {
  Sent(with_, bytes, baud);
  Sent(without_, bytes, baud);
}

void Floor::Received(std::uint64_t bytes, unsigned baud) {
  Received(with_, bytes, baud);
  Received(without_, bytes, baud);
}

void Floor::TimedOut(double deadline_ms) { with_.host += deadline_ms; }

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
    if (floor_ != nullptr) floor_->Received(dwLen, baud_);
  } else if (port_.IsOpen()) {
    ++count_.timeouts;
    const double deadline = DeadlineMs(port_.GetRecvTimeout(), dwLen, baud_);
    count_.timeout_ms += deadline;
    if (floor_ != nullptr) floor_->TimedOut(deadline);
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
    if (floor_ != nullptr) floor_->Sent(dwLen, baud_);
  }
  return sent;
}

void CountingEnv::Sleep(unsigned milliseconds) {
  paused_ms_ += milliseconds;
  ++pauses_count_;
  if (floor_ != nullptr) floor_->Pause(milliseconds);
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
