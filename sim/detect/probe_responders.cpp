#include "detect/probe_responders.h"

#include "kv32/model.h"
#include "kx71/model.h"
#include "vestra16/model.h"
#include "vestra16c/model.h"
#include "vestra18/model.h"

#include <algorithm>
#include <utility>

namespace bplink::sim {
ProbeResponder::ProbeResponder(unsigned baud, std::vector<std::uint8_t> request,
                               std::vector<std::uint8_t> answer)
    : baud_(baud), request_(std::move(request)), answer_(std::move(answer)) {}

void ProbeResponder::Receive(const std::uint8_t* data, std::size_t size, unsigned baud) {
  if (baud != baud_) {
    heard_.clear();
    return;
  }
  for (std::size_t i = 0; i < size; ++i) {
    heard_.push_back(data[i]);
    if (heard_.size() > request_.size()) heard_.erase(heard_.begin());
    if (heard_ == request_) {
      Send(answer_);
      heard_.clear();
    }
  }
}

std::unique_ptr<DeviceModel> MakeKX71ProbeResponder(std::uint8_t kind) {
  kx71::RecorderConfig config;
  config.reply_code = kind;
  return std::make_unique<kx71::Recorder>(std::move(config));
}

// The families' own simulated devices, each answering its detection probe
// as the device does.
std::unique_ptr<DeviceModel> MakeProbeResponder(SerialFamily family) {
  switch (family) {
    case SerialFamily::kKX71:
      return MakeKX71ProbeResponder(kx71::kStandard);
    case SerialFamily::kKV32:
      return std::make_unique<kv32::Monitor>(kv32::MonitorConfig{});
    case SerialFamily::kVestra16C:
      return std::make_unique<vestra16c::Monitor>();
    case SerialFamily::kVestra16:
      return std::make_unique<vestra16::Monitor>();
    case SerialFamily::kVestra18:
      return std::make_unique<vestra18::Monitor>(vestra18::MonitorConfig{});
  }
  return nullptr;
}

}  // namespace bplink::sim
