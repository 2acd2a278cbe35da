// A model served on a pseudo-terminal, reached through the real serial port,
// behaves as the same model does behind the in-process adapter.

#include <bplink/device.h>
#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "echo_model.h"
#include "in_process_device.h"
#include "pty_bridge.h"
#include "real_time.h"
#include "virtual_env.h"

namespace {

using bplink::sim::EchoModel;
using bplink::sim::InProcessDevice;
using bplink::sim::PtyBridge;
using bplink::testing::kLongTimeoutMs;
using bplink::testing::Line;
using bplink::testing::Stopwatch;
using Bytes = std::vector<BYTE>;

constexpr unsigned kProbeTimeoutMs = 300;
constexpr DWORD kSpeeds[] = {CBR_4800, CBR_9600, CBR_115200};

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

// Remembers what it heard and at which speed; answers a burst of `reply`
// bytes to every write.
class RecordingModel : public bplink::sim::DeviceModel {
 public:
  explicit RecordingModel(std::size_t reply = 0) : reply_(reply) {}
  void Receive(const std::uint8_t* data, std::size_t size, unsigned baud) override {
    for (std::size_t i = 0; i < size; ++i) heard.emplace_back(data[i], baud);
    for (std::size_t i = 0; i < reply_; ++i) Send(static_cast<std::uint8_t>(i * 7));
  }
  std::vector<std::pair<std::uint8_t, unsigned>> heard;

 private:
  std::size_t reply_;
};

TEST(PtyBridge, ModelAnswersOnlyAtItsOwnSpeedAsInProcess) {
  const Bytes request = {0x51, 0x00, 0xFF, 0x0D};

  EchoModel on_pty(CBR_9600);
  PtyBridge bridge(on_pty);
  ASSERT_TRUE(bridge.Start());
  CDevice_COM port;
  port.SetRecvTimeout(kProbeTimeoutMs);
  std::vector<std::optional<Bytes>> over_pty;
  for (DWORD baud : kSpeeds) over_pty.push_back(Probe(port, Wide(bridge.Path()), baud, request));

  bplink::testing::VirtualEnv env;
  bplink::testing::ScopedEnv scope(&env);
  EchoModel in_process(CBR_9600);
  InProcessDevice adapter;
  adapter.AttachPort(L"/dev/ttyUSB0", &in_process);
  std::vector<std::optional<Bytes>> over_adapter;
  for (DWORD baud : kSpeeds) over_adapter.push_back(Probe(adapter, L"/dev/ttyUSB0", baud, request));

  EXPECT_EQ(over_pty, (std::vector<std::optional<Bytes>>{std::nullopt, request, std::nullopt}));
  EXPECT_EQ(over_adapter, over_pty);
}

TEST(PtyBridge, ModelHearsTheSpeedTheHostSet) {
  RecordingModel model(1);  // one byte back for every write it hears
  PtyBridge bridge(model);
  ASSERT_TRUE(bridge.Start());
  CDevice_COM port;
  port.SetRecvTimeout(kLongTimeoutMs);
  BYTE answer = 0;
  ASSERT_EQ(port.Open(Wide(bridge.Path()), Line(CBR_4800)), 1);
  EXPECT_EQ(bridge.LineSpeed(), 4800u);
  BYTE first = 0x14;
  ASSERT_NE(port.SendData(&first, 1), 0);
  ASSERT_NE(port.RecvData(&answer, 1), 0);
  // Another open at another speed, as the next probe of a search makes it.
  ASSERT_EQ(port.Open(Wide(bridge.Path()), Line(CBR_115200)), 1);
  BYTE second[2] = {0x01, 0x8F};
  ASSERT_NE(port.SendData(second, 2), 0);
  ASSERT_NE(port.RecvData(&answer, 1), 0);
  bridge.Stop();

  using Heard = std::vector<std::pair<std::uint8_t, unsigned>>;
  EXPECT_EQ(model.heard, (Heard{{0x14, 4800}, {0x01, 115200}, {0x8F, 115200}}));
}

TEST(PtyBridge, LongAnswersReachTheHostWhole) {
  constexpr std::size_t kBurst = 20000;  // more than a pty buffers at once
  RecordingModel model(kBurst);
  PtyBridge bridge(model);
  ASSERT_TRUE(bridge.Start());
  CDevice_COM port;
  ASSERT_EQ(port.Open(Wide(bridge.Path()), Line(CBR_115200)), 1);
  port.SetRecvTimeout(kLongTimeoutMs);
  BYTE go = 0x43;
  ASSERT_NE(port.SendData(&go, 1), 0);
  Bytes got(kBurst);
  ASSERT_NE(port.RecvData(got.data(), kBurst), 0);
  for (std::size_t i = 0; i < kBurst; ++i) ASSERT_EQ(got[i], static_cast<BYTE>(i * 7)) << i;
}

TEST(PtyBridge, StoppedBridgeFailsTheHostCleanly) {
  EchoModel model(CBR_115200);
  PtyBridge bridge(model);
  ASSERT_TRUE(bridge.Start());
  CDevice_COM port;
  ASSERT_EQ(port.Open(Wide(bridge.Path()), Line(CBR_115200)), 1);
  port.SetRecvTimeout(kLongTimeoutMs);

  // The device goes away while the host waits for an answer.
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
  EXPECT_EQ(bridge.LineSpeed(), 0u);
  bridge.Stop();
  port.Close();
}

}  // namespace
