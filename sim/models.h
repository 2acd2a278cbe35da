// Every family's demo device by the family's name: what `bplink --sim FAMILY`
// and `bplink sim FAMILY` serve. Each family's own factory,
// bplink::sim::<family>::MakeModel in sim/<family>/make.cpp, builds it from
// the settings; the families are the build's list (sim/CMakeLists.txt).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "device_model.h"
#include "settings.h"

namespace bplink::sim {

// The demo device of `family`, storing what the settings ask for. Throws
// std::invalid_argument for a family it does not know (naming those it
// knows) and for settings the family's device cannot take.
std::unique_ptr<DeviceModel> MakeModel(std::string_view family, const SimSettings& settings);

// Every family MakeModel knows: hid, then the serial families in the build's order.
std::vector<std::string> FamilyNames();

}  // namespace bplink::sim
