#include "detect/probe_responders.h"

#include "kx71/model.h"

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

}  // namespace bplink::sim
