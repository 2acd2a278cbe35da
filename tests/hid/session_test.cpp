// The session: the exchange on the wire, identification, and the calls that
// are refused before anything moves.

#include "hid_bench.h"

namespace bplink::testing {
namespace {

TEST(HidSession, ModeTwoDownloadFromAType3DeviceIsExactlyThisExchange) {
  ScriptedBench bench;
  ScriptedDevice& dev = bench.dev;
  constexpr BYTE id = 0x12;
  Bytes plan(70, 0x00);
  plan[0] = 'J', plan[1] = 'O';
  const Bytes clock{0x07, 0xE9, 3, 4, 9, 41, 7}, periods{7, 30, 15, 21, 45, 30, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  std::copy(clock.begin(), clock.end(), plan.begin() + 41);
  std::copy(periods.begin(), periods.end(), plan.begin() + 48);
  plan[60] = 1;
  Bytes handshake(22, 0x00);
  handshake[0] = 0x48;
  // Format 2, two records: 2025-03-04 10:20 and 10:35.
  const Bytes header{0x00, 0x02, 0x02, 0, 0, 0, 0, 0, 0, 0};
  const Bytes first{0x00, 0x82, 0x50, 0x48, 0x60, 25, 3, 4, 10, 20, 0x00, 0xA5};
  const Bytes second{0x01, 0x2C, 0x5A, 0x60, 0x70, 25, 3, 4, 10, 35, 0x01, 0x10};
  // SpO2 in format 2, three samples over midnight: offsets count from the first.
  const Bytes spo2Header{0x00, 0x00, 0x03, 0x02, 0, 0, 0, 0, 0, 0, 0, 0};
  const Bytes sample1{97, 72, 25, 3, 4, 23, 59, 58, 0}, sample2{0x81, 73, 25, 3, 5, 0, 0, 2, 0},
      sample3{94, 0xC8, 25, 3, 5, 0, 1, 0, 0};

  dev.ExpectSend({0x40, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC}).Reply({0x41, 0x00, id, 0x03, 0x00, 0x00, 0x00});
  dev.ExpectSend({0x42, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC}).Reply(handshake);
  dev.ExpectSend({0x43, id, 0x01, 0x02, 0x01, 0x00}).Reply({0x4A, 0x43, 0x01, 0x00});
  dev.Reply(DataFrame(0x44, id, plan));
  dev.ExpectSend({0x43, id, 0x01, 0x02, 0x02, 0x00}).Reply({0x4A, 0x43, 0x01, 0x00});
  dev.Reply(DataFrame(0x46, id, header)).Reply(Packed(first)).Reply(Packed(second));
  dev.ExpectSend({0x43, id, 0x01, 0x02, 0x03, 0x00}).Reply({0x4A, 0x43, 0x01, 0x00});
  dev.Reply(DataFrame(0x47, id, spo2Header)).Reply(Packed(sample1)).Reply(Packed(sample2)).Reply(Packed(sample3));
  // Type 3 keeps no alarm limits: the session closes after the samples.

  ASSERT_EQ(bench.protocol.PC_Download(DATAMODE_BP_SPO2), 1);

  bench.ExpectScriptPlayed();
  EXPECT_EQ(dev.Opens(), 1);
  EXPECT_EQ(dev.Closes(), 1);
  EXPECT_EQ(bench.env.Sleeps(), std::vector<unsigned>{100});  // only before the plan's acknowledgement
  EXPECT_EQ(bench.state, 3);
  tag_SUPPORT_PROTOCOL info;
  bench.protocol.GetCurDeviceInfo(info);
  EXPECT_EQ(info, (tag_SUPPORT_PROTOCOL{3, 3, 255, 255, 3}));
  _SUB_VERSION version;
  bench.protocol.GetProtocolVersion(version);
  EXPECT_EQ(version, (_SUB_VERSION{1, 3}));

  _DOWNLOAD_DATAINFO data;
  bench.protocol.GetDownLoadData(&data);
  // What the frames carried (the simulated monitor checks every field).
  EXPECT_STREQ(data.Info.szPatientInfo1, "JO");
  EXPECT_EQ(data.Info.nMinute, 41);
  EXPECT_EQ(data.Info.nPeriod2Hour, 21);
  EXPECT_EQ(data.Info.nExtraStartHour, 255);  // "none" comes back as the byte it travels as
  ASSERT_EQ(data.BPSet.vecRecords.size(), 2u);
  const _BP_RECORD& a = data.BPSet.vecRecords[0];
  const _BP_RECORD& b = data.BPSet.vecRecords[1];
  EXPECT_EQ((std::array<int, 4>{a.nSys, a.byFlagsLow, a.wFlagsHigh, a.bValid}), (std::array<int, 4>{130, 5, 10, 1}));
  EXPECT_EQ((std::array<int, 4>{b.nSys, b.wStatus, b.bValid, b.wMinute}), (std::array<int, 4>{300, 1, 0, 35}));
  EXPECT_EQ(data.BPSet.Head.nMinute, 20);
  EXPECT_EQ(data.SpO2Set.Head, (_DATA_HEAD{3, 2025, 3, 4, 23, 59, 58, 0}));
  EXPECT_EQ(data.SpO2Set.vecRecords,
            (std::vector<_SPO2_RECORD>{{97, 72, 0}, {0x81, 73, 4}, {94, 0xC8, 62}}));
  EXPECT_EQ(bench.stage, TRANSPORT_SPO2);
  EXPECT_EQ(bench.progress, 100);
}

// What the device-information reply and the handshake make of the data
// modes and the variant.
struct Identification {
  BYTE identity, flags, marker, capA, capB;
  std::array<int, 9> modes;
  int type, protocol, variant;
};

const Identification kIdentifications[] = {
    // Capability bits count only where both bytes carry them.
    {0x41, 0x00, 0x81, 0x3F, 0x01, {0, 1, 0, 0, 1, 1, 1, 0, 0}, 5, 5, 255},
    {0x41, 0x00, 0x80, 0x3F, 0x3F, {0, 0, 0, 0, 1, 1, 1, 0, 0}, 5, 5, 255},
    {0x12, 0x00, 0x81, 0x24, 0x2C, {0, 1, 1, 1, 0, 0, 1, 0, 0}, 3, 3, 255},
    // A three-store monitor that flags itself as keeping store 1 only.
    {0x4E, 0x84, 0x81, 0x00, 0x00, {0, 0, 0, 0, 1, 0, 0, 0, 0}, 5, 5, 255},
    {0x4E, 0x04, 0x81, 0x00, 0x00, {0, 0, 0, 0, 1, 1, 1, 0, 0}, 5, 5, 255},
    // Recorders: without a valid flags byte the identity byte gives the variant.
    {0x03, 0x00, 0x81, 0x00, 0x00, {0, 1, 0, 1, 0, 0, 0, 0, 0}, 1, 1, 1},
    {0x04, 0x80, 0x81, 0x00, 0x00, {0, 1, 0, 1, 0, 0, 0, 0, 0}, 1, 1, 255},
    {0x0E, 0x00, 0x81, 0x00, 0x00, {0, 1, 0, 1, 0, 0, 0, 0, 0}, 1, 1, 2},
    // Odd bytes: a protocol without a type, a type without a protocol, nothing.
    {0x0F, 0x00, 0x81, 0x00, 0x00, {}, -1, 6, 255},
    {0x21, 0x00, 0x81, 0x00, 0x00, {0, 1, 0, 0, 0, 0, 0, 0, 0}, 6, -1, 255},
    {0x5F, 0x00, 0x81, 0x00, 0x00, {}, -1, -1, 255},
};

TEST(HidSession, IdentificationSetsTypeVariantAndDataModes) {
  for (const auto& c : kIdentifications) {
    SCOPED_TRACE(::testing::Message() << "identity " << int(c.identity) << " flags " << int(c.flags));
    HidBench bench(c.identity);
    auto& config = bench.monitor.Config();
    config.version = 7;
    config.flags = c.flags;
    config.capability_marker = c.marker;
    config.capability_a = c.capA;
    config.capability_b = c.capB;
    std::array<int, 9> modes{};
    ASSERT_EQ(bench.protocol.GetDownLoadDataMode(modes.data()), 1);
    EXPECT_EQ(modes, c.modes);
    tag_SUPPORT_PROTOCOL info;
    bench.protocol.GetCurDeviceInfo(info);
    EXPECT_EQ(info, (tag_SUPPORT_PROTOCOL{c.type, c.protocol, 255, c.variant, 7}));
    EXPECT_EQ(bench.device.Closes(), 1);
  }
}

TEST(HidSession, CallsThatCannotStartTouchNothing) {
  HidBench bench(0x41);
  EXPECT_EQ(bench.protocol.PC_Download(DATAMODE_NONE), 9);
  EXPECT_EQ(bench.state, 2);
  // Before identification a device counts as type 0: no delete.
  EXPECT_EQ(bench.protocol.PC_Delete(DATAMODE_ZONE1), 6);
  EXPECT_EQ(bench.device.Opens(), 0);

  ASSERT_EQ(bench.protocol.GetDownLoadDataMode(nullptr), 1);
  EXPECT_EQ(bench.protocol.PC_Upload(DATAMODE_BP), 6);  // three-store monitors take no plan
  EXPECT_EQ(bench.device.Opens(), 1);

  CProtocol_NEW unbound;
  int progress = 0, state = 0;
  EXPECT_EQ(unbound.PC_Download(DATAMODE_BP), 9);  // no state variable
  EXPECT_EQ(unbound.PC_Upload(DATAMODE_BP), 9);
  unbound.SetProgressInfo(&progress, &state, nullptr);
  EXPECT_EQ(unbound.PC_Download(DATAMODE_BP), 9);  // no device
  EXPECT_EQ(state, 2);
  EXPECT_EQ(unbound.GetDownLoadDataMode(nullptr), 9);

  ScriptedDevice closed;
  closed.SetOpenResult(0);
  unbound.SetDevice(&closed, false);
  EXPECT_EQ(unbound.PC_Download(DATAMODE_BP), 2);
  EXPECT_EQ(unbound.PC_Upload(DATAMODE_BP), 2);
  EXPECT_EQ(state, 2);
  EXPECT_TRUE(closed.Sent().empty());
}

TEST(HidSession, OnlyThreeStoreMonitorsDelete) {
  for (BYTE identity : {0x01, 0x51, 0x11, 0x31, 0x21}) {
    HidBench bench(identity);
    ASSERT_EQ(bench.protocol.GetDownLoadDataMode(nullptr), 1);
    EXPECT_EQ(bench.protocol.PC_Delete(DATAMODE_BP), 6);
    EXPECT_EQ(bench.device.Opens(), 1);
  }

  HidBench bench(0x41);
  auto& stores = bench.monitor.Config().stores;
  stores[0].readings = Readings(3, {2025, 1, 1, 8, 0, 0});
  stores[1].readings = Readings(2, {2025, 1, 2, 8, 0, 0});
  ASSERT_EQ(bench.protocol.GetDownLoadDataMode(nullptr), 1);
  bench.state = 0;
  ASSERT_EQ(bench.protocol.PC_Delete(DATAMODE_ZONE2), 1);
  EXPECT_EQ(bench.monitor.Deletes(), 1);
  EXPECT_TRUE(stores[1].readings.empty());
  EXPECT_EQ(stores[0].readings.size(), 3u);
  EXPECT_EQ(bench.stage, TRANSPORT_DELETE);
  EXPECT_EQ(bench.progress, 20);
  EXPECT_EQ(bench.state, 0);  // a delete leaves the state alone
  EXPECT_EQ(bench.env.Sleeps(), std::vector<unsigned>{100});
  EXPECT_TRUE(bench.monitor.Complaints().empty());

  // A stop request already standing skips the delete, successfully.
  bench.state = 5;
  EXPECT_EQ(bench.protocol.PC_Delete(DATAMODE_ZONE1), 1);
  EXPECT_EQ(bench.monitor.Deletes(), 1);
  EXPECT_EQ(stores[0].readings.size(), 3u);
}

}  // namespace
}  // namespace bplink::testing
