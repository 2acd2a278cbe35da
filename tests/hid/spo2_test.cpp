// SpO2 samples: both formats, where each sample lies in time, and samples
// that are lost or damaged on the way.

#include "hid_bench.h"

namespace bplink::testing {
namespace {

using sim::HidExchange;
using sim::HidFault;

// `count` samples `step` seconds apart from `first`.
std::vector<sim::HidSpO2Sample> Samples(int count, const CalendarTime& first, int step) {
  std::vector<sim::HidSpO2Sample> samples;
  for (int i = 0; i < count; ++i)
    samples.push_back({AddSeconds(first, std::int64_t{i} * step), 90 + i % 10, 50 + i * 3 % 120});
  return samples;
}

// A type 3 monitor (identity 0x13) in data mode 2 up to its SpO2 header:
// an empty plan and no blood-pressure records.
void ScriptUpToSpO2(ScriptedDevice& dev, const Bytes& spo2Header) {
  dev.ExpectSend({0x40, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC}).Reply({0x41, 0x00, 0x13, 0x01, 0x00, 0, 0});
  dev.ExpectSend({0x42, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC}).Reply(Bytes(22, 0x48));
  dev.ExpectSend({0x43, 0x13, 0x01, 0x02, 0x01, 0x00}).Reply({0x4A, 0x43, 0x01, 0x00});
  dev.Reply(DataFrame(0x44, 0x13, Bytes(70, 0x01)));
  dev.ExpectSend({0x43, 0x13, 0x01, 0x02, 0x02, 0x00}).Reply({0x4A, 0x43, 0x01, 0x00});
  dev.Reply(DataFrame(0x46, 0x13, Bytes(10, 0x00)));
  dev.ExpectSend({0x43, 0x13, 0x01, 0x02, 0x03, 0x00}).Reply({0x4A, 0x43, 0x01, 0x00});
  dev.Reply(DataFrame(0x47, 0x13, spo2Header));
}

CalendarTime HeadTime(const _DATA_HEAD& h) { return {h.nYear, h.nMonth, h.nDay, h.nHour, h.nMinute, h.nSecond}; }

// Every sample that came, in order, at the second the monitor took it.
void ExpectSamples(const _SPO2_DATASET& got, const std::vector<sim::HidSpO2Sample>& sent) {
  ASSERT_EQ(got.vecRecords.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got.vecRecords[i].bySpO2, sent[i].spo2);
    EXPECT_EQ(got.vecRecords[i].byPulseRate, sent[i].pulse);
    EXPECT_EQ(AddSeconds(HeadTime(got.Head), got.vecRecords[i].nTimeOffset), sent[i].time);
  }
}

TEST(HidSpO2, BothFormatsPlaceEverySampleInTime) {
  for (int format : {1, 2}) {
    SCOPED_TRACE(format);
    HidBench bench(0x1E);
    // Over the end of a leap February, a sample every 7 s for about 10 hours.
    const CalendarTime start{2024, 2, 29, 19, 0, 13};
    auto& spo2 = bench.monitor.Config().spo2;
    spo2 = {format, start, Samples(5000, AddSeconds(start, 9), 7)};

    ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP_SPO2), 1);
    const _SPO2_DATASET set = bench.Fetch().SpO2Set;
    EXPECT_EQ(set.Head.nCount, 5000);
    // Format 1 counts from the start the header gives, format 2 from the first sample.
    EXPECT_EQ(HeadTime(set.Head), format == 1 ? start : spo2.samples.front().time);
    EXPECT_EQ(set.vecRecords[1].nTimeOffset, format == 1 ? 16 : 7);
    ExpectSamples(set, spo2.samples);
    EXPECT_EQ(bench.progress, 100);
    EXPECT_TRUE(bench.monitor.Complaints().empty());
  }
}

