// A simulated monitor behind a real pseudo-terminal, found by the port
// search as the machine's only serial port and reached through CDevice_COM.
#pragma once

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <string>

#include "pty_bridge.h"
#include "real_time.h"
#include "virtual_env.h"

namespace bplink::testing::vestra16 {

class OverPty {
 public:
  explicit OverPty(sim::DeviceModel& model) : bridge(model) {
    started = bridge.Start();
    const std::wstring path(bridge.Path().begin(), bridge.Path().end());
    env.SetPortNames({path});
    env.SetOpenablePaths({path});
    port.SetRecvTimeout(kShortTimeoutMs);
  }

  void Bind(CProtocolBase& protocol) {
    protocol.SetDevice(&port, false);
    protocol.SetProgressInfo(&progress, &state, &stage);
  }

  sim::PtyBridge bridge;
  bool started = false;
  // Pauses are virtual; the line and its time-outs are real.
  VirtualEnv env;
  ScopedEnv scope{&env};
  CDevice_COM port;
  int progress = 0;
  int state = 0;
  enum_TransportType stage = TRANSPORT_BP_MODE0;
};

}  // namespace bplink::testing::vestra16
