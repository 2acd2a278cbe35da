// The demo VESTRA16C monitor: the VESTRA16 monitor's demo day, in its own
// dialect.
#include <memory>

#include "vestra16c/model.h"

namespace bplink::sim::vestra16c {

std::unique_ptr<DeviceModel> MakeModel(const SimSettings& settings) {
  auto monitor = std::make_unique<Monitor>();
  vestra16::StoreDemoDay(*monitor, settings);
  return monitor;
}

}  // namespace bplink::sim::vestra16c
