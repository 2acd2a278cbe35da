#include "models.h"

#include <stdexcept>

namespace bplink::sim {

// sim_families.inc, generated from the build's list of families, names each
// family once as BPLINK_SIM_FAMILY(name): first to declare its factory,
// then to file it under its name.
#define BPLINK_SIM_FAMILY(family) \
  namespace family {              \
  std::unique_ptr<DeviceModel> MakeModel(const SimSettings& settings); \
  }
#include "sim_families.inc"
#undef BPLINK_SIM_FAMILY

namespace {

struct Factory {
  std::string_view family;
  std::unique_ptr<DeviceModel> (*make)(const SimSettings&);
};

constexpr Factory kFactories[] = {
#define BPLINK_SIM_FAMILY(family) {#family, &family::MakeModel},
#include "sim_families.inc"
#undef BPLINK_SIM_FAMILY
};

}  // namespace

std::unique_ptr<DeviceModel> MakeModel(std::string_view family, const SimSettings& settings) {
  for (const Factory& factory : kFactories)
    if (factory.family == family) return factory.make(settings);
  std::string known;
  for (const Factory& factory : kFactories) known += (known.empty() ? "" : ", ") + std::string(factory.family);
  throw std::invalid_argument("no simulated device family is called \"" + std::string(family) +
                              "\"; the families are " + known);
}

std::vector<std::string> FamilyNames() {
  std::vector<std::string> names;
  for (const Factory& factory : kFactories) names.emplace_back(factory.family);
  return names;
}

}  // namespace bplink::sim
