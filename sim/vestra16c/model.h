// A simulated VESTRA16C monitor: the VESTRA16 monitor's settings and
// records, with its own way of talking. It answers the handshake 0x88 and the
// upload command 0xAA with 0x6C at 4800 baud, acknowledges uploaded bytes
// with 0x6C, and serves the settings (0x54) and the records (0xEE) only at
// 115200 baud. What it serves and how it takes a plan are the VESTRA16
// model's; link.cpp gives it its dialect.
#pragma once

#include "vestra16/model.h"
#include "vestra16c/wire.h"

namespace bplink::sim::vestra16c {

class Monitor : public vestra16::Monitor {
 public:
  Monitor();
};

}  // namespace bplink::sim::vestra16c
