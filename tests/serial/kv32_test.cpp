// The KV32 monitor: the greeting at 4800 baud, the download on the same port
// at 115200 with records dated in minutes or seconds, and the plan block of
// each data mode with the code of the period the recording starts in.

#include <algorithm>

#include "kv32/model.h"
#include "serial_bench.h"

namespace bplink::testing {
namespace {

using Kv32Exchange = sim::kv32::Exchange;
using Kv32Fault = sim::kv32::Fault;

// The plan reply after its echo, each byte that means nothing 0x77: the
// texts, the start 2024-02-28 23:59:30, options 4 and 0, periods 06:30/20 and
// 22:15/45, an extra window 12:00 to 13:30 every 15 minutes, two records,
// and 0x012345 SpO2 samples (low byte first).
const Bytes kPlanReply = Join({Texts("Grace Hopper", "ID-1906"), {0x07, 0xE8, 2, 28, 23, 59, 30}, Bytes(7, 0x77), {4, 0},
                               {6, 30, 20, 22, 15, 45, 12, 0, 15, 13, 30}, Bytes(3, 0x77), {0, 2, 0x45, 0x23, 0x01, 0x77}});

// A record after its echo: offset q0 q6 q7, systolic 0x0123, then 80, 70, 93.
Bytes Record(BYTE q0, BYTE q6, BYTE q7, BYTE status, BYTE flags) {
  return {0xEE, q0, 0x01, 0x23, 80, 70, 93, q6, q7, status, flags, 0x77, 0x77, 0x77};
}

TEST(Kv32, DownloadGreetsSlowThenReadsThePlanAndRecordsFastOnTheSamePort) {
  struct Case {
    enum_DataMode mode;
    BYTE greeting, request;
    int reply;                   // 2: whole, 1: the echo alone (nothing to fetch), 0: none
    CalendarTime first, second;  // offsets 45 and 2^16: seconds in mode 2, minutes otherwise
  };
  const Case cases[] = {{DATAMODE_BP_SPO2, 0x52, 0x53, 2, {2024, 2, 29, 0, 0, 15}, {2024, 2, 29, 18, 11, 46}},
                        {DATAMODE_BP, 0x51, 0x54, 2, {2024, 2, 29, 0, 44, 30}, {2024, 4, 14, 12, 15, 30}},
                        {DATAMODE_BP, 0x51, 0x54, 1, {}, {}},
                        {DATAMODE_BP_SET2, 0x51, 0x00, 0, {}, {}}};  // no plan request of its own
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode * 10 + c.reply);
    Scripted<CProtocolCOMKV32> s(true);  // the flag is not read: the port is searched
    s.dev.ExpectSend({c.greeting}).Reply({c.greeting}).ExpectSend({c.request});
    if (c.reply < 2) s.dev.Reply(c.reply == 1 ? Bytes{c.request} : Bytes{}).Silence();
    else s.dev.Reply(Join({{c.request}, kPlanReply})).ExpectSend({0xEE}).Reply(Record(0, 0, 45, 3, 0xA5));
    if (c.reply == 2) s.dev.ExpectSend({0xEE}).Reply(Record(1, 0, 0, 7, 0x0F));
    s.protocol.SetUpLoadData(PlanOf("The host's", "", {1, 2, 3, 4, 5, 6}));  // a download starts afresh
    EXPECT_EQ(s.Download(c.mode), c.reply == 0 ? 5 : 1);
    EXPECT_EQ(std::tuple(s.dev.OpenedBaudRates(), s.dev.OpenedPaths(), s.dev.Closes()),
              std::tuple(std::vector<DWORD>{4800, 115200}, std::vector<CString>(2, ComPortPath(L"ttyUSB0")), 2));
    if (c.reply < 2) continue;

    const _DOWNLOAD_DATAINFO data = Fetch(s.protocol);
    std::vector<_BP_RECORD> records{Rec(c.first, 0x0123, 80, 93, 70, 3), Rec(c.second, 0x0123, 80, 93, 70, 7)};
    records[0].byFlagsLow = 0xA5, records[1].byFlagsLow = 0x0F;
    EXPECT_EQ(data.BPSet, (_BP_DATASET{HeadOf(records), records}));
    EXPECT_EQ(data.SpO2Set, (_SPO2_DATASET{{0x012345}, {}})) << "counted, not fetched";
    // The plan's fields come in mode 1 only.
    _BP_TRANSPORT_INFO plan = PlanOf("Grace Hopper", "ID-1906", {6, 30, 20, 22, 15, 45}, {12, 0, 15, 13, 30});
    plan.nOption1 = 4, plan.nOption2 = 0;
    if (c.mode == DATAMODE_BP_SPO2) plan = PlanOf("Grace Hopper", "ID-1906", {7, 0, 60, 22, 0, 30});
    plan.nYear = 2024, plan.nMonth = 2, plan.nDay = 28, plan.nHour = 23, plan.nMinute = 59, plan.nSecond = 30;
    EXPECT_EQ(data.Info, plan);
    EXPECT_EQ((std::vector<int>{s.state, s.stage, s.progress}), (std::vector<int>{kStateSucceeded, TRANSPORT_BP, 50}));
  }
}

