// A host and a CProtocol_NEW on a virtual clock, talking to the simulated HID
// monitor (HidBench) or to a device that plays a script (ScriptedBench).
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

// The host's side: its three progress variables and the protocol object.
struct Host {
  VirtualEnv env;
  ScopedEnv scope{&env};
  CProtocol_NEW protocol;
  int progress = -1;
  int state = 0;
  enum_TransportType stage = TRANSPORT_BP_MODE0;

  explicit Host(CDevice* device) {
    protocol.SetDevice(device, false);
    protocol.SetProgressInfo(&progress, &state, &stage);
  }
  _DOWNLOAD_DATAINFO Fetch() {
    _DOWNLOAD_DATAINFO data;
    EXPECT_EQ(protocol.GetDownLoadData(&data), 1);
    return data;
  }
};

struct HidBench : Host {
  sim::HidMonitor monitor;
  sim::InProcessDevice device{&monitor};

  explicit HidBench(std::uint8_t identity = 0x11, std::uint8_t version = 1) : Host(&device) {
    monitor.Config().identity = identity;
    monitor.Config().version = version;
  }
  // The monitor understood every frame it was sent.
  void ExpectUnderstood() const {
    for (const auto& complaint : monitor.Complaints()) ADD_FAILURE() << complaint;
  }
};

struct ScriptedBench : Host {
  ScriptedDevice dev;

  ScriptedBench() : Host(&dev) {}
  // Device information and handshake of a device that offers nothing extra.
  ScriptedDevice& Identify(BYTE identity, BYTE version = 1, BYTE flags = 0) {
    dev.ExpectSend({0x40, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC}).Reply({0x41, 0x00, identity, version, flags, 0, 0});
    return dev.ExpectSend({0x42, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC}).Reply(Bytes(22, 0x48));
  }
  // A frame the device accepts with 0x4A, its code, 0x01.
  ScriptedDevice& Accept(const Bytes& frame) { return dev.ExpectSend(frame).Reply({0x4A, frame[0], 0x01, 0x00}); }
  void ExpectScriptPlayed() const {
    for (const auto& problem : dev.Problems()) ADD_FAILURE() << problem;
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

// `count` readings a quarter of an hour apart from `first`, with values that
// differ from reading to reading (systolic above 255 for some seeds).
inline std::vector<sim::HidReading> Readings(int count, const CalendarTime& first, int seed = 0) {
  std::vector<sim::HidReading> readings;
  for (int i = 0; i < count; ++i)
    readings.push_back({sim::FromMinuteNumber(sim::MinuteNumber(first) + 15 * i), 100 + (seed * 37 + i * 11) % 150,
                        60 + (seed + i * 7) % 40, 80 + (seed + i * 5) % 30, 55 + (seed * 3 + i) % 50, i % 4,
                        (i * 29 + seed) & 0xFF, i + 1, 200 - i});
  return readings;
}

// The set a host must find for a store the monitor sent: every reading in
// order, and the start the device gives (the header's for format 1, the
// first record's otherwise).
inline _BP_DATASET Expected(const sim::HidRecordStore& sent) {
  _BP_DATASET set;
  for (const sim::HidReading& r : sent.readings) {
    _BP_RECORD e;
    e.nYear = r.time.year, e.wMonth = r.time.month, e.wDay = r.time.day, e.wHour = r.time.hour;
    e.wMinute = r.time.minute, e.nSys = r.sys, e.wPress2 = r.press2, e.wPress3 = r.press3, e.wPulseRate = r.pulse;
    e.wStatus = r.status, e.bValid = r.status == 0 || r.status == 3, e.byFlagsLow = r.flags & 0x0F;
    e.wFlagsHigh = r.flags >> 4;
    if (sent.format == 3) e.wAux1 = r.aux1, e.wAux2 = r.aux2;
    set.vecRecords.push_back(e);
  }
  const CalendarTime start = sent.format == 1         ? sent.start
                             : sent.readings.empty() ? CalendarTime{}
                                                     : sent.readings[0].time;
  set.Head = {static_cast<int>(sent.readings.size()), start.year, start.month, start.day, start.hour,
              start.minute, start.second, 0};
  return set;
}

}  // namespace bplink::testing
