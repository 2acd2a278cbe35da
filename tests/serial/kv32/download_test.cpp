// Downloads from the simulated monitor: record dating in both units, the
// plan and counts, and the ways a download ends early.

#include <vector>

#include "kv32_bench.h"
#include "real_time.h"

namespace {

using namespace bplink::testing;
using bplink::CalendarTime;
using bplink::sim::Kv32Exchange;
using bplink::sim::Kv32Fault;

// Times that carry over midnight, the leap day, a month's and a year's end.
std::vector<CalendarTime> CarryTimes(bool inSeconds) {
  if (inSeconds) return {{2024, 2, 28, 23, 59, 30}, {2024, 2, 29, 0, 0, 15}, {2024, 3, 1, 0, 0, 5}};
  return {{2023, 12, 31, 23, 59, 30}, {2024, 1, 1, 0, 44, 30}, {2024, 2, 15, 12, 15, 30}};
}

TEST(Kv32Download, DatesRecordsInTheUnitOfTheMode) {
  for (enum_DataMode mode : {DATAMODE_BP, DATAMODE_BP_SPO2}) {
    SCOPED_TRACE(mode);
    Kv32Bench bench;
    const auto times = CarryTimes(mode == DATAMODE_BP_SPO2);
    auto& config = bench.monitor.Config();
    config.plan.start = times.front();
    config.plan.patient1 = "Ada";
    for (std::size_t i = 0; i < times.size(); ++i)
      config.readings.push_back(ReadingAt(times[i], 250 + static_cast<int>(i) * 10));
    config.readings[1].status = 3;
    config.readings[2].status = 7;
    config.readings[2].flags = 0xA5;

    ASSERT_EQ(bench.protocol.PC_Download(mode), 1);
    EXPECT_EQ(bench.state, bplink::kStateSucceeded);
    EXPECT_FALSE(bench.device.IsOpen());
    const auto data = bench.Fetch();
    ASSERT_EQ(data.BPSet.vecRecords.size(), times.size());
    for (std::size_t i = 0; i < times.size(); ++i) {
      EXPECT_EQ(RecordTime(data.BPSet.vecRecords[i]), times[i]) << i;
      EXPECT_EQ(data.BPSet.vecRecords[i].nSys, 250 + static_cast<int>(i) * 10);
    }
    EXPECT_EQ(data.BPSet.vecRecords[1].bValid, 1);
    EXPECT_EQ(data.BPSet.vecRecords[2].bValid, 0);
    EXPECT_EQ(data.BPSet.vecRecords[2].byFlagsLow, 0xA5);
    EXPECT_EQ(data.BPSet.Head.nCount, 3);
    EXPECT_EQ(data.BPSet.Head.nDay, times.front().day);
    EXPECT_STREQ(data.Info.szPatientInfo1, "Ada");
    EXPECT_EQ(bench.progress, 66);
  }
}

TEST(Kv32Download, PlanFieldsComeOnlyInMode1AndSpO2IsCountedNotFetched) {
  for (enum_DataMode mode : {DATAMODE_BP, DATAMODE_BP_SPO2}) {
    Kv32Bench bench;
    auto& plan = bench.monitor.Config().plan;
    plan.day_hour = 6, plan.night_interval = 15, plan.extra_start_hour = 12, plan.option1 = 2;
    bench.monitor.Config().spo2_samples = 0x012345;
    ASSERT_EQ(bench.protocol.PC_Download(mode), 1);
    const auto data = bench.Fetch();
    const _BP_TRANSPORT_INFO defaults;
    const bool mode1 = mode == DATAMODE_BP;
    EXPECT_EQ(data.Info.nPeriod1Hour, mode1 ? 6 : defaults.nPeriod1Hour);
    EXPECT_EQ(data.Info.nPeriod2Interval, mode1 ? 15 : defaults.nPeriod2Interval);
    EXPECT_EQ(data.Info.nExtraStartHour, mode1 ? 12 : defaults.nExtraStartHour);
    EXPECT_EQ(data.Info.nOption1, mode1 ? 2 : defaults.nOption1);
    // An empty store: nothing asked for, and the SpO2 count without samples.
    EXPECT_EQ(bench.monitor.RecordRequests(), 0);
    EXPECT_TRUE(data.BPSet.vecRecords.empty());
    EXPECT_EQ(data.SpO2Set.Head.nCount, 0x012345);
    EXPECT_TRUE(data.SpO2Set.vecRecords.empty());
    EXPECT_EQ(bench.monitor.SpO2Requests(), 0);
  }
}

TEST(Kv32Download, TenFailedRecordRequestsEndIt) {
  for (int announced : {10, 11}) {
    Kv32Bench bench;
    for (int i = 0; i < announced; ++i) bench.monitor.Config().readings.push_back(ReadingAt({2024, 1, 1, 8, i, 0}));
    bench.monitor.SetFault(Kv32Exchange::kRecord, Kv32Fault::kWrongEcho);
    EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP), announced == 10 ? 1 : 5);
    EXPECT_EQ(bench.monitor.RecordRequests(), 10);
    EXPECT_TRUE(bench.Fetch().BPSet.vecRecords.empty());
  }
}

