// The session: the exchange on the wire, identification, and the calls that
// are refused before anything moves.

#include <cstring>

#include "hid_bench.h"

namespace bplink::testing {
namespace {

// Every byte both ways and every field decoded: plan, records, samples.
TEST(HidSession, ModeTwoDownloadFromAType3DeviceIsExactlyThisExchange) {
  ScriptedBench bench;
  constexpr BYTE id = 0x12;
  // Plan: two texts, the device's clock, both periods, an extra window, the
  // options. Option 2 sent as 0 reads as 255.
  Bytes plan(70, 0x00);
  const char text1[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";  // all 30 places used
  std::copy(text1, text1 + 30, plan.begin());
  const Bytes rest{'N', 'O', '.', '1', '2', 0, 0, 0, 0, 0, 0, 0x07, 0xE9, 3, 4, 9, 41, 7, 6, 30, 15, 21,
                   45, 0x96, 14, 5, 10, 16, 20, 0x51, 0x00, 0x09, 0x01, 0x2C, 0, 0, 0x05};  // 61, 66: not read
  std::copy(rest.begin(), rest.end(), plan.begin() + 30);
  // Format 2, two records: 2025-03-04 10:20 and 10:35.
  const Bytes first{0x00, 0x82, 0x50, 0x48, 0x60, 25, 3, 4, 10, 20, 0x00, 0xA5};
  const Bytes second{0x01, 0x2C, 0x5A, 0x60, 0x70, 25, 3, 4, 10, 35, 0x01, 0x10};
  // SpO2 in format 2, three samples over midnight: offsets count from the first.
  const Bytes spo2Header{0x00, 0x00, 0x03, 0x02, 0, 0, 0, 0, 0, 0, 0, 0};
  bench.Identify(id, 0x03);
  bench.Accept({0x43, id, 0x01, 0x02, 0x01, 0x00}).Reply(DataFrame(0x44, id, plan));
  bench.Accept({0x43, id, 0x01, 0x02, 0x02, 0x00}).Reply(DataFrame(0x46, id, {0x00, 0x02, 0x02, 0, 0, 0, 0, 0, 0, 0}));
  bench.dev.Reply(Packed(first)).Reply(Packed(second));
  bench.Accept({0x43, id, 0x01, 0x02, 0x03, 0x00}).Reply(DataFrame(0x47, id, spo2Header));
  bench.dev.Reply(Packed({97, 72, 25, 3, 4, 23, 59, 58, 0})).Reply(Packed({0x81, 73, 25, 3, 5, 0, 0, 2, 0}));
  bench.dev.Reply(Packed({94, 0xC8, 25, 3, 5, 0, 1, 0, 0}));
  // Type 3 keeps no alarm limits: the session closes after the samples.

  std::vector<std::pair<int, int>> seen;  // stage and progress at every read
  bench.dev.OnRecv([&](int) { seen.emplace_back(bench.stage, bench.progress); });
  ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP_SPO2), 1);
  bench.ExpectScriptPlayed();
  EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{0, 0}, {0, 0}, {1, 20}, {1, 20}, {2, 100}, {2, 0}, {2, 0}, {2, 50},
                                                    {3, 1}, {3, 1}, {3, 1}, {3, 33}, {3, 66}}));
  EXPECT_EQ(std::tuple(bench.state, bench.stage, bench.progress, bench.dev.Opens(), bench.dev.Closes()),
            std::tuple(3, TRANSPORT_SPO2, 100, 1, 1));
  EXPECT_EQ(bench.env.Sleeps(), std::vector<unsigned>{100});  // only before the plan's acknowledgement
  tag_SUPPORT_PROTOCOL info;
  bench.protocol.GetCurDeviceInfo(info);
  EXPECT_EQ(info, (tag_SUPPORT_PROTOCOL{3, 3, 255, 255, 3}));
  _SUB_VERSION version;
  bench.protocol.GetProtocolVersion(version);
  EXPECT_EQ(version, (_SUB_VERSION{1, 3}));

  const _DOWNLOAD_DATAINFO data = bench.Fetch();
  _BP_TRANSPORT_INFO e;
  std::strcpy(e.szPatientInfo1, text1);
  std::strcpy(e.szPatientInfo2, "NO.12");
  e.nYear = 2025, e.nMonth = 3, e.nDay = 4, e.nHour = 9, e.nMinute = 41, e.nSecond = 7;
  e.nPeriod1Hour = 6, e.nPeriod1Minute = 30, e.nPeriod1Interval = 15, e.nPeriod2Hour = 21, e.nPeriod2Minute = 45;
  e.nPeriod2Interval = 0x96, e.nExtraStartHour = 14, e.nExtraStartMinute = 5, e.nExtraInterval = 10;
  e.nExtraEndHour = 16, e.nExtraEndMinute = 20, e.nOption2 = 255, e.nOption3 = 300;
  EXPECT_EQ(data.Info, e);
  _BP_RECORD a, b;
  a.nYear = b.nYear = 2025, a.wMonth = b.wMonth = 3, a.wDay = b.wDay = 4, a.wHour = b.wHour = 10;
  a.wMinute = 20, a.nSys = 130, a.wPress2 = 0x50, a.wPulseRate = 0x48, a.wPress3 = 0x60, a.byFlagsLow = 5;
  a.wFlagsHigh = 10, b.wMinute = 35, b.nSys = 300, b.wPress2 = 0x5A, b.wPulseRate = 0x60, b.wPress3 = 0x70;
  b.wStatus = 1, b.bValid = 0, b.wFlagsHigh = 1;
  EXPECT_EQ(data.BPSet, (_BP_DATASET{{2, 2025, 3, 4, 10, 20, 0, 0}, {a, b}}));
  EXPECT_EQ(data.SpO2Set, (_SPO2_DATASET{{3, 2025, 3, 4, 23, 59, 58, 0}, {{97, 72, 0}, {0x81, 73, 4}, {94, 0xC8, 62}}}));
}

