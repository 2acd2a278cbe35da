// The program's global options: what every command may be told about the
// link and the device before it runs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "families.h"

namespace bplink::cli {

struct GlobalOptions {
  std::optional<std::string> sim;   // --sim FAMILY
  SimSettings sim_settings;
  std::optional<std::string> sim_plan;  // --sim-plan FILE
  std::vector<std::string> ports;   // --port PATH, once or more
  std::optional<int> protocol;      // --protocol N
  bool trace = false;
  std::optional<unsigned> timeout_ms;
};

}  // namespace bplink::cli
