// Devices that misbehave: each fault gives its result code and state, costs
// no more than one receive time-out, closes the link, and leaves the plan
// record and the SpO2 set as they were. (Arbitrary replies are the fuzz
// targets' part.)

#include "hid_bench.h"

namespace bplink::testing {
namespace {

using sim::HidExchange;
using sim::HidFault;

// A type 2 monitor (plan, records, alarm limits) in a download or an upload;
// a type 3 monitor in a download with SpO2.
enum class Op { kDownload, kUpload, kSpO2 };
struct FaultCase {
  Op op;
  HidExchange where;
  HidFault fault;
  int result;
};

const FaultCase kFaults[] = {
    {Op::kDownload, HidExchange::kDeviceInfo, HidFault::kSilent, 5},
    {Op::kDownload, HidExchange::kDeviceInfo, HidFault::kWrongFirstByte, 7},
    {Op::kDownload, HidExchange::kHandShake, HidFault::kSilent, 5},
    {Op::kDownload, HidExchange::kHandShake, HidFault::kWrongFirstByte, 7},
    {Op::kDownload, HidExchange::kReadPlan, HidFault::kSilent, 5},
    {Op::kDownload, HidExchange::kReadPlan, HidFault::kWrongStatus, 7},
    {Op::kDownload, HidExchange::kReadPlan, HidFault::kWrongFirstByte, 7},
    {Op::kDownload, HidExchange::kPlanFrame, HidFault::kSilent, 5},
    {Op::kDownload, HidExchange::kPlanFrame, HidFault::kDamaged, 10},
    {Op::kDownload, HidExchange::kReadRecords, HidFault::kWrongStatus, 7},
    {Op::kDownload, HidExchange::kBlockHeader, HidFault::kSilent, 5},
    {Op::kDownload, HidExchange::kBlockHeader, HidFault::kWrongFirstByte, 5},
    {Op::kDownload, HidExchange::kReadAlarms, HidFault::kWrongStatus, 7},
    {Op::kDownload, HidExchange::kAlarmFrame, HidFault::kWrongFirstByte, 7},  // a frame beginning 0x4E
    {Op::kDownload, HidExchange::kAlarmFrame, HidFault::kDamaged, 5},
    {Op::kDownload, HidExchange::kAlarmFrame, HidFault::kSilent, 5},
    {Op::kUpload, HidExchange::kWritePlan, HidFault::kWrongStatus, 7},
    {Op::kUpload, HidExchange::kPlanPart1, HidFault::kWrongStatus, 7},  // the second part never goes out
    {Op::kUpload, HidExchange::kPlanPart2, HidFault::kWrongStatus, 7},
    {Op::kUpload, HidExchange::kPlanPart2, HidFault::kSilent, 5},
    {Op::kUpload, HidExchange::kWriteAlarms, HidFault::kWrongStatus, 5},  // a refused upload is 5, not 7
    {Op::kUpload, HidExchange::kWriteAlarms, HidFault::kSilent, 5},
    {Op::kSpO2, HidExchange::kReadSpO2, HidFault::kWrongStatus, 7},
    {Op::kSpO2, HidExchange::kSpO2Header, HidFault::kDamaged, 5},
    {Op::kSpO2, HidExchange::kSpO2Header, HidFault::kWrongFirstByte, 5},
};

TEST(HidFaults, EachFaultGivesItsCode) {
  for (const auto& c : kFaults) {
    SCOPED_TRACE(::testing::Message() << "exchange " << int(c.where) << " fault " << int(c.fault));
    HidBench bench(c.op == Op::kSpO2 ? 0x11 : 0x51);
    bench.monitor.Config().stores[0].readings = Readings(4, {2025, 4, 1, 9, 0, 0});
    bench.monitor.Config().spo2.samples = {{{2025, 4, 1, 9, 0, 0}, 97, 60}};
    bench.monitor.Config().alarms.day = {1, {180, 110, 0, 0, 0, 0}};
    bench.monitor.SetFault(c.where, c.fault);
    ASSERT_TRUE(c.op != Op::kUpload || bench.protocol.GetDownLoadDataMode(nullptr) == 1);
    const int r = c.op == Op::kUpload ? bench.protocol.PC_Upload(DATAMODE_BP)
                                      : bench.protocol.PC_Download(c.op == Op::kSpO2 ? DATAMODE_BP_SPO2 : DATAMODE_BP);
    EXPECT_EQ(std::tuple(r, bench.state, bench.device.Closes(), bench.monitor.Uploads().size()),
              std::tuple(c.result, 2, bench.device.Opens(), c.where == HidExchange::kWriteAlarms ? 1u : 0u));
    // A silent device costs one receive time-out, nothing more.
    EXPECT_LE(bench.env.ElapsedMs(), 300u + sim::InProcessDevice::kDefaultRecvTimeoutMs);
    bench.ExpectUnderstood();
    const _DOWNLOAD_DATAINFO data = bench.Fetch();
    EXPECT_EQ(std::tuple(data.Info.DayWarn, data.SpO2Set.vecRecords.size()), std::tuple(kDefaultDayWarn, 0u));
  }
}

// A block whose header never comes leaves nothing of the last download in its set.
TEST(HidFaults, ABlockHeaderThatFailsLeavesTheSetEmpty) {
  HidBench bench(0x51);
  bench.monitor.Config().stores[0].readings = Readings(4, {2025, 4, 1, 9, 0, 0});
  ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 1);
  ASSERT_EQ(bench.Fetch().BPSet.Head.nCount, 4);
  bench.monitor.SetFault(HidExchange::kBlockHeader, HidFault::kSilent);
  EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_BP), 5);
  EXPECT_EQ(bench.Fetch().BPSet, _BP_DATASET{});
}

}  // namespace
}  // namespace bplink::testing
