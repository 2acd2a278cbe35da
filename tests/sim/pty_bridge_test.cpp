// A model served on a pseudo-terminal, reached through the real serial port,
// hears the host at the line speed the host set, paced or not, answers at any
// length, and goes away cleanly under a waiting host.

#include <bplink/comports.h>
#include <bplink/device.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "echo_model.h"
#include "pty_bridge.h"
#include "real_time.h"

namespace {

using namespace bplink::testing;
using bplink::sim::EchoModel;
using bplink::sim::PtyBridge;
using Bytes = std::vector<BYTE>;

// Opens the bridge's port at `baud`, sends `bytes` and reads `expect` bytes
// back (as many as were sent when not given): the answer, empty when none
// came, and how long that took in microseconds.
std::pair<Bytes, long long> Exchange(PtyBridge& bridge, DWORD baud, Bytes bytes, unsigned timeoutMs,
                                     std::size_t expect = 0) {
  CDevice_COM port;
  if (port.Open(Wide(bridge.Path()), bplink::SerialLine(baud)) != 1) return {};
  port.SetRecvTimeout(timeoutMs);
  Bytes got(expect != 0 ? expect : bytes.size());
  const auto start = std::chrono::steady_clock::now();
  const bool answered = port.SendData(bytes.data(), static_cast<DWORD>(bytes.size())) != 0 &&
                        port.RecvData(got.data(), static_cast<DWORD>(got.size())) != 0;
  const auto took = std::chrono::steady_clock::now() - start;
  return {answered ? got : Bytes{}, std::chrono::duration_cast<std::chrono::microseconds>(took).count()};
}

// Answers every write with a burst longer than a pty buffers at once.
class BurstModel : public bplink::sim::DeviceModel {
 public:
  static constexpr std::size_t kBurst = 20000;
  void Receive(const std::uint8_t*, std::size_t, unsigned) override {
    for (std::size_t i = 0; i < kBurst; ++i) Send(static_cast<std::uint8_t>(i * 7));
  }
};

TEST(PtyBridge, LongAnswersReachTheHostWhole) {
  BurstModel model;
  PtyBridge bridge(model);
  ASSERT_TRUE(bridge.Start());
  const Bytes got = Exchange(bridge, CBR_115200, {0x43}, kLongTimeoutMs, BurstModel::kBurst).first;
  ASSERT_EQ(got.size(), BurstModel::kBurst);
  for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], static_cast<BYTE>(i * 7)) << i;
}

// A model hears only bytes sent at its own speed. Paced, bytes take their
// wire time each way: the model hears a byte when its stop bit is through,
// and its echo takes as long again on the way back, so an echo of n bytes
// ends one byte time after the n-th byte was heard.
TEST(PtyBridge, ModelHearsOnlyItsOwnSpeedAndPacedBytesTakeTheirWireTime) {
  constexpr long long kByteMicros = 10'000'000 / CBR_4800;  // 2083 us
  Bytes sent(48);
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<BYTE>(0x80 + i);
  const long long floor = static_cast<long long>(sent.size() + 1) * kByteMicros;
  for (const bool paced : {false, true}) {
    EchoModel model(CBR_4800);
    PtyBridge bridge(model);
    bridge.PaceAtLineSpeed(paced);
    ASSERT_TRUE(bridge.Start());
    for (const DWORD other : {CBR_9600, CBR_115200})
      EXPECT_TRUE(Exchange(bridge, other, sent, 2 * kShortTimeoutMs).first.empty()) << other << (paced ? " paced" : "");
    const auto [got, micros] = Exchange(bridge, CBR_4800, sent, kLongTimeoutMs);
    EXPECT_EQ(got, sent) << (paced ? "paced" : "");
    if (!paced) continue;
    EXPECT_GE(micros, floor);
    EXPECT_LT(micros, floor + 1000 * kSchedulingSlackMs);
  }
}

TEST(PtyBridge, StoppingUnderAWaitingHostFailsItCleanly) {
  EchoModel model(CBR_115200);
  PtyBridge bridge(model);
  ASSERT_TRUE(bridge.Start());
  CDevice_COM port;
  ASSERT_EQ(port.Open(Wide(bridge.Path()), bplink::SerialLine(CBR_115200)), 1);
  port.SetRecvTimeout(kLongTimeoutMs);

  std::thread unplug([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    bridge.Stop();
  });
  BYTE b[4] = {};
  Stopwatch clock;
  EXPECT_EQ(port.RecvData(b, 4), 0);
  unplug.join();
  EXPECT_EQ(port.SendData(b, 4), 0);
  EXPECT_LT(clock.ElapsedMs(), static_cast<long long>(kLongTimeoutMs) / 2);
  EXPECT_FALSE(bridge.Running());
  bridge.Stop();
}

}  // namespace
