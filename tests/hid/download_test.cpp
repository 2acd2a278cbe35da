// Downloads from the simulated monitor: every device type in the data modes
// it offers, every record format, what lands in which set, SpO2 samples in
// both formats, records and samples lost or damaged on the way, and a host
// that asks a running download to stop, from its own thread.

#include <algorithm>
#include <atomic>
#include <thread>

#include "hid_bench.h"

namespace bplink::testing {
namespace {

struct Case {
  const char* name;
  std::uint8_t identity;
  enum_DataMode mode;
  bool plan;
  int set1, set2, set3;  // the store each set receives, or -1 for none
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// set2 is BPSet2 (type 1) or ZoneSet2 (type 5); set3 is ZoneSet3 (type 5).
const Case kCases[] = {
    {"Recorder", 0x02, DATAMODE_BP, true, 0, 1, -1},
    {"RecorderSecondSetOnly", 0x02, DATAMODE_BP_SET2, false, -1, 1, -1},
    {"RecorderWithOneSet", 0x03, DATAMODE_BP, false, 0, -1, -1},
    {"Type2", 0x5E, DATAMODE_BP, true, 0, -1, -1},
    {"Type3", 0x11, DATAMODE_BP, true, 0, -1, -1},
    {"Type3WithSpO2", 0x1E, DATAMODE_BP_SPO2, true, 0, -1, -1},
    {"Type3SecondSet", 0x11, DATAMODE_BP_SET2, false, 1, -1, -1},  // handed out as BPSet
    {"Type4", 0x31, DATAMODE_BP, true, 0, -1, -1},
    {"Type5Store1", 0x41, DATAMODE_ZONE1, false, 0, -1, -1},
    {"Type5Store2", 0x42, DATAMODE_ZONE2, false, -1, 1, -1},
    {"Type5Store3", 0x4E, DATAMODE_ZONE3, false, -1, -1, 2},
    {"Type5AllStores", 0x41, DATAMODE_ZONE_ALL, false, 0, 1, 2},
};

class DownloadEveryType : public ::testing::TestWithParam<Case> {};

TEST_P(DownloadEveryType, DeliversTheStoresTheModeNames) {
  const Case& c = GetParam();
  HidBench bench(c.identity);
  auto& config = bench.monitor.Config();
  // Three stores, one per record format. Format 1 offsets (from 46 days on, so all three bytes count)
  // carry over midnight, the month and the year.
  config.stores[0] = {1, {2024, 11, 15, 23, 10, 0}, Readings(9, {2024, 12, 31, 23, 35, 0}, 1)};
  config.stores[1] = {2, {}, Readings(5, {2025, 12, 31, 23, 40, 0}, 2)};
  config.stores[2] = {3, {}, Readings(4, {2024, 2, 29, 10, 0, 0}, 3)};
  config.spo2 = {2, {}, {{{2025, 1, 1, 8, 0, 0}, 97, 61}, {{2025, 1, 1, 8, 0, 30}, 95, 64}}};
  sim::HidPlan plan;
  plan.patient1 = "ANNA EXAMPLE";
  plan.option2 = 3;  // read as it is; option 3 sent as 0 keeps the plan's own
  config.plan = sim::EncodePlan(plan);

  ASSERT_EQ(bench.protocol.PC_Download(c.mode), 1);
  EXPECT_EQ(std::tuple(bench.state, bench.progress, bench.device.Opens(), bench.device.Closes()),
            std::tuple(3, 100, 1, 1));
  bench.ExpectUnderstood();
  EXPECT_EQ(bench.monitor.SessionsEnded(), c.identity <= 0x0E ? 1 : 0);  // recorders end their session
  const _DOWNLOAD_DATAINFO data = bench.Fetch();
  const auto from = [&](int store) { return store < 0 ? _BP_DATASET{} : Expected(config.stores[store]); };
  EXPECT_EQ(data.BPSet, from(c.set1));
  EXPECT_EQ(c.identity < 0x10 ? data.BPSet2 : data.ZoneSet2, from(c.set2));
  EXPECT_EQ(data.ZoneSet3, from(c.set3));
  // Only a monitor with SpO2, asked for it, sends its samples.
  const bool spo2 = c.mode == DATAMODE_BP_SPO2;
  EXPECT_EQ(std::tuple(data.SpO2Set.vecRecords.size(), bench.monitor.Served(sim::HidExchange::kReadSpO2)),
            std::tuple(spo2 ? 2u : 0u, spo2 ? 1 : 0));
  EXPECT_EQ(std::tuple(std::string(data.Info.szPatientInfo1), data.Info.nOption2, data.Info.nOption3),
            std::tuple(std::string(c.plan ? "ANNA EXAMPLE" : ""), c.plan ? 3 : 1, 297));
}

INSTANTIATE_TEST_SUITE_P(Hid, DownloadEveryType, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A damaged record is dropped and the block goes on; a missing one ends the
// block with 5. Either way the set keeps what came and the announced count.
// A block of no records, or in a format the host does not know, is empty.
TEST(HidRecords, BlocksThatCarryLess) {
  struct Case {
    BYTE identity;
    int format, count;
    sim::HidRecordFault fault;
    int result;
  };
  // A recorder's second set is not read after its first failed.
  for (const Case& c : {Case{0x51, 3, 6, {0, 2, false}, 1}, Case{0x02, 1, 6, {0, 3, true}, 5},
                        Case{0x21, 1, 0, {0, -1, false}, 1}, Case{0x21, 4, 3, {0, -1, false}, 1}}) {
    SCOPED_TRACE(c.format);
    HidBench bench(c.identity);
    auto& store = bench.monitor.Config().stores[0];
    store = {c.format, {2025, 4, 1, 9, 0, 0}, Readings(c.count, {2025, 4, 1, 9, 0, 0})};
    bench.monitor.AddRecordFault(c.fault);
    EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP), c.result);
    EXPECT_EQ(bench.state, c.result == 1 ? 3 : 2);
    EXPECT_TRUE(c.result != 1 || bench.progress == 100);
    sim::HidRecordStore kept = store;
    if (c.fault.index >= 0) kept.readings.erase(kept.readings.begin() + c.fault.index);
    _BP_DATASET expected = Expected(kept);
    expected.Head.nCount = c.count;
    EXPECT_EQ(bench.Fetch().BPSet, c.format == 4 ? _BP_DATASET{} : expected);
    EXPECT_EQ(bench.monitor.SessionsEnded(), 0);
  }
}

// In mode 7 a failed store does not keep the next ones from being read; a
// stop request during one store skips the stores after it.
TEST(HidRecords, AllStoresInOneCall) {
  const auto header = [](int count, int format) {
    return DataFrame(0x46, 0x41, {0x00, static_cast<BYTE>(count), static_cast<BYTE>(format), 0, 0, 0, 0, 0, 0, 0});
  };
  const Bytes record{0x00, 0x78, 0x50, 0x40, 0x5D, 26, 1, 2, 3, 4, 0x00, 0x00};
  Bytes aux = record;
  aux.insert(aux.end(), {0x11, 0x22, 0, 0, 0, 0, 0, 0});
  for (bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "stop" : "failure");
    ScriptedBench bench;
    bench.Identify(0x41);
    bench.Accept({0x43, 0x41, 0x01, 0x07, 0x02, 0x00}).Reply(header(2, 2)).Reply(Packed(record));
    if (stop) {
      bench.dev.OnRecv([&bench](int reads) {
        if (reads == 4) std::atomic_ref<int>(bench.state).store(kStateStopRequested);  // at the first record
      });
    } else {
      bench.dev.Silence().Reply(header(1, 3)).Reply(Packed(aux)).Reply(header(0, 2));  // store 1 breaks off
    }
    EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_ZONE_ALL), stop ? 1 : 5);
    bench.ExpectScriptPlayed();
    EXPECT_EQ(std::tuple(bench.state, bench.stage), std::tuple(stop ? 3 : 2, TRANSPORT_BP_ZONE1));
    const _DOWNLOAD_DATAINFO data = bench.Fetch();
    EXPECT_EQ(std::tuple(data.ZoneSet1.Head.nCount, data.ZoneSet1.vecRecords.size()), std::tuple(2, 1u));
    ASSERT_EQ(data.ZoneSet2.vecRecords.size(), stop ? 0u : 1u);
    EXPECT_TRUE(stop || (data.ZoneSet2.vecRecords[0].wAux1 == 0x11 && data.ZoneSet2.vecRecords[0].wAux2 == 0x22));
    EXPECT_TRUE(data.ZoneSet3.vecRecords.empty());
  }
}

