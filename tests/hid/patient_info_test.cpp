// The patient block of the newer recorders: both directions through the
// simulated recorder, the device's verdicts, and the console lines, which
// are compared byte for byte.

#include <cstring>

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
  RecorderBench() : HidBench(0x05, 5) {
    auto& config = monitor.Config();
    config.stores[0] = {1, {2025, 5, 6, 7, 0, 0}, Readings(30, {2025, 5, 6, 7, 0, 0}, 4)};
    config.patient = sim::EncodePatient(
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", "\xD5\xC5\xC8\xFD", "WARD 7", "DR. NOBODY", 71, 0xB4});
  }
};

TEST(HidPatientInfo, ARecorderDownloadsAndUploadsItsPatientBlock) {
  RecorderBench bench;
  CaptureStdout();
  EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(GetCapturedStdout(), kAnnounced + kAnnounceAccepted);
  const _BP_TRANSPORT_INFO info = bench.Fetch().Info;
  EXPECT_EQ(sim::EncodePatient({info.szPatientInfo1, info.szPatientInfo2, info.szPatientInfo3, info.szPatientInfo4,
                                info.nPatientInfo5, info.nPatientInfo6}),
            bench.monitor.Config().patient);
  EXPECT_EQ(std::tuple(info.szPatientInfo1[30], info.nPatientInfo5, info.nPatientInfo6), std::tuple('\0', 71, 0xB4));
  EXPECT_EQ(bench.monitor.PatientStatuses(), std::vector<int>{0x01});

  _BP_TRANSPORT_INFO plan;
  std::strcpy(plan.szPatientInfo1, "NEW NAME");
  std::strcpy(plan.szPatientInfo2, "\xD5\xC5\xC8\xFD");
  std::strcpy(plan.szPatientInfo3, "ROOM 12");
  plan.nPatientInfo5 = 300;  // travels as its low byte, as does the switch value
  plan.nPatientInfo6 = 0xB4;
  plan.nWarnSwitchInfo = 0x181;
  bench.protocol.SetUpLoadData(plan);
  CaptureStdout();
  EXPECT_EQ(bench.protocol.PC_Upload(DATAMODE_BP), 1);
  EXPECT_EQ(GetCapturedStdout(), kAnnounced + kAnnounceAccepted + kSentOk);
  EXPECT_EQ(bench.monitor.PatientUploads(),
            std::vector{sim::EncodePatient({"NEW NAME", "\xD5\xC5\xC8\xFD", "ROOM 12", "", 300 % 256, 0xB4})});
  EXPECT_EQ(bench.monitor.Config().warn_switch, 0x81);
  bench.ExpectUnderstood();
}

// What each fault gives both ways: the result, what the console shows, the
// status frames the host sent back, and whether the block was taken.
TEST(HidPatientInfo, FaultsAndVerdicts) {
  struct Case {
    bool upload;
    HidExchange where;
    HidFault fault;
    int result;
    std::vector<int> statuses;  // what the host answered the device
    bool stored;
    std::string console;
  };
  const std::string both = kAnnounced + kAnnounceAccepted;
  const Case cases[] = {
      {false, HidExchange::kPatientEnd, HidFault::kWrongChecksum, 7, {0x11}, false, both},
      {false, HidExchange::kPatientPacket1, HidFault::kWrongSequence, 7, {0x12}, false, both},
      // The damaged packet carries only zeros: the checksum still matches.
      {false, HidExchange::kPatientPacket0, HidFault::kDamaged, 7, {0x01}, true, both},
      {false, HidExchange::kPatientRequest, HidFault::kWrongStatus, 7, {}, false, both},
      {false, HidExchange::kPatientEnd, HidFault::kSilent, 7, {}, false, both},
      {false, HidExchange::kPatientAnnounce, HidFault::kSilent, 1, {0x01}, true, kAnnounced},
      {true, HidExchange::kPatientEnd, HidFault::kWrongChecksum, 7, {}, false, both + kChecksumAbnormal},
      {true, HidExchange::kPatientEnd, HidFault::kWrongSequence, 7, {}, false, both + kSequenceAbnormal},
      // No verdict, or one the host does not know: the packets went out.
      {true, HidExchange::kPatientEnd, HidFault::kSilent, 1, {}, true, both},
      {true, HidExchange::kPatientEnd, HidFault::kWrongStatus, 1, {}, false, both},
      {true, HidExchange::kPatientEnd, HidFault::kWrongFirstByte, 1, {}, true, both},
      {true, HidExchange::kPatientRequest, HidFault::kSilent, 1, {}, true, both + kSentOk},
      // A refused transfer request ends the upload before any packet.
      {true, HidExchange::kPatientRequest, HidFault::kWrongStatus, 7, {}, false, both},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << (c.upload ? "up" : "down") << ", exchange " << int(c.where)
                                      << ", fault " << int(c.fault));
    RecorderBench bench;
    bench.monitor.Config().patient = sim::EncodePatient({"", "", "", "LATE TEXT", 3, 4});  // b0..b51 are 0
    ASSERT_TRUE(!c.upload || bench.protocol.GetDownLoadDataMode(nullptr) == 1);
    bench.monitor.SetFault(c.where, c.fault);
    CaptureStdout();
    EXPECT_EQ(c.upload ? bench.protocol.PC_Upload(DATAMODE_BP) : bench.protocol.PC_Download(DATAMODE_BP), c.result);
    EXPECT_EQ(GetCapturedStdout(), c.console);
    EXPECT_EQ(bench.monitor.PatientStatuses(), c.statuses);
    const _DOWNLOAD_DATAINFO data = bench.Fetch();
    const bool stored = c.upload ? bench.monitor.PatientUploads().size() == 1
                                 : std::string(data.Info.szPatientInfo4) == "LATE TEXT";
    // A download keeps its records; recorders end the session of a successful upload.
    EXPECT_EQ(std::tuple(stored, bench.state, data.BPSet.vecRecords.size(), bench.monitor.SessionsEnded()),
              std::tuple(c.stored, c.result == 1 ? 3 : 2, c.upload ? 0u : 30u, !c.upload || c.result == 1 ? 1 : 0));
    bench.ExpectUnderstood();
  }
}

}  // namespace
}  // namespace bplink::testing