// What the device-information reply and the handshake make of the data
// modes and the variant.
struct Identification {
  BYTE identity, flags, marker, capA, capB;
  std::array<int, 9> modes;
  int type, protocol, variant;
};

const Identification kIdentifications[] = {
    // Capability bits count only where both bytes carry them, after the marker.
    {0x41, 0x00, 0x81, 0x7F, 0x41, {0, 1, 0, 0, 1, 1, 1, 0, 0}, 5, 5, 255},  // bit 6 offers nothing
    {0x41, 0x00, 0x80, 0x3F, 0x3F, {0, 0, 0, 0, 1, 1, 1, 0, 0}, 5, 5, 255},
    // A three-store monitor that flags itself as keeping store 1 only.
    {0x4E, 0x84, 0x81, 0x00, 0x00, {0, 0, 0, 0, 1, 0, 0, 0, 0}, 5, 5, 255},
    {0x4E, 0x04, 0x81, 0x00, 0x00, {0, 0, 0, 0, 1, 1, 1, 0, 0}, 5, 5, 255},
    // Recorders: without a valid flags byte the identity byte gives the variant.
    {0x03, 0x00, 0x81, 0x00, 0x00, {0, 1, 0, 1, 0, 0, 0, 0, 0}, 1, 1, 1},
    {0x04, 0x80, 0x81, 0x00, 0x00, {0, 1, 0, 1, 0, 0, 0, 0, 0}, 1, 1, 255},
    {0x0E, 0x00, 0x81, 0x00, 0x00, {0, 1, 0, 1, 0, 0, 0, 0, 0}, 1, 1, 2},
    // A protocol without a type: no data modes.
    {0x0F, 0x00, 0x81, 0x00, 0x00, {}, -1, 6, 255},
};