// Format 1 counts from the start the header gives, format 2 from the first
// sample that came. A lost or damaged sample is dropped and the rest read;
// the result names the last failure. A format the host does not know reads
// nothing.
TEST(HidSpO2, SamplesInBothFormatsLostOrDamaged) {
  struct Case {
    int format, count, step;
    std::vector<sim::HidRecordFault> faults;
    int result;
  };
  const Case cases[] = {
      {1, 5000, 7, {}, 1},  // over the end of a leap February, about 10 hours
      {2, 5000, 7, {}, 1},
      {2, 6, 4, {{sim::kHidSpO2Store, 0, false}}, 10},  // the second sample starts the set
      {1, 6, 4, {{sim::kHidSpO2Store, 2, false}, {sim::kHidSpO2Store, 4, false}}, 10},
      // A lost frame shows as the last read timing out; the damaged one came before.
      {2, 6, 4, {{sim::kHidSpO2Store, 0, true}, {sim::kHidSpO2Store, 3, false}}, 5},
      {3, 6, 4, {}, 5},
      {2, 0, 4, {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "format " << c.format << ", result " << c.result);
    HidBench bench(0x1E);
    const CalendarTime start{2024, 2, 29, 19, 0, 13};
    std::vector<sim::HidSpO2Sample> samples;  // `step` seconds apart from 9 s after the start
    for (int i = 0; i < c.count; ++i)
      samples.push_back({AddSeconds(start, 9 + std::int64_t{i} * c.step), 90 + i % 10, 50 + i * 3 % 120});
    bench.monitor.Config().spo2 = {c.format, start, samples};
    for (const auto& f : c.faults) bench.monitor.AddRecordFault(f);

    EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP_SPO2), c.result);
    EXPECT_EQ(bench.state, c.result == 1 ? 3 : 2);
    EXPECT_TRUE(c.count < 5000 || bench.progress == 100);
    std::vector<sim::HidSpO2Sample> kept;
    for (std::size_t i = 0; i < samples.size() && c.format < 3; ++i)
      if (std::ranges::none_of(c.faults, [&](const auto& f) { return f.index == static_cast<int>(i); }))
        kept.push_back(samples[i]);
    // The announced count, the set's start, and every sample that came, at its second from that start.
    const CalendarTime from = c.format == 1 ? start : kept.empty() ? CalendarTime{} : kept[0].time;
    _SPO2_DATASET expected{{c.count, from.year, from.month, from.day, from.hour, from.minute, from.second, 0}, {}};
    for (const auto& s : kept)
      expected.vecRecords.push_back({static_cast<BYTE>(s.spo2), static_cast<BYTE>(s.pulse),
                                     static_cast<int>(sim::SecondNumber(s.time) - sim::SecondNumber(from))});
    EXPECT_EQ(bench.Fetch().SpO2Set, expected);
    bench.ExpectUnderstood();
  }
}

