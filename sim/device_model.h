// A simulated device, seen from its own side of the wire.
//
// A model is handed the bytes the host sends, at the line speed the host set,
// and queues the bytes it answers. It knows nothing of the protocol classes:
// it decodes requests and encodes replies itself, so a test of one against
// the other checks both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

namespace bplink::sim {

// The line speed of links that have none, such as USB HID.
inline constexpr unsigned kNoLineSpeed = 0;

class DeviceModel {
 public:
  virtual ~DeviceModel() = default;

  // The host opened the link at this speed (kNoLineSpeed for HID).
  virtual void OnOpen(unsigned baud) { (void)baud; }
  // The host closed the link.
  virtual void OnClose() {}
  // The host sent these bytes at this speed. One call is one write by the
  // host: a whole frame on HID, any number of bytes on a serial line.
  virtual void Receive(const std::uint8_t* data, std::size_t size, unsigned baud) = 0;

  // What the device has sent and the host has not read yet.
  std::deque<std::uint8_t>& Outbox() { return outbox_; }

 protected:
  void Send(std::uint8_t byte) { outbox_.push_back(byte); }
  template <typename Range>
  void Send(const Range& bytes) {
    outbox_.insert(outbox_.end(), std::begin(bytes), std::end(bytes));
  }

 private:
  std::deque<std::uint8_t> outbox_;
};

}  // namespace bplink::sim
