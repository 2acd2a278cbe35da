// The VESTRA18 monitor: which stores each data mode reads, the record frame
// field by field, and what a faulty monitor leaves behind. It takes no plan.

#include <stdexcept>

#include "serial_bench.h"
#include "vestra18/model.h"

namespace bplink::testing {
namespace {

// A quarter of an hour apart from 2024-03-15 08:30, a day later per store;
// store 2's systolic values pass 255; the statuses mix usable and unusable.
std::vector<sim::vestra18::Reading> Readings(int store, int count) {
  constexpr int kStatuses[] = {1, 0, 3, 2};
  std::vector<sim::vestra18::Reading> readings;
  for (int i = 0; i < count; ++i)
    readings.push_back({AddMinutes({2024, 3, 15, 8, 30, 0}, store * 24 * 60 + i * 15), 100 + 60 * store + 7 * i,
                        60 + i, 70 + i, 80 + i, kStatuses[i % 4]});
  return readings;
}

// This family flags unusable measurements with status 0 or 3.
_BP_DATASET Expected(const std::vector<sim::vestra18::Reading>& readings) {
  std::vector<_BP_RECORD> records;
  for (const auto& r : readings)
    records.push_back(Rec(r.time, r.sys, r.press2, r.press3, r.pulse, r.status, r.status == 0 || r.status == 3 ? 0 : 1));
  return records.empty() ? _BP_DATASET{} : _BP_DATASET{HeadOf(records), records};
}

// The three sets a download hands out; the plan is left alone.
std::vector<_BP_DATASET> Zones(CProtocolBase& protocol) {
  _DOWNLOAD_DATAINFO info;
  info.Info.nPatientInfo5 = 77;
  EXPECT_EQ(protocol.GetDownLoadData(&info), 1);
  EXPECT_EQ(info.Info.nPatientInfo5, 77);
  EXPECT_EQ(info.BPSet, info.ZoneSet1);
  return {info.ZoneSet1, info.ZoneSet2, info.ZoneSet3};
}

// The monitor with 4, 6 and 8 readings in its stores on the bench's third
// port, behind the link that lets it resume after a pause.
class Vestra18 : public ::testing::Test {
 protected:
  Vestra18() {
    for (int s = 0; s < 3; ++s) monitor_.Config().stores[s] = Readings(s, 4 + 2 * s);
    bench_.Bind(protocol_);
  }
  std::vector<_BP_DATASET> Stored(std::vector<int> stores) {
    std::vector<_BP_DATASET> sets(3);
    for (int s : stores) sets[s] = Expected(monitor_.Config().stores[s]);
    return sets;
  }
  sim::vestra18::Monitor monitor_;
  sim::vestra18::Line line_{SerialBench::kDevicePort, monitor_};
  SerialBench bench_{&monitor_, &line_};
  CProtocolCOMVESTRA18 protocol_;
};

TEST_F(Vestra18, EveryModeAsksForItsStoresAt9600) {
  struct Case {
    enum_DataMode mode;
    BYTE request;
    std::vector<int> stores;
    enum_TransportType stage;
    unsigned records;  // in those stores
  };
  const Case cases[] = {{DATAMODE_ZONE1, 0x11, {0}, TRANSPORT_BP_ZONE1, 4},
                        {DATAMODE_ZONE2, 0x12, {1}, TRANSPORT_BP_ZONE2, 6},
                        {DATAMODE_ZONE3, 0x13, {2}, TRANSPORT_BP_ZONE3, 8},
                        {DATAMODE_ZONE_ALL, 0x14, {0, 1, 2}, TRANSPORT_BP_ZONE1, 4 + 6 + 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    bench_.writes.clear();
    const auto start = bench_.env.ElapsedMs();
    EXPECT_EQ(bench_.Download(c.mode), 1);
    EXPECT_EQ(bench_.Host(), (std::vector<int>{kStateSucceeded, c.stage, 100}));
    EXPECT_EQ(Zones(protocol_), Stored(c.stores));
    // Two probes (one into the silent port) and a pause before every record.
    EXPECT_EQ(std::tuple(bench_.writes, bench_.env.ElapsedMs() - start),
              std::tuple(std::vector<Write>(2, {{c.request}, 9600}), 2 * 100 + kTimeoutMs + 100u * c.records));
  }
  EXPECT_EQ(OfferedModes(protocol_), (std::vector<int>{7, 7, 7, 7, 1, 1, 1, 7, 7}));
  EXPECT_EQ(Id(protocol_), (tag_SUPPORT_PROTOCOL{5, 10, 255, 255, 0}));
}

TEST_F(Vestra18, FailuresBeforeTheFirstRecordKeepEarlierData) {
  ASSERT_EQ(bench_.Download(DATAMODE_ZONE1), 1);
  EXPECT_EQ(bench_.Download(DATAMODE_BP_SET2), 6);
  EXPECT_EQ(bench_.Download(DATAMODE_RESERVED), 6);
  EXPECT_EQ(bench_.writes.size(), 2u) << "nothing asked in another family's mode";
  monitor_.SetSilence(sim::vestra18::Silence::kNoEcho);
  EXPECT_EQ(bench_.Download(DATAMODE_ZONE2), 2);
  EXPECT_EQ(Zones(protocol_), Stored({0}));

  // An exception in the search is a failed exchange in this family; an
  // upload is nothing it takes, and it is not even begun.
  struct : sim::InProcessDevice {
    int SendData(BYTE*, DWORD) override { throw std::runtime_error("port gone"); }
  } throwing;
  throwing.AttachPort(SerialBench::kFirstPort, &monitor_);
  protocol_.SetDevice(&throwing, false);
  EXPECT_EQ(bench_.Download(DATAMODE_ZONE1), 5);
  EXPECT_FALSE(throwing.IsOpen());
  bench_.progress = 40, bench_.state = 0;
  EXPECT_EQ(protocol_.PC_Upload(DATAMODE_ZONE1), 6);
  EXPECT_EQ((std::vector<int>{bench_.progress, bench_.state}), (std::vector<int>{40, 0}));
}

TEST_F(Vestra18, TenMissingFramesFailTheSectionButLaterOnesAreRead) {
  monitor_.Config().stores[1] = Readings(1, 15);
  monitor_.AddGap({1, 5, 10});  // the section's last ten frames never come
  EXPECT_EQ(bench_.Download(DATAMODE_ZONE_ALL), 5);
  // A failed download keeps the announced counts and dates nothing.
  const auto zones = Zones(protocol_);
  EXPECT_EQ(zones[1], (_BP_DATASET{{15}, Expected(Readings(1, 5)).vecRecords}));
  EXPECT_EQ(zones[2].vecRecords, Stored({2})[2].vecRecords);

  // Nine missing frames in the middle are survived: the set holds what came.
  sim::vestra18::Monitor nine;
  nine.Config().stores[1] = Readings(1, 12);
  nine.AddGap({1, 2, 9});
  sim::vestra18::Line line(SerialBench::kDevicePort, nine);
  protocol_.SetDevice(&line, false);
  EXPECT_EQ(bench_.Download(DATAMODE_ZONE2), 1);
  auto stored = Readings(1, 12);
  stored.erase(stored.begin() + 2, stored.begin() + 11);
  EXPECT_EQ(Zones(protocol_)[1], Expected(stored));
}

TEST_F(Vestra18, SetNumberZeroIsDroppedAndAboveThreeEndsTheDownload) {
  monitor_.Config().section_numbers = {1, 0, 3};
  EXPECT_EQ(bench_.Download(DATAMODE_ZONE_ALL), 1);
  EXPECT_EQ(Zones(protocol_), Stored({0, 2}));
  monitor_.Config().section_numbers = {1, 4, 3};
  EXPECT_EQ(bench_.Download(DATAMODE_ZONE_ALL), 10);
  const auto zones = Zones(protocol_);
  EXPECT_EQ(zones[0].vecRecords, Stored({0})[0].vecRecords);
  EXPECT_EQ(zones[2], _BP_DATASET{});
}

TEST_F(Vestra18, AStopEndsWithWhatCameAndSilenceAfterTheEchoGivesEmptySets) {
  // Stopped once the third record is in (echo, header, three frames), the
  // rest of the section is not read as the next one.
  constexpr DWORD kUpToThirdRecord = 1 + 2 + 3 * 12;
  DWORD received = 0;
  line_.SetTap([&](bool fromHost, const BYTE*, DWORD size) {
    if (!fromHost && (received += size) == kUpToThirdRecord) bench_.state = kStateStopRequested;
  });
  EXPECT_EQ(bench_.Download(DATAMODE_ZONE_ALL), 1);
  EXPECT_EQ(std::tuple(received, Zones(protocol_)),
            std::tuple(kUpToThirdRecord, std::vector<_BP_DATASET>{Expected(Readings(0, 3)), {}, {}}));

  monitor_.SetSilence(sim::vestra18::Silence::kAfterEcho);
  const auto start = bench_.env.ElapsedMs();
  EXPECT_EQ(bench_.Download(DATAMODE_ZONE_ALL), 1);
  // Each of the three section headers costs two time-outs.
  EXPECT_EQ(std::tuple(Zones(protocol_), bench_.env.ElapsedMs() - start),
            std::tuple(std::vector<_BP_DATASET>(3), 2 * 100 + kTimeoutMs + 6 * kTimeoutMs));
}

// The frame byte by byte, on a link the host opened itself.
TEST(Vestra18Frame, DecodesEveryFieldAndTheInvertedValidity) {
  Scripted<CProtocolCOMVESTRA18> s(true);
  s.dev.ExpectSend({0x13}).Reply({0x13}).Reply({0x03, 0x02});
  s.dev.Reply({0x01, 0x2C, 0x50, 0x48, 0x64, 24, 3, 15, 8, 30, 0x03, 0xFF});
  s.dev.Reply({0x00, 0x78, 0x46, 0x3C, 0x55, 25, 12, 31, 23, 59, 0x01, 0x00});
  EXPECT_EQ(s.Download(DATAMODE_ZONE3), 1);
  EXPECT_TRUE(s.dev.OpenedPaths().empty());
  const std::vector<_BP_RECORD> records{Rec({2024, 3, 15, 8, 30, 0}, 300, 0x50, 0x64, 0x48, 3, 0),
                                        Rec({2025, 12, 31, 23, 59, 0}, 0x78, 0x46, 0x55, 0x3C, 1, 1)};
  EXPECT_EQ(Zones(s.protocol)[2], (_BP_DATASET{HeadOf(records), records}));
}

}  // namespace
}  // namespace bplink::testing
