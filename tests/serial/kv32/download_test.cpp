// Downloads from the simulated monitor: record dating in both units, the
// plan and counts, and the ways a download ends early.

#include <vector>

#include "kv32_bench.h"

namespace {

using namespace bplink::testing;
using bplink::CalendarTime;
using Kv32Exchange = bplink::sim::kv32::Exchange;
using Kv32Fault = bplink::sim::kv32::Fault;

// The first record is the start of the recording; the others carry over
// midnight, the leap day, a month's and a year's end.
TEST(Kv32Download, DatesRecordsInTheUnitOfTheMode) {
  for (enum_DataMode mode : {DATAMODE_BP, DATAMODE_BP_SPO2}) {
    SCOPED_TRACE(mode);
    Kv32Bench bench;
    const std::vector<CalendarTime> times =
        mode == DATAMODE_BP_SPO2
            ? std::vector<CalendarTime>{{2024, 2, 28, 23, 59, 30}, {2024, 2, 29, 0, 0, 15}, {2024, 3, 1, 0, 0, 5}}
            : std::vector<CalendarTime>{{2023, 12, 31, 23, 59, 30}, {2024, 1, 1, 0, 44, 30}, {2024, 2, 15, 12, 15, 30}};
    auto& config = bench.monitor.Config();
    config.plan.start = times.front();
    for (const CalendarTime& t : times) config.readings.push_back(ReadingAt(t));
    config.readings[2].status = 7;

    ASSERT_EQ(bench.protocol.PC_Download(mode), 1);
    EXPECT_EQ(bench.state, bplink::kStateSucceeded);
    EXPECT_FALSE(bench.device.IsOpen());
    const auto data = bench.Fetch();
    ASSERT_EQ(data.BPSet.vecRecords.size(), times.size());
    for (std::size_t i = 0; i < times.size(); ++i) EXPECT_EQ(RecordTime(data.BPSet.vecRecords[i]), times[i]);
    EXPECT_EQ(data.BPSet.vecRecords[2].bValid, 0);
    EXPECT_EQ(data.BPSet.Head.nDay, times.front().day);
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
    EXPECT_EQ(data.SpO2Set.Head.nCount, 0x012345);
    EXPECT_TRUE(data.SpO2Set.vecRecords.empty());
    EXPECT_EQ(bench.monitor.SpO2Requests(), 0);
  }
}

void Store(Kv32Bench& bench, int records) {
  for (int i = 0; i < records; ++i) bench.monitor.Config().readings.push_back(ReadingAt({2024, 1, 1, 8, i, 0}));
}

TEST(Kv32Download, TenFailedRecordRequestsEndIt) {
  for (int announced : {10, 11}) {
    Kv32Bench bench;
    Store(bench, announced);
    bench.monitor.SetFault(Kv32Exchange::kRecord, Kv32Fault::kWrongEcho);
    EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP), announced == 10 ? 1 : 5);
    EXPECT_EQ(bench.monitor.RecordRequests(), 10);
    EXPECT_TRUE(bench.Fetch().BPSet.vecRecords.empty());
  }
  Kv32Bench silenced;  // falls silent mid-download: what came stays
  Store(silenced, 20);
  silenced.monitor.SilenceAfterRecords(4);
  EXPECT_EQ(silenced.protocol.PC_Download(DATAMODE_BP), 5);
  EXPECT_EQ(silenced.state, bplink::kStateFailed);
  EXPECT_FALSE(silenced.device.IsOpen());
  EXPECT_EQ(silenced.monitor.RecordRequests(), 4 + 10);
  const auto data = silenced.Fetch();
  EXPECT_EQ(data.BPSet.vecRecords.size(), 4u);
  EXPECT_EQ(data.BPSet.Head.nCount, 20);
}

TEST(Kv32Download, StopRequestEndsWithWhatCame) {
  Kv32Bench bench;
  Store(bench, 8);
  int records = 0;
  bench.device.SetTap([&](bool fromHost, const BYTE*, DWORD size) {
    if (!fromHost && size == 13 && ++records == 3) bench.state = bplink::kStateStopRequested;
  });
  EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(bench.state, bplink::kStateSucceeded);
  EXPECT_EQ(bench.monitor.RecordRequests(), 3);
  EXPECT_EQ(bench.Fetch().BPSet.Head.nCount, 3);
}

// A greeting not echoed finds no monitor and keeps the earlier download; a
// plan request not echoed reads no records.
TEST(Kv32Download, MissingOrWrongEchoes) {
  for (Kv32Fault fault : {Kv32Fault::kNoEcho, Kv32Fault::kWrongEcho}) {
    Kv32Bench bench;
    Store(bench, 1);
    ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 1);
    bench.monitor.SetFault(Kv32Exchange::kGreeting, fault, 1);
    EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 2);
    EXPECT_EQ(bench.Fetch().BPSet.vecRecords.size(), 1u);
    bench.monitor.SetFault(Kv32Exchange::kPlanRequest, fault);
    EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP_SPO2), 5);
    EXPECT_EQ(bench.state, bplink::kStateFailed);
    EXPECT_EQ(bench.monitor.RecordRequests(), 1);
    EXPECT_FALSE(bench.device.IsOpen());
  }
}

}  // namespace