// The monitor on the bench's third port with `records` measurements a
// minute apart.
struct Kv32Bench : FamilyBench<sim::kv32::Monitor, CProtocolCOMKV32> {
  explicit Kv32Bench(int records = 0) {
    for (int i = 0; i < records; ++i) model.Config().readings.push_back({{2024, 1, 1, 8, i, 0}});
    model.Config().plan.start = {2024, 1, 1, 8, 0, 0};
  }
};

// A record request not echoed skips that record; the tenth such failure ends
// the download, unless no record is left to ask for. Silence or a stop
// mid-download keeps what came.
TEST(Kv32, TenFailedRecordRequestsEndTheDownloadAndWhatCameStays) {
  for (int announced : {10, 11}) {
    Kv32Bench b(announced);
    b.model.SetFault(Kv32Exchange::kRecord, Kv32Fault::kWrongEcho);
    EXPECT_EQ(b.Download(DATAMODE_BP), announced == 10 ? 1 : 5);
    EXPECT_EQ(std::tuple(b.model.RecordRequests(), Fetch(b.protocol).BPSet.vecRecords.size()), std::tuple(10, 0u));
  }
  Kv32Bench silenced(20);  // falls silent mid-download: what came stays
  silenced.model.SilenceAfterRecords(4);
  EXPECT_EQ(silenced.Download(DATAMODE_BP), 5);
  const _BP_DATASET set = Fetch(silenced.protocol).BPSet;
  EXPECT_EQ(std::tuple(silenced.model.RecordRequests(), set.vecRecords.size(), set.Head.nCount), std::tuple(4 + 10, 4u, 20));

  Kv32Bench stopped(8);  // the host's stop: what came stays, counted as it came
  stopped.onWrite = [&](const Write& w) {
    if (w.bytes[0] == 0xEE && stopped.model.RecordRequests() == 2) stopped.state = kStateStopRequested;
  };
  EXPECT_EQ(stopped.Download(DATAMODE_BP), 1);
  EXPECT_EQ(std::tuple(stopped.model.RecordRequests(), Fetch(stopped.protocol).BPSet.Head.nCount), std::tuple(3, 3));
}

// A greeting not echoed finds no monitor and keeps the earlier download; a
// plan request not echoed, or echoed wrongly, reads no records.
TEST(Kv32, MissingOrWrongEchoes) {
  for (Kv32Fault fault : {Kv32Fault::kNoEcho, Kv32Fault::kWrongEcho}) {
    Kv32Bench b(1);
    ASSERT_EQ(b.Download(DATAMODE_BP), 1);
    b.model.SetFault(Kv32Exchange::kGreeting, fault, 1);
    EXPECT_EQ(b.Download(DATAMODE_BP), 2);
    EXPECT_EQ(Fetch(b.protocol).BPSet.vecRecords.size(), 1u);
    b.model.SetFault(Kv32Exchange::kPlanRequest, fault);
    EXPECT_EQ(b.Download(DATAMODE_BP_SPO2), 5);
    EXPECT_EQ(b.model.RecordRequests(), 1);
  }
}

// The block the host sent after the upload probe on both ports, all at
// 4800 baud.
Bytes Upload(Kv32Bench& b, const _BP_TRANSPORT_INFO& plan, enum_DataMode mode) {
  b.protocol.SetUpLoadData(plan);
  EXPECT_EQ(b.Upload(mode), 1);
  EXPECT_EQ(b.Host(), (std::vector<int>{kStateSucceeded, TRANSPORT_PLAN_UPLOAD, 98}));
  for (const Write& w : b.writes) EXPECT_EQ(w.baud, 4800u);
  const Bytes sent = SingleBytes(b.writes);
  EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 2), (Bytes{0x55, 0x55}));
  return Bytes(sent.begin() + 2, sent.end());
}

