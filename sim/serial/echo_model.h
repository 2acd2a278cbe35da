// A loopback device: it sends back every byte it understands, and it
// understands only bytes sent at its own line speed.
#pragma once

#include "device_model.h"

namespace bplink::sim {

class EchoModel : public DeviceModel {
 public:
  explicit EchoModel(unsigned baud) : baud_(baud) {}

  void Receive(const std::uint8_t* data, std::size_t size, unsigned baud) override {
    if (baud != baud_) return;
    for (std::size_t i = 0; i < size; ++i) Send(data[i]);
  }

 private:
  unsigned baud_;
};

}  // namespace bplink::sim
