// Serial devices as detection meets them. The factories hand out each
// family's own simulated device, which answers its family's probe at the
// probe's speed. ProbeResponder is a bare device that answers one request at
// one speed and hears nothing else, for the near misses a real device never
// sends.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "device_model.h"
#include "kx71/wire.h"

namespace bplink::sim {

enum class SerialFamily { kKX71, kKV32, kVestra16C, kVestra16, kVestra18 };

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

// A device of the family, as it answers detection; a KX71 recorder of the
// standard kind.
std::unique_ptr<DeviceModel> MakeProbeResponder(SerialFamily family);
// A KX71 recorder whose handshake answer begins with `kind` (kx71::kStandard
// and its siblings in kx71/wire.h).
std::unique_ptr<DeviceModel> MakeKX71ProbeResponder(std::uint8_t kind);

}  // namespace bplink::sim
