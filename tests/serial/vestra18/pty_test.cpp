// The VESTRA18 monitor on a pseudo-terminal, found and read through the real
// serial port, on real time.

#include <memory>

#include "pty_bridge.h"
#include "real_time.h"
#include "scripted_device.h"
#include "vestra18_bench.h"
#include "virtual_env.h"

namespace bplink::testing {
namespace {

// The machine as it is, except that its only serial port is the pty.
class PtyOnlyEnv : public Env {
 public:
  explicit PtyOnlyEnv(std::wstring path) : path_(std::move(path)) {}
  void Sleep(unsigned ms) override { Env::Default()->Sleep(ms); }
  CalendarTime LocalTime() override { return Env::Default()->LocalTime(); }
  std::vector<std::wstring> ComPortNames() override { return {path_}; }
  bool CanOpenComPort(const std::wstring& path) override { return Env::Default()->CanOpenComPort(path); }

 private:
  std::wstring path_;
};

TEST(Vestra18OnPty, EveryModeAndTheDetectionAnswerThroughTheRealPort) {
  sim::vestra18::Monitor monitor;
  for (int s = 0; s < 3; ++s) monitor.Config().stores[s] = Readings(s, s + 1);
  sim::PtyBridge bridge(monitor);
  ASSERT_TRUE(bridge.Start());
  const std::wstring path(bridge.Path().begin(), bridge.Path().end());
  PtyOnlyEnv env(path);
  ScopedEnv scope(&env);
  CDevice_COM port;
  port.SetRecvTimeout(kShortTimeoutMs);

  Vestra18Host host(port, false);
  Stopwatch watch;
  ExpectEveryModeReadsItsStores(host.protocol, monitor.Config(), host.state, [&](int records) {
    EXPECT_FALSE(port.IsOpen());
    // The probe's pause and one per record; no time-out is spent.
    EXPECT_LT(watch.ElapsedMs(), 100 * (records + 1) + kSchedulingSlackMs);
    watch = Stopwatch();
  });

  // Detection asks at 4800 baud; other speeds and other probes get nothing.
  auto ask = [&](DWORD baud, BYTE request, DWORD answerLength) {
    Bytes answer(answerLength);
    EXPECT_EQ(port.Open(path, Line(baud)), 1);
    const bool answered = port.SendData(&request, 1) && port.RecvData(answer.data(), answerLength);
    port.Close();
    return answered ? answer : Bytes{};
  };
  EXPECT_EQ(ask(CBR_4800, 0x14, 2), (Bytes{0x14, 0x11}));
  EXPECT_EQ(ask(CBR_4800, 0x51, 1), Bytes{});
  EXPECT_EQ(ask(CBR_115200, 0x14, 1), Bytes{});
}

}  // namespace
}  // namespace bplink::testing
