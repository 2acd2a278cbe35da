// Devices that misbehave: each fault gives its result code, the link is
// closed, and no byte from the wire can crash or hang the library.

#include <random>

#include "hid_bench.h"

namespace bplink::testing {
namespace {

using sim::HidExchange;
using sim::HidFault;

struct FaultCase {
  HidExchange where;
  HidFault fault;
  int result;
};

const FaultCase kFaults[] = {
    {HidExchange::kDeviceInfo, HidFault::kSilent, 5},
    {HidExchange::kDeviceInfo, HidFault::kWrongFirstByte, 7},
    {HidExchange::kHandShake, HidFault::kSilent, 5},
    {HidExchange::kHandShake, HidFault::kWrongFirstByte, 7},
    {HidExchange::kReadPlan, HidFault::kSilent, 5},
    {HidExchange::kReadPlan, HidFault::kWrongStatus, 7},
    {HidExchange::kReadPlan, HidFault::kWrongFirstByte, 7},
    {HidExchange::kPlanFrame, HidFault::kSilent, 5},
    {HidExchange::kPlanFrame, HidFault::kDamaged, 10},
    {HidExchange::kReadRecords, HidFault::kWrongStatus, 7},
    {HidExchange::kBlockHeader, HidFault::kSilent, 5},
    {HidExchange::kBlockHeader, HidFault::kWrongFirstByte, 5},
};

TEST(HidFaults, EachFaultGivesItsCode) {
  for (const auto& c : kFaults) {
    SCOPED_TRACE(::testing::Message() << "exchange " << int(c.where) << " fault " << int(c.fault));
    HidBench bench(0x51);
    bench.monitor.Config().stores[0].readings = Readings(4, {2025, 4, 1, 9, 0, 0});
    bench.monitor.SetFault(c.where, c.fault);
    EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP), c.result);
    EXPECT_EQ(bench.state, 2);
    EXPECT_EQ(bench.device.Closes(), 1);
    // A silent device costs one receive time-out, nothing more.
    EXPECT_LE(bench.env.ElapsedMs(), 100u + sim::InProcessDevice::kDefaultRecvTimeoutMs);
    EXPECT_TRUE(bench.monitor.Complaints().empty());
  }
}

TEST(HidFaults, ADamagedRecordIsDroppedAndTheBlockGoesOn) {
  HidBench bench(0x51);
  auto& store = bench.monitor.Config().stores[0];
  store = {3, {}, Readings(5, {2025, 4, 1, 9, 0, 0})};
  bench.monitor.AddRecordFault({0, 2, false});
  ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 1);
  const _BP_DATASET set = bench.Fetch().BPSet;
  EXPECT_EQ(set.Head.nCount, 5);
  ASSERT_EQ(set.vecRecords.size(), 4u);
  const std::size_t kept[] = {0, 1, 3, 4};
  for (std::size_t i = 0; i < std::size(kept); ++i)
    ExpectRecord(set.vecRecords[i], store.readings[kept[i]], 3);
}

TEST(HidFaults, AMissingRecordFailsTheBlockAndKeepsWhatCame) {
  HidBench bench(0x02);  // a recorder: its second set is not read after a failure
  auto& store = bench.monitor.Config().stores[0];
  store = {1, {2025, 4, 1, 9, 0, 0}, Readings(6, {2025, 4, 1, 9, 0, 0})};
  bench.monitor.AddRecordFault({0, 3, true});
  EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 5);
  EXPECT_EQ(bench.state, 2);
  const _DOWNLOAD_DATAINFO data = bench.Fetch();
  EXPECT_EQ(data.BPSet.Head.nCount, 6);
  ASSERT_EQ(data.BPSet.vecRecords.size(), 5u);
  ExpectRecord(data.BPSet.vecRecords[2], store.readings[2], 1);
  ExpectRecord(data.BPSet.vecRecords[3], store.readings[4], 1);
  EXPECT_EQ(bench.monitor.SessionsEnded(), 0);
}

// In mode 7 a failed store does not keep the next ones from being read.
TEST(HidFaults, AllStoresAreReadEvenAfterOneFails) {
  ScriptedBench bench;
  ScriptedDevice& dev = bench.dev;
  const auto header = [](int count, int format) {
    return DataFrame(0x46, 0x41, {0x00, static_cast<BYTE>(count), static_cast<BYTE>(format), 0, 0, 0, 0, 0, 0, 0});
  };
  Bytes aux(20, 0x00);
  const Bytes record{0x00, 0x78, 0x50, 0x40, 0x5D, 26, 1, 2, 3, 4, 0x00, 0x00};
  std::copy(record.begin(), record.end(), aux.begin());
  aux[12] = 0x11, aux[13] = 0x22;

  dev.ExpectSend({0x40, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC}).Reply({0x41, 0x00, 0x41, 0x01, 0x00, 0, 0});
  dev.ExpectSend({0x42, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC}).Reply(Bytes(22, 0x48));
  dev.ExpectSend({0x43, 0x41, 0x01, 0x07, 0x02, 0x00}).Reply({0x4A, 0x43, 0x01, 0x00});
  dev.Reply(header(2, 2)).Reply(Packed(record)).Silence();  // store 1 breaks off
  dev.Reply(header(1, 3)).Reply(Packed(aux));
  dev.Reply(header(0, 2));

  EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_ZONE_ALL), 5);
  bench.ExpectScriptPlayed();
  EXPECT_EQ(bench.stage, TRANSPORT_BP_ZONE1);

  _DOWNLOAD_DATAINFO data;
  bench.protocol.GetDownLoadData(&data);
  EXPECT_EQ(data.ZoneSet1.Head.nCount, 2);
  EXPECT_EQ(data.ZoneSet1.vecRecords.size(), 1u);
  ASSERT_EQ(data.ZoneSet2.vecRecords.size(), 1u);
  EXPECT_EQ(data.ZoneSet2.vecRecords[0].wAux1, 0x11);
  EXPECT_EQ(data.ZoneSet2.vecRecords[0].wAux2, 0x22);
  EXPECT_EQ(data.ZoneSet2.vecRecords[0].nYear, 2026);
  EXPECT_TRUE(data.ZoneSet3.vecRecords.empty());
}

