// The host operations the fuzz targets drive, written against any CDevice:
// the targets run them on the replay device, the seed generator on a
// simulated device whose replies it records.
#pragma once

#include <bplink/bplink.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "replay_device.h"

namespace bplink::fuzz {

// What an operation gave the host.
struct Outcome {
  int result = 0;
  _DOWNLOAD_DATAINFO data;
  _UPLOAD_NEEDED_DATA needed;
  tag_SUPPORT_PROTOCOL detected{};
  friend bool operator==(const Outcome&, const Outcome&) = default;
};

using Operation = Outcome (*)(CDevice& device, enum_DataMode mode);

// A host's progress variables, and a protocol object bound to them and to
// the device for one operation.
struct Host {
  Host(CProtocolBase& protocol, CDevice& device) {
    protocol.SetDevice(&device, false);
    protocol.SetProgressInfo(&progress, &state, &stage);
  }
  int progress = 0, state = 0;
  enum_TransportType stage = TRANSPORT_BP_MODE0;
};

// PC_Download in `mode` on a fresh protocol object, and the data copied out
// as a host does.
Outcome Download(std::unique_ptr<CProtocolBase> protocol, CDevice& device, enum_DataMode mode);

template <typename Protocol>
Outcome Download(CDevice& device, enum_DataMode mode) {
  return Download(std::make_unique<Protocol>(), device, mode);
}

// The HID device's data modes, plan and intervals.
Outcome TimeInterval(CDevice& device, enum_DataMode mode);
// The HID identification, then the patient block inside an open link.
Outcome PatientInfo(CDevice& device, enum_DataMode mode);
// Detection over the HID device and one serial port.
Outcome Detect(CDevice& device, enum_DataMode mode);

// Runs `operation` over a replay device fed by `input`, whose first byte
// selects the data mode (targets that take none ignore it).
Outcome Replay(std::span<const std::uint8_t> input, Operation operation);

}  // namespace bplink::fuzz
