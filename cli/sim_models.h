// The simulated devices `--sim FAMILY` and `bplink sim FAMILY` serve: one
// per family, all storing the same wearer's day (and night) of readings, so
// their downloads are easy to compare.
#pragma once

#include <memory>

#include "device_model.h"
#include "families.h"

namespace bplink::cli {

// Each throws std::invalid_argument for settings the device cannot take.
std::unique_ptr<sim::DeviceModel> MakeHidMonitor(const SimSettings& settings);
std::unique_ptr<sim::DeviceModel> MakeKx71Recorder(const SimSettings& settings);
std::unique_ptr<sim::DeviceModel> MakeKv32Monitor(const SimSettings& settings);
std::unique_ptr<sim::DeviceModel> MakeVestra16Monitor(const SimSettings& settings);
std::unique_ptr<sim::DeviceModel> MakeVestra16CMonitor(const SimSettings& settings);
std::unique_ptr<sim::DeviceModel> MakeVestra18Monitor(const SimSettings& settings);

}  // namespace bplink::cli