// A device that identifies itself properly and then answers every read with
// bytes that look like the frame expected but are random inside.
class RandomDevice : public CDevice {
 public:
  explicit RandomDevice(unsigned seed) : random_(seed) {}
  int Open(int) override { return 1; }
  int Close() override { return 1; }
  int SendData(BYTE* frame, DWORD size) override {
    last_code_ = size > 0 ? frame[0] : 0;
    return Chance(97);
  }
  int RecvData(BYTE* into, DWORD size) override {
    if (++reads_ > kMaxReads || !Chance(95)) return 0;
    for (DWORD i = 0; i < size; ++i)
      into[i] = static_cast<BYTE>(random_() | (Chance(97) ? 0x80 : 0x00));
    if (reads_ == 1) {
      const BYTE identities[] = {0x01, 0x03, 0x11, 0x21, 0x31, 0x41, 0x51, 0x0F, 0x60};
      into[0] = 0x41;
      into[2] = identity_ = identities[random_() % std::size(identities)];
    } else if (size == 22) {
      into[0] = 0x48;
    } else if (size == 4 && Chance(90)) {
      into[0] = 0x4A, into[1] = last_code_, into[2] = 0x01;
    } else if (size == 14 && Chance(80)) {
      // A block header with a small count, in any format.
      PutHeader(into, 0x46, {0, static_cast<BYTE>(random_() % 40), static_cast<BYTE>(random_() % 5)}, 10);
    } else if (size == 16 && Chance(80)) {
      // An SpO2 header: a count of up to 65535 samples, in any format.
      PutHeader(into, 0x47, {0, static_cast<BYTE>(random_()), static_cast<BYTE>(random_()),
                             static_cast<BYTE>(random_() % 4)}, 12);
    } else if (size > 4 && Chance(70)) {
      into[1] = identity_;  // a data frame's identity byte, or noise in a record
    }
    return 1;
  }

 private:
  static constexpr int kMaxReads = 300;
  bool Chance(unsigned percent) { return random_() % 100 < percent; }
  // A header frame: count and format as given, then random bytes.
  void PutHeader(BYTE* into, BYTE code, Bytes plain, std::size_t length) {
    while (plain.size() < length) plain.push_back(static_cast<BYTE>(random_()));
    const auto packed = sim::Pack7in8(plain.data(), plain.size());
    into[0] = code, into[1] = identity_;
    std::copy(packed.begin(), packed.end(), into + 2);
  }
  std::mt19937 random_;
  BYTE last_code_ = 0, identity_ = 0;
  int reads_ = 0;
};

TEST(HidFaults, RandomRepliesNeverCrashOrHang) {
  VirtualEnv env;
  ScopedEnv scope(&env);
  ::testing::internal::CaptureStdout();  // the patient transfer prints
  for (unsigned seed = 0; seed < 1000; ++seed) {
    SCOPED_TRACE(seed);
    RandomDevice dev(seed);
    CProtocol_NEW protocol;
    int progress = 0, state = 0;
    enum_TransportType stage = TRANSPORT_BP_MODE0;
    protocol.SetDevice(&dev, false);
    protocol.SetProgressInfo(&progress, &state, &stage);
    const int r = protocol.PC_Download(static_cast<enum_DataMode>(1 + seed % 8));
    EXPECT_TRUE(r == 1 || r == 5 || r == 7 || r == 10) << r;
    EXPECT_EQ(state, r == 1 ? 3 : 2);
    EXPECT_GE(progress, 0);
    EXPECT_LE(progress, 100);
    _DOWNLOAD_DATAINFO data;
    protocol.GetDownLoadData(&data);
    for (const _BP_DATASET* set : {&data.BPSet, &data.BPSet2, &data.ZoneSet2, &data.ZoneSet3})
      EXPECT_LE(set->vecRecords.size(), static_cast<std::size_t>(set->Head.nCount));
    EXPECT_LE(data.SpO2Set.vecRecords.size(), static_cast<std::size_t>(data.SpO2Set.Head.nCount));
    const int up = protocol.PC_Upload(DATAMODE_BP);
    EXPECT_TRUE(up == 1 || up == 5 || up == 6 || up == 7) << up;
    _UPLOAD_NEEDED_DATA needed;
    const int query = protocol.PC_DownloadBPInfoTimeInterval(needed);
    EXPECT_TRUE(query == 1 || query == 5 || query == 7 || query == 10) << query;
    EXPECT_LE(needed.vecInterval1.size(), 19u);
  }
  ::testing::internal::GetCapturedStdout();
}

}  // namespace
}  // namespace bplink::testing
