// Finding the recorder: the handshake's reply codes, the port search among
// silent ports, a link the host opened itself; and the packets of the
// stream, byte for byte, with the acknowledgements they get.

#include <gtest/gtest.h>

#include "bench.h"
#include "scripted_device.h"

namespace kx71test {
namespace {

using bplink::testing::Bytes;
using bplink::testing::ScriptedDevice;

const Bytes kGreeting = {0x01, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC};

TEST(Kx71Link, ReplyCodeGivesVariantAndWhetherThePlanIsFetched) {
  struct Case {
    BYTE code;
    int result, variant, planRequests;
  };
  for (const Case c : {Case{0x15, 1, 1, 0}, Case{0x02, 1, 2, 0}, Case{0x34, 1, 2, 1},
                       Case{0x40, 5, 255, 0}}) {
    SCOPED_TRACE(c.code);
    Bench b;
    b.recorder.Config().groups = TwoGroups(2, 1);
    ASSERT_EQ(b.protocol.PC_Download(DATAMODE_BP), 1) << "a first download fills the store";
    b.recorder.Config().reply_code = c.code;
    EXPECT_EQ(b.protocol.PC_Download(DATAMODE_BP), c.result);
    tag_SUPPORT_PROTOCOL info;
    b.protocol.GetCurDeviceInfo(info);
    EXPECT_EQ(info, (tag_SUPPORT_PROTOCOL{1, 6, 255, c.variant, 0}));
    EXPECT_EQ(b.recorder.PlanRequests(), 1 + c.planRequests);  // the first download's 0x34
    EXPECT_EQ(b.state, c.result == 1 ? 3 : 2);
    EXPECT_EQ(b.Fetch().BPSet.vecRecords.size(), 2u) << "kept, or downloaded again";
    EXPECT_FALSE(b.device.IsOpen());
    EXPECT_TRUE(b.recorder.Complaints().empty());
  }
}

TEST(Kx71Link, SearchesPastSilentPortsAndLeavesNothingOpenWhenNoneAnswers) {
  Bench b;
  b.recorder.Config().reply_code = 0x15;
  EXPECT_EQ(b.protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(b.device.TriedPaths(), (std::vector<std::wstring>{L"/dev/ttyS0", Bench::kRecorderPort}));
  EXPECT_EQ(b.device.Opens(), b.device.Closes());

  // A greeting answered without the right echo is no recorder at all.
  b.recorder.Config().faults.broken_greeting = true;
  EXPECT_EQ(b.protocol.PC_Download(DATAMODE_BP), 2);
  EXPECT_EQ(b.state, 2);
  EXPECT_FALSE(b.device.IsOpen());
  EXPECT_EQ(b.device.Opens(), b.device.Closes());
  EXPECT_EQ(b.protocol.PC_Upload(DATAMODE_BP), 2);

  CProtocolCOMKX71 unbound;
  EXPECT_EQ(unbound.PC_Download(DATAMODE_BP), 2);
}

TEST(Kx71Link, BorrowedOpenLinkIsUsedAsItIs) {
  Bench b;
  b.recorder.Config().groups = TwoGroups(3, 2);
  DCB line{};
  line.BaudRate = CBR_115200;
  ASSERT_EQ(b.device.Open(Bench::kRecorderPort, line), 1);
  b.protocol.SetDevice(nullptr, true);

  EXPECT_EQ(b.protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_TRUE(b.env.ProbedPaths().empty()) << "no port list";
  EXPECT_EQ(b.device.TriedPaths().size(), 1u) << "nothing opened but by the host";
  EXPECT_EQ(b.device.Closes(), 1) << "only the end of the transfer closes";
  EXPECT_EQ(b.Fetch().BPSet2.vecRecords.size(), 2u);
}

// A scripted recorder behind the only port.
class Kx71Wire : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.SetPortNames({L"ttyS0"});
    env_.SetOpenablePaths({L"/dev/ttyS0"});
    protocol_.SetDevice(&dev_, false);
    protocol_.SetProgressInfo(&progress_, &state_, &stage_);
    dev_.ExpectSend(kGreeting).Reply({0x15, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC});
  }
  void Ack(BYTE code) { dev_.ExpectSend({code}).ExpectSend({0x83}).ExpectSend({0xFF}).ExpectSend({0xFF}); }
  void Silence(int times) {
    for (int i = 0; i < times; ++i) dev_.Silence();
  }
  _DOWNLOAD_DATAINFO Run() {
    EXPECT_EQ(protocol_.PC_Download(DATAMODE_BP), 1);
    EXPECT_TRUE(dev_.Problems().empty()) << ::testing::PrintToString(dev_.Problems());
    EXPECT_TRUE(dev_.Finished());
    _DOWNLOAD_DATAINFO info;
    protocol_.GetDownLoadData(&info);
    return info;
  }

  bplink::testing::VirtualEnv env_;
  bplink::testing::ScopedEnv scope_{&env_};
  ScriptedDevice dev_;
  CProtocolCOMKX71 protocol_;
  int progress_ = 0, state_ = 0;
  enum_TransportType stage_{};
};

// 2026-01-15 09:30, sys 133, 95, 82, pulse 72, status 3; the masks keep the
// top bit of some bytes and clear it on the others.
const Bytes kRecordA = {0x07, 0x82, 0x87, 0xEA, 0x81, 0x8F, 0x89, 0x9E, 0x08, 0x82, 0x80, 0x85,
                        0x80, 0xDF, 0x80, 0xD2, 0x09, 0x80, 0x80, 0xC8, 0x83, 0x00};

_BP_RECORD RecordA() { return Expected(Kx71Reading{{2026, 1, 15, 9, 30, 0}, 133, 95, 82, 72, 3}); }

TEST_F(Kx71Wire, EachPacketIsCheckedStoredAndAnswered) {
  dev_.Reply({0x16, 0x80, 0x80, 0x80, 0x81, 0x82});  // 258 records announced
  Ack(0x17);
  dev_.Reply({0x12, 0x80, 0x87, 0xEA, 0x81, 0x8F, 0x89, 0x81});  // last raw byte not 0xFF: set 2
  Ack(0x13);
  dev_.Reply(kRecordA);
  Ack(0x10);
  Bytes zero = kRecordA;
  zero[12] = 0x00;
  dev_.Reply(zero);  // rejected, not stored
  Ack(0x11);
  Bytes wrongMarker = kRecordA;
  wrongMarker[16] = 0x0A;
  wrongMarker[20] = 0x82;  // status 2: not a usable measurement
  dev_.Reply(wrongMarker);  // stored, but answered as bad
  Ack(0x11);
  dev_.Reply({0x33});  // starts no packet: no answer, counts as a miss
  dev_.Reply({0x12, 0xFF, 0x87, 0xEA, 0x81});
  Silence(3);  // the rest of that header never comes
  Ack(0x14);
  Silence(5);

  const _DOWNLOAD_DATAINFO info = Run();
  EXPECT_TRUE(info.BPSet.vecRecords.empty());
  EXPECT_EQ(info.BPSet.Head.nCount, 258);
  _BP_RECORD second = RecordA();
  second.wStatus = 2;
  second.bValid = 0;
  EXPECT_EQ(info.BPSet2.vecRecords, (std::vector<_BP_RECORD>{RecordA(), second}));
  EXPECT_EQ(info.BPSet2.Head, (_DATA_HEAD{2, 2026, 1, 15, 9, 30, 0, 0}));
  EXPECT_EQ(progress_, 80);
  EXPECT_EQ(stage_, TRANSPORT_BP);
}

TEST_F(Kx71Wire, StoredPlanFailuresKeepTheRecords) {
  struct Case {
    std::vector<Bytes> replies;  // empty: silence
    int result;
  };
  for (const Case& c : {Case{{Bytes{0x56}}, 7}, Case{{}, 5}}) {
    ScriptedDevice dev;
    dev.ExpectSend(kGreeting).Reply({0x34, 0x8F, 0xFF, 0x00, 0x00, 0x00});
    dev.Reply(kRecordA);  // before any group header: data set 1
    dev.ExpectSend({0x10}).ExpectSend({0x83}).ExpectSend({0xFF}).ExpectSend({0xFF});
    for (int i = 0; i < 6; ++i) dev.Silence();
    dev.ExpectSend({0x54});
    if (c.replies.empty()) dev.Silence();
    for (const Bytes& r : c.replies) dev.Reply(r);
    protocol_.SetDevice(&dev, false);
    EXPECT_EQ(protocol_.PC_Download(DATAMODE_BP_SET2), c.result);
    EXPECT_TRUE(dev.Problems().empty()) << ::testing::PrintToString(dev.Problems());
    EXPECT_EQ(state_, 2);
    EXPECT_EQ(stage_, TRANSPORT_PLAN_DOWNLOAD);
    EXPECT_EQ(dev.Opens(), dev.Closes());
    _DOWNLOAD_DATAINFO info;
    protocol_.GetDownLoadData(&info);
    EXPECT_EQ(info.BPSet.vecRecords.size(), 1u);
  }
}

}  // namespace
}  // namespace kx71test
