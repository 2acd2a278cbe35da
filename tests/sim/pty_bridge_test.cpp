// A model served on a pseudo-terminal, reached through the real serial port,
// behaves as the same model does behind the in-process adapter.

#include <bplink/device.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "echo_model.h"
#include "in_process_device.h"
#include "pty_bridge.h"
#include "real_time.h"
#include "virtual_env.h"

namespace {

using namespace bplink::testing;
using bplink::sim::EchoModel;
using bplink::sim::PtyBridge;
using Bytes = std::vector<BYTE>;

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// One probe as a serial search makes it: open at a speed, send, read the
// answer, close. The answer, or nothing when none came.
std::optional<Bytes> Probe(CDevice& dev, const std::wstring& path, DWORD baud, Bytes request) {
  if (dev.Open(path, Line(baud)) != 1) return std::nullopt;
  std::optional<Bytes> answer;
  Bytes reply(request.size());
  if (dev.SendData(request.data(), static_cast<DWORD>(request.size())) != 0 &&
      dev.RecvData(reply.data(), static_cast<DWORD>(reply.size())) != 0)
    answer = reply;
  dev.Close();
  return answer;
}

TEST(PtyBridge, ModelAnswersOnlyAtItsOwnSpeedAsInProcess) {
  constexpr unsigned kProbeTimeoutMs = 300;
  const DWORD speeds[] = {CBR_4800, CBR_9600, CBR_115200, CBR_9600};
  const Bytes request = {0x51, 0x00, 0xFF, 0x0D};

  EchoModel on_pty(CBR_9600);
  PtyBridge bridge(on_pty);
  ASSERT_TRUE(bridge.Start());
  CDevice_COM port;
  port.SetRecvTimeout(kProbeTimeoutMs);
  std::vector<std::optional<Bytes>> over_pty;
  for (DWORD baud : speeds) over_pty.push_back(Probe(port, Wide(bridge.Path()), baud, request));

  VirtualEnv env;
  ScopedEnv scope(&env);
  EchoModel in_process(CBR_9600);
  bplink::sim::InProcessDevice adapter;
  adapter.AttachPort(L"/dev/ttyUSB0", &in_process);
  std::vector<std::optional<Bytes>> over_adapter;
  for (DWORD baud : speeds) over_adapter.push_back(Probe(adapter, L"/dev/ttyUSB0", baud, request));

  EXPECT_EQ(over_pty, (std::vector<std::optional<Bytes>>{std::nullopt, request, std::nullopt, request}));
  EXPECT_EQ(over_adapter, over_pty);
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
  CDevice_COM port;
  ASSERT_EQ(port.Open(Wide(bridge.Path()), Line(CBR_115200)), 1);
  port.SetRecvTimeout(kLongTimeoutMs);
  BYTE go = 0x43;
  ASSERT_NE(port.SendData(&go, 1), 0);
  Bytes got(BurstModel::kBurst);
  ASSERT_NE(port.RecvData(got.data(), BurstModel::kBurst), 0);
  for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], static_cast<BYTE>(i * 7)) << i;
}

// Paced, bytes take their wire time each way: the model hears a byte when its
// stop bit is through, and its echo takes as long again on the way back, so
// an echo of n bytes ends one byte time after the n-th byte was heard. A
// model at another speed still hears noise only.
TEST(PtyBridge, PacedLineCarriesBytesAtTheHostsSpeed) {
  constexpr std::size_t kBytes = 48;
  constexpr long long kByteMicros = 10'000'000 / CBR_4800;  // 2083 us
  EchoModel model(CBR_4800);
  PtyBridge bridge(model);
  bridge.PaceAtLineSpeed(true);
  ASSERT_TRUE(bridge.Start());
  CDevice_COM port;

  Bytes sent(kBytes);
  for (std::size_t i = 0; i < kBytes; ++i) sent[i] = static_cast<BYTE>(0x80 + i);
  for (const DWORD baud : {CBR_9600, CBR_4800}) {
    ASSERT_EQ(port.Open(Wide(bridge.Path()), Line(baud)), 1);
    port.SetRecvTimeout(baud == CBR_4800 ? kLongTimeoutMs : kShortTimeoutMs);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_NE(port.SendData(sent.data(), kBytes), 0);
    Bytes got(kBytes);
    const bool answered = port.RecvData(got.data(), kBytes) != 0;
    const long long micros =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    port.Close();
    if (baud != CBR_4800) {
      EXPECT_FALSE(answered);
      continue;
    }
    ASSERT_TRUE(answered);
    EXPECT_EQ(got, sent);
    EXPECT_GE(micros, static_cast<long long>(kBytes + 1) * kByteMicros);
    EXPECT_LT(micros, static_cast<long long>(kBytes + 1) * kByteMicros + 1000 * kSchedulingSlackMs);
  }
}

TEST(PtyBridge, StoppingUnderAWaitingHostFailsItCleanly) {
  EchoModel model(CBR_115200);
  PtyBridge bridge(model);
  ASSERT_TRUE(bridge.Start());
  CDevice_COM port;
  ASSERT_EQ(port.Open(Wide(bridge.Path()), Line(CBR_115200)), 1);
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
