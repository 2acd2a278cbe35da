// VESTRA16C download: handshake at 4800 and data at 115200 on one port,
// retries per record, the inverted option switch, and telling the two
// families apart.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include "real_time.h"
#include "vestra16/bench.h"
#include "vestra16c/model.h"

namespace bplink::testing::vestra16 {
namespace {

class Vestra16CDownload : public Bench {
 protected:
  Vestra16CDownload() {
    device.AttachPort(ComPortPath(L"ttyS1"), &monitor);
    monitor.settings().start = CarryStart();
    Bind(protocol);
  }

  sim::vestra16c::Monitor monitor;
  CProtocolCOMVESTRA16C protocol;
};

TEST_F(Vestra16CDownload, HandshakeSlowDataFastOnTheSamePort) {
  monitor.measurements() = CarryMeasurements();
  ASSERT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(state, kStateSucceeded);
  EXPECT_EQ(writes, (std::vector<Write>{{{0x88}, 4800}, {{0x54}, 115200}, {{0xEE}, 115200},
                                        {{0xEE}, 115200}, {{0xEE}, 115200}}));
  EXPECT_EQ(device.TriedPaths(),
            (std::vector<std::wstring>{ComPortPath(L"ttyS0"), ComPortPath(L"ttyS1"), ComPortPath(L"ttyS1")}));
  EXPECT_FALSE(device.IsOpen());
  // The handshake's pause and the one before the records; no time-outs.
  EXPECT_EQ(env.ElapsedMs(), 2u * 100);

  _DOWNLOAD_DATAINFO data = Fetch(protocol);
  ASSERT_EQ(data.BPSet.vecRecords.size(), 3u);
  EXPECT_EQ(data.Info.nOption2, 1);  // stored as 0x00
  EXPECT_EQ(When(data.BPSet.vecRecords[2]), (std::vector<int>{2026, 3, 18, 12, 6}));
  EXPECT_EQ(data.BPSet.vecRecords[1].byFlagsLow, 0xA5);
  for (const _BP_RECORD& r : data.BPSet.vecRecords) EXPECT_EQ(r.nAux3, 0);  // byte 12 means nothing here
  EXPECT_EQ(data.BPSet.Head, (_DATA_HEAD{3, 2026, 1, 31, 23, 50, 0, 0}));

  monitor.settings().option2 = 0x01;
  ASSERT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(Fetch(protocol).Info.nOption2, 0);
}

TEST_F(Vestra16CDownload, RetriesPerRecordAndForTheSettings) {
  Store(monitor, 4);
  monitor.faults().unanswered_record_requests = {{2, 9}};
  monitor.faults().unanswered_settings_reads = {0, 1, 2, 3};
  ASSERT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(Fetch(protocol).BPSet.vecRecords.size(), 4u);  // nothing skipped
  EXPECT_EQ(monitor.record_requests(), 4 + 9);
  EXPECT_EQ(progress, 75);

  monitor.faults().unanswered_record_requests = {{2, 10}};
  EXPECT_EQ(protocol.PC_Download(DATAMODE_BP), 7);
  EXPECT_EQ(state, kStateFailed);
  EXPECT_EQ(Fetch(protocol).BPSet.vecRecords.size(), 2u);
  EXPECT_EQ(monitor.record_requests(), 13 + 2 + 10);
  EXPECT_FALSE(device.IsOpen());

  monitor.faults().unanswered_settings_reads = {6, 7, 8, 9, 10};
  EXPECT_EQ(protocol.PC_Download(DATAMODE_BP), 7);
  EXPECT_EQ(monitor.settings_reads(), 11);
}

TEST_F(Vestra16CDownload, SilenceMidDownloadEndsWithSeven) {
  Store(monitor, 5);
  monitor.faults().silent_after_records = 3;
  EXPECT_EQ(protocol.PC_Download(DATAMODE_BP), 7);
  // The cut record came as its echo alone and is kept as the zeros its
  // buffer was cleared to; the silence shows on the next request.
  EXPECT_EQ(Fetch(protocol).BPSet.vecRecords.size(), 4u);
  EXPECT_EQ(state, kStateFailed);
}

TEST_F(Vestra16CDownload, StopAndEmptyStoreBothEndWithOne) {
  EXPECT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(Fetch(protocol).BPSet, _BP_DATASET{});

  Store(monitor, 6);
  onWrite = [this](const Write& w) {
    if (w.bytes[0] == 0xEE && monitor.record_requests() == 1) state = kStateStopRequested;
  };
  EXPECT_EQ(protocol.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(state, kStateSucceeded);
  EXPECT_EQ(Fetch(protocol).BPSet.vecRecords.size(), 2u);
}

// Each class finds only its own family, and the two probes detection makes
// on a port (VESTRA16C's first, both 0x88 at 4800) tell the monitors apart.
TEST_F(Vestra16CDownload, TheFamiliesAreNeverTakenForEachOther) {
  sim::vestra16::Monitor older;
  older.measurements().resize(2);
  bplink::sim::InProcessDevice olderPort;
  olderPort.AttachPort(ComPortPath(L"ttyS0"), &older);

  auto probe = [](CDevice& port, const std::wstring& path, DWORD want) {
    EXPECT_EQ(port.Open(path, Line(4800)), 1);
    BYTE request = 0x88, rest = 0;
    port.SendData(&request, 1);
    Bytes answer(want, 0);
    const bool came = port.RecvData(answer.data(), want) != 0;
    while (port.RecvData(&rest, 1) != 0) {
    }
    port.Close();
    return came ? answer.at(0) : BYTE{0};
  };
  EXPECT_EQ(probe(olderPort, ComPortPath(L"ttyS0"), 1), 0x88);   // not 0x6C: no VESTRA16C
  EXPECT_EQ(probe(olderPort, ComPortPath(L"ttyS0"), 73), 0x88);  // a VESTRA16
  EXPECT_EQ(probe(device, ComPortPath(L"ttyS1"), 1), 0x6C);      // a VESTRA16C
  EXPECT_EQ(probe(device, ComPortPath(L"ttyS1"), 73), 0);         // and never a VESTRA16

  CProtocolCOMVESTRA16C younger_protocol;
  younger_protocol.SetDevice(&olderPort, false);
  EXPECT_EQ(younger_protocol.PC_Download(DATAMODE_BP), 2);
  EXPECT_EQ(younger_protocol.PC_Upload(DATAMODE_BP), 2);
  CProtocolCOMVESTRA16 older_protocol;
  older_protocol.SetDevice(&device, true);  // scanned all the same
  EXPECT_EQ(older_protocol.PC_Download(DATAMODE_BP), 2);
  EXPECT_EQ(older_protocol.PC_Upload(DATAMODE_BP), 2);

  tag_SUPPORT_PROTOCOL younger, elder;
  younger_protocol.GetCurDeviceInfo(younger);
  older_protocol.GetCurDeviceInfo(elder);
  EXPECT_EQ(younger, (tag_SUPPORT_PROTOCOL{6, 9, 255, 255, 0}));
  EXPECT_EQ(elder, (tag_SUPPORT_PROTOCOL{4, 8, 255, 255, 0}));
  int modes[kDataModeCount] = {0, 0, 7};
  EXPECT_EQ(younger_protocol.GetDownLoadDataMode(modes), 1);
  EXPECT_EQ(modes[1] * 10 + modes[2], 17);  // mode 1 added, the rest left alone
}

}  // namespace
}  // namespace bplink::testing::vestra16
