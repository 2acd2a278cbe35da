// Downloads from the simulated VESTRA18 monitor on a virtual clock: which
// stores each mode reads, and what a faulty monitor leaves behind.

#include <stdexcept>

#include "scripted_device.h"
#include "vestra18_bench.h"
#include "virtual_env.h"

namespace bplink::testing {
namespace {

using Vestra18Silence = sim::vestra18::Silence;

constexpr unsigned kTimeoutMs = sim::InProcessDevice::kDefaultRecvTimeoutMs;

class Vestra18Download : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.SetPortNames({L"ttyS0", L"ttyS1"});
    env_.SetOpenablePaths({ComPortPath(L"ttyS0"), ComPortPath(L"ttyS1")});
    line_.AttachPort(ComPortPath(L"ttyS0"), nullptr);  // a port with nothing on it
    for (int s = 0; s < 3; ++s) monitor_.Config().stores[s] = Readings(s, 4 + 2 * s);
  }

  VirtualEnv env_;
  ScopedEnv scope_{&env_};
  sim::vestra18::Monitor monitor_;
  sim::vestra18::Line line_{ComPortPath(L"ttyS1"), monitor_};
  Vestra18Host host_{line_, false};
  CProtocolCOMVESTRA18& protocol_ = host_.protocol;
  int& progress_ = host_.progress;
  int& state_ = host_.state;
  enum_TransportType& stage_ = host_.stage;
};

TEST_F(Vestra18Download, EveryModeReadsItsStoresAtItsPace) {
  const enum_TransportType stages[] = {TRANSPORT_BP_ZONE1, TRANSPORT_BP_ZONE2, TRANSPORT_BP_ZONE3,
                                       TRANSPORT_BP_ZONE1};
  int download = 0;
  auto start = env_.ElapsedMs();
  ExpectEveryModeReadsItsStores(protocol_, monitor_.Config(), state_, [&](int records) {
    EXPECT_EQ(stage_, stages[download++]);
    EXPECT_EQ(progress_, 100);
    EXPECT_FALSE(line_.IsOpen());
    EXPECT_EQ(line_.LineSpeed(), 9600u);
    // Two probes (one into the silent port) and a pause before every record.
    EXPECT_EQ(env_.ElapsedMs() - start, 2 * 100 + kTimeoutMs + 100u * records);
    start = env_.ElapsedMs();
  });
  EXPECT_EQ(monitor_.Requests(), (std::vector<std::uint8_t>{0x11, 0x12, 0x13, 0x14}));
}

TEST_F(Vestra18Download, FailuresBeforeTheFirstRecordKeepEarlierData) {
  ASSERT_EQ(protocol_.PC_Download(DATAMODE_ZONE1), 1);
  const auto before = Zones(protocol_);
  EXPECT_EQ(protocol_.PC_Download(DATAMODE_BP_SET2), 6);
  EXPECT_EQ(protocol_.PC_Download(DATAMODE_RESERVED), 6);
  EXPECT_EQ(monitor_.Requests().size(), 1u);
  monitor_.SetSilence(Vestra18Silence::kNoEcho);
  EXPECT_EQ(protocol_.PC_Download(DATAMODE_ZONE2), 2);
  EXPECT_EQ(state_, kStateFailed);
  EXPECT_FALSE(line_.IsOpen());
  EXPECT_EQ(Zones(protocol_), before);

  // An exception in the search is a failed exchange in this family.
  struct : sim::InProcessDevice {
    int SendData(BYTE*, DWORD) override { throw std::runtime_error("port gone"); }
  } throwing;
  throwing.AttachPort(ComPortPath(L"ttyS0"), &monitor_);
  protocol_.SetDevice(&throwing, false);
  EXPECT_EQ(protocol_.PC_Download(DATAMODE_ZONE1), 5);
  EXPECT_EQ(protocol_.PC_Upload(DATAMODE_ZONE1), 6);
}

TEST_F(Vestra18Download, TenMissingFramesFailTheSectionButLaterOnesAreRead) {
  monitor_.Config().stores[1] = Readings(1, 15);
  monitor_.AddGap({1, 5, 10});  // the section's last ten frames never come
  EXPECT_EQ(protocol_.PC_Download(DATAMODE_ZONE_ALL), 5);
  EXPECT_EQ(state_, kStateFailed);
  EXPECT_FALSE(line_.IsOpen());
  // A failed download keeps the announced counts and dates nothing.
  auto zones = Zones(protocol_);
  EXPECT_EQ(zones[1].vecRecords, ExpectedSet(Readings(1, 5)).vecRecords);
  EXPECT_EQ(zones[1].Head, (_DATA_HEAD{15}));
  EXPECT_EQ(zones[2].vecRecords, ExpectedSet(monitor_.Config().stores[2]).vecRecords);

  // Nine missing frames in the middle are survived: the set holds what came.
  sim::vestra18::Monitor nine;
  nine.Config().stores[1] = Readings(1, 12);
  nine.AddGap({1, 2, 9});
  sim::vestra18::Line line(ComPortPath(L"ttyS1"), nine);
  protocol_.SetDevice(&line, false);
  EXPECT_EQ(protocol_.PC_Download(DATAMODE_ZONE2), 1);
  auto stored = Readings(1, 12);
  stored.erase(stored.begin() + 2, stored.begin() + 11);
  EXPECT_EQ(Zones(protocol_)[1], ExpectedSet(stored));
}

