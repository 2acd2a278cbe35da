// A host, a CProtocol_NEW and a simulated HID monitor on a virtual clock.
#pragma once

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <vector>

#include "hid/hid_monitor.h"
#include "hid/minutes.h"
#include "hid/seven_in_eight.h"
#include "in_process_device.h"
#include "scripted_device.h"
#include "virtual_env.h"

namespace bplink::testing {

struct HidBench {
  VirtualEnv env;
  ScopedEnv scope{&env};
  sim::HidMonitor monitor;
  sim::InProcessDevice device{&monitor};
  CProtocol_NEW protocol;
  int progress = -1;
  int state = 0;
  enum_TransportType stage = TRANSPORT_BP_MODE0;

  explicit HidBench(std::uint8_t identity = 0x11) {
    monitor.Config().identity = identity;
    protocol.SetDevice(&device, false);
    protocol.SetProgressInfo(&progress, &state, &stage);
  }

  _DOWNLOAD_DATAINFO Fetch() {
    _DOWNLOAD_DATAINFO data;
    EXPECT_EQ(protocol.GetDownLoadData(&data), 1);
    return data;
  }
};

// Frames as a device sends them, packed by the simulator's own codec.
inline Bytes Packed(const Bytes& plain) { return sim::Pack7in8(plain.data(), plain.size()); }

inline Bytes DataFrame(BYTE code, BYTE identity, const Bytes& plain) {
  Bytes frame{code, identity};
  const Bytes packed = Packed(plain);
  frame.insert(frame.end(), packed.begin(), packed.end());
  return frame;
}

// A host and a CProtocol_NEW talking to a device that plays a script.
struct ScriptedBench {
  VirtualEnv env;
  ScopedEnv scope{&env};
  ScriptedDevice dev;
  CProtocol_NEW protocol;
  int progress = -1;
  int state = 0;
  enum_TransportType stage = TRANSPORT_BP_MODE0;

  ScriptedBench() {
    protocol.SetDevice(&dev, false);
    protocol.SetProgressInfo(&progress, &state, &stage);
  }
  void ExpectScriptPlayed() const {
    for (const auto& problem : dev.Problems()) ADD_FAILURE() << problem;
  }
};

// `count` readings a quarter of an hour apart from `first`, with values that
// differ from reading to reading.
inline std::vector<sim::HidReading> Readings(int count, const CalendarTime& first, int seed = 0) {
  std::vector<sim::HidReading> readings;
  for (int i = 0; i < count; ++i) {
    sim::HidReading r;
    r.time = sim::FromMinuteNumber(sim::MinuteNumber(first) + 15 * i);
    r.sys = 100 + (seed * 37 + i * 11) % 150;  // reaches above 255 for some seeds
    r.press2 = 60 + (seed + i * 7) % 40;
    r.press3 = 80 + (seed + i * 5) % 30;
    r.pulse = 55 + (seed * 3 + i) % 50;
    r.status = i % 4;
    r.flags = (i * 29 + seed) & 0xFF;
    r.aux1 = i + 1;
    r.aux2 = 200 - i;
    readings.push_back(r);
  }
  return readings;
}

// What a host must find for a reading the monitor sent in `format`.
inline void ExpectRecord(const _BP_RECORD& got, const sim::HidReading& sent, int format) {
  EXPECT_EQ(got.nSys, sent.sys);
  EXPECT_EQ(got.wPress2, sent.press2);
  EXPECT_EQ(got.wPress3, sent.press3);
  EXPECT_EQ(got.wPulseRate, sent.pulse);
  EXPECT_EQ((CalendarTime{got.nYear, got.wMonth, got.wDay, got.wHour, got.wMinute, got.wSecond}),
            sent.time);
  EXPECT_EQ(got.wStatus, sent.status);
  EXPECT_EQ(got.bValid, sent.status == 0 || sent.status == 3 ? 1 : 0);
  EXPECT_EQ(got.byFlagsLow, sent.flags & 0x0F);
  EXPECT_EQ(got.wFlagsHigh, sent.flags >> 4);
  EXPECT_EQ(got.wAux1, format == 3 ? sent.aux1 : 0);
  EXPECT_EQ(got.wAux2, format == 3 ? sent.aux2 : 0);
  EXPECT_EQ(got.nReserved, 0);
  EXPECT_EQ(got.nMinuteOffset, 0);
}

inline void ExpectSet(const _BP_DATASET& got, const sim::HidRecordStore& sent) {
  ASSERT_EQ(got.vecRecords.size(), sent.readings.size());
  EXPECT_EQ(got.Head.nCount, static_cast<int>(sent.readings.size()));
  for (std::size_t i = 0; i < sent.readings.size(); ++i) {
    SCOPED_TRACE(i);
    ExpectRecord(got.vecRecords[i], sent.readings[i], sent.format);
  }
  if (sent.readings.empty()) return;
  // The set starts where the device says: the header's start for format 1,
  // the first record's time otherwise.
  const CalendarTime start = sent.format == 1 ? sent.start : sent.readings.front().time;
  EXPECT_EQ((CalendarTime{got.Head.nYear, got.Head.nMonth, got.Head.nDay, got.Head.nHour,
                          got.Head.nMinute, got.Head.nSecond}),
            start);
}

}  // namespace bplink::testing
