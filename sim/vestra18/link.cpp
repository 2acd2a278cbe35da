#include "vestra18/model.h"

#include <algorithm>

namespace bplink::sim {
namespace {

// Requests at the working speed: 0x10 plus 1, 2, 3 (one store) or 4 (all).
constexpr std::uint8_t kRequestBase = 0x10;
constexpr std::uint8_t kFirstRequest = 0x11;
constexpr std::uint8_t kAllStoresRequest = 0x14;

// The detection probe at 4800 baud and the monitor's two-byte answer.
constexpr std::uint8_t kProbe = 0x14;
constexpr std::uint8_t kProbeAnswer[] = {0x14, 0x11};

constexpr int kYearBase = 2000;
// The frame's last byte carries nothing a host needs; the monitor fills it
// with a pattern, so a host that decodes it into anything shows.
constexpr std::uint8_t kSpare = 0xA5;

std::uint8_t Byte(int value) { return static_cast<std::uint8_t>(value & 0xFF); }

}  // namespace

void Vestra18Monitor::OnOpen(unsigned) {
  Outbox().clear();
  held_.clear();
}

void Vestra18Monitor::Receive(const std::uint8_t* data, std::size_t size, unsigned baud) {
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t byte = data[i];
    if (baud == kVestra18ProbeBaud && byte == kProbe) {
      ++probes_answered_;
      Send(kProbeAnswer);
    } else if (baud == kVestra18Baud && byte >= kFirstRequest && byte <= kAllStoresRequest) {
      Answer(byte);
    }
  }
}

// A request starts the read-out afresh: what an earlier one had still to
// send is dropped.
void Vestra18Monitor::Answer(std::uint8_t request) {
  requests_.push_back(request);
  Outbox().clear();
  held_.clear();
  if (silence_ == Vestra18Silence::kNoEcho) return;
  Send(request);
  if (silence_ == Vestra18Silence::kAfterEcho) return;

  if (request == kAllStoresRequest) {
    for (int store = 0; store < kVestra18Stores; ++store) SendSection(store);
  } else {
    SendSection(request - kRequestBase - 1);
  }
}

void Vestra18Monitor::SendSection(int store) {
  const auto& readings = config_.stores[store];
  const std::size_t count = std::min(readings.size(), kVestra18MaxSection);
  Emit(Byte(config_.section_numbers[store]));
  Emit(Byte(static_cast<int>(count)));

  int leftOut = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (InGap(store, static_cast<int>(i))) {
      ++leftOut;
      continue;
    }
    // The host waits out one time-out per frame that never came.
    if (leftOut > 0) Pause(leftOut);
    leftOut = 0;
    const Vestra18Reading& r = readings[i];
    const std::uint8_t frame[] = {Byte(r.sys >> 8),        Byte(r.sys),
                                  Byte(r.press2),          Byte(r.pulse),
                                  Byte(r.press3),          Byte(r.time.year - kYearBase),
                                  Byte(r.time.month),      Byte(r.time.day),
                                  Byte(r.time.hour),       Byte(r.time.minute),
                                  Byte(r.status),          kSpare};
    for (std::uint8_t byte : frame) Emit(byte);
  }
  // Frames left out at the end: the next section waits as long.
  if (leftOut > 0) Pause(leftOut);
}

bool Vestra18Monitor::InGap(int store, int index) const {
  return std::ranges::any_of(gaps_, [&](const Vestra18Gap& gap) {
    return gap.store == store && index >= gap.first && index < gap.first + gap.count;
  });
}

void Vestra18Monitor::Emit(std::uint8_t byte) {
  if (held_.empty())
    Send(byte);
  else
    held_.back().bytes.push_back(byte);
}

void Vestra18Monitor::Pause(int waits) { held_.push_back(Held{waits, {}}); }

// A pause that ends releases the bytes behind it; a pause right after them
// (a gap at the start of the next section) starts counting from here.
void Vestra18Monitor::HostGaveUp() {
  if (held_.empty() || --held_.front().waits > 0) return;
  Send(held_.front().bytes);
  held_.pop_front();
}

Vestra18Line::Vestra18Line(const std::wstring& path, Vestra18Monitor& monitor)
    : path_(path), monitor_(monitor) {
  AttachPort(path, &monitor);
}

int Vestra18Line::Open(CString strPath, DCB dcb) {
  const int opened = InProcessDevice::Open(strPath, dcb);
  if (opened == 1) on_monitor_ = strPath == path_;
  return opened;
}

int Vestra18Line::Close() {
  on_monitor_ = false;
  return InProcessDevice::Close();
}

int Vestra18Line::RecvData(BYTE* pBuffer, DWORD dwLen) {
  const int received = InProcessDevice::RecvData(pBuffer, dwLen);
  if (received == 0 && on_monitor_) monitor_.HostGaveUp();
  return received;
}

}  // namespace bplink::sim
