// The floor is only as honest as its counts: checked here against a real
// serial port on a paced pseudo-terminal.

#include <bplink/comports.h>
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "counting.h"
#include "echo_model.h"
#include "pty_bridge.h"
#include "real_time.h"

namespace bplink::bench {
namespace {

TEST(CountingDevice, ChargesWireTimeTurnsAndTimeOutsAsTheLineSpendsThem) {
  constexpr unsigned kTimeoutMs = 40;
  constexpr DWORD kBytes = 10;
  sim::EchoModel echo(CBR_4800);
  sim::PtyBridge bridge(echo);
  bridge.PaceAtLineSpeed(true);
  ASSERT_TRUE(bridge.Start());
  CDevice_COM port;
  port.SetRecvTimeout(kTimeoutMs);
  CountingDevice counting(port);
  const std::wstring path(bridge.Path().begin(), bridge.Path().end());

  // Nothing is charged for a line that never opened.
  BYTE byte = 0;
  EXPECT_EQ(counting.RecvData(&byte, 1), 0);
  EXPECT_EQ(counting.Count().timeouts, 0u);

  ASSERT_EQ(counting.Open(path, SerialLine(CBR_115200)), 1);  // heard as noise: no echo
  ASSERT_EQ(counting.Open(path, SerialLine(CBR_4800)), 1);
  std::vector<BYTE> block(kBytes, 0x5A);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_NE(counting.SendData(block.data(), kBytes), 0);
  ASSERT_NE(counting.RecvData(block.data(), kBytes), 0);
  EXPECT_EQ(counting.RecvData(&byte, 1), 0);  // the echo is over: a time-out
  const double elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  counting.Close();

  const WireCount& count = counting.Count();
  const double byteMs = 10.0 * 1000.0 / CBR_4800;
  EXPECT_EQ(count.bytes, 2u * kBytes);
  EXPECT_DOUBLE_EQ(count.wire_ms, 2 * kBytes * byteMs);
  EXPECT_EQ(count.turns, 1u);
  EXPECT_EQ(count.timeouts, 1u);
  EXPECT_EQ(count.timeout_ms, kTimeoutMs + 3.0);  // the port's deadline: the time-out and one byte's line time
  EXPECT_EQ(counting.Speeds(), (std::set<unsigned>{CBR_4800, CBR_115200}));
  // The echo overlaps the request by all but one byte, so the line took at
  // least the request, one byte more and the time-out; the counted floor is
  // never less than that.
  EXPECT_GE(elapsed, (kBytes + 1) * byteMs + kTimeoutMs);
  EXPECT_GE(count.wire_ms + count.timeout_ms, (kBytes + 1) * byteMs + kTimeoutMs);
}

// At 1000 baud a byte is 10 ms on the wire.
TEST(Floor, OverlapsWhatTheLineCarriesWithThePausesAndKeepsTimeOutsApart) {
  constexpr unsigned kBaud = 1000;
  Floor floor;
  floor.Sent(3, kBaud);      // the request: 30 ms, heard from 10 ms on
  floor.Pause(100);          // the answer streams meanwhile
  floor.Received(5, kBaud);  // through at 10 + 50 = 60 ms: the pause is longer
  EXPECT_DOUBLE_EQ(floor.ProtocolMs(), 100);
  floor.Received(20, kBaud);  // no new request: the stream goes on back to back, to 260 ms
  EXPECT_DOUBLE_EQ(floor.ProtocolMs(), 260);
  floor.TimedOut(500);  // only where time-outs count
  floor.Sent(1, kBaud);
  floor.Received(1, kBaud);  // an echo: heard at 270, back at 280 (760 and 780 with the time-out)
  EXPECT_DOUBLE_EQ(floor.ProtocolMs(), 280);
  EXPECT_DOUBLE_EQ(floor.WithTimeOutsMs(), 780);
}

TEST(CountingEnv, CountsEveryPauseAndSleepsOnlyWhenReal) {
  CountingEnv env(CountingEnv::Clock::kVirtual);
  const auto start = std::chrono::steady_clock::now();
  env.Sleep(100);
  env.Sleep(250);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_EQ(env.PausedMs(), 350u);
  EXPECT_EQ(env.PauseCount(), 2u);

  env.SetPorts({L"/dev/pts/7", L"/dev/pts/3"});
  EXPECT_EQ(env.ComPortNames(), (std::vector<std::wstring>{L"/dev/pts/7", L"/dev/pts/3"}));
  EXPECT_TRUE(env.CanOpenComPort(L"/dev/pts/3"));
  EXPECT_FALSE(env.CanOpenComPort(L"/dev/ttyS0"));

  CountingEnv real(CountingEnv::Clock::kReal);
  const auto before = std::chrono::steady_clock::now();
  real.Sleep(30);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(30));
  EXPECT_EQ(real.PausedMs(), 30u);
}

}  // namespace
}  // namespace bplink::bench