TEST(HidSession, IdentificationSetsTypeVariantAndDataModes) {
  for (const auto& c : kIdentifications) {
    SCOPED_TRACE(::testing::Message() << "identity " << int(c.identity) << " flags " << int(c.flags));
    HidBench bench(c.identity, 7);
    auto& config = bench.monitor.Config();
    config.flags = c.flags, config.capability_marker = c.marker, config.capability_a = c.capA, config.capability_b = c.capB;
    std::array<int, 9> modes{};
    tag_SUPPORT_PROTOCOL info;
    ASSERT_EQ(bench.protocol.GetDownLoadDataMode(modes.data()), 1);
    bench.protocol.GetCurDeviceInfo(info);
    EXPECT_EQ(std::tuple(modes, info, bench.device.Closes()),
              std::tuple(c.modes, tag_SUPPORT_PROTOCOL{c.type, c.protocol, 255, c.variant, 7}, 1));
  }
}

TEST(HidSession, CallsThatCannotStartTouchNothing) {
  HidBench bench(0x41);
  // Mode 0 fails the state; before identification a device is type 0 and cannot delete.
  EXPECT_EQ((std::tuple{bench.protocol.PC_Download(DATAMODE_NONE), bench.state, bench.protocol.PC_Delete(DATAMODE_ZONE1),
                        bench.device.Opens()}),
            std::tuple(9, 2, 6, 0));
  ASSERT_EQ(bench.protocol.GetDownLoadDataMode(nullptr), 1);
  EXPECT_EQ(bench.protocol.PC_Upload(DATAMODE_BP), 6);  // three-store monitors take no plan
  EXPECT_EQ(bench.device.Opens(), 1);

  CProtocol_NEW unbound;
  int progress = 0, state = 0;
  // No state variable; then no device; then a link that does not open.
  EXPECT_EQ((std::tuple{unbound.PC_Download(DATAMODE_BP), unbound.PC_Upload(DATAMODE_BP)}), std::tuple(9, 9));
  unbound.SetProgressInfo(&progress, &state, nullptr);
  EXPECT_EQ((std::tuple{unbound.PC_Download(DATAMODE_BP), state, unbound.GetDownLoadDataMode(nullptr)}),
            std::tuple(9, 2, 9));
  ScriptedDevice closed;
  closed.SetOpenResult(0);
  unbound.SetDevice(&closed, false);
  state = 0;
  EXPECT_EQ((std::tuple{unbound.PC_Download(DATAMODE_BP), state, unbound.PC_Upload(DATAMODE_BP), state,
                        closed.Sent().size()}),
            std::tuple(2, 2, 2, 2, 0u));
}

// A three-store monitor deletes one store at a time, leaving the state
// variable alone; a stop request already standing skips the delete. (Any
// other type is refused before the link opens, as a device not yet
// identified is above.)
TEST(HidSession, ThreeStoreMonitorsDeleteOneStore) {
  HidBench bench(0x41);
  auto& stores = bench.monitor.Config().stores;
  stores[0].readings = stores[1].readings = Readings(3, {2025, 1, 1, 8, 0, 0});
  ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_ZONE1), 1);  // identifies the device, fills the store
  bench.state = 0;
  ASSERT_EQ(bench.protocol.PC_Delete(DATAMODE_ZONE2), 1);
  EXPECT_EQ(std::tuple(bench.monitor.Deletes(), stores[0].readings.size(), stores[1].readings.size()),
            std::tuple(1, 3u, 0u));
  EXPECT_EQ(std::tuple(bench.stage, bench.progress, bench.state), std::tuple(TRANSPORT_DELETE, 20, 0));
  EXPECT_EQ(bench.env.Sleeps(), std::vector<unsigned>{100});
  EXPECT_EQ(std::tuple(bench.device.Closes(), bench.Fetch().ZoneSet1), std::tuple(2, _BP_DATASET{}));  // emptied
  bench.ExpectUnderstood();
  bench.state = 5;
  EXPECT_EQ(bench.protocol.PC_Delete(DATAMODE_ZONE1), 1);
  EXPECT_EQ(bench.monitor.Deletes(), 1);
}

}  // namespace
}  // namespace bplink::testing
