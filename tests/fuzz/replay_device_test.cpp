// The replay device the fuzz targets and their seeds rely on: bursts are
// handed out across receives as a serial line would, silence and the end of
// the input fail a receive after the time-out on the virtual clock, and what
// the seed generator writes reads back as it was recorded.

#include <gtest/gtest.h>

#include <numeric>
#include <optional>

#include "replay_device.h"

namespace bplink::fuzz {
namespace {

class Replay : public ::testing::Test {
 protected:
  // Receives `n` bytes; nullopt when the receive failed.
  std::optional<Bytes> Recv(ReplayDevice& device, DWORD n) {
    Bytes buffer(n);
    if (device.RecvData(buffer.data(), n) == 0) return std::nullopt;
    return buffer;
  }
  FuzzMachine machine;
};

TEST_F(Replay, BurstsAreAStreamThatSilenceAndTheEndInterrupt) {
  const Bytes input{3, 'a', 'b', 'c', 2, 'd', 'e', 0, 1, 'f', 2, 'g', 'h', 0, 4, 'i', 'j'};
  ReplayDevice device(input);
  EXPECT_EQ(Recv(device, 2), (Bytes{'a', 'b'}));
  EXPECT_EQ(Recv(device, 2), (Bytes{'c', 'd'})) << "a burst's rest waits for the next receive";
  EXPECT_EQ(Recv(device, 1), (Bytes{'e'}));
  EXPECT_EQ(machine.env.ElapsedMs(), 0u);

  EXPECT_EQ(Recv(device, 1), std::nullopt) << "a burst of length 0 is silence";
  EXPECT_EQ(machine.env.ElapsedMs(), ReplayDevice::kRecvTimeoutMs);
  EXPECT_EQ(Recv(device, 1), (Bytes{'f'}));

  EXPECT_EQ(Recv(device, 3), std::nullopt) << "two bytes, then silence";
  EXPECT_EQ(Recv(device, 3), std::nullopt) << "the failed receive took 'g' 'h'; the last burst is cut short";
  EXPECT_EQ(Recv(device, 0), Bytes{});
  EXPECT_EQ(Recv(device, 1), std::nullopt) << "no input left";
  EXPECT_EQ(machine.env.ElapsedMs(), 4 * ReplayDevice::kRecvTimeoutMs);
}

TEST_F(Replay, EverythingButReceivingSucceedsAndAnEmptyInputIsASilentDevice) {
  ReplayDevice device({});
  BYTE frame[4] = {1, 2, 3, 4};
  EXPECT_NE(device.Open(0), 0);
  EXPECT_EQ(device.Open(ComPortPath(L"ttyS0"), DCB{}), 1);
  EXPECT_NE(device.SendData(frame, sizeof frame), 0);
  EXPECT_NE(device.Close(), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(device.RecvData(frame, 1), 0);
  EXPECT_EQ(machine.env.ElapsedMs(), 3 * ReplayDevice::kRecvTimeoutMs);
}

TEST_F(Replay, WrittenRepliesAndSilencesReadBackAsRecorded) {
  Bytes longReply(2 * kMaxBurst + 7);  // longer than a burst holds
  std::iota(longReply.begin(), longReply.end(), std::uint8_t{1});
  const Bytes shortReply{0x00, 0xFF};

  Bytes input;
  AppendReply(input, shortReply);
  AppendSilence(input);
  AppendReply(input, longReply);
  AppendReply(input, {});
  AppendReply(input, shortReply);
  EXPECT_EQ(input.size(), 3 + 1 + (longReply.size() + 3) + 0 + 3);

  ReplayDevice device(input);
  EXPECT_EQ(Recv(device, 2), shortReply);
  EXPECT_EQ(Recv(device, 1), std::nullopt);
  EXPECT_EQ(Recv(device, static_cast<DWORD>(longReply.size())), longReply);
  EXPECT_EQ(Recv(device, 0), Bytes{});
  EXPECT_EQ(Recv(device, 2), shortReply);
  EXPECT_EQ(Recv(device, 1), std::nullopt);
}

TEST(TakeDataMode, TheFirstByteSelectsAModeAndTheRestIsTheDevice) {
  const Bytes input{kDataModeCount + DATAMODE_ZONE2, 7, 8};
  std::span<const std::uint8_t> rest(input);
  EXPECT_EQ(TakeDataMode(rest), DATAMODE_ZONE2);
  EXPECT_EQ(Bytes(rest.begin(), rest.end()), (Bytes{7, 8}));
  std::span<const std::uint8_t> empty;
  EXPECT_EQ(TakeDataMode(empty), DATAMODE_NONE);
}

}  // namespace
}  // namespace bplink::fuzz
