// The shared port search: which port it keeps, what it leaves open, and how
// a host-opened link and an exception are treated.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "in_process_device.h"
#include "serial/port_search.h"
#include "virtual_env.h"

namespace {

using bplink::serial::SearchPortByByte;
using bplink::serial::SearchRules;
using bplink::sim::InProcessDevice;

// Answers a probe byte with a fixed byte.
class Answerer : public bplink::sim::DeviceModel {
 public:
  explicit Answerer(BYTE answer) : answer_(answer) {}
  void Receive(const std::uint8_t*, std::size_t, unsigned) override { Send(answer_); }

 private:
  BYTE answer_;
};

class Throwing : public InProcessDevice {
 public:
  int SendData(BYTE*, DWORD) override { throw std::runtime_error("line gone"); }
};

DCB Line() {
  DCB dcb{};
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  return dcb;
}

class PortSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.SetPortNames({L"ttyS0", L"ttyS1", L"ttyS2", L"ttyS3"});
    env_.SetOpenablePaths({L"/dev/ttyS0", L"/dev/ttyS2", L"/dev/ttyS3"});
  }
  bplink::testing::VirtualEnv env_;
  bplink::testing::ScopedEnv scope_{&env_};
};

TEST_F(PortSearch, KeepsTheFirstPortThatAnswersAsExpectedOpen) {
  Answerer wrong(0x15), right(0x6C), alsoRight(0x6C);
  InProcessDevice device;
  device.AttachPort(L"/dev/ttyS0", &wrong);
  device.AttachPort(L"/dev/ttyS1", &right);  // listed, but cannot be opened now
  device.AttachPort(L"/dev/ttyS2", &alsoRight);
  device.AttachPort(L"/dev/ttyS3", &right);
  CString found;
  EXPECT_EQ(SearchPortByByte(&device, false, Line(), 0xAA, 0x6C, SearchRules{}, found), 1);
  EXPECT_EQ(found, L"/dev/ttyS2");
  EXPECT_TRUE(device.IsOpen());
  EXPECT_EQ(device.TriedPaths(), (std::vector<std::wstring>{L"/dev/ttyS0", L"/dev/ttyS2"}));
  EXPECT_EQ(device.Closes(), 1);  // the wrong one
  EXPECT_EQ(env_.ElapsedMs(), 2 * bplink::serial::kProbeAnswerPauseMs);
}

TEST_F(PortSearch, NoAnswerLeavesNothingOpen) {
  Answerer wrong(0x00);
  InProcessDevice device;
  device.AttachPort(L"/dev/ttyS0", nullptr);  // silent
  device.AttachPort(L"/dev/ttyS2", &wrong);
  CString found = L"earlier";
  EXPECT_EQ(SearchPortByByte(&device, false, Line(), 0xAA, 0x6C, SearchRules{}, found), 2);
  EXPECT_EQ(found, L"earlier");
  EXPECT_FALSE(device.IsOpen());
  EXPECT_EQ(device.Opens(), device.Closes());
  EXPECT_EQ(SearchPortByByte(nullptr, false, Line(), 0xAA, 0x6C, SearchRules{}, found), 2);
}

TEST_F(PortSearch, HostOpenedLinkIsProbedAsItIs) {
  Answerer right(0x6C);
  InProcessDevice device;
  device.AttachPort(L"rfcomm0", &right);
  ASSERT_EQ(device.Open(L"rfcomm0", Line()), 1);
  CString found;
  EXPECT_EQ(SearchPortByByte(&device, true, Line(), 0xAA, 0x6C, SearchRules{}, found), 1);
  EXPECT_TRUE(found.empty());
  EXPECT_EQ(SearchPortByByte(&device, true, Line(), 0xAA, 0x15, SearchRules{}, found), 2);
  EXPECT_TRUE(device.IsOpen());  // a wrong answer leaves the host's link open
  EXPECT_EQ(env_.ProbedPaths().size(), 0u);

  // A family that always scans ignores the flag.
  const SearchRules alwaysScan{false, 8};
  EXPECT_EQ(SearchPortByByte(&device, true, Line(), 0xAA, 0x6C, alwaysScan, found), 2);
  EXPECT_EQ(env_.ProbedPaths().size(), 4u);
}

TEST_F(PortSearch, ExceptionClosesAndGivesTheFamilysResult) {
  Answerer right(0x6C);
  Throwing device;
  device.AttachPort(L"/dev/ttyS0", &right);
  CString found;
  EXPECT_EQ(SearchPortByByte(&device, false, Line(), 0xAA, 0x6C, SearchRules{true, 8}, found), 8);
  EXPECT_FALSE(device.IsOpen());
  EXPECT_EQ(SearchPortByByte(&device, false, Line(), 0xAA, 0x6C, SearchRules{true, 5}, found), 5);
}

}  // namespace
