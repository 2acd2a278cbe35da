// Each serial family's simulated device by the family's name, for the suites
// that run over every family of the table (the pseudo-terminal and the
// detection tests). This is the one place that makes them.
#pragma once

#include <bplink/families.h>

#include <memory>
#include <string_view>
#include <vector>

#include "device_model.h"

namespace bplink::testing {

// The device of `family` with `records` readings in its first store, a
// quarter of an hour apart; a KX71 recorder of the kind that keeps its plan.
// Throws std::invalid_argument for a name that is no serial family.
std::unique_ptr<sim::DeviceModel> MakeFamilyDevice(std::string_view family, int records);

// The serial families of the table, in its order.
inline std::vector<const Family*> SerialFamilies() {
  std::vector<const Family*> serial;
  for (const Family& f : Families())
    if (f.link == Link::kSerial) serial.push_back(&f);
  return serial;
}

}  // namespace bplink::testing
