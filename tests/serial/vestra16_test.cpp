// The VESTRA16 monitor, and what it shares with the VESTRA16C monitor: the
// settings block, records dated from the recording start, the upload block
// with its clock and period code. The shared suite runs for both families;
// the tests after it are this family's own: failed records skipped up to
// the fifth, and record bytes that never came keeping the last record's.

#include "vestra16_suite.h"

namespace bplink::testing {
namespace {

TEST_P(Vestra16Suite, DownloadDecodesTheSettingsAndDatesTheRecordsFromTheStart) {
  auto& s = monitor_->settings();
  std::memcpy(s.patient1.data(), "DOE JOHN", 8);
  std::memcpy(s.patient2.data(), "ID-0042", 7);
  s.start = {2026, 1, 31, 23, 50};
  s.next = {2030, 7, 7, 7, 7};  // not the plan's
  s.option1 = 2, s.option2 = GetParam().optionOn;
  s.period1_hour = 6, s.period1_minute = 30, s.period1_interval = 20;
  s.period2_hour = 21, s.period2_minute = 45, s.period2_interval = 40;
  s.extra = {12, 0, 15, 13, 30};
  // Offsets that carry over a day, a month end and 2^16 minutes.
  monitor_->measurements() = {{0, 131, 82, 64, 99, 0, 0x00, 0}, {15, 300, 90, 71, 120, 3, 0xA5, 7},
                              {1u << 16, 118, 75, 59, 90, 1, 0x0F, 200}};
  _BP_TRANSPORT_INFO hosts;  // a download starts afresh
  std::strcpy(hosts.szPatientInfo3, "The host's");
  protocol_->SetUpLoadData(hosts);
  ASSERT_EQ(bench_.Download(DATAMODE_BP), 1);
  EXPECT_EQ(bench_.Host(), (std::vector<int>{kStateSucceeded, TRANSPORT_BP, 66}));
  EXPECT_EQ(std::tuple(bench_.writes, bench_.env.ElapsedMs()), std::tuple(GetParam().download, GetParam().downloadMs));

  const _DOWNLOAD_DATAINFO data = Fetch(*protocol_);
  _BP_TRANSPORT_INFO plan = PlanOf("DOE JOHN", "ID-0042", {6, 30, 20, 21, 45, 40}, {12, 0, 15, 13, 30});
  plan.nYear = 2026, plan.nMonth = 1, plan.nDay = 31, plan.nHour = 23, plan.nMinute = 50;
  plan.nOption1 = 2, plan.nOption2 = 1;
  EXPECT_EQ(data.Info, plan);
  std::vector<_BP_RECORD> records{Rec({2026, 1, 31, 23, 50, 0}, 131, 82, 99, 64, 0),
                                  Rec({2026, 2, 1, 0, 5, 0}, 300, 90, 120, 71, 3),
                                  Rec({2026, 3, 18, 12, 6, 0}, 118, 75, 90, 59, 1)};
  records[1].byFlagsLow = 0xA5, records[2].byFlagsLow = 0x0F;
  records[1].nMinuteOffset = 15, records[2].nMinuteOffset = 65536;
  if (GetParam().aux3) records[1].nAux3 = 7, records[2].nAux3 = 200;
  EXPECT_EQ(data.BPSet, (_BP_DATASET{HeadOf(records), records}));

  s.option2 = 0x02;
  ASSERT_EQ(bench_.Download(DATAMODE_BP), 1);
  EXPECT_EQ(Fetch(*protocol_).Info.nOption2, 0);
  EXPECT_EQ(Id(*protocol_), GetParam().id);
  EXPECT_EQ(OfferedModes(*protocol_), (std::vector<int>{7, 1, 7, 7, 7, 7, 7, 7, 7}));
}

TEST_P(Vestra16Suite, NothingStoredAsksForNothingAndAStopKeepsWhatCame) {
  ASSERT_EQ(bench_.Download(DATAMODE_BP), 1);
  EXPECT_EQ(std::tuple(bench_.writes, Fetch(*protocol_).BPSet),
            std::tuple(std::vector<Write>(GetParam().download.begin(), GetParam().download.begin() + 3), _BP_DATASET{}));

  monitor_->measurements().resize(6);
  bench_.onWrite = [this](const Write& w) {
    if (w.bytes[0] == 0xEE && monitor_->record_requests() == 1) bench_.state = kStateStopRequested;
  };
  EXPECT_EQ(bench_.Download(DATAMODE_BP), 1);
  EXPECT_EQ(Fetch(*protocol_).BPSet.Head.nCount, 2);
}

// A night period that wraps past midnight.
const _BP_TRANSPORT_INFO kNightPlan = PlanOf("ROE RICHARD", "P-7", {22, 0, 30, 6, 0, 0}, {10, 15, 5, 11, 45});

TEST_P(Vestra16Suite, UploadSendsTheBlockAByteAtATimeAt4800) {
  _BP_TRANSPORT_INFO plan = kNightPlan;
  plan.nOption1 = 3, plan.nOption2 = 1;
  bench_.env.SetLocalTime({2026, 12, 31, 23, 57, 0});  // five minutes on is next year, in the first period
  protocol_->SetUpLoadData(plan);
  ASSERT_EQ(bench_.Upload(DATAMODE_BP), 1);
  EXPECT_EQ(bench_.Host(), (std::vector<int>{kStateSucceeded, TRANSPORT_PLAN_UPLOAD, 98}));
  EXPECT_EQ(monitor_->confirmed_uploads(), 1);
  EXPECT_EQ(SingleBytes(bench_.writes),
            Join({{0xAA, 0xAA}, Texts("ROE RICHARD", "P-7"), {0x07, 0xEA, 12, 31, 23, 57, 0x07, 0xEB, 1, 1, 0, 2},
                  {0, 0, 3, GetParam().optionSent[1], 22, 0, 30, 6, 0, 0xFF, 10, 15, 5, 11, 45, 0, 1}}));
  EXPECT_EQ(bench_.writes.size(), 2u + 70u);
  for (const Write& w : bench_.writes) EXPECT_EQ(w.baud, 4800u);
}

// The option switch, the extra window (whole or by parts), and the period
// five minutes on: the window decides even when it is not sent.
TEST_P(Vestra16Suite, OptionWindowAndPeriodCode) {
  struct Case {
    std::array<int, 5> window;
    int firstHour, secondHour, option2;  // option 0, 1 or 5
    int hour, minute;
    BYTE code;
    Bytes whole, byParts;  // bytes 63..67
  };
  const Bytes none(5, 0xFF), set = {11, 30, 15, 12, 30}, noInterval = {11, 30, 0xFF, 12, 30};
  const Case cases[] = {{{11, 30, 15, 12, 30}, 22, 6, 1, 3, 0, 1, set, set},  // a first period past midnight
                        {{11, 30, 15, 12, 30}, 22, 6, 1, 22, 0, 1, set, set},
                        {{11, 30, 15, 12, 30}, 22, 6, 1, 6, 1, 2, set, set},
                        {{11, 30, 15, 12, 30}, 22, 6, 1, 11, 29, 2, set, set},
                        {{11, 30, 15, 12, 30}, 22, 6, 1, 12, 0, 3, set, set},
                        {{11, 30, 0, 12, 30}, 22, 6, 0, 12, 30, 3, none, noInterval},
                        {{11, 30, 0, 12, 30}, 22, 6, 5, 12, 31, 2, none, noInterval},
                        {{-1, -1, 0, -1, -1}, 7, 22, 0, 22, 1, 2, none, none},
                        {{-1, -1, 0, -1, -1}, 7, 7, 0, 12, 0, 2, none, none},  // a first period of no length
                        {{-1, 20, 0, 14, 0}, 7, 22, 1, 14, 0, 3, none, {0xFF, 0xFF, 0xFF, 14, 0}},
                        {{13, 20, 20, 0, -1}, 7, 22, 5, 12, 0, 1, none, {13, 20, 20, 0xFF, 0xFF}},
                        {{0, 0, 10, 0, 30}, 7, 22, 1, 0, 30, 3, {0, 0, 10, 0, 30}, {0, 0, 10, 0, 30}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hour * 100 + c.minute);
    _BP_TRANSPORT_INFO plan = PlanOf("", "", {c.firstHour, 0, 30, c.secondHour, 0, 60}, c.window);
    plan.nOption2 = c.option2;
    bench_.env.SetLocalTime(AddMinutes({2026, 6, 1, c.hour, c.minute, 0}, -5));
    protocol_->SetUpLoadData(plan);
    ASSERT_EQ(bench_.Upload(DATAMODE_BP), 1);
    const auto& block = monitor_->last_plan();
    EXPECT_EQ(Bytes(block.begin() + 63, block.begin() + 68), GetParam().windowByParts ? c.byParts : c.whole);
    EXPECT_EQ(block[56], GetParam().optionSent[c.option2 == 0 ? 0 : c.option2 == 1 ? 1 : 2]);
    EXPECT_EQ(block[69], c.code);
  }
}

TEST_P(Vestra16Suite, UnacknowledgedByteEndsTheUploadAndIsNotSentAgain) {
  monitor_->faults().unacknowledged_plan_byte = 10;
  protocol_->SetUpLoadData(kNightPlan);
  EXPECT_EQ(bench_.Upload(DATAMODE_BP), GetParam().unacknowledged);
  // Not sent again; byte 9 was the last acknowledged.
  EXPECT_EQ(std::tuple(bench_.writes.size(), bench_.progress, monitor_->confirmed_uploads()), std::tuple(2u + 11u, 12, 0));
  // Ten receives, each a time-out and a pause.
  EXPECT_EQ(bench_.env.ElapsedMs(), GetParam().uploadSearchMs + 10 * (kTimeoutMs + 100));
}

std::unique_ptr<sim::vestra16::Monitor> Vestra16Monitor() { return std::make_unique<sim::vestra16::Monitor>(); }

// Every command at 4800 baud, each answered after a pause; the search drains
// what follows the echo, which costs a time-out.
INSTANTIATE_TEST_SUITE_P(Vestra16, Vestra16Suite, ::testing::Values(Vestra16Family{
    "vestra16", Vestra16Monitor, {4, 8, 255, 255, 0},
    {{{0x88}, 4800}, {{0x88}, 4800}, {{0x88}, 4800}, {{0xEE}, 4800}, {{0xEE}, 4800}, {{0xEE}, 4800}},
    7 * 100 + 2 * kTimeoutMs, 2 * (100 + kTimeoutMs), 0x01, {0x00, 0x01, 0x05}, false, 5, true}), Vestra16Name);

// The monitor on the bench's third port with `records` measurements.
struct Vestra16Bench : FamilyBench<sim::vestra16::Monitor, CProtocolCOMVESTRA16> {
  explicit Vestra16Bench(int records) {
    for (int i = 0; i < records; ++i) model.measurements().push_back({std::uint32_t(15 * i), 110});
  }
};

TEST(Vestra16, FailedRecordsAreSkippedUntilTheFifthAndCutShortOnesKeepTheLastBytes) {
  Vestra16Bench b(10);
  b.model.faults().unanswered_record_requests = {{4, 2}};
  ASSERT_EQ(b.Download(DATAMODE_BP), 1);
  // The monitor never got to its last two.
  EXPECT_EQ(std::tuple(Fetch(b.protocol).BPSet.Head.nCount, b.progress, b.model.record_requests()), std::tuple(8, 90, 10));

  // Five failures end the download before another record is asked for.
  b.model.faults().unanswered_record_requests = {{3, 5}};
  EXPECT_EQ(b.Download(DATAMODE_BP), 7);
  const _BP_DATASET set = Fetch(b.protocol).BPSet;
  EXPECT_EQ(std::tuple(b.model.record_requests(), set.vecRecords.size(), set.Head.nCount), std::tuple(10 + 8, 3u, 10))
      << "what came stays; the count as announced";

  b.model.faults().unanswered_settings_reads = {5};  // the third download's own read, after the search's
  EXPECT_EQ(b.Download(DATAMODE_BP), 5);

  // The record buffer is cleared once per download: bytes that never come
  // keep the previous record's. Offsets of any size are dated without harm.
  Vestra16Bench cut(8);
  cut.model.measurements()[2] = {60, 0x1FF, 1, 2, 3, 1, 0x33, 9};
  cut.model.faults().silent_after_records = 2;
  cut.model.faults().bytes_before_silence = 3;  // the offset's high byte and the systolic
  EXPECT_EQ(cut.Download(DATAMODE_BP), 7);
  const auto records = Fetch(cut.protocol).BPSet.vecRecords;
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ((std::vector<int>{records[2].nSys, records[2].nMinuteOffset, records[2].wStatus}),
            (std::vector<int>{0x1FF, records[1].nMinuteOffset, records[1].wStatus}));

  Vestra16Bench garbage(0);
  garbage.model.settings().start = {0xFFFF, 0xFF, 0xFF, 0xFF, 0xFF};
  garbage.model.measurements() = {{0xFFFFFF, 0xFFFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
  EXPECT_EQ(garbage.Download(DATAMODE_BP), 1);
  EXPECT_EQ(Fetch(garbage.protocol).BPSet.vecRecords.at(0).nMinuteOffset, 0xFFFFFF);
}

}  // namespace
}  // namespace bplink::testing
