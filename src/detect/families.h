// Detection's probes: the serial families' in the order detection runs them
// (the families' table is the one place that says which families there are),
// and the HID link's identity request.
#pragma once

#include <bplink/device.h>
#include <bplink/families.h>
#include <bplink/records.h>

#include <span>

#include "serial/detection_probe.h"

namespace bplink::detect {

struct SerialProbe {
  const Family* family;
  const serial::DetectionProbe* probe;
};

std::span<const SerialProbe> SerialProbesInOrder();

// The device-information request on an open HID link, and its answer judged:
// 1 with `info`'s type, protocol, version and variant filled from the reply;
// 7 when the reply (zeros when none came) is no device information. Leaves
// the link open.
int AskHidIdentity(CDevice& device, tag_SUPPORT_PROTOCOL& info);

}  // namespace bplink::detect
