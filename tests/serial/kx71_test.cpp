// The KX71 recorder: what its handshake reply code means, the download
// stream packet by packet with the acknowledgement each packet gets, the
// stored plan, and the plan upload; against the simulated recorder, and a
// scripted one where the exact bytes of a packet matter.

#include <stdexcept>

#include "kx71/model.h"
#include "serial_bench.h"

namespace bplink::testing {
namespace {

// Readings whose bytes have the top bit both set and clear, so both ways of
// masking are on the line; statuses 0 and 3 are usable, 2 is not.
sim::kx71::Group Group(bool primary, const CalendarTime& start, int count, int sysBase) {
  sim::kx71::Group group{primary, start, {}};
  for (int i = 0; i < count; ++i)
    group.readings.push_back(
        {AddMinutes(start, 30 * i), sysBase + 3 * i, 0x1FF - i, 70 + i, 0x80 + i, i % 3 == 2 ? 2 : 3 * (i % 2)});
  return group;
}

_BP_DATASET Expected(const sim::kx71::Group& group) {
  std::vector<_BP_RECORD> records;
  for (const sim::kx71::Reading& r : group.readings) records.push_back(Rec(r.time, r.sys, r.dia, r.map, r.pulse, r.status));
  return {HeadOf(records), records};
}

// The recorder on the bench's third port, its secondary group sent first so
// that the group headers, not the order, put the records in place.
struct Kx71Bench : FamilyBench<sim::kx71::Recorder, CProtocolCOMKX71> {
  explicit Kx71Bench(BYTE code = 0x15) {
    model.Config().reply_code = code;
    model.Config().groups = {Group(false, {2026, 2, 28, 8, 0, 0}, 3, 250), Group(true, {2025, 12, 31, 23, 45, 0}, 5, 120)};
  }
};

TEST(Kx71, ReplyCodeNamesTheVariantAndWhetherAPlanIsKept) {
  const std::pair<BYTE, int> variants[] = {{0x15, 1}, {0x02, 2}, {0x34, 2}};
  for (const auto& [code, variant] : variants) {
    SCOPED_TRACE(code);
    Kx71Bench b(code);
    b.model.Config().plan.patient1 = "Jane";
    b.protocol.SetUpLoadData(PlanOf("The host's", "", {1, 2, 3, 4, 5, 6}));  // a download starts afresh
    ASSERT_EQ(b.Download(DATAMODE_BP_SET2), 1);
    const bool kept = code == 0x34;
    EXPECT_EQ(b.Host(), (std::vector<int>{kStateSucceeded, kept ? TRANSPORT_PLAN_DOWNLOAD : TRANSPORT_BP_SET2, 80}));
    EXPECT_EQ(b.device.TriedPaths(), (std::vector<std::wstring>{SerialBench::kFirstPort, SerialBench::kDevicePort}));
    EXPECT_EQ(Id(b.protocol), (tag_SUPPORT_PROTOCOL{1, 6, 255, variant, 0}));
    EXPECT_EQ(OfferedModes(b.protocol), (std::vector<int>{7, 1, 7, 1, 7, 7, 7, 7, 7}));
    const _DOWNLOAD_DATAINFO info = Fetch(b.protocol);
    EXPECT_EQ(info.BPSet, Expected(b.model.Config().groups[1]));
    EXPECT_EQ(info.BPSet2, Expected(b.model.Config().groups[0]));
    EXPECT_EQ(std::tuple(b.model.PlanRequests(), std::string(info.Info.szPatientInfo1), info.Info.nPeriod1Hour),
              std::tuple(kept ? 1 : 0, kept ? "Jane" : "", 7));
    EXPECT_EQ(std::tuple(b.model.PositiveAcks(), b.model.NegativeAcks(), b.model.Complaints().size()),
              std::tuple(2 * 2 + 5 + 3, 0, 0u));
  }
}

TEST(Kx71, WhatIsNoRecorderLeavesTheLastDownloadAndNothingOpen) {
  Kx71Bench b;
  ASSERT_EQ(b.Download(DATAMODE_BP), 1);
  b.model.Config().reply_code = 0x40;  // answers, with no known code
  EXPECT_EQ(b.Download(DATAMODE_BP), 5);
  EXPECT_EQ(b.Upload(DATAMODE_BP), 5);
  EXPECT_EQ(Id(b.protocol).nVariant, 255);
  b.model.Config().faults.broken_greeting = true;  // the echo in its answer is wrong
  EXPECT_EQ(b.Download(DATAMODE_BP), 2);
  EXPECT_EQ(b.Upload(DATAMODE_BP), 2);
  struct : sim::DeviceModel {
    void Receive(const std::uint8_t*, std::size_t, unsigned) override { throw std::runtime_error("line gone"); }
  } breaking;
  b.device.AttachPort(SerialBench::kDevicePort, &breaking);
  EXPECT_EQ(b.Download(DATAMODE_BP), 8);
  EXPECT_EQ(Fetch(b.protocol).BPSet.vecRecords.size(), 5u);
  EXPECT_EQ(CProtocolCOMKX71().PC_Download(DATAMODE_BP), 2) << "no device at all";
}

TEST(Kx71, ALinkTheHostOpenedIsUsedAsItIs) {
  Kx71Bench b;
  ASSERT_EQ(b.device.Open(SerialBench::kDevicePort, SerialLine(CBR_115200)), 1);
  b.protocol.SetDevice(nullptr, true);
  EXPECT_EQ(b.Download(DATAMODE_BP), 1);
  EXPECT_TRUE(b.env.ProbedPaths().empty()) << "no port list";
  EXPECT_EQ(std::tuple(b.device.TriedPaths().size(), b.device.Closes()), std::tuple(1u, 1)) << "only the host opens";
  EXPECT_EQ(Fetch(b.protocol).BPSet2.vecRecords.size(), 3u);
}

// The stream ends when the recorder falls silent: the sixth missed packet,
// each a time-out and a pause. While packets come the progress cycles; the
// host's stop ends the stream with what came.
TEST(Kx71, SilenceOrAStopEndsTheStreamAndProgressCyclesMeanwhile) {
  Kx71Bench silent;
  silent.model.Config().faults.silent_stream = true;
  EXPECT_EQ(silent.Download(DATAMODE_BP), 1);
  EXPECT_EQ(Fetch(silent.protocol), _DOWNLOAD_DATAINFO{});
  EXPECT_EQ(silent.env.ElapsedMs(), (100 + kTimeoutMs) + 100 + 6 * (kTimeoutMs + 100));

  Kx71Bench b;
  b.model.Config().groups = {Group(true, {2026, 1, 1, 0, 0, 0}, 70, 100)};
  std::vector<int> seen;  // at every record's acknowledgement
  b.onWrite = [&](const Write& w) {
    if (w.bytes[0] == 0x10) seen.push_back(b.progress);
  };
  EXPECT_EQ(b.Download(DATAMODE_BP), 1);
  ASSERT_EQ(seen.size(), 70u);
  // 22 after the group header and the count; after 80 it starts again at 20.
  EXPECT_EQ((std::vector<int>{seen[0], seen[58], seen[59], seen[69], b.progress}), (std::vector<int>{22, 80, 20, 30, 80}));

  // A recorder that keeps a plan is not asked for it after a stop: it is
  // still streaming, and the stop skips the steps after it.
  Kx71Bench stopped(0x34);
  int acks = 0;
  stopped.onWrite = [&](const Write& w) {
    if (w.bytes[0] >= 0x10 && w.bytes[0] <= 0x18 && ++acks == 4) stopped.state = kStateStopRequested;
  };
  EXPECT_EQ(stopped.Download(DATAMODE_BP), 1);
  EXPECT_EQ(stopped.state, kStateSucceeded);
  EXPECT_EQ(stopped.model.PlanRequests(), 0);
  const _DOWNLOAD_DATAINFO info = Fetch(stopped.protocol);
  EXPECT_EQ(std::tuple(info.BPSet.vecRecords.size(), info.BPSet2.vecRecords.size()), std::tuple(0u, 2u))
      << "group, count, two records";
}

// A scripted recorder: every packet byte for byte.
struct Script : Scripted<CProtocolCOMKX71> {
  explicit Script(BYTE code) {
    dev.ExpectSend({0x01, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC}).Reply({code, 0x8F, 0xFF, 0x00, 0x00, 0x00});
  }
  void Answer(const Bytes& packet, BYTE ack) {
    dev.Reply(packet).ExpectSend({ack}).ExpectSend({0x83}).ExpectSend({0xFF}).ExpectSend({0xFF});
  }
};

// 2026-01-15 09:30, systolic 300, mean 95, diastolic 82, pulse 72, status 3.
// Group 1's mask keeps the top bit of its second byte (0xEA) and clears the
// others'; group 2's mask clears every top bit.
const Bytes kRecord = {0x07, 0x82, 0x87, 0xEA, 0x81, 0x8F, 0x89, 0x9E, 0x08, 0x80, 0x81, 0xAC,
                       0x80, 0xDF, 0x80, 0xD2, 0x09, 0x80, 0x80, 0xC8, 0x83, 0x00};
const _BP_RECORD kDecoded = Rec({2026, 1, 15, 9, 30, 0}, 300, 82, 95, 72, 3);
const Bytes kSecondaryGroup = {0x12, 0x80, 0x87, 0xEA, 0x81, 0x8F, 0x89, 0x81};  // last raw byte not 0xFF

// The stored plan: texts, the recorder's clock (not taken), both periods
// and 300 records.
Bytes PlanReply(const std::string& text) {
  return Join({{0x55}, Texts(text, "ID-1"), {0x07, 0xE9, 5, 6, 7, 8}, Bytes(10, 0), {6, 45, 20, 21, 30, 0xFF},
               Bytes(7, 0), {0x01, 0x2C}});
}

TEST(Kx71Wire, EachPacketIsCheckedStoredAndAnswered) {
  Script s(0x15);
  s.dev.Reply(PlanReply("In the stream"));               // stored, never answered
  s.Answer({0x16, 0x80, 0x81, 0x82, 0x83, 0x84}, 0x17);  // 0x01020304 records announced
  s.Answer(kSecondaryGroup, 0x13);
  s.Answer(kRecord, 0x10);
  Bytes zero = kRecord, wrongMarker = kRecord;
  zero[12] = 0x00;
  s.Answer(zero, 0x11);  // rejected, not stored
  wrongMarker[16] = 0x0A, wrongMarker[20] = 0x82;  // and status 2: not usable
  s.Answer(wrongMarker, 0x11);  // stored, but answered as bad
  s.dev.Reply({0x33});  // starts no packet: no answer, a missed packet
  s.dev.Reply({0x12, 0xFF, 0x87, 0xEA, 0x81}).Silence().Silence().Silence();  // a header cut short
  s.Answer({}, 0x14);
  for (int miss = 2; miss <= 6; ++miss) s.dev.Silence();
  ASSERT_EQ(s.Download(DATAMODE_BP), 1);
  const _DOWNLOAD_DATAINFO info = Fetch(s.protocol);
  EXPECT_STREQ(info.Info.szPatientInfo1, "In the stream");
  EXPECT_EQ(info.BPSet, (_BP_DATASET{{0x01020304}, {}}));
  _BP_RECORD second = kDecoded;
  second.wStatus = 2, second.bValid = 0;
  EXPECT_EQ(info.BPSet2.vecRecords, (std::vector<_BP_RECORD>{kDecoded, second}));
  EXPECT_EQ(info.BPSet2.Head, (_DATA_HEAD{2, 2026, 1, 15, 9, 30, 0, 0}));
  EXPECT_EQ((std::vector<int>{s.progress, s.stage}), (std::vector<int>{80, TRANSPORT_BP}));
}

// A recorder that keeps a plan is asked for it after the stream: 0x54, then
// 0x55 and 72 bytes. A wrong or missing answer fails the download, but what
// the stream brought stays.
TEST(Kx71Wire, AKeptPlanIsAskedForAfterTheStream) {
  for (const Bytes& answer : {PlanReply("Patient One"), Bytes{0x56}, Bytes{}}) {
    SCOPED_TRACE(answer.size());
    Script s(0x34);
    s.Answer(kSecondaryGroup, 0x13);
    s.Answer(kRecord, 0x10);
    for (int miss = 0; miss < 6; ++miss) s.dev.Silence();
    s.dev.ExpectSend({0x54});
    if (answer.empty()) s.dev.Silence();
    s.dev.Reply(answer);
    const int result = answer.size() > 1 ? 1 : answer.empty() ? 5 : 7;
    EXPECT_EQ(s.Download(DATAMODE_BP), result);
    const _DOWNLOAD_DATAINFO info = Fetch(s.protocol);
    EXPECT_EQ((std::vector<int>{s.state, s.stage}),
              (std::vector<int>{result == 1 ? kStateSucceeded : kStateFailed, TRANSPORT_PLAN_DOWNLOAD}));
    EXPECT_EQ(info.BPSet2.vecRecords, std::vector<_BP_RECORD>{kDecoded});
    if (result != 1) continue;
    EXPECT_EQ(info.Info, PlanOf("Patient One", "ID-1", {6, 45, 20, 21, 30, 0xFF}));
    EXPECT_EQ(info.BPSet.Head.nCount, 300);
  }
}

TEST(Kx71, UploadFindsTheRecorderAgainByItsProbeAndSendsTheBlockByteByByte) {
  Kx71Bench b;
  b.env.SetLocalTime({2024, 3, 9, 14, 5, 0});
  const std::string thirty = "Thirty characters, every one!!";
  _BP_TRANSPORT_INFO plan = PlanOf(thirty, "ID-7", {6, 45, 20, 21, 30, 0}, {12, 0, 15, 13, 0});
  std::strcpy(plan.szPatientInfo3, "not carried");
  b.protocol.SetUpLoadData(plan);
  EXPECT_EQ(b.Upload(DATAMODE_BP), 1);
  EXPECT_EQ(b.Host(), (std::vector<int>{kStateSucceeded, TRANSPORT_PLAN_UPLOAD, 98}));
  EXPECT_EQ(std::tuple(b.device.Opens(), b.model.Uploads()), std::tuple(4, 1)) << "each search passes the silent port";
  EXPECT_EQ(SingleBytes(b.writes), Join({{0xAA, 0xAA}, Texts(thirty, "ID-7"), {0x07, 0xE8, 3, 9, 14, 5}, Bytes(10, 0),
                                         {6, 45, 20, 21, 30, 0xFF}, Bytes(7, 0)}));
  for (const Write& w : b.writes) EXPECT_EQ(w.baud, 115200u);

  // A byte left unconfirmed ends the upload: ten receives, a pause after
  // each but the last.
  Kx71Bench refused;
  refused.model.Config().faults.unconfirmed_byte = 5;
  EXPECT_EQ(refused.Upload(DATAMODE_BP), 0);
  EXPECT_EQ(SingleBytes(refused.writes).size(), 2u + 6u) << "two probes, and the block up to that byte";
  EXPECT_EQ(refused.env.ElapsedMs(), 2 * (2 * 100 + kTimeoutMs) + 10 * kTimeoutMs + 9 * 100);
}

}  // namespace
}  // namespace bplink::testing
