// The serial families' detection probes, in the order detection runs them:
// the families' table is the one place that says which families there are.
#pragma once

#include <bplink/families.h>

#include <span>

#include "serial/detection_probe.h"

namespace bplink::detect {

struct SerialProbe {
  const Family* family;
  const serial::DetectionProbe* probe;
};

std::span<const SerialProbe> SerialProbesInOrder();

}  // namespace bplink::detect
