// What a demo device stores and which fault it shows: the settings of
// `bplink --sim FAMILY` and `bplink sim FAMILY`, which each family's
// MakeModel (sim/<family>/make.cpp) turns into its simulated device. A
// setting left unset gives the family's demo device as it always was; a
// setting the family's device has no use for is refused, not ignored.
#pragma once

#include <bplink/codes.h>
#include <bplink/records.h>

#include <optional>

namespace bplink::sim {

struct SimSettings {
  std::optional<int> device_type;       // HID family only: 1..5; default the ambulatory recorder
  std::optional<int> records;           // readings in the first store; default: a day's recording
  std::optional<int> silent_after;      // the device stops sending after this many records
  unsigned pace_ms = 0;                 // each frame the device sends takes this long to arrive
  std::optional<_BP_TRANSPORT_INFO> plan;  // the plan it keeps; default: the one its day was measured on

  // The variants a family's devices come in, as the library must decode them.
  std::optional<int> version;        // HID: the version byte (alarm layout, interval table, patient block)
  std::optional<int> record_format;  // HID: the blood-pressure record format, 1, 2 or 3
  std::optional<int> spo2_format;    // HID type 3: the SpO2 sample format, 1 or 2
  std::optional<int> spo2_samples;   // HID type 3 and KV32: SpO2 samples held
  std::optional<int> variant;        // KX71 and HID type 1: 1 keeps no plan, 2 keeps one
  // A monitor (not an ambulatory recorder): its first store holds this many
  // days of home monitoring instead of the day.
  std::optional<int> home_days;
};

}  // namespace bplink::sim