TEST(Kv32Download, SilenceMidDownloadKeepsWhatCame) {
  Kv32Bench bench;
  for (int i = 0; i < 20; ++i) bench.monitor.Config().readings.push_back(ReadingAt({2024, 1, 1, 8, i, 0}));
  bench.monitor.SilenceAfterRecords(4);
  EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 5);
  EXPECT_EQ(bench.state, bplink::kStateFailed);
  EXPECT_FALSE(bench.device.IsOpen());
  EXPECT_EQ(bench.monitor.RecordRequests(), 14);
  const auto data = bench.Fetch();
  EXPECT_EQ(data.BPSet.vecRecords.size(), 4u);
  EXPECT_EQ(data.BPSet.Head.nCount, 20);
}

TEST(Kv32Download, StopRequestEndsWithWhatCame) {
  Kv32Bench bench;
  for (int i = 0; i < 8; ++i) bench.monitor.Config().readings.push_back(ReadingAt({2024, 1, 1, 8, i, 0}));
  int records = 0;
  bench.device.SetTap([&](bool fromHost, const BYTE*, DWORD size) {
    if (!fromHost && size == 13 && ++records == 3) bench.state = bplink::kStateStopRequested;
  });
  EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(bench.state, bplink::kStateSucceeded);
  EXPECT_EQ(bench.monitor.RecordRequests(), 3);
  EXPECT_EQ(bench.Fetch().BPSet.Head.nCount, 3);
}

TEST(Kv32Download, UnansweredOrMisheardGreetingFindsNoMonitorAndKeepsEarlierData) {
  Kv32Bench bench;
  bench.monitor.Config().readings.push_back(ReadingAt({2024, 1, 1, 8, 0, 0}));
  ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 1);
  for (Kv32Fault fault : {Kv32Fault::kNoEcho, Kv32Fault::kWrongEcho}) {
    bench.monitor.SetFault(Kv32Exchange::kGreeting, fault);
    EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 2);
    EXPECT_EQ(bench.state, bplink::kStateFailed);
    EXPECT_FALSE(bench.device.IsOpen());
    EXPECT_EQ(bench.Fetch().BPSet.vecRecords.size(), 1u);
  }
}

TEST(Kv32Download, UnansweredPlanRequestReadsNoRecords) {
  for (Kv32Fault fault : {Kv32Fault::kNoEcho, Kv32Fault::kWrongEcho}) {
    Kv32Bench bench;
    bench.monitor.Config().readings.push_back(ReadingAt({2024, 1, 1, 8, 0, 0}));
    bench.monitor.SetFault(Kv32Exchange::kPlanRequest, fault);
    EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP_SPO2), 5);
    EXPECT_EQ(bench.monitor.RecordRequests(), 0);
    EXPECT_FALSE(bench.device.IsOpen());
  }
}

// The monitor hears each phase only at its own speed; moving either speed
// away from what the host uses fails the phase.
TEST(Kv32Download, EachPhaseNeedsItsSpeed) {
  Kv32Bench greeting, download;
  greeting.monitor.Config().greeting_baud = 9600;
  EXPECT_EQ(greeting.protocol.PC_Download(DATAMODE_BP), 2);
  download.monitor.Config().download_baud = 9600;
  EXPECT_EQ(download.protocol.PC_Download(DATAMODE_BP), 5);
}

// The sample routine no operation calls: one echoed 0xDB per announced
// sample, nothing read after the echo.
class WithSpO2Routine : public CProtocolCOMKV32 {
 public:
  using CProtocolCOMKV32::DownloadSpO2Data;
};

TEST(Kv32Download, SpO2RoutineCountsEchoesAndGivesUpAfterTen) {
  Kv32BenchOf<WithSpO2Routine> bench;
  bench.monitor.Config().spo2_samples = 12;
  ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP_SPO2), 1);
  ASSERT_EQ(bench.device.Open(L"/dev/ttyS1", bplink::testing::Line(115200)), 1);
  EXPECT_EQ(bench.protocol.DownloadSpO2Data(), 1);
  EXPECT_EQ(bench.stage, TRANSPORT_SPO2);
  EXPECT_EQ(bench.progress, 45);  // samples fill half the range
  EXPECT_EQ(bench.Fetch().SpO2Set.vecRecords.size(), 12u);
  bench.monitor.SetFault(Kv32Exchange::kSpO2, Kv32Fault::kNoEcho);
  EXPECT_EQ(bench.protocol.DownloadSpO2Data(), 0);
  EXPECT_EQ(bench.monitor.SpO2Requests(), 12 + 10);
}

TEST(Kv32Download, NamesItselfAndOffersModes1And2) {
  CProtocolCOMKV32 protocol;
  tag_SUPPORT_PROTOCOL info;
  protocol.GetCurDeviceInfo(info);
  EXPECT_EQ(info, (tag_SUPPORT_PROTOCOL{3, 7, 255, 255, 0}));
  int modes[kDataModeCount] = {7, 0, 0, 7, 7, 7, 7, 7, 7};
  EXPECT_EQ(protocol.GetDownLoadDataMode(modes), 1);
  EXPECT_EQ(std::vector<int>(modes, modes + kDataModeCount), (std::vector<int>{7, 1, 1, 7, 7, 7, 7, 7, 7}));
}

}  // namespace
