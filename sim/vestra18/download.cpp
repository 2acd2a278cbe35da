// How the VESTRA18 monitor serves its stores: the request's echo, then a
// section per store asked for, less the frames a fault leaves out.
#include <algorithm>

#include "vestra18/model.h"

namespace bplink::sim::vestra18 {
namespace {

std::uint8_t Byte(int value) { return static_cast<std::uint8_t>(value & 0xFF); }

}  // namespace

// A request starts the read-out afresh: what an earlier one had still to
// send is dropped.
void Monitor::Answer(std::uint8_t request) {
  requests_.push_back(request);
  Outbox().clear();
  held_.clear();
  if (silence_ == Silence::kNoEcho) return;
  Send(request);
  if (silence_ == Silence::kAfterEcho) return;

  if (request == kAllStoresRequest) {
    for (int store = 0; store < kStores; ++store) SendSection(store);
  } else {
    SendSection(request - kRequestBase - 1);
  }
}

void Monitor::SendSection(int store) {
  const auto& readings = config_.stores[store];
  const std::size_t count = std::min(readings.size(), kMaxSection);
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
    const Reading& r = readings[i];
    const std::uint8_t frame[kFrameLength] = {Byte(r.sys >> 8),   Byte(r.sys),        Byte(r.press2),
                                              Byte(r.pulse),      Byte(r.press3),     Byte(r.time.year - kYearBase),
                                              Byte(r.time.month), Byte(r.time.day),   Byte(r.time.hour),
                                              Byte(r.time.minute), Byte(r.status),    kSpare};
    for (std::uint8_t byte : frame) Emit(byte);
  }
  // Frames left out at the end: the next section waits as long.
  if (leftOut > 0) Pause(leftOut);
}

bool Monitor::InGap(int store, int index) const {
  return std::ranges::any_of(gaps_, [&](const Gap& gap) {
    return gap.store == store && index >= gap.first && index < gap.first + gap.count;
  });
}

}  // namespace bplink::sim::vestra18
