// Downloads from the simulated monitor: every device type in the data modes
// it offers, every record format, and what lands in which set.

#include "hid_bench.h"

namespace bplink::testing {
namespace {

sim::HidPlan SomePlan() {
  sim::HidPlan plan;
  plan.patient1 = "ANNA EXAMPLE";
  plan.night_interval = 45;
  return plan;
}

// Three stores, one per record format, of different sizes.
void FillStores(sim::HidMonitor& monitor) {
  auto& stores = monitor.Config().stores;
  // Format 1 offsets carry over midnight, the month and the year.
  stores[0] = {1, {2024, 12, 31, 23, 10, 0}, Readings(9, {2024, 12, 31, 23, 10, 0}, 1)};
  stores[1] = {2, {}, Readings(5, {2025, 12, 31, 23, 40, 0}, 2)};
  stores[2] = {3, {}, Readings(4, {2024, 2, 29, 10, 0, 0}, 3)};
  monitor.Config().spo2 = {2, {}, {{{2025, 1, 1, 8, 0, 0}, 97, 61}, {{2025, 1, 1, 8, 0, 30}, 95, 64}}};
}

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
    {"Type4", 0x31, DATAMODE_BP, true, 0, -1, -1},
    {"Type5Store1", 0x41, DATAMODE_ZONE1, false, 0, -1, -1},
    {"Type5Store2", 0x42, DATAMODE_ZONE2, false, -1, 1, -1},
    {"Type5Store3", 0x4E, DATAMODE_ZONE3, false, -1, -1, 2},
    {"Type5AllStores", 0x41, DATAMODE_ZONE_ALL, false, 0, 1, 2},
    {"Type6", 0x21, DATAMODE_BP, true, 0, -1, -1},
};

class DownloadEveryType : public ::testing::TestWithParam<Case> {};

TEST_P(DownloadEveryType, DeliversTheStoresTheModeNames) {
  const Case& c = GetParam();
  HidBench bench(c.identity);
  FillStores(bench.monitor);
  bench.monitor.Config().plan = sim::EncodePlan(SomePlan());

  ASSERT_EQ(bench.protocol.PC_Download(c.mode), 1);
  EXPECT_EQ(bench.state, 3);
  EXPECT_EQ(bench.progress, 100);
  EXPECT_TRUE(bench.monitor.Complaints().empty()) << bench.monitor.Complaints().front();
  EXPECT_EQ(bench.device.Opens(), 1);
  EXPECT_EQ(bench.device.Closes(), 1);
  // Recorders end their session before the link closes.
  EXPECT_EQ(bench.monitor.SessionsEnded(), c.identity <= 0x0E ? 1 : 0);

  const _DOWNLOAD_DATAINFO data = bench.Fetch();
  const auto& stores = bench.monitor.Config().stores;
  const auto expectFrom = [&](const _BP_DATASET& set, int store) {
    if (store < 0) {
      EXPECT_TRUE(set.vecRecords.empty());
      EXPECT_EQ(set.Head, _DATA_HEAD{});
    } else {
      ExpectSet(set, stores[static_cast<std::size_t>(store)]);
    }
  };
  {
    SCOPED_TRACE("set 1");
    expectFrom(data.BPSet, c.set1);
  }
  {
    SCOPED_TRACE("set 2");
    expectFrom(c.identity < 0x10 ? data.BPSet2 : data.ZoneSet2, c.set2);
  }
  {
    SCOPED_TRACE("set 3");
    expectFrom(data.ZoneSet3, c.set3);
  }
  // Only a monitor with SpO2, asked for it, sends its samples.
  const bool spo2 = c.mode == DATAMODE_BP_SPO2;
  EXPECT_EQ(data.SpO2Set.vecRecords.size(), spo2 ? 2u : 0u);
  EXPECT_EQ(bench.monitor.Served(sim::HidExchange::kReadSpO2), spo2 ? 1 : 0);
  if (c.plan) {
    EXPECT_EQ(std::string(data.Info.szPatientInfo1), SomePlan().patient1);
    EXPECT_EQ(data.Info.nPeriod2Interval, SomePlan().night_interval);
  } else {
    EXPECT_EQ(data.Info, _BP_TRANSPORT_INFO{});
  }
}

INSTANTIATE_TEST_SUITE_P(Hid, DownloadEveryType, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HidRecords, EmptyOrUnknownBlocksGiveEmptySets) {
  for (int format : {2, 4}) {
    SCOPED_TRACE(format);
    HidBench bench(0x21);
    // Format 4 is read as no records, whatever the header's count says.
    bench.monitor.Config().stores[0] = {format, {}, {}};
    if (format == 4) bench.monitor.Config().stores[0].readings = Readings(3, {2024, 5, 1, 8, 0, 0});
    ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 1);
    EXPECT_EQ(bench.progress, 100);
    EXPECT_EQ(bench.Fetch().BPSet, _BP_DATASET{});
  }
}

TEST(HidPlanDownload, ZeroOptionBytesFallBackToTheirDefaults) {
  HidBench bench(0x31);
  sim::HidPlan plan = SomePlan();
  plan.option2 = 0;
  plan.option3 = 0;
  bench.monitor.Config().plan = sim::EncodePlan(plan);

  ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 1);
  const _BP_TRANSPORT_INFO info = bench.Fetch().Info;
  EXPECT_EQ(info.nOption2, 255);
  EXPECT_EQ(info.nOption3, _BP_TRANSPORT_INFO{}.nOption3);
}

}  // namespace
}  // namespace bplink::testing
