// Serial devices as detection meets them where a family's demo device
// (sim/models.h) does not show the case: a bare device that answers one
// request at one speed and hears nothing else, for the near misses a real
// device never sends, and each kind of KX71 recorder.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "device_model.h"
#include "kx71/wire.h"

namespace bplink::sim {

// A device that answers `request` with `answer` when it hears the request at
// `baud`, as a whole or in pieces. Bytes at any other speed are noise to it:
// they break off a request it was hearing.
class ProbeResponder : public DeviceModel {
 public:
  ProbeResponder(unsigned baud, std::vector<std::uint8_t> request, std::vector<std::uint8_t> answer);
  void Receive(const std::uint8_t* data, std::size_t size, unsigned baud) override;

 private:
  unsigned baud_;
  std::vector<std::uint8_t> request_;
  std::vector<std::uint8_t> answer_;
  std::vector<std::uint8_t> heard_;  // the last bytes heard, at most a request's length
};

// A KX71 recorder whose handshake answer begins with `kind` (kx71::kStandard
// and its siblings in kx71/wire.h).
std::unique_ptr<DeviceModel> MakeKX71ProbeResponder(std::uint8_t kind);

}  // namespace bplink::sim
