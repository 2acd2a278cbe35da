// The simulated devices behind `--sim FAMILY`: a device model and the
// in-process link a protocol object talks through, alive together.
#pragma once

#include <bplink/device.h>

#include <memory>
#include <string>
#include <vector>

namespace bplink::cli {

class SimulatedLink {
 public:
  virtual ~SimulatedLink() = default;
  virtual CDevice& Device() = 0;
};

// The families `--sim` accepts.
std::vector<std::string> SimulatedFamilies();
// Null for a family without a simulated device.
std::unique_ptr<SimulatedLink> MakeSimulatedLink(const std::string& family);

}  // namespace bplink::cli