TEST(HidSpO2, ADeviceThatFallsSilentIsNotWaitedForSampleBySample) {
  ScriptedBench bench;
  bench.Identify(0x13);
  bench.Accept({0x43, 0x13, 0x01, 0x02, 0x01, 0x00}).Reply(DataFrame(0x44, 0x13, Bytes(70, 0x01)));
  bench.Accept({0x43, 0x13, 0x01, 0x02, 0x02, 0x00}).Reply(DataFrame(0x46, 0x13, Bytes(10, 0x00)));
  // Announces 16 million samples in format 1, sends two, then nothing.
  bench.Accept({0x43, 0x13, 0x01, 0x02, 0x03, 0x00})
      .Reply(DataFrame(0x47, 0x13, {0xFF, 0xFF, 0xFF, 0x01, 0x07, 0xE9, 1, 2, 3, 4, 5, 0}));
  bench.dev.Reply(Packed({98, 60, 0x01, 0x00, 0x00, 0, 0})).Silence();
  bench.dev.Reply(Packed({97, 61, 0x01, 0x00, 0x3C, 0, 0}));
  for (int i = 0; i < 5; ++i) bench.dev.Silence();

  EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP_SPO2), 5);
  bench.ExpectScriptPlayed();
  EXPECT_EQ(bench.Fetch().SpO2Set,
            (_SPO2_DATASET{{0xFFFFFF, 2025, 1, 2, 3, 4, 5, 0}, {{98, 60, 65536}, {97, 61, 65596}}}));
}

// The host watches the transfer from its own thread and asks it to stop.
// The link holds the transfer at one record until the request has arrived,
// so it lands at a known record whatever the threads' timing.
TEST(HidStop, AStopFromTheHostThreadKeepsTheRecordsSoFar) {
  HidBench bench(0x51);
  constexpr int kRecords = 3000, kHeldRecord = 1200;
  // Before the records: information, handshake, the plan's ack and frame, the records' ack, the header.
  constexpr int kHeldRead = 6 + kHeldRecord + 1;
  auto& store = bench.monitor.Config().stores[0];
  store = {2, {}, Readings(kRecords, {2025, 1, 1, 0, 0, 0})};
  std::atomic<bool> held{false}, finished{false};  // a transfer that never gets there fails, not hangs
  int reads = 0;
  bench.device.SetTap([&](bool fromHost, const BYTE*, DWORD) {
    if (fromHost || ++reads != kHeldRead) return;
    held = true;
    while (std::atomic_ref<int>(bench.state).load() != kStateStopRequested) std::this_thread::yield();
  });
  int progressSeen = 0;
  enum_TransportType stageSeen = TRANSPORT_BP_MODE0;
  std::thread host([&] {
    while (!held && !finished) std::this_thread::yield();
    if (!held) return;
    progressSeen = std::atomic_ref<int>(bench.progress).load();
    stageSeen = std::atomic_ref<enum_TransportType>(bench.stage).load();
    std::atomic_ref<int>(bench.state).store(kStateStopRequested);
  });
  const int result = bench.protocol.PC_Download(DATAMODE_BP);
  finished = true;
  host.join();

  EXPECT_EQ(std::tuple(progressSeen, stageSeen), std::tuple(kHeldRecord * 100 / kRecords, TRANSPORT_BP));
  EXPECT_EQ(std::tuple(result, bench.state, bench.device.Closes()), std::tuple(1, 3, 1));
  sim::HidRecordStore kept = store;
  kept.readings.resize(kHeldRecord + 1);
  _BP_DATASET expected = Expected(kept);
  expected.Head.nCount = kRecords;
  EXPECT_EQ(bench.Fetch().BPSet, expected);
}

}  // namespace
}  // namespace bplink::testing
