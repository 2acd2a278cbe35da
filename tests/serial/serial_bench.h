// What the serial family tests share: a machine on the virtual clock whose
// first port opens but has nothing on it, whose second is listed but cannot
// be opened, and whose third holds the family's simulated device, all behind
// one in-process link that keeps every write of the host with the line
// speed it went at; and the plans, blocks and records the tests state.
#pragma once

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "in_process_device.h"
#include "scripted_device.h"
#include "virtual_env.h"

namespace bplink::testing {

inline constexpr unsigned kTimeoutMs = 250;  // of a receive that gets nothing

struct Write {
  Bytes bytes;
  unsigned baud;
  friend bool operator==(const Write&, const Write&) = default;
};

struct SerialBench {
  static inline const std::wstring kFirstPort = ComPortPath(L"ttyS0");
  static inline const std::wstring kDevicePort = ComPortPath(L"ttyS2");

  // `model` sits on the third port of `line`, the bench's own link when null.
  explicit SerialBench(sim::DeviceModel* model, sim::InProcessDevice* line = nullptr)
      : device(line != nullptr ? *line : own_) {
    env.SetPortNames({L"ttyS0", L"ttyS1", L"ttyS2"});
    env.SetOpenablePaths({kFirstPort, kDevicePort});
    device.AttachPort(kFirstPort, nullptr);
    device.AttachPort(kDevicePort, model);
    device.SetRecvTimeout(kTimeoutMs);
    device.SetTap([this](bool fromHost, const BYTE* data, DWORD size) {
      if (!fromHost) return;
      writes.push_back({Bytes(data, data + size), device.LineSpeed()});
      if (onWrite) onWrite(writes.back());
    });
  }
  void Bind(CProtocolBase& protocol) {
    bound_ = &protocol;
    protocol.SetDevice(&device, false);
    protocol.SetProgressInfo(&progress, &state, &stage);
  }
  // A transfer of the bound protocol object, and what every transfer leaves:
  // the state its result says, and no port open.
  int Download(enum_DataMode mode) { return Ended(bound_->PC_Download(mode)); }
  int Upload(enum_DataMode mode) { return Ended(bound_->PC_Upload(mode)); }
  int Ended(int result) {
    EXPECT_EQ(state, result == 1 ? kStateSucceeded : kStateFailed);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.Opens(), device.Closes());
    return result;
  }
  // State, stage and progress, in that order.
  std::vector<int> Host() const { return {state, stage, progress}; }

  VirtualEnv env;
  ScopedEnv scope{&env};
  sim::InProcessDevice own_;
  CProtocolBase* bound_ = nullptr;
  sim::InProcessDevice& device;
  std::vector<Write> writes;
  std::function<void(const Write&)> onWrite;
  int progress = -1;
  int state = 0;
  enum_TransportType stage = TRANSPORT_BP_MODE0;
};

// A family's simulated device on the bench's third port, and its protocol
// object bound to the bench.
template <typename Model, typename Protocol>
struct FamilyBench : SerialBench {
  FamilyBench() : SerialBench(&model) { Bind(protocol); }
  Model model;
  Protocol protocol;
};

// A protocol object bound to a scripted device behind the machine's only
// port, for the exchanges whose every byte matters.
template <typename Protocol>
struct Scripted {
  explicit Scripted(bool hostOpened = false) : hostOpened_(hostOpened) {
    env.SetPortNames({L"ttyUSB0"});
    env.SetOpenablePaths({ComPortPath(L"ttyUSB0")});
    protocol.SetDevice(&dev, hostOpened);
    protocol.SetProgressInfo(&progress, &state, &stage);
  }
  // A download, and that it went as scripted and closed what it opened.
  int Download(enum_DataMode mode) {
    const int result = protocol.PC_Download(mode);
    EXPECT_TRUE(dev.Problems().empty()) << ::testing::PrintToString(dev.Problems());
    if (!hostOpened_) { EXPECT_EQ(dev.Opens(), dev.Closes()); }
    return result;
  }
  const bool hostOpened_;
  VirtualEnv env;
  ScopedEnv scope{&env};
  ScriptedDevice dev;
  Protocol protocol;
  int progress = 0, state = 0;
  enum_TransportType stage{};
};

inline _DOWNLOAD_DATAINFO Fetch(CProtocolBase& protocol) {
  _DOWNLOAD_DATAINFO data;
  EXPECT_EQ(protocol.GetDownLoadData(&data), 1);
  return data;
}

inline tag_SUPPORT_PROTOCOL Id(CProtocolBase& protocol) {
  tag_SUPPORT_PROTOCOL id;
  protocol.GetCurDeviceInfo(id);
  return id;
}

// The data modes a family offers: 1 where it sets the flag, 7 where it
// leaves the host's entry alone.
inline std::vector<int> OfferedModes(CProtocolBase& protocol) {
  std::vector<int> modes(kDataModeCount, 7);
  EXPECT_EQ(protocol.GetDownLoadDataMode(modes.data()), 1);
  return modes;
}

// The host's writes of a single byte each, as one byte string.
inline Bytes SingleBytes(const std::vector<Write>& writes) {
  Bytes out;
  for (const Write& w : writes)
    if (w.bytes.size() == 1) out.push_back(w.bytes[0]);
  return out;
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The two patient texts as every block carries them: 30 and 11 bytes.
inline Bytes Texts(const std::string& first, const std::string& second) {
  Bytes out(41, 0);
  std::copy(first.begin(), first.end(), out.begin());
  std::copy(second.begin(), second.end(), out.begin() + 30);
  return out;
}

// A plan: the texts, both periods (hour, minute, interval each) and the
// extra window (start hour and minute, interval, end hour and minute).
inline _BP_TRANSPORT_INFO PlanOf(const std::string& first, const std::string& second, std::array<int, 6> p,
                                 std::array<int, 5> w = {-1, -1, 0, -1, -1}) {
  _BP_TRANSPORT_INFO plan;
  std::memcpy(plan.szPatientInfo1, first.data(), first.size());
  std::memcpy(plan.szPatientInfo2, second.data(), second.size());
  plan.nPeriod1Hour = p[0], plan.nPeriod1Minute = p[1], plan.nPeriod1Interval = p[2];
  plan.nPeriod2Hour = p[3], plan.nPeriod2Minute = p[4], plan.nPeriod2Interval = p[5];
  plan.nExtraStartHour = w[0], plan.nExtraStartMinute = w[1], plan.nExtraInterval = w[2];
  plan.nExtraEndHour = w[3], plan.nExtraEndMinute = w[4];
  return plan;
}

// A record as the host should get it; statuses 0 and 3 are usable unless
// the family says otherwise.
inline _BP_RECORD Rec(const CalendarTime& t, int sys, int press2, int press3, int pulse, int status, int valid = -1) {
  return {.nYear = t.year, .wMonth = short(t.month), .wDay = short(t.day), .wHour = short(t.hour),
          .wMinute = short(t.minute), .wSecond = short(t.second), .nSys = sys, .wPress2 = short(press2),
          .wPress3 = short(press3), .wPulseRate = short(pulse), .wStatus = short(status),
          .bValid = valid >= 0 ? valid : status == 0 || status == 3, .strNote = {}};
}

inline _DATA_HEAD HeadOf(const std::vector<_BP_RECORD>& records) {
  const _BP_RECORD& r = records.front();
  return {int(records.size()), r.nYear, r.wMonth, r.wDay, r.wHour, r.wMinute, r.wSecond, 0};
}

}  // namespace bplink::testing
