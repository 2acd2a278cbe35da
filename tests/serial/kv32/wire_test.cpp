// The exact exchange on the wire, against a script: speeds, ports, command
// bytes and record offsets as the monitor sends them.

#include "kv32_bench.h"
#include "scripted_device.h"

namespace {

using namespace bplink::testing;
using bplink::CalendarTime;

// The plan reply after its echo: recording from 2024-02-28 23:59:30, with
// `records` measurements.
Bytes PlanReply(BYTE echo, BYTE records) {
  Bytes reply(1 + 77, 0);
  reply[0] = echo;
  const Bytes start = {0x07, 0xE8, 2, 28, 23, 59, 30};
  std::copy(start.begin(), start.end(), reply.begin() + 1 + 41);
  reply[1 + 72] = records;
  return reply;
}

// A record after its echo: offset q0 / q6 q7, systolic 0x0123.
Bytes Record(BYTE q0, BYTE q6, BYTE q7) { return {0xEE, q0, 0x01, 0x23, 80, 70, 93, q6, q7, 0, 0, 0, 0, 0}; }

struct WireCase {
  enum_DataMode mode;
  BYTE greeting, request;
  CalendarTime first, second;
};

TEST(Kv32Wire, DownloadGreetsSlowThenReopensTheSamePortFast) {
  const WireCase cases[] = {
      {DATAMODE_BP_SPO2, 0x52, 0x53, {2024, 2, 29, 0, 0, 15}, {2024, 2, 29, 18, 11, 46}},
      {DATAMODE_BP, 0x51, 0x54, {2024, 2, 29, 0, 44, 30}, {2024, 4, 14, 12, 15, 30}},
      {DATAMODE_BP_SET2, 0x51, 0x00, {}, {}},  // no plan request of its own: never echoed
  };
  for (const WireCase& c : cases) {
    VirtualEnv env;
    ScopedEnv scope(&env);
    env.SetPortNames({L"ttyUSB0"});
    env.SetOpenablePaths({L"/dev/ttyUSB0"});
    ScriptedDevice dev;
    dev.ExpectSend({c.greeting}).Reply({c.greeting});
    if (c.request == 0x00) {
      dev.ExpectSend({0x00}).Silence();
    } else {
      dev.ExpectSend({c.request}).Reply(PlanReply(c.request, 2));
      dev.ExpectSend({0xEE}).Reply(Record(0, 0, 45));
      dev.ExpectSend({0xEE}).Reply(Record(1, 0, 0));  // 2^16 units
    }
    CProtocolCOMKV32 protocol;
    protocol.SetDevice(&dev, true);  // the flag is not read: the port is searched
    EXPECT_EQ(protocol.PC_Download(c.mode), c.request == 0x00 ? 5 : 1);
    for (const auto& problem : dev.Problems()) ADD_FAILURE() << problem;
    EXPECT_EQ(dev.OpenedBaudRates(), (std::vector<DWORD>{4800, 115200}));
    EXPECT_EQ(dev.OpenedPaths(), (std::vector<CString>{L"/dev/ttyUSB0", L"/dev/ttyUSB0"}));
    EXPECT_EQ(dev.Closes(), 2);
    if (c.request == 0x00) continue;

    _DOWNLOAD_DATAINFO data;
    protocol.GetDownLoadData(&data);
    ASSERT_EQ(data.BPSet.vecRecords.size(), 2u);
    EXPECT_EQ(data.BPSet.vecRecords[0].nSys, 0x0123);
    EXPECT_EQ(RecordTime(data.BPSet.vecRecords[0]), c.first);
    EXPECT_EQ(RecordTime(data.BPSet.vecRecords[1]), c.second);
  }
}

}  // namespace
