// A host that asks a running download to stop, from its own thread.

#include <atomic>
#include <thread>

#include "hid_bench.h"

namespace bplink::testing {
namespace {

// Passes every call to the simulated link, but holds the transfer at one
// record read until the host's stop request has arrived, so the request
// lands at a known record whatever the threads' timing.
class HoldingDevice : public CDevice {
 public:
  HoldingDevice(CDevice& link, int holdAtRead, const int& state)
      : link_(link), hold_at_(holdAtRead), state_(state) {}
  std::atomic<bool> held{false};
  int Open(int n) override { return link_.Open(n); }
  int Close() override { return link_.Close(); }
  int SendData(BYTE* data, DWORD size) override { return link_.SendData(data, size); }
  int RecvData(BYTE* into, DWORD size) override {
    if (++reads_ == hold_at_) {
      held = true;
      while (std::atomic_ref<const int>(state_).load() != kStateStopRequested) std::this_thread::yield();
    }
    return link_.RecvData(into, size);
  }

 private:
  CDevice& link_;
  int hold_at_;
  const int& state_;
  int reads_ = 0;
};

TEST(HidStop, AStopFromTheHostThreadKeepsTheRecordsSoFar) {
  HidBench bench(0x51);
  constexpr int kRecords = 3000;
  constexpr int kReadsBeforeRecords = 6;  // information, handshake, plan and its ack, ack, header
  constexpr int kHeldRecord = 1200;
  bench.monitor.Config().stores[0] = {2, {}, Readings(kRecords, {2025, 1, 1, 0, 0, 0})};
  HoldingDevice holding(bench.device, kReadsBeforeRecords + kHeldRecord + 1, bench.state);
  bench.protocol.SetDevice(&holding, false);

  // The host watches the transfer from its own thread and asks it to stop.
  int progressSeen = 0;
  enum_TransportType stageSeen = TRANSPORT_BP_MODE0;
  std::thread host([&] {
    while (!holding.held) std::this_thread::yield();
    progressSeen = std::atomic_ref<int>(bench.progress).load();
    stageSeen = std::atomic_ref<enum_TransportType>(bench.stage).load();
    std::atomic_ref<int>(bench.state).store(kStateStopRequested);
  });
  const int result = bench.protocol.PC_Download(DATAMODE_BP);
  host.join();

  EXPECT_EQ(progressSeen, kHeldRecord * 100 / kRecords);
  EXPECT_EQ(stageSeen, TRANSPORT_BP);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(bench.state, 3);
  EXPECT_EQ(bench.device.Closes(), 1);
  const _BP_DATASET set = bench.Fetch().BPSet;
  EXPECT_EQ(set.Head.nCount, kRecords);
  ASSERT_EQ(set.vecRecords.size(), static_cast<std::size_t>(kHeldRecord + 1));
  ExpectRecord(set.vecRecords.back(), bench.monitor.Config().stores[0].readings[kHeldRecord], 2);
}

}  // namespace
}  // namespace bplink::testing
