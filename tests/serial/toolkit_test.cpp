// The serial toolkit the families share, where a family's test does not pin
// it down: a link the host opened, the drain of a line that never falls
// quiet, and the skeleton every host operation runs in. (Which port the
// search keeps and closes, the acknowledged send with its attempts and
// pauses, and the plan-then-records download are pinned, byte and
// millisecond, by the families that use them.)

#include <stdexcept>

#include "serial/line.h"
#include "serial/port_search.h"
#include "serial/transfer.h"
#include "serial_bench.h"

namespace bplink::testing {
namespace {

// Answers every write with 0x6C.
class Answerer : public sim::DeviceModel {
  void Receive(const std::uint8_t*, std::size_t, unsigned) override { Send(std::uint8_t{0x6C}); }
};

// A link the host opened is probed as it is, and left open whatever it
// answers, unless the family always scans the port list.
TEST(PortSearch, ALinkTheHostOpenedIsProbedAsItIsOrScannedPast) {
  SerialBench bench(nullptr);  // three ports, none answering
  sim::InProcessDevice& device = bench.device;
  Answerer answerer;
  device.AttachPort(L"rfcomm0", &answerer);
  ASSERT_EQ(device.Open(L"rfcomm0", SerialLine(9600)), 1);
  CString found = L"earlier";
  const auto search = [&](BYTE expected, serial::SearchRules rules) {
    return serial::SearchPortByByte(&device, true, SerialLine(9600), 0xAA, expected, rules, found);
  };
  EXPECT_EQ(search(0x6C, {}), 1);
  EXPECT_EQ(search(0x15, {}), 2);
  EXPECT_EQ(std::tuple(found, device.IsOpen(), device.Opens(), bench.env.ProbedPaths().size()),
            std::tuple(CString(L"earlier"), true, 1, 0u));
  EXPECT_EQ(search(0x6C, {false, 8}), 2);
  EXPECT_EQ(bench.env.ProbedPaths().size(), 3u);
}

TEST(SerialLine, ALineThatNeverFallsQuietIsDrainedForAWhileNotForEver) {
  ScriptedDevice noisy;
  int reads = 0;
  noisy.OnRecv([&](int n) { reads = n + 1; });
  noisy.Reply(Bytes(100000, 0x55));
  serial::Drain(noisy);
  EXPECT_GT(reads, 1 + 72) << "more than the longest answer";
  EXPECT_LT(reads, 100000);
}

// The data mode stored, progress 0 and state running while the device is
// looked for; the port closed after the steps, whatever happened in them.
TEST(SerialTransfer, RunTransferSetsTheStateAndClosesAfterTheSteps) {
  struct Case {
    int found, stepped;  // 9: throws
    int result, state, closes;
    bool stepsRun;
  };
  const Case cases[] = {{2, 1, 2, kStateFailed, 0, false}, {1, 7, 7, kStateFailed, 1, true},
                        {1, 1, 1, kStateSucceeded, 1, true}, {9, 1, 8, kStateFailed, 1, false},
                        {1, 9, 8, kStateFailed, 1, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.found * 10 + c.stepped);
    ScriptedDevice dev;
    int progress = 40, state = 0;
    bool stepsRun = false;
    CProtocolBase::m_nABPM_Type = DATAMODE_NONE;
    const int result = serial::RunTransfer(
        HostVariables(&progress, &state), &dev, DATAMODE_ZONE2,
        [&] {
          EXPECT_EQ((std::vector<int>{progress, state, CProtocolBase::m_nABPM_Type}),
                    (std::vector<int>{0, kStateRunning, DATAMODE_ZONE2}));
          if (c.found == 9) throw std::runtime_error("gone");
          return c.found;
        },
        [&] {
          stepsRun = true;
          if (c.stepped == 9) throw std::runtime_error("gone");
          return c.stepped;
        });
    EXPECT_EQ(std::tuple(result, state, dev.Closes(), stepsRun), std::tuple(c.result, c.state, c.closes, c.stepsRun));
  }
  EXPECT_EQ(serial::RunTransfer(HostVariables(nullptr, nullptr), nullptr, DATAMODE_BP, [] { return 1; }, [] { return 1; }), 1);
}

}  // namespace
}  // namespace bplink::testing
