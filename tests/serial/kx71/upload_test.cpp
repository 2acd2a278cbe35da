// Plan upload to the simulated recorder: the block it stores and reads back,
// the PC clock in it, progress, a byte left unconfirmed, and failures.

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "bench.h"

namespace kx71test {
namespace {

_BP_TRANSPORT_INFO PlanToSend() {
  _BP_TRANSPORT_INFO plan;
  std::memcpy(plan.szPatientInfo1, "Thirty characters, every one!!", 30);  // fills the field
  std::strcpy(plan.szPatientInfo2, "ID-7");
  std::strcpy(plan.szPatientInfo3, "not carried");
  plan.nPeriod1Hour = 6;
  plan.nPeriod1Minute = 45;
  plan.nPeriod1Interval = 20;
  plan.nPeriod2Hour = 21;
  plan.nPeriod2Minute = 30;
  plan.nPeriod2Interval = 0;  // none
  return plan;
}

TEST(Kx71Upload, StoredPlanReadsBackWithThePcClock) {
  Bench b;
  b.env.SetLocalTime({2024, 3, 9, 14, 5, 0});
  std::vector<int> progressAtSend;
  b.device.SetTap([&](bool fromHost, const BYTE*, DWORD size) {
    if (fromHost && size == 1) progressAtSend.push_back(b.progress);
  });
  b.protocol.SetUpLoadData(PlanToSend());
  EXPECT_EQ(b.protocol.PC_Upload(DATAMODE_BP), 1);
  EXPECT_EQ(b.state, 3);
  EXPECT_EQ(b.stage, TRANSPORT_PLAN_UPLOAD);
  EXPECT_EQ(b.progress, 98);
  EXPECT_EQ(b.recorder.Uploads(), 1);
  // Found by the handshake, then again by the upload probe, each time after
  // the silent port.
  EXPECT_EQ(b.device.Opens(), 4);
  EXPECT_EQ(b.device.Closes(), 4);

  // Two probes, then the 70 bytes; the progress is that of the byte before.
  ASSERT_EQ(progressAtSend.size(), 72u);
  EXPECT_EQ(std::vector<int>(progressAtSend.begin() + 3, progressAtSend.begin() + 9),
            (std::vector<int>{0, 1, 2, 4, 5, 7}));

  const auto& block = b.recorder.UploadedBlock();
  EXPECT_EQ(std::vector<int>(block.begin() + 41, block.begin() + 47),
            (std::vector<int>{0x07, 0xE8, 3, 9, 14, 5}));
  EXPECT_EQ(b.recorder.Config().plan.clock, (bplink::CalendarTime{2024, 3, 9, 14, 5, 0}));

  b.recorder.Config().reply_code = 0x34;
  ASSERT_EQ(b.protocol.PC_Download(DATAMODE_BP), 1);
  const _BP_TRANSPORT_INFO back = b.Fetch().Info;
  EXPECT_EQ(std::memcmp(back.szPatientInfo1, PlanToSend().szPatientInfo1, 30), 0);
  EXPECT_STREQ(back.szPatientInfo2, "ID-7");
  EXPECT_STREQ(back.szPatientInfo3, "") << "not part of the block";
  EXPECT_EQ((std::vector<int>{back.nPeriod1Hour, back.nPeriod1Minute, back.nPeriod1Interval,
                              back.nPeriod2Hour, back.nPeriod2Minute, back.nPeriod2Interval}),
            (std::vector<int>{6, 45, 20, 21, 30, 0xFF}));
  EXPECT_TRUE(b.recorder.Complaints().empty());
}

TEST(Kx71Upload, UnconfirmedByteEndsTheUpload) {
  Bench b;
  b.recorder.Config().faults.unconfirmed_byte = 5;
  int sent = 0;
  b.device.SetTap([&](bool fromHost, const BYTE*, DWORD size) {
    if (fromHost && size == 1) ++sent;
  });
  b.protocol.SetUpLoadData(PlanToSend());
  const std::uint64_t before = b.env.ElapsedMs();
  EXPECT_EQ(b.protocol.PC_Upload(DATAMODE_BP), 0);
  EXPECT_EQ(b.state, 2);
  EXPECT_EQ(sent, 2 + 6) << "two probes, and the block up to the unconfirmed byte";
  EXPECT_EQ(b.recorder.Uploads(), 0);
  EXPECT_FALSE(b.device.IsOpen());
  // Ten attempts at the last byte, with a pause between them.
  constexpr unsigned timeout = bplink::sim::InProcessDevice::kDefaultRecvTimeoutMs;
  EXPECT_GE(b.env.ElapsedMs() - before, 10 * timeout + 9 * 100);
}

class ThrowingDevice : public bplink::sim::InProcessDevice {
 public:
  int RecvData(BYTE* buffer, DWORD length) override {
    if (--recvsLeft < 0) throw std::runtime_error("line gone");
    return InProcessDevice::RecvData(buffer, length);
  }
  int recvsLeft = 0;
};

TEST(Kx71Upload, FailuresGiveTheirCodes) {
  Bench b;
  b.recorder.Config().reply_code = 0x40;
  EXPECT_EQ(b.protocol.PC_Upload(DATAMODE_BP), 5);
  EXPECT_EQ(b.state, 2);
  EXPECT_EQ(b.recorder.Uploads(), 0);

  // An exception in the search, in the upload, and in the download stream.
  b.recorder.Config().reply_code = 0x15;
  b.recorder.Config().groups = TwoGroups(2, 0);
  ThrowingDevice throwing;
  throwing.AttachPort(Bench::kRecorderPort, &b.recorder);
  b.protocol.SetDevice(&throwing, false);
  for (int recvs : {0, 2, 4}) {
    SCOPED_TRACE(recvs);
    throwing.recvsLeft = recvs;
    EXPECT_EQ(recvs == 4 ? b.protocol.PC_Download(DATAMODE_BP) : b.protocol.PC_Upload(DATAMODE_BP),
              8);
    EXPECT_EQ(b.state, 2);
    EXPECT_FALSE(throwing.IsOpen());
  }
}

}  // namespace
}  // namespace kx71test
