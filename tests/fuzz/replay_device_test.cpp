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

constexpr std::uint64_t kT = ReplayDevice::kRecvTimeoutMs;

// What each receive gave (nullopt: it failed), and the virtual time after it.
using Reads = std::vector<std::optional<Bytes>>;
Reads Receive(ReplayDevice& device, std::initializer_list<DWORD> lengths, const FuzzMachine& machine,
              std::vector<std::uint64_t>& elapsed) {
  Reads reads;
  for (DWORD n : lengths) {
    Bytes buffer(n);
    reads.push_back(device.RecvData(buffer.data(), n) != 0 ? std::optional(buffer) : std::nullopt);
    elapsed.push_back(machine.env.ElapsedMs());
  }
  return reads;
}

// A burst's rest waits for the next receive; a burst of length 0 is
// silence; a failed receive takes what did arrive ('g' 'h') and costs the
// time-out; the last burst is cut short by the end, and then nothing comes.
TEST(Replay, BurstsAreAStreamThatSilenceAndTheEndInterrupt) {
  FuzzMachine machine;
  const Bytes input{3, 'a', 'b', 'c', 2, 'd', 'e', 0, 1, 'f', 2, 'g', 'h', 0, 4, 'i', 'j'};
  ReplayDevice device(input);
  BYTE frame[4] = {1, 2, 3, 4};  // everything but receiving succeeds
  EXPECT_TRUE(device.Open(0) && device.Open(ComPortPath(L"ttyS0"), DCB{}) == 1 && device.SendData(frame, 4) &&
              device.Close());
  std::vector<std::uint64_t> elapsed;
  EXPECT_EQ(Receive(device, {2, 2, 1, 1, 1, 3, 3, 0, 1, 1}, machine, elapsed),
            (Reads{Bytes{'a', 'b'}, Bytes{'c', 'd'}, Bytes{'e'}, std::nullopt, Bytes{'f'}, std::nullopt, std::nullopt,
                   Bytes{}, std::nullopt, std::nullopt}));
  EXPECT_EQ(elapsed, (std::vector<std::uint64_t>{0, 0, 0, kT, kT, 2 * kT, 3 * kT, 3 * kT, 4 * kT, 5 * kT}));
}

TEST(Replay, WrittenRepliesAndSilencesReadBackAsRecorded) {
  FuzzMachine machine;
  Bytes longReply(2 * kMaxBurst + 7);  // longer than a burst holds
  std::iota(longReply.begin(), longReply.end(), std::uint8_t{1});
  const Bytes shortReply{0x00, 0xFF};
  Bytes input;
  AppendReply(input, shortReply);
  AppendSilence(input);
  AppendReply(input, longReply);
  AppendReply(input, {});
  AppendReply(input, shortReply);
  ReplayDevice device(input);
  std::vector<std::uint64_t> elapsed;
  EXPECT_EQ(Receive(device, {2, 1, static_cast<DWORD>(longReply.size()), 0, 2, 1}, machine, elapsed),
            (Reads{shortReply, std::nullopt, longReply, Bytes{}, shortReply, std::nullopt}));
  EXPECT_EQ(elapsed, (std::vector<std::uint64_t>{0, kT, kT, kT, kT, 2 * kT}));
}

TEST(TakeDataMode, TheFirstByteSelectsAModeAndTheRestIsTheDevice) {
  const Bytes input{kDataModeCount + DATAMODE_ZONE2, 7, 8};
  std::span<const std::uint8_t> rest(input), empty;
  EXPECT_EQ(TakeDataMode(rest), DATAMODE_ZONE2);
  EXPECT_EQ(Bytes(rest.begin(), rest.end()), (Bytes{7, 8}));
  EXPECT_EQ(TakeDataMode(empty), DATAMODE_NONE);
}

}  // namespace
}  // namespace bplink::fuzz
