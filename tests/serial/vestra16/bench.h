// What the VESTRA16 and VESTRA16C tests share: a virtual-clock machine with
// two serial ports, the in-process link, the host's progress variables, and
// a record of what crossed the wire.
#pragma once

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "in_process_device.h"
#include "vestra16/model.h"
#include "virtual_env.h"

namespace bplink::testing::vestra16 {

using Bytes = std::vector<BYTE>;

// One write by the host: the bytes and the line speed they went at.
struct Write {
  Bytes bytes;
  unsigned baud;
  friend bool operator==(const Write&, const Write&) = default;
};

inline std::vector<std::uint8_t> Text(const char* s, std::size_t n) {
  std::vector<std::uint8_t> out(n, 0);
  for (std::size_t i = 0; i < n && s[i] != 0; ++i) out[i] = static_cast<std::uint8_t>(s[i]);
  return out;
}

inline _DOWNLOAD_DATAINFO Fetch(CProtocolBase& protocol) {
  _DOWNLOAD_DATAINFO data;
  protocol.GetDownLoadData(&data);
  return data;
}

// `count` measurements, 15 minutes apart.
inline void Store(sim::vestra16::Monitor& monitor, int count) {
  for (int i = 0; i < count; ++i)
    monitor.measurements().push_back({static_cast<std::uint32_t>(15 * i), 110, 70, 60, 85, 0, 0, 0});
}

class Bench : public ::testing::Test {
 protected:
  static constexpr unsigned kTimeoutMs = 100;

  Bench() {
    env.SetPortNames({L"ttyS0", L"ttyS1"});
    env.SetOpenablePaths({ComPortPath(L"ttyS0"), ComPortPath(L"ttyS1")});
    device.SetRecvTimeout(kTimeoutMs);
    device.SetTap([this](bool fromHost, const BYTE* data, DWORD size) {
      if (!fromHost) return;
      writes.push_back(Write{Bytes(data, data + size), device.LineSpeed()});
      if (onWrite) onWrite(writes.back());
    });
  }

  void Bind(CProtocolBase& protocol) {
    protocol.SetDevice(&device, false);
    protocol.SetProgressInfo(&progress, &state, &stage);
  }

  VirtualEnv env;
  ScopedEnv scope{&env};
  bplink::sim::InProcessDevice device;
  std::vector<Write> writes;
  std::function<void(const Write&)> onWrite;
  int progress = -1;
  int state = 0;
  enum_TransportType stage = TRANSPORT_BP_MODE0;
};

inline std::vector<int> When(const _BP_RECORD& r) { return {r.nYear, r.wMonth, r.wDay, r.wHour, r.wMinute}; }

// Measurements whose offsets carry over a day, a month end and 2^16 minutes,
// for a recording that starts on 31 January 2026 at 23:50.
inline sim::vestra16::Clock CarryStart() { return {2026, 1, 31, 23, 50}; }

inline std::vector<sim::vestra16::Measurement> CarryMeasurements() {
  std::vector<sim::vestra16::Measurement> m(3);
  m[0] = {0, 131, 82, 64, 99, 0, 0x00, 0};
  m[1] = {15, 300, 90, 71, 120, 3, 0xA5, 7};   // past midnight into February
  m[2] = {1u << 16, 118, 75, 59, 90, 1, 0x0F, 200};  // 45 days, 12 hours, 16 minutes on
  return m;
}

}  // namespace bplink::testing::vestra16