TEST(Kv32, UploadBlockOfEachMode) {
  const _BP_TRANSPORT_INFO plan = PlanOf("Grace Hopper", "ID-1906", {6, 30, 20, 21, 45, 0}, {22, 0, 15, 6, 0});
  Kv32Bench one;
  one.env.SetLocalTime({2024, 12, 31, 23, 58, 41});  // the recording starts next year, inside the window
  EXPECT_EQ(Upload(one, plan, DATAMODE_BP),
            Join({Texts("Grace Hopper", "ID-1906"), {0x07, 0xE8, 12, 31, 23, 58, 0x07, 0xE9, 1, 1, 0, 3, 0, 0, 0, 1},
                  {6, 30, 20, 21, 45, 0xFF, 22, 0, 15, 6, 0, 0, 3, 'Q'}}));
  Kv32Bench two;
  two.env.SetLocalTime({2024, 6, 1, 9, 15, 42});
  EXPECT_EQ(Upload(two, plan, DATAMODE_BP_SPO2),
            Join({Texts("Grace Hopper", "ID-1906"), {0x07, 0xE8, 6, 1, 9, 15, 42}, Bytes(22, 0), {'R'}}));
}

// The option switch and each part of the window with its own "none", and
// the code of the period the recording starts in, five minutes on.
TEST(Kv32, OptionWindowAndPeriodCode) {
  struct Case {
    std::array<int, 5> window;
    int firstHour, secondHour, option2;
    int hour, minute;  // the start of the recording
    Bytes sent;        // bytes 56, 63..67 and 69
  };
  const Case cases[] = {
      {{22, 0, 15, 6, 0}, 7, 22, 1, 1, 0, {1, 22, 0, 15, 6, 0, 3}},  // in a window that wraps past midnight
      {{22, 0, 15, 6, 0}, 7, 22, 1, 23, 0, {1, 22, 0, 15, 6, 0, 2}},  // before its midnight the periods decide
      {{-1, -1, 0, -1, -1}, 7, 22, 0, 12, 0, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1}},
      {{-1, 20, 0, 14, 0}, 7, 22, 2, 23, 30, {0xFF, 0xFF, 0xFF, 0xFF, 14, 0, 2}},
      {{13, 20, 20, 0, -1}, 22, 7, 1, 2, 0, {1, 13, 20, 20, 0xFF, 0xFF, 1}},  // the first period wraps
      {{13, 20, 20, 0, -1}, 22, 7, 1, 12, 0, {1, 13, 20, 20, 0xFF, 0xFF, 2}},
      {{10, 0, 0, 14, 0}, 7, 22, 1, 14, 0, {1, 10, 0, 0xFF, 14, 0, 3}},  // its end; the interval does not count
      {{12, 0, 15, 12, 0}, 7, 22, 1, 12, 0, {1, 12, 0, 15, 12, 0, 1}},  // a window of no length
      {{-1, -1, 0, -1, -1}, 7, 7, 1, 12, 0, {1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 2}},  // and a first period
      {{0, 0, 10, 0, 30}, 7, 22, 1, 0, 30, {1, 0, 0, 10, 0, 30, 3}},   // midnight is a start, not "none"
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hour * 100 + c.minute);
    Kv32Bench b;
    b.env.SetLocalTime(AddMinutes({2024, 5, 5, c.hour, c.minute, 0}, -5));
    _BP_TRANSPORT_INFO plan = PlanOf("", "", {c.firstHour, 0, 60, c.secondHour, 0, 30}, c.window);
    plan.nOption2 = c.option2;
    const Bytes block = Upload(b, plan, DATAMODE_BP);
    ASSERT_EQ(block.size(), 71u);
    EXPECT_EQ((Bytes{block[56], block[63], block[64], block[65], block[66], block[67], block[69]}), c.sent);
  }
}

// Ten receives per byte, a pause after every one that did not confirm.
TEST(Kv32, ConfirmationsAreWaitedForTenTimes) {
  Kv32Bench silent;
  silent.model.SetFault(Kv32Exchange::kPlanByte, Kv32Fault::kNoEcho);
  EXPECT_EQ(silent.Upload(DATAMODE_BP), 5);
  EXPECT_TRUE(silent.model.Uploads().empty());
  EXPECT_EQ(std::count(silent.env.Sleeps().begin(), silent.env.Sleeps().end(), 100u), 2 + 10) << "after two probes";

  Kv32Bench absent;
  absent.model.SetFault(Kv32Exchange::kUpload, Kv32Fault::kNoEcho);
  EXPECT_EQ(absent.Upload(DATAMODE_BP), 2);
  EXPECT_EQ(OfferedModes(absent.protocol), (std::vector<int>{7, 1, 1, 7, 7, 7, 7, 7, 7}));
  EXPECT_EQ(Id(absent.protocol), (tag_SUPPORT_PROTOCOL{3, 7, 255, 255, 0}));
}

}  // namespace
}  // namespace bplink::testing
