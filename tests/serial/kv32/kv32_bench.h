// A host, a CProtocolCOMKV32 and a simulated KV32 monitor on a virtual clock:
// the monitor sits on the second of two ports, the first has nothing on it.
#pragma once

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <vector>

#include "in_process_device.h"
#include "kv32/model.h"
#include "virtual_env.h"

namespace bplink::testing {

struct Kv32Bench {
  VirtualEnv env;
  ScopedEnv scope{&env};
  sim::kv32::Monitor monitor;
  sim::InProcessDevice device;
  CProtocolCOMKV32 protocol;
  int progress = -1;
  int state = 0;
  enum_TransportType stage = TRANSPORT_BP_MODE0;

  Kv32Bench() {
    env.SetPortNames({L"ttyS0", L"ttyS1"});
    env.SetOpenablePaths({L"/dev/ttyS0", L"/dev/ttyS1"});
    device.AttachPort(L"/dev/ttyS0", nullptr);
    device.AttachPort(L"/dev/ttyS1", &monitor);
    protocol.SetDevice(&device, false);
    protocol.SetProgressInfo(&progress, &state, &stage);
  }

  _DOWNLOAD_DATAINFO Fetch() {
    _DOWNLOAD_DATAINFO data;
    EXPECT_EQ(protocol.GetDownLoadData(&data), 1);
    return data;
  }
};

using Bytes = std::vector<BYTE>;

inline CalendarTime RecordTime(const _BP_RECORD& r) {
  return {r.nYear, r.wMonth, r.wDay, r.wHour, r.wMinute, r.wSecond};
}

inline CalendarTime PlanStart(const _BP_TRANSPORT_INFO& p) {
  return {p.nYear, p.nMonth, p.nDay, p.nHour, p.nMinute, p.nSecond};
}

inline sim::kv32::Reading ReadingAt(const CalendarTime& t, int sys = 120) {
  sim::kv32::Reading r;
  r.time = t;
  r.sys = sys;
  return r;
}

}  // namespace bplink::testing
