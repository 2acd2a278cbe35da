// The serial families of the table and their demo devices, for the suites
// that run over every family (the pseudo-terminal and the detection tests).
#pragma once

#include <bplink/families.h>

#include <memory>
#include <string_view>
#include <vector>

#include "models.h"

namespace bplink::testing {

// The demo device of `family` with `records` readings in its first store.
inline std::unique_ptr<sim::DeviceModel> MakeFamilyDevice(std::string_view family, int records) {
  sim::SimSettings settings;
  settings.records = records;
  return sim::MakeModel(family, settings);
}

// The serial families of the table, in its order.
inline std::vector<const Family*> SerialFamilies() {
  std::vector<const Family*> serial;
  for (const Family& f : Families())
    if (f.link == LinkKind::kSerial) serial.push_back(&f);
  return serial;
}

}  // namespace bplink::testing
