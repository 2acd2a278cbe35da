// VESTRA16 download against the simulated monitor: what reaches the plan and
// the records, the wire, the failure limit per download, silence and stop.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <cstring>

#include "bench.h"
#include "vestra16c/monitor.h"

namespace bplink::testing::vestra16 {
namespace {

using sim::vestra16::Measurement;
using sim::vestra16::Monitor;

class Vestra16Download : public Bench {
 protected:
  Vestra16Download() {
    device.AttachPort(ComPortPath(L"ttyS1"), &monitor);
    monitor.settings().start = CarryStart();
    Bind(protocol);
  }

  void Store(int count) {
    for (int i = 0; i < count; ++i)
      monitor.measurements().push_back(Measurement{static_cast<std::uint32_t>(30 * i),
                                                   static_cast<std::uint16_t>(100 + i), 70, 60, 85, 0, 0, 0});
  }

  const std::vector<_BP_RECORD>& Records() {
    protocol.GetDownLoadData(&data);
    return data.BPSet.vecRecords;
  }

  Monitor monitor;
  CProtocolCOMVESTRA16 protocol;
  _DOWNLOAD_DATAINFO data;
};

TEST_F(Vestra16Download, SettingsAndRecordsDatedFromTheStartWithCarry) {
  auto& s = monitor.settings();
  const auto name = Text("DOE JOHN", 30), id = Text("ID-0042", 11);
  std::copy(name.begin(), name.end(), s.patient1.begin());
  std::copy(id.begin(), id.end(), s.patient2.begin());
  s.option1 = 2;
  s.option2 = 0x01;
  s.period1_hour = 6, s.period1_minute = 30, s.period1_interval = 20;
  s.period2_hour = 21, s.period2_minute = 45, s.period2_interval = 60;
  s.extra = {12, 0, 15, 13, 30};
  monitor.measurements() = CarryMeasurements();

  ASSERT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(state, kStateSucceeded);
  EXPECT_EQ(stage, TRANSPORT_BP);
  EXPECT_EQ(progress, 66);  // trunc(2 * 100 / 3): the last record is never counted

  ASSERT_EQ(Records().size(), 3u);
  const _BP_TRANSPORT_INFO& plan = data.Info;
  EXPECT_STREQ(plan.szPatientInfo1, "DOE JOHN");
  EXPECT_STREQ(plan.szPatientInfo2, "ID-0042");
  EXPECT_EQ((std::vector<int>{plan.nYear, plan.nMonth, plan.nDay, plan.nHour, plan.nMinute, plan.nSecond}),
            (std::vector<int>{2026, 1, 31, 23, 50, 0}));
  EXPECT_EQ(plan.nOption1, 2);
  EXPECT_EQ(plan.nOption2, 1);
  EXPECT_EQ((std::vector<int>{plan.nPeriod1Hour, plan.nPeriod1Minute, plan.nPeriod1Interval,
                              plan.nPeriod2Hour, plan.nPeriod2Minute, plan.nPeriod2Interval}),
            (std::vector<int>{6, 30, 20, 21, 45, 60}));
  EXPECT_EQ((std::vector<int>{plan.nExtraStartHour, plan.nExtraStartMinute, plan.nExtraInterval,
                              plan.nExtraEndHour, plan.nExtraEndMinute}),
            (std::vector<int>{12, 0, 15, 13, 30}));
  EXPECT_EQ(plan.nOption3, 297);  // not in the block: left at its default

  _BP_RECORD first;
  first.nYear = 2026, first.wMonth = 1, first.wDay = 31, first.wHour = 23, first.wMinute = 50;
  first.nSys = 131, first.wPress2 = 82, first.wPulseRate = 64, first.wPress3 = 99;
  EXPECT_EQ(data.BPSet.vecRecords[0], first);

  const _BP_RECORD& second = data.BPSet.vecRecords[1];
  EXPECT_EQ((std::vector<int>{second.nYear, second.wMonth, second.wDay, second.wHour, second.wMinute}),
            (std::vector<int>{2026, 2, 1, 0, 5}));
  EXPECT_EQ(second.nSys, 300);  // two bytes, high first
  EXPECT_EQ(second.wStatus, 3);
  EXPECT_EQ(second.bValid, 1);
  EXPECT_EQ(second.byFlagsLow, 0xA5);
  EXPECT_EQ(second.wFlagsHigh, 0);
  EXPECT_EQ(second.nAux3, 7);

  const _BP_RECORD& third = data.BPSet.vecRecords[2];
  EXPECT_EQ(third.nMinuteOffset, 65536);
  EXPECT_EQ((std::vector<int>{third.nYear, third.wMonth, third.wDay, third.wHour, third.wMinute}),
            (std::vector<int>{2026, 3, 18, 12, 6}));
  EXPECT_EQ(third.bValid, 0);
  EXPECT_EQ(third.nAux3, 200);

  // The header: what was held, from the first record.
  EXPECT_EQ(data.BPSet.Head, (_DATA_HEAD{3, 2026, 1, 31, 23, 50, 0, 0}));
  EXPECT_FALSE(device.IsOpen());
}

TEST_F(Vestra16Download, WireIsOneCommandByteAtATimeAt4800) {
  Store(2);
  ASSERT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  // The search's 0x88, the settings read, the records.
  EXPECT_EQ(Commands(), (Bytes{0x88, 0x88, 0xEE, 0xEE}));
  for (const Write& w : writes) {
    EXPECT_EQ(w.bytes.size(), 1u);
    EXPECT_EQ(w.baud, 4800u);
  }
  // One pause per command and one before the records; the search's drain
  // and nothing else waits out a time-out.
  EXPECT_EQ(env.ElapsedMs(), 5 * 100 + kTimeoutMs);
}

TEST_F(Vestra16Download, NothingStoredGivesAnEmptySetAndZeroHeader) {
  ASSERT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(state, kStateSucceeded);
  EXPECT_EQ(Commands(), (Bytes{0x88, 0x88}));
  EXPECT_TRUE(Records().empty());
  EXPECT_EQ(data.BPSet.Head, _DATA_HEAD{});
}

TEST_F(Vestra16Download, FailedRecordsAreSkippedUntilTheFifth) {
  Store(10);
  monitor.faults().unanswered_record_requests = {{4, 2}};
  ASSERT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(Records().size(), 8u);  // the monitor never got to its last two
  EXPECT_EQ(data.BPSet.Head.nCount, 8);
  EXPECT_EQ(progress, 90);
  EXPECT_EQ(monitor.record_requests(), 10);

  // Five failures end the download before another record is asked for.
  monitor.faults().unanswered_record_requests = {{3, 5}};
  state = 0;
  EXPECT_EQ(protocol.PC_Download(DATAMODE_BP), 7);
  EXPECT_EQ(state, kStateFailed);
  EXPECT_EQ(monitor.record_requests(), 10 + 8);
  EXPECT_EQ(Records().size(), 3u);  // what came stays
  EXPECT_EQ(data.BPSet.Head.nCount, 10);  // as announced
  EXPECT_FALSE(device.IsOpen());
}

TEST_F(Vestra16Download, SilenceMidRecordKeepsThePreviousRecordsBytes) {
  Store(8);
  monitor.measurements()[2] = {60, 0x1FF, 1, 2, 3, 1, 0x33, 9};
  monitor.faults().silent_after_records = 2;
  monitor.faults().bytes_before_silence = 3;  // minute offset high byte and systolic
  EXPECT_EQ(protocol.PC_Download(DATAMODE_BP), 7);
  ASSERT_EQ(Records().size(), 3u);
  const _BP_RECORD& previous = data.BPSet.vecRecords[1];
  const _BP_RECORD& cut = data.BPSet.vecRecords[2];
  EXPECT_EQ(cut.nSys, 0x1FF);
  EXPECT_EQ(cut.wPress2, previous.wPress2);
  EXPECT_EQ(cut.nMinuteOffset, previous.nMinuteOffset);
  EXPECT_EQ(cut.wStatus, previous.wStatus);
}

TEST_F(Vestra16Download, StopRequestEndsWithWhatCame) {
  Store(6);
  onWrite = [this](const Write& w) {
    if (w.bytes[0] == 0xEE && monitor.record_requests() == 2) state = kStateStopRequested;
  };
  EXPECT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(state, kStateSucceeded);
  EXPECT_EQ(Records().size(), 3u);
  EXPECT_EQ(data.BPSet.Head.nCount, 3);
}

TEST_F(Vestra16Download, MissingSettingsEchoFailsWithFive) {
  Store(2);
  monitor.faults().unanswered_settings_reads = {1};  // the search's read is answered
  EXPECT_EQ(protocol.PC_Download(DATAMODE_BP), 5);
  EXPECT_EQ(state, kStateFailed);
  EXPECT_EQ(Commands(), (Bytes{0x88, 0x88}));
  EXPECT_FALSE(device.IsOpen());
}

TEST_F(Vestra16Download, AVestra16CMonitorIsPassedOverAndTheStoreKept) {
  Store(1);
  ASSERT_EQ(protocol.PC_Download(DATAMODE_BP), 1);

  sim::vestra16c::Monitor younger;
  bplink::sim::InProcessDevice other;
  other.SetRecvTimeout(kTimeoutMs);
  other.AttachPort(ComPortPath(L"ttyS0"), &younger);
  protocol.SetDevice(&other, true);  // the flag does not stop the scan
  EXPECT_EQ(protocol.PC_Download(DATAMODE_BP), 2);
  EXPECT_EQ(state, kStateFailed);
  EXPECT_EQ(other.Opens(), other.Closes());
  EXPECT_EQ(other.TriedPaths(), (std::vector<std::wstring>{ComPortPath(L"ttyS0"), ComPortPath(L"ttyS1")}));
  EXPECT_EQ(Records().size(), 1u);
}

TEST_F(Vestra16Download, GarbageStartTimeAndOffsetsDoNotCrash) {
  monitor.settings().start = {0xFFFF, 0xFF, 0xFF, 0xFF, 0xFF};
  monitor.measurements() = {Measurement{0xFFFFFF, 0xFFFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
  EXPECT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  ASSERT_EQ(Records().size(), 1u);
  EXPECT_EQ(data.BPSet.vecRecords[0].nMinuteOffset, 0xFFFFFF);
}

TEST_F(Vestra16Download, IdentityAndDataModes) {
  tag_SUPPORT_PROTOCOL info;
  protocol.GetCurDeviceInfo(info);
  EXPECT_EQ(info, (tag_SUPPORT_PROTOCOL{4, 8, 255, 255, 0}));
  int modes[kDataModeCount] = {0, 0, 7, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(protocol.GetDownLoadDataMode(modes), 1);
  EXPECT_EQ(modes[1], 1);
  EXPECT_EQ(modes[2], 7);
}

}  // namespace
}  // namespace bplink::testing::vestra16
