// The exact exchange on the wire, against a script: speeds, command bytes,
// offsets as the monitor sends them.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include "scripted_device.h"
#include "virtual_env.h"

namespace {

using namespace bplink::testing;
using bplink::CalendarTime;

constexpr std::size_t kPlanReplyLength = 77;

// The plan reply after its echo: recording from 2024-02-28 23:59:30, with
// `records` measurements and no SpO2 samples.
Bytes PlanReply(BYTE echo, BYTE records) {
  Bytes reply(1 + kPlanReplyLength, 0);
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
  };
  for (const WireCase& c : cases) {
    VirtualEnv env;
    ScopedEnv scope(&env);
    env.SetPortNames({L"ttyUSB0"});
    env.SetOpenablePaths({L"/dev/ttyUSB0"});
    ScriptedDevice dev;
    dev.ExpectSend({c.greeting}).Reply({c.greeting});
    dev.ExpectSend({c.request}).Reply(PlanReply(c.request, 2));
    dev.ExpectSend({0xEE}).Reply(Record(0, 0, 45));
    dev.ExpectSend({0xEE}).Reply(Record(1, 0, 0));  // 2^16 units
    CProtocolCOMKV32 protocol;
    protocol.SetDevice(&dev, false);
    ASSERT_EQ(protocol.PC_Download(c.mode), 1);
    for (const auto& problem : dev.Problems()) ADD_FAILURE() << problem;
    EXPECT_EQ(dev.OpenedBaudRates(), (std::vector<DWORD>{4800, 115200}));
    EXPECT_EQ(dev.OpenedPaths(), (std::vector<CString>{L"/dev/ttyUSB0", L"/dev/ttyUSB0"}));
    EXPECT_EQ(dev.Closes(), 2);

    _DOWNLOAD_DATAINFO data;
    protocol.GetDownLoadData(&data);
    ASSERT_EQ(data.BPSet.vecRecords.size(), 2u);
    const auto& r = data.BPSet.vecRecords;
    EXPECT_EQ(r[0].nSys, 0x0123);
    EXPECT_EQ((CalendarTime{r[0].nYear, r[0].wMonth, r[0].wDay, r[0].wHour, r[0].wMinute, r[0].wSecond}),
              c.first);
    EXPECT_EQ((CalendarTime{r[1].nYear, r[1].wMonth, r[1].wDay, r[1].wHour, r[1].wMinute, r[1].wSecond}),
              c.second);
  }
}

// A mode without a plan request of its own sends 0x00, which no monitor echoes.
TEST(Kv32Wire, OtherModesGreetWithQAndRequestNothingKnown) {
  VirtualEnv env;
  ScopedEnv scope(&env);
  env.SetPortNames({L"ttyUSB0"});
  env.SetOpenablePaths({L"/dev/ttyUSB0"});
  ScriptedDevice dev;
  dev.ExpectSend({0x51}).Reply({0x51}).ExpectSend({0x00}).Silence();
  CProtocolCOMKV32 protocol;
  protocol.SetDevice(&dev, true);  // the flag is not read: the port is searched
  EXPECT_EQ(protocol.PC_Download(DATAMODE_BP_SET2), 5);
  EXPECT_TRUE(dev.Problems().empty());
  EXPECT_EQ(dev.Opens(), 2);
}

}  // namespace
