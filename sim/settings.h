// What a demo device stores and which fault it shows: the settings of
// `bplink --sim FAMILY` and `bplink sim FAMILY`, which each family's
// MakeModel (sim/<family>/make.cpp) turns into its simulated device.
#pragma once

#include <bplink/codes.h>
#include <bplink/records.h>

#include <optional>

namespace bplink::sim {

struct SimSettings {
  int device_type = kDeviceAmbulatory;  // HID family only
  std::optional<int> records;           // readings in the first store; default: a day's recording
  std::optional<int> silent_after;      // the device stops sending after this many records
  unsigned pace_ms = 0;                 // each frame the device sends takes this long to arrive
  std::optional<_BP_TRANSPORT_INFO> plan;  // the plan it keeps; default: the one its day was measured on
};

}  // namespace bplink::sim
