// VESTRA16 download against the simulated monitor: what reaches the plan and
// the records, the wire, the failure limit per download, silence and stop.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include "bench.h"

namespace bplink::testing::vestra16 {
namespace {

class Vestra16Download : public Bench {
 protected:
  Vestra16Download() {
    device.AttachPort(ComPortPath(L"ttyS1"), &monitor);
    monitor.settings().start = CarryStart();
    Bind(protocol);
  }

  sim::vestra16::Monitor monitor;
  CProtocolCOMVESTRA16 protocol;
};

TEST_F(Vestra16Download, SettingsAndRecordsDatedFromTheStartWithCarry) {
  auto& s = monitor.settings();
  const auto name = Text("DOE JOHN", 30), id = Text("ID-0042", 11);
  std::copy(name.begin(), name.end(), s.patient1.begin());
  std::copy(id.begin(), id.end(), s.patient2.begin());
  s.option1 = 2;
  s.period1_hour = 6, s.period1_minute = 30, s.period1_interval = 20;
  s.extra = {12, 0, 15, 13, 30};
  monitor.measurements() = CarryMeasurements();

  ASSERT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(state, kStateSucceeded);
  EXPECT_EQ(stage, TRANSPORT_BP);
  EXPECT_EQ(progress, 66);  // trunc(2 * 100 / 3): the last record is never counted
  EXPECT_FALSE(device.IsOpen());

  const _DOWNLOAD_DATAINFO data = Fetch(protocol);
  _BP_TRANSPORT_INFO plan;  // the defaults, and what the block carries
  std::copy(name.begin(), name.end(), plan.szPatientInfo1);
  std::copy(id.begin(), id.end(), plan.szPatientInfo2);
  plan.nYear = 2026, plan.nMonth = 1, plan.nDay = 31, plan.nHour = 23, plan.nMinute = 50;
  plan.nOption1 = 2;
  plan.nPeriod1Hour = 6, plan.nPeriod1Minute = 30, plan.nPeriod1Interval = 20;
  plan.nExtraStartHour = 12, plan.nExtraStartMinute = 0, plan.nExtraInterval = 15;
  plan.nExtraEndHour = 13, plan.nExtraEndMinute = 30;
  EXPECT_EQ(data.Info, plan);

  ASSERT_EQ(data.BPSet.vecRecords.size(), 3u);
  _BP_RECORD first;
  first.nYear = 2026, first.wMonth = 1, first.wDay = 31, first.wHour = 23, first.wMinute = 50;
  first.nSys = 131, first.wPress2 = 82, first.wPulseRate = 64, first.wPress3 = 99;
  EXPECT_EQ(data.BPSet.vecRecords[0], first);

  const _BP_RECORD& second = data.BPSet.vecRecords[1];
  EXPECT_EQ(When(second), (std::vector<int>{2026, 2, 1, 0, 5}));
  EXPECT_EQ(second.nSys, 300);  // two bytes, high first
  EXPECT_EQ(second.bValid, 1);  // status 3
  EXPECT_EQ(second.byFlagsLow, 0xA5);
  EXPECT_EQ(second.nAux3, 7);

  const _BP_RECORD& third = data.BPSet.vecRecords[2];
  EXPECT_EQ(third.nMinuteOffset, 65536);
  EXPECT_EQ(When(third), (std::vector<int>{2026, 3, 18, 12, 6}));
  EXPECT_EQ(third.bValid, 0);

  EXPECT_EQ(data.BPSet.Head, (_DATA_HEAD{3, 2026, 1, 31, 23, 50, 0, 0}));
}

TEST_F(Vestra16Download, WireIsOneCommandByteAtATimeAt4800) {
  Store(monitor, 2);
  ASSERT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  // The search's 0x88, the settings read, the records.
  EXPECT_EQ(writes, (std::vector<Write>{{{0x88}, 4800}, {{0x88}, 4800}, {{0xEE}, 4800}, {{0xEE}, 4800}}));
  // One pause per command and one before the records; only the search's
  // drain waits out a time-out.
  EXPECT_EQ(env.ElapsedMs(), 5 * 100 + kTimeoutMs);
}

TEST_F(Vestra16Download, NothingStoredAndMissingSettingsEcho) {
  ASSERT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(state, kStateSucceeded);
  EXPECT_EQ(writes.size(), 2u);  // no record asked for
  EXPECT_EQ(Fetch(protocol).BPSet, _BP_DATASET{});

  monitor.faults().unanswered_settings_reads = {3};  // the second download's own read
  EXPECT_EQ(protocol.PC_Download(DATAMODE_BP), 5);
  EXPECT_EQ(state, kStateFailed);
  EXPECT_FALSE(device.IsOpen());
}

TEST_F(Vestra16Download, FailedRecordsAreSkippedUntilTheFifth) {
  Store(monitor, 10);
  monitor.faults().unanswered_record_requests = {{4, 2}};
  ASSERT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(Fetch(protocol).BPSet.Head.nCount, 8);  // the monitor never got to its last two
  EXPECT_EQ(progress, 90);
  EXPECT_EQ(monitor.record_requests(), 10);

  // Five failures end the download before another record is asked for.
  monitor.faults().unanswered_record_requests = {{3, 5}};
  EXPECT_EQ(protocol.PC_Download(DATAMODE_BP), 7);
  EXPECT_EQ(state, kStateFailed);
  EXPECT_EQ(monitor.record_requests(), 10 + 8);
  const _BP_DATASET set = Fetch(protocol).BPSet;
  EXPECT_EQ(set.vecRecords.size(), 3u);  // what came stays
  EXPECT_EQ(set.Head.nCount, 10);        // as announced
}

TEST_F(Vestra16Download, SilenceMidRecordKeepsThePreviousRecordsBytes) {
  Store(monitor, 8);
  monitor.measurements()[2] = {60, 0x1FF, 1, 2, 3, 1, 0x33, 9};
  monitor.faults().silent_after_records = 2;
  monitor.faults().bytes_before_silence = 3;  // minute offset high byte and systolic
  EXPECT_EQ(protocol.PC_Download(DATAMODE_BP), 7);
  const auto records = Fetch(protocol).BPSet.vecRecords;
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[2].nSys, 0x1FF);
  EXPECT_EQ(records[2].nMinuteOffset, records[1].nMinuteOffset);
  EXPECT_EQ(records[2].wStatus, records[1].wStatus);
}

TEST_F(Vestra16Download, StopRequestEndsWithWhatCame) {
  Store(monitor, 6);
  onWrite = [this](const Write& w) {
    if (w.bytes[0] == 0xEE && monitor.record_requests() == 2) state = kStateStopRequested;
  };
  EXPECT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(state, kStateSucceeded);
  EXPECT_EQ(Fetch(protocol).BPSet.Head.nCount, 3);
}

TEST_F(Vestra16Download, GarbageStartTimeAndOffsetsDoNotCrash) {
  monitor.settings().start = {0xFFFF, 0xFF, 0xFF, 0xFF, 0xFF};
  monitor.measurements() = {{0xFFFFFF, 0xFFFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
  EXPECT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(Fetch(protocol).BPSet.vecRecords.at(0).nMinuteOffset, 0xFFFFFF);
}

}  // namespace
}  // namespace bplink::testing::vestra16
