// The patient block of the newer recorders: both directions through the
// simulated recorder, the device's verdicts, and the console lines, which
// are compared byte for byte.

#include <cstdio>

#include "hid_bench.h"

namespace bplink::testing {
namespace {

using sim::HidExchange;
using sim::HidFault;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

const std::string kAnnounced = "0X37, 0X9F\r\n";
const std::string kAnnounceAccepted = "0X4A, 0X37\r\n";
const std::string kSentOk = "\xB7\xA2\xCB\xCD\xB3\xC9\xB9\xA6.\r\n";
const std::string kChecksumAbnormal = "\xD0\xA3\xD1\xE9\xBA\xCD\xD2\xEC\xB3\xA3\r\n";
const std::string kSequenceAbnormal = "\xB0\xFC\xD0\xF2\xBA\xC5\xD2\xEC\xB3\xA3\r\n";

// A recorder (type 1) of version 5, with two sets and a patient block.
struct RecorderBench : HidBench {
  RecorderBench() : HidBench(0x05) {
    auto& config = monitor.Config();
    config.version = 5;
    config.stores[0] = {1, {2025, 5, 6, 7, 0, 0}, Readings(30, {2025, 5, 6, 7, 0, 0}, 4)};
    config.stores[1] = {2, {}, Readings(12, {2025, 5, 8, 7, 0, 0}, 5)};
    config.patient = sim::EncodePatient(
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", "\xD5\xC5\xC8\xFD", "WARD 7", "DR. NOBODY", 71, 0xB4});
  }
};

void ExpectPatient(const _BP_TRANSPORT_INFO& info, const sim::HidPatient& patient) {
  EXPECT_EQ(info.szPatientInfo1, patient.text1);
  EXPECT_EQ(info.szPatientInfo2, patient.text2);
  EXPECT_EQ(info.szPatientInfo3, patient.text3);
  EXPECT_EQ(info.szPatientInfo4, patient.text4);
  EXPECT_EQ(info.nPatientInfo5, patient.value5);
  EXPECT_EQ(info.nPatientInfo6, patient.value6);
}

TEST(HidPatientInfo, ARecorderRoundTripsPlanSwitchAndPatientBlock) {
  RecorderBench bench;
  CaptureStdout();
  ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(GetCapturedStdout(), kAnnounced + kAnnounceAccepted);
  const _DOWNLOAD_DATAINFO data = bench.Fetch();
  ExpectSet(data.BPSet, bench.monitor.Config().stores[0]);
  ExpectSet(data.BPSet2, bench.monitor.Config().stores[1]);
  ExpectPatient(data.Info, sim::DecodePatient(bench.monitor.Config().patient));
  EXPECT_EQ(data.Info.szPatientInfo1[30], '\0');  // 30 characters, then the terminator
  EXPECT_EQ(bench.monitor.PatientStatuses(), std::vector<int>{0x01});

  _BP_TRANSPORT_INFO plan = data.Info;
  std::snprintf(plan.szPatientInfo1, sizeof plan.szPatientInfo1, "%s", "NEW NAME");
  std::snprintf(plan.szPatientInfo3, sizeof plan.szPatientInfo3, "%s", "ROOM 12");
  plan.szPatientInfo4[0] = '\0';
  plan.nPatientInfo5 = 300;  // travels as its low byte
  plan.nPeriod1Interval = 20;
  plan.nWarnSwitchInfo = 0x81;
  bench.protocol.SetUpLoadData(plan);
  CaptureStdout();
  ASSERT_EQ(bench.protocol.PC_Upload(DATAMODE_BP), 1);
  EXPECT_EQ(GetCapturedStdout(), kAnnounced + kAnnounceAccepted + kSentOk);
  EXPECT_EQ(bench.monitor.PatientUploads().size(), 1u);
  EXPECT_TRUE(bench.monitor.Complaints().empty()) << bench.monitor.Complaints().front();

  // Read back: the plan and the patient block by a download, the switch by
  // the interval query.
  CaptureStdout();
  ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 1);
  GetCapturedStdout();
  const _BP_TRANSPORT_INFO back = bench.Fetch().Info;
  EXPECT_STREQ(back.szPatientInfo1, "NEW NAME");
  EXPECT_STREQ(back.szPatientInfo2, plan.szPatientInfo2);
  EXPECT_STREQ(back.szPatientInfo3, "ROOM 12");
  EXPECT_STREQ(back.szPatientInfo4, "");
  EXPECT_EQ(back.nPatientInfo5, 300 % 256);
  EXPECT_EQ(back.nPatientInfo6, 0xB4);
  EXPECT_EQ(back.nPeriod1Interval, 20);
  _UPLOAD_NEEDED_DATA needed;
  ASSERT_EQ(bench.protocol.PC_DownloadBPInfoTimeInterval(needed), 1);
  EXPECT_EQ(needed.Info.nWarnSwitchInfo, 129);
}

TEST(HidPatientInfo, DownloadFaultsGiveTheirCodeAndStatus) {
  struct Case {
    HidExchange where;
    HidFault fault;
    int result;
    std::vector<int> statuses;  // what the host answered the device
    bool stored;
    std::string console;
  };
  const std::string both = kAnnounced + kAnnounceAccepted;
  const Case cases[] = {
      {HidExchange::kPatientEnd, HidFault::kWrongChecksum, 7, {0x11}, false, both},
      {HidExchange::kPatientPacket1, HidFault::kWrongSequence, 7, {0x12}, false, both},
      // The damaged packet carries only zeros: the checksum still matches.
      {HidExchange::kPatientPacket0, HidFault::kDamaged, 7, {0x01}, true, both},
      {HidExchange::kPatientRequest, HidFault::kWrongStatus, 7, {}, false, both},
      {HidExchange::kPatientEnd, HidFault::kSilent, 7, {}, false, both},
      {HidExchange::kPatientAnnounce, HidFault::kSilent, 1, {0x01}, true, kAnnounced},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "exchange " << int(c.where) << " fault " << int(c.fault));
    RecorderBench bench;
    const sim::HidPatient patient{"", "", "", "LATE TEXT", 3, 4};  // b0..b51 are all 0
    bench.monitor.Config().patient = sim::EncodePatient(patient);
    bench.monitor.SetFault(c.where, c.fault);
    CaptureStdout();
    EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP), c.result);
    EXPECT_EQ(GetCapturedStdout(), c.console);
    EXPECT_EQ(bench.monitor.PatientStatuses(), c.statuses);
    const _BP_TRANSPORT_INFO info = bench.Fetch().Info;
    EXPECT_EQ(std::string(info.szPatientInfo4), c.stored ? "LATE TEXT" : "");
    EXPECT_EQ(bench.Fetch().BPSet.vecRecords.size(), 30u);  // the records are kept
  }
}

