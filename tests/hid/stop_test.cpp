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

// In mode 7 a stop request during one store skips the stores after it.
TEST(HidStop, AStopDuringOneStoreSkipsTheOthers) {
  ScriptedBench bench;
  ScriptedDevice& dev = bench.dev;
  const Bytes record{0x00, 0x78, 0x50, 0x40, 0x5D, 26, 1, 2, 3, 4, 0x00, 0x00};
  dev.ExpectSend({0x40, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC}).Reply({0x41, 0x00, 0x41, 0x01, 0x00, 0, 0});
  dev.ExpectSend({0x42, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC}).Reply(Bytes(22, 0x48));
  dev.ExpectSend({0x43, 0x41, 0x01, 0x07, 0x02, 0x00}).Reply({0x4A, 0x43, 0x01, 0x00});
  dev.Reply(DataFrame(0x46, 0x41, {0x00, 0x09, 0x02, 0, 0, 0, 0, 0, 0, 0})).Reply(Packed(record));
  constexpr int kFirstRecordRead = 4;
  dev.OnRecv([&bench](int reads) {
    if (reads == kFirstRecordRead) std::atomic_ref<int>(bench.state).store(kStateStopRequested);
  });

  EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_ZONE_ALL), 1);
  bench.ExpectScriptPlayed();
  EXPECT_EQ(bench.state, 3);
  _DOWNLOAD_DATAINFO data;
  bench.protocol.GetDownLoadData(&data);
  EXPECT_EQ(data.ZoneSet1.Head.nCount, 9);
  EXPECT_EQ(data.ZoneSet1.vecRecords.size(), 1u);
}

}  // namespace
}  // namespace bplink::testing