TEST_F(Vestra18Download, SectionNumbersZeroDropsAndAboveThreeEnds) {
  monitor_.Config().section_numbers = {1, 0, 3};
  EXPECT_EQ(protocol_.PC_Download(DATAMODE_ZONE_ALL), 1);
  const auto& stores = monitor_.Config().stores;
  EXPECT_EQ(Zones(protocol_), (std::vector<_BP_DATASET>{ExpectedSet(stores[0]), {}, ExpectedSet(stores[2])}));

  monitor_.Config().section_numbers = {1, 4, 3};
  EXPECT_EQ(protocol_.PC_Download(DATAMODE_ZONE_ALL), 10);
  EXPECT_EQ(state_, kStateFailed);
  EXPECT_FALSE(line_.IsOpen());
  EXPECT_EQ(Zones(protocol_)[0].vecRecords, ExpectedSet(stores[0]).vecRecords);
  EXPECT_EQ(Zones(protocol_)[2], _BP_DATASET{});
}

TEST_F(Vestra18Download, SilenceAfterTheEchoGivesEmptySets) {
  ASSERT_EQ(protocol_.PC_Download(DATAMODE_ZONE_ALL), 1);
  monitor_.SetSilence(Vestra18Silence::kAfterEcho);
  const auto start = env_.ElapsedMs();
  EXPECT_EQ(protocol_.PC_Download(DATAMODE_ZONE_ALL), 1);
  EXPECT_EQ(state_, kStateSucceeded);
  EXPECT_EQ(Zones(protocol_), std::vector<_BP_DATASET>(3));
  // Each of the three section headers costs two time-outs.
  EXPECT_EQ(env_.ElapsedMs() - start, 2 * 100 + kTimeoutMs + 6 * kTimeoutMs);
}

TEST_F(Vestra18Download, StopRequestEndsTheDownloadWithSuccess) {
  // Stop once the third record is in (echo, header, three frames); the rest
  // of the section is not read as the next section.
  constexpr DWORD kUpToThirdRecord = 1 + 2 + 3 * 12;
  DWORD received = 0;
  line_.SetTap([&](bool fromHost, const BYTE*, DWORD size) {
    if (!fromHost && (received += size) == kUpToThirdRecord) state_ = kStateStopRequested;
  });
  EXPECT_EQ(protocol_.PC_Download(DATAMODE_ZONE_ALL), 1);
  EXPECT_EQ(received, kUpToThirdRecord);
  EXPECT_EQ(state_, kStateSucceeded);
  auto stored = Readings(0, 3);
  EXPECT_EQ(Zones(protocol_), (std::vector<_BP_DATASET>{ExpectedSet(stored), {}, {}}));
}

// The frame byte by byte, on a link the host opened itself.
TEST(Vestra18Frame, DecodesEveryFieldAndTheInvertedValidity) {
  VirtualEnv env;
  ScopedEnv scope(&env);
  ScriptedDevice link;
  link.ExpectSend({0x13}).Reply({0x13}).Reply({0x03, 0x02});
  link.Reply({0x01, 0x2C, 0x50, 0x48, 0x64, 24, 3, 15, 8, 30, 0x03, 0xFF});
  link.Reply({0x00, 0x78, 0x46, 0x3C, 0x55, 25, 12, 31, 23, 59, 0x01, 0x00});
  Vestra18Host host(link, true);
  CProtocolCOMVESTRA18& protocol = host.protocol;
  tag_SUPPORT_PROTOCOL id;
  protocol.GetCurDeviceInfo(id);
  EXPECT_EQ(id, (tag_SUPPORT_PROTOCOL{5, 10, 255, 255, 0}));

  EXPECT_EQ(protocol.PC_Download(DATAMODE_ZONE3), 1);
  EXPECT_TRUE(link.Problems().empty()) << link.Problems().front();
  EXPECT_TRUE(link.OpenedPaths().empty());
  const _BP_DATASET set = Zones(protocol)[2];
  EXPECT_EQ(set.Head, (_DATA_HEAD{2, 2024, 3, 15, 8, 30, 0, 0}));
  _BP_RECORD first{.nYear = 2024, .wMonth = 3, .wDay = 15, .wHour = 8, .wMinute = 30, .nSys = 300,
                   .wPress2 = 0x50, .wPress3 = 0x64, .wPulseRate = 0x48, .wStatus = 3, .bValid = 0, .strNote = {}};
  EXPECT_EQ(set.vecRecords.at(0), first);
  EXPECT_EQ(set.vecRecords.at(1).nYear, 2025);
  EXPECT_EQ(set.vecRecords.at(1).bValid, 1);

  int modes[9] = {0, 0, 0, 0, 0, 0, 0, 0, 9};
  EXPECT_EQ(protocol.GetDownLoadDataMode(modes), 1);
  EXPECT_EQ(std::vector<int>(modes, modes + 9), (std::vector<int>{0, 0, 0, 0, 1, 1, 1, 0, 9}));
}

}  // namespace
}  // namespace bplink::testing
