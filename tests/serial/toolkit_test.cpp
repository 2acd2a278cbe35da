// The serial toolkit the families share, where a family's test would not pin
// it down: which port the search keeps and what it closes, the drain, the
// acknowledged send, and the skeleton every host operation runs in. (The
// plan-then-records download is pinned by the families that use it.)

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>

#include "in_process_device.h"
#include "scripted_device.h"
#include "serial/line.h"
#include "serial/port_search.h"
#include "serial/transfer.h"
#include "virtual_env.h"

namespace bplink::testing {
namespace {

using serial::SearchPortByByte;
using serial::SearchRules;

// Answers every write with a fixed byte.
class Answerer : public sim::DeviceModel {
 public:
  explicit Answerer(BYTE answer) : answer_(answer) {}
  void Receive(const std::uint8_t*, std::size_t, unsigned) override { Send(answer_); }

 private:
  BYTE answer_;
};

// Four listed ports; the second cannot be opened.
class PortSearch : public ::testing::Test {
 protected:
  PortSearch() {
    env_.SetPortNames({L"ttyS0", L"ttyS1", L"ttyS2", L"ttyS3"});
    env_.SetOpenablePaths({L"/dev/ttyS0", L"/dev/ttyS2", L"/dev/ttyS3"});
  }
  int Search(CDevice* device, bool hostOpened, BYTE expected, SearchRules rules = {}) {
    return SearchPortByByte(device, hostOpened, SerialLine(9600), 0xAA, expected, rules, found_);
  }
  VirtualEnv env_;
  ScopedEnv scope_{&env_};
  sim::InProcessDevice device_;
  CString found_ = L"earlier";
  Answerer wrong_{0x15}, right_{0x6C};
};

TEST_F(PortSearch, KeepsTheFirstPortThatAnswersRightOpenAndClosesTheRest) {
  device_.AttachPort(L"/dev/ttyS0", &wrong_);
  device_.AttachPort(L"/dev/ttyS1", &right_);  // listed, but cannot be opened now
  device_.AttachPort(L"/dev/ttyS2", &right_);
  device_.AttachPort(L"/dev/ttyS3", &right_);
  EXPECT_EQ(Search(&device_, false, 0x6C), 1);
  EXPECT_EQ(std::tuple(found_, device_.IsOpen(), device_.Closes()), std::tuple(CString(L"/dev/ttyS2"), true, 1));
  EXPECT_EQ(device_.TriedPaths(), (std::vector<std::wstring>{L"/dev/ttyS0", L"/dev/ttyS2"}));
  device_.Close();
  found_ = L"earlier";
  EXPECT_EQ(Search(&device_, false, 0x7F), 2) << "no port answers as expected";
  EXPECT_EQ(std::tuple(found_, device_.IsOpen(), device_.Opens(), device_.Closes()),
            std::tuple(CString(L"earlier"), false, 5, 5));

  // An exception closes the port and gives the family's result.
  struct : sim::InProcessDevice {
    int SendData(BYTE*, DWORD) override { throw std::runtime_error("line gone"); }
  } throwing;
  throwing.AttachPort(L"/dev/ttyS0", &right_);
  EXPECT_EQ(Search(&throwing, false, 0x6C, {true, 5}), 5);
  EXPECT_FALSE(throwing.IsOpen());
}

// A link the host opened is probed as it is, and left open whatever it
// answers, unless the family always scans.
TEST_F(PortSearch, ALinkTheHostOpenedIsProbedAsItIsOrScannedPast) {
  device_.AttachPort(L"rfcomm0", &right_);
  ASSERT_EQ(device_.Open(L"rfcomm0", SerialLine(9600)), 1);
  EXPECT_EQ(Search(&device_, true, 0x6C), 1);
  EXPECT_EQ(Search(&device_, true, 0x15), 2);
  EXPECT_EQ(std::tuple(found_, device_.IsOpen(), device_.Opens(), env_.ProbedPaths().size()),
            std::tuple(CString(L"earlier"), true, 1, 0u));
  EXPECT_EQ(Search(&device_, true, 0x6C, {false, 8}), 2);
  EXPECT_EQ(env_.ProbedPaths().size(), 4u);
}

TEST(SerialLine, ReceiveBytewiseAndDrainTakeOneByteAtATime) {
  ScriptedDevice dev;
  dev.Reply({0x01}).Silence().Reply({0x03, 0x04, 0x05}).Silence();
  BYTE block[3] = {0, 0xEE, 0};
  serial::ReceiveBytewise(dev, block, 3);
  EXPECT_EQ(Bytes(block, block + 3), (Bytes{0x01, 0xEE, 0x03})) << "a byte that did not come keeps its place";
  serial::Drain(dev);  // the rest, up to the silence
  EXPECT_TRUE(dev.Problems().empty()) << ::testing::PrintToString(dev.Problems());

  ScriptedDevice noisy;  // never falls quiet: drained for a while, not for ever
  int reads = 0;
  noisy.OnRecv([&](int n) { reads = n + 1; });
  noisy.Reply(Bytes(100000, 0x55));
  serial::Drain(noisy);
  EXPECT_GT(reads, 1 + 72) << "more than the longest answer";
  EXPECT_LT(reads, 100000);
}

// Each byte is sent once and waited for; a pause after each receive that
// did not confirm, after the last one only when the family says so.
TEST(SerialLine, EachByteIsSentOnceAndWaitedForUntilConfirmed) {
  VirtualEnv env;
  ScopedEnv scope(&env);
  for (bool pauseAfterLastMiss : {true, false}) {
    ScriptedDevice dev;
    dev.ExpectSend({0x10}).Reply({0x6C}).ExpectSend({0x20}).Reply({0x00}).Silence().Reply({0x6C});
    dev.ExpectSend({0x30}).Reply({0x15}).Silence().Silence();  // never confirmed
    int progress = -1, state = 1;
    const BYTE block[] = {0x10, 0x20, 0x30, 0x40};
    const std::size_t sleeps = env.Sleeps().size();
    EXPECT_FALSE(serial::SendAcknowledged(dev, block, 4, {0x6C, 3, 100, pauseAfterLastMiss},
                                          HostVariables(&progress, &state)));
    EXPECT_TRUE(dev.Problems().empty()) << ::testing::PrintToString(dev.Problems());
    EXPECT_EQ(std::tuple(progress, state, env.Sleeps().size() - sleeps), std::tuple(25, 1, pauseAfterLastMiss ? 5u : 4u))
        << "after the second of four bytes";
  }
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
  EXPECT_EQ(serial::RunTransfer(HostVariables(nullptr, nullptr), nullptr, DATAMODE_BP, [] { return 1; },
                                [] { return 1; }),
            1);
}

}  // namespace
}  // namespace bplink::testing