TEST(HidSpO2, LostAndDamagedSamplesAreDroppedAndTheRestRead) {
  struct Case {
    int format;
    std::vector<sim::HidRecordFault> faults;
    int result;
    std::vector<std::size_t> kept;
  };
  const Case cases[] = {
      {2, {{sim::kHidSpO2Store, 0, false}}, 10, {1, 2, 3, 4, 5}},  // the second sample starts the set
      {1, {{sim::kHidSpO2Store, 2, false}, {sim::kHidSpO2Store, 4, false}}, 10, {0, 1, 3, 5}},
      // A lost frame shows as the last read timing out; the damaged one came before.
      {2, {{sim::kHidSpO2Store, 0, true}, {sim::kHidSpO2Store, 3, false}}, 5, {1, 2, 4, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "format " << c.format << ", result " << c.result);
    HidBench bench(0x11);
    const auto samples = Samples(6, {2025, 6, 1, 12, 0, 0}, 4);
    bench.monitor.Config().spo2 = {c.format, {2025, 6, 1, 11, 59, 0}, samples};
    for (const auto& f : c.faults) bench.monitor.AddRecordFault(f);

    EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP_SPO2), c.result);
    EXPECT_EQ(bench.state, 2);
    std::vector<sim::HidSpO2Sample> expected;
    for (std::size_t i : c.kept) expected.push_back(samples[i]);
    ExpectSamples(bench.Fetch().SpO2Set, expected);
  }
}

TEST(HidSpO2, HeadersThatAnnounceNothingUsable) {
  const std::pair<HidExchange, HidFault> faults[] = {{HidExchange::kSpO2Header, HidFault::kDamaged},
                                                     {HidExchange::kSpO2Header, HidFault::kWrongFirstByte},
                                                     {HidExchange::kReadSpO2, HidFault::kWrongStatus}};
  for (const auto& [where, fault] : faults) {
    HidBench bench(0x11);
    bench.monitor.Config().spo2.samples = Samples(3, {2025, 1, 1, 0, 0, 0}, 1);
    bench.monitor.SetFault(where, fault);
    EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP_SPO2), where == HidExchange::kReadSpO2 ? 7 : 5);
    EXPECT_TRUE(bench.Fetch().SpO2Set.vecRecords.empty());
  }
  HidBench unknownFormat(0x11);
  unknownFormat.monitor.Config().spo2 = {3, {}, Samples(3, {2025, 1, 1, 0, 0, 0}, 1)};
  EXPECT_EQ(unknownFormat.protocol.PC_Download(DATAMODE_BP_SPO2), 5);

  HidBench empty(0x11);
  ASSERT_EQ(empty.protocol.PC_Download(DATAMODE_BP_SPO2), 1);
  EXPECT_EQ(empty.Fetch().SpO2Set, _SPO2_DATASET{});
}

TEST(HidSpO2, ADeviceThatFallsSilentIsNotWaitedForSampleBySample) {
  ScriptedBench bench;
  ScriptedDevice& dev = bench.dev;
  // Announces 16 million samples in format 1, sends two, then nothing.
  ScriptUpToSpO2(dev, {0xFF, 0xFF, 0xFF, 0x01, 0x07, 0xE9, 1, 2, 3, 4, 5, 0});
  dev.Reply(Packed({98, 60, 0x01, 0x00, 0x00, 0, 0})).Silence();
  dev.Reply(Packed({97, 61, 0x01, 0x00, 0x3C, 0, 0}));
  for (int i = 0; i < 5; ++i) dev.Silence();

  EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP_SPO2), 5);
  bench.ExpectScriptPlayed();
  _DOWNLOAD_DATAINFO data;
  bench.protocol.GetDownLoadData(&data);
  EXPECT_EQ(data.SpO2Set.Head, (_DATA_HEAD{0xFFFFFF, 2025, 1, 2, 3, 4, 5, 0}));
  EXPECT_EQ(data.SpO2Set.vecRecords, (std::vector<_SPO2_RECORD>{{98, 60, 65536}, {97, 61, 65596}}));
}

}  // namespace
}  // namespace bplink::testing