// An empty block has the checksum 0; the device's verdict is printed.
TEST(HidPatientInfo, AnEmptyBlockTravelsWithChecksumZero) {
  ScriptedBench bench;
  ScriptedDevice& dev = bench.dev;
  Bytes second(54, 0x00);
  second[0] = 1;
  dev.ExpectSend({0x37, 0x9F, 0xFF, 0xFE, 0xFD, 0xFC}).Silence();
  dev.ExpectSend(DataFrame(0x38, 0x00, {0x67, 0x00, 0x00, 0x00, 0x04, 0xFF, 0x01, 0x01})).Silence();
  dev.ExpectSend(DataFrame(0x39, 0x00, Bytes(54, 0x00))).ExpectSend(DataFrame(0x39, 0x00, second));
  dev.ExpectSend({0x3F, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC, 0x00}).Reply({0x3B, 0x00, 0x11});
  CaptureStdout();
  EXPECT_EQ(bench.protocol.UploadPatientInfo(), 7);
  EXPECT_EQ(GetCapturedStdout(), kAnnounced + kChecksumAbnormal);
  bench.ExpectScriptPlayed();
}

TEST(HidPatientInfo, UploadVerdicts) {
  struct Case {
    HidExchange where;
    HidFault fault;
    int result;
    std::size_t stored;
    std::string verdict;
  };
  const Case cases[] = {
      {HidExchange::kPatientEnd, HidFault::kWrongChecksum, 7, 0, kChecksumAbnormal},
      {HidExchange::kPatientEnd, HidFault::kWrongSequence, 7, 0, kSequenceAbnormal},
      // No verdict, or one the host does not know: the packets went out.
      {HidExchange::kPatientEnd, HidFault::kSilent, 1, 1, ""},
      {HidExchange::kPatientEnd, HidFault::kWrongStatus, 1, 0, ""},
      {HidExchange::kPatientEnd, HidFault::kWrongFirstByte, 1, 1, ""},
      {HidExchange::kPatientRequest, HidFault::kSilent, 1, 1, kSentOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "fault " << int(c.fault));
    RecorderBench bench;
    ASSERT_EQ(bench.protocol.GetDownLoadDataMode(nullptr), 1);
    bench.monitor.SetFault(c.where, c.fault);
    CaptureStdout();
    EXPECT_EQ(bench.protocol.PC_Upload(DATAMODE_BP), c.result);
    EXPECT_EQ(GetCapturedStdout(), kAnnounced + kAnnounceAccepted + c.verdict);
    EXPECT_EQ(bench.monitor.PatientUploads().size(), c.stored);
    EXPECT_EQ(bench.state, c.result == 1 ? 3 : 2);
  }

  // A refused transfer request ends the upload before any packet.
  RecorderBench refused;
  ASSERT_EQ(refused.protocol.GetDownLoadDataMode(nullptr), 1);
  refused.monitor.SetFault(HidExchange::kPatientRequest, HidFault::kWrongStatus);
  CaptureStdout();
  EXPECT_EQ(refused.protocol.PC_Upload(DATAMODE_BP), 7);
  GetCapturedStdout();
  EXPECT_TRUE(refused.monitor.Complaints().empty());
  EXPECT_EQ(refused.monitor.SessionsEnded(), 0);
}

}  // namespace
}  // namespace bplink::testing
