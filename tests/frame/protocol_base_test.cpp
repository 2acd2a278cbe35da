// The base protocol object: what every slot answers before a family
// overrides it, the progress conventions and the identity-byte tables.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace {

// Opens the protected members of the base class to the tests.
class OpenProtocol : public CProtocolBase {
 public:
  using CProtocolBase::ClearAllData;
  using CProtocolBase::DownloadBPData;
  using CProtocolBase::DownloadBPInfo;
  using CProtocolBase::DownloadSpO2Data;
  using CProtocolBase::GetDataMode;
  using CProtocolBase::GetDeviceProtocol;
  using CProtocolBase::GetDeviceType;
  using CProtocolBase::IsStopRequested;
  using CProtocolBase::SetState;
  using CProtocolBase::UploadBPInfo;
  using CProtocolBase::m_BPSet1;
  using CProtocolBase::m_pDevice;
  using CProtocolBase::m_pnProgress;
  using CProtocolBase::m_pnState;
  using CProtocolBase::m_pTransportType;
  using CProtocolBase::m_bOpened;
  using CProtocolBase::m_SupportInfo;
  using CProtocolBase::m_UploadNeeded;
};

class NullDevice : public CDevice {
 public:
  int Close() override { return 1; }
  int RecvData(BYTE*, DWORD) override { return 0; }
  int SendData(BYTE*, DWORD) override { return 0; }
};

// The identity-byte table as the device documentation lists it, by range.
struct IdentityRow {
  int first, last, type, protocol;
};
constexpr IdentityRow kIdentityTable[] = {
    {0x01, 0x0E, 1, 1},  {0x0F, 0x0F, -1, 6}, {0x11, 0x1E, 3, 3},  {0x1F, 0x1F, -1, 7},
    {0x21, 0x2E, 6, -1}, {0x2F, 0x2F, -1, 9}, {0x31, 0x3E, 4, 4},  {0x3F, 0x3F, -1, 8},
    {0x41, 0x4E, 5, 5},  {0x4F, 0x4F, -1, 10}, {0x51, 0x5E, 2, 2},
};

TEST(IdentityByte, EveryByteMapsAsTheTableSays) {
  for (int byte = 0; byte <= 0xFF; ++byte) {
    int type = -1, protocol = -1;
    for (const auto& row : kIdentityTable)
      if (byte >= row.first && byte <= row.last) type = row.type, protocol = row.protocol;
    SCOPED_TRACE(byte);
    EXPECT_EQ(OpenProtocol::GetDeviceType(static_cast<BYTE>(byte)), type);
    EXPECT_EQ(OpenProtocol::GetDeviceProtocol(static_cast<BYTE>(byte)), protocol);
  }
}

TEST(IdentityByte, MarkersNameAProtocolButNoType) {
  EXPECT_EQ(OpenProtocol::GetDeviceProtocol(0x0F), 6);
  EXPECT_EQ(OpenProtocol::GetDeviceType(0x0F), -1);
  EXPECT_EQ(OpenProtocol::GetDeviceType(0x21), 6);
  EXPECT_EQ(OpenProtocol::GetDeviceProtocol(0x21), -1);
  EXPECT_EQ(OpenProtocol::GetDeviceType(0x5F), -1);
  EXPECT_EQ(OpenProtocol::GetDeviceProtocol(0x5F), -1);
}

TEST(ProtocolBase, ConstructionGivesDefaultsAndNoBinding) {
  OpenProtocol p;
  EXPECT_EQ(p.m_UploadNeeded.Info, _BP_TRANSPORT_INFO{});
  EXPECT_TRUE(p.m_UploadNeeded.vecInterval1.empty());
  EXPECT_TRUE(p.m_UploadNeeded.vecInterval2.empty());
  for (int flag : p.m_UploadNeeded.nDataMode) EXPECT_EQ(flag, 0);
  EXPECT_EQ(p.m_SupportInfo, (tag_SUPPORT_PROTOCOL{0, 0, 0, 0, 0}));
  EXPECT_EQ(p.m_pDevice, nullptr);
  EXPECT_FALSE(p.m_bOpened);
  EXPECT_EQ(p.m_pnProgress, nullptr);
}

// The base answer of every public slot, called through the base class as a
// host does, in slot order.
TEST(ProtocolBase, EverySlotGivesItsBaseAnswer) {
  OpenProtocol open;
  CProtocolBase& p = open;
  NullDevice device;
  int progress = -1, state = -1;
  enum_TransportType stage = TRANSPORT_BP_MODE0;

  EXPECT_EQ(p.PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(p.PC_Delete(DATAMODE_BP), 1);
  EXPECT_EQ(p.PC_Upload(DATAMODE_BP), 1);
  int modes[9] = {7, 7, 7, 7, 7, 7, 7, 7, 7};
  EXPECT_EQ(p.GetDownLoadDataMode(modes), 1);
  for (int m : modes) EXPECT_EQ(m, 7);  // left as the host gave it
  p.SetDevice(&device, false);
  EXPECT_EQ(open.m_pDevice, &device);
  EXPECT_EQ(p.SetProgressInfo(&progress, &state, &stage), 1);
  _UPLOAD_NEEDED_DATA needed;
  EXPECT_EQ(p.PC_DownloadBPInfoTimeInterval(needed), 10);
  _BP_TRANSPORT_INFO plan;
  plan.nPeriod1Interval = 15;
  std::strcpy(plan.szPatientInfo1, "Doe");
  EXPECT_TRUE(p.SetUpLoadData(plan));
  EXPECT_EQ(open.m_UploadNeeded.Info, plan);
  tag_SUPPORT_PROTOCOL info{1, 2, 3, 4, 5};
  EXPECT_EQ(p.GetCurDeviceInfo(info), 1);
  EXPECT_EQ(info, (tag_SUPPORT_PROTOCOL{0, 0, 0, 0, 0}));
  _SUB_VERSION version{9, 9};
  EXPECT_EQ(p.GetProtocolVersion(version), 1);
  EXPECT_EQ(version, (_SUB_VERSION{1, 0}));

  EXPECT_TRUE(open.ClearAllData());
  EXPECT_EQ(open.UploadBPInfo(), 1);
  EXPECT_EQ(stage, TRANSPORT_PLAN_UPLOAD);
  EXPECT_EQ(open.DownloadBPInfo(), 1);
  EXPECT_EQ(stage, TRANSPORT_PLAN_DOWNLOAD);
  EXPECT_EQ(open.DownloadSpO2Data(), 1);
  EXPECT_EQ(stage, TRANSPORT_SPO2);
  EXPECT_EQ(progress, -1);  // no base slot moves progress or state
  EXPECT_EQ(state, -1);
}

TEST(ProtocolBase, BaseDataDownloadReportsTheStageOfTheDataMode) {
  OpenProtocol p;
  int progress = 0, state = 0;
  enum_TransportType stage = TRANSPORT_PLAN_UPLOAD;
  p.SetProgressInfo(&progress, &state, &stage);
  const enum_TransportType expected[] = {TRANSPORT_BP_MODE0, TRANSPORT_BP,       TRANSPORT_BP,
                                         TRANSPORT_BP_SET2,  TRANSPORT_BP_ZONE1, TRANSPORT_BP_ZONE2,
                                         TRANSPORT_BP_ZONE3, TRANSPORT_BP_ZONE1, TRANSPORT_BP};
  for (int mode = 0; mode <= 8; ++mode) {
    CProtocolBase::m_nABPM_Type = static_cast<enum_DataMode>(mode);
    EXPECT_EQ(p.DownloadBPData(), 1);
    EXPECT_EQ(stage, expected[mode]) << "mode " << mode;
  }
  CProtocolBase::m_nABPM_Type = static_cast<enum_DataMode>(42);
  p.DownloadBPData();
  EXPECT_EQ(stage, TRANSPORT_BP);
  CProtocolBase::m_nABPM_Type = DATAMODE_NONE;
}

TEST(ProtocolBase, ProgressRegistrationStopsAtTheFirstNull) {
  OpenProtocol p;
  int progress = 0, state = 0, otherProgress = 0;
  enum_TransportType stage{}, otherStage{};
  ASSERT_EQ(p.SetProgressInfo(&otherProgress, &state, &otherStage), 1);

  EXPECT_EQ(p.SetProgressInfo(&progress, nullptr, &stage), 0);
  EXPECT_EQ(p.m_pnProgress, &progress);
  EXPECT_EQ(p.m_pnState, &state);
  EXPECT_EQ(p.m_pTransportType, &otherStage);

  EXPECT_EQ(p.SetProgressInfo(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(p.m_pnProgress, &progress);
}

TEST(ProtocolBase, NullDeviceChangesOnlyTheOpenedFlag) {
  OpenProtocol p;
  NullDevice device;
  p.SetDevice(&device, false);
  p.SetDevice(nullptr, true);
  EXPECT_EQ(p.m_pDevice, &device);
  EXPECT_TRUE(p.m_bOpened);
}

TEST(ProtocolBase, BaseIntervalQueryAppendsTheStandardListAndResetsThePlan) {
  CProtocolBase p;
  _UPLOAD_NEEDED_DATA needed;
  needed.vecInterval1 = {7};
  needed.vecInterval2 = {1, 2, 3};
  needed.Info.nPeriod1Hour = 3;
  needed.nDataMode[1] = 1;
  EXPECT_EQ(p.PC_DownloadBPInfoTimeInterval(needed), 10);
  const std::vector<int> expected{7, 5, 10, 15, 20, 30, 45, 60, 90, 120};
  EXPECT_EQ(needed.vecInterval1, expected);
  EXPECT_EQ(needed.vecInterval2, expected);
  EXPECT_EQ(needed.Info, _BP_TRANSPORT_INFO{});
  EXPECT_EQ(needed.nDataMode[1], 1);
}

TEST(ProtocolBase, DataModesByDeviceType) {
  const std::vector<int> offered[] = {{}, {1, 3}, {1}, {1, 2}, {1}, {4, 5, 6}, {1}};
  for (int type = 1; type <= 6; ++type) {
    OpenProtocol p;
    p.m_UploadNeeded.nDataMode[8] = 1;  // flags already set stay set
    EXPECT_EQ(p.GetDataMode(type), 1);
    int expected[9] = {};
    expected[8] = 1;
    for (int m : offered[type]) expected[m] = 1;
    for (int m = 0; m < 9; ++m) EXPECT_EQ(p.m_UploadNeeded.nDataMode[m], expected[m]) << type;
  }
  OpenProtocol p;
  for (int bad : {0, 7, 255, -1}) EXPECT_EQ(p.GetDataMode(bad), 10);
  for (int flag : p.m_UploadNeeded.nDataMode) EXPECT_EQ(flag, 0);
}

TEST(ProtocolBase, CopyHoldsSeparateDataAndSharesDeviceAndProgress) {
  OpenProtocol a;
  NullDevice device;
  int progress = 0, state = 0;
  enum_TransportType stage{};
  a.SetDevice(&device, true);
  a.SetProgressInfo(&progress, &state, &stage);
  _BP_RECORD r;
  r.nSys = 131;
  r.strNote = L"first";
  a.m_BPSet1.Head.nCount = 1;
  a.m_BPSet1.vecRecords.push_back(r);
  a.m_UploadNeeded.vecInterval1 = {15, 30};
  a.m_UploadNeeded.Info.nPeriod2Interval = 45;
  a.m_SupportInfo = {1, 1, 255, 2, 7};

  OpenProtocol b(a);
  OpenProtocol c;
  c = a;
  for (OpenProtocol* copy : {&b, &c}) {
    EXPECT_EQ(copy->m_BPSet1, a.m_BPSet1);
    EXPECT_EQ(copy->m_UploadNeeded, a.m_UploadNeeded);
    EXPECT_EQ(copy->m_SupportInfo, a.m_SupportInfo);
    EXPECT_EQ(copy->m_pDevice, &device);
    EXPECT_EQ(copy->m_pnProgress, &progress);
    EXPECT_EQ(copy->m_pnState, &state);
    EXPECT_TRUE(copy->m_bOpened);
  }
  ASSERT_TRUE(b.ClearAllData());
  EXPECT_TRUE(b.m_BPSet1.vecRecords.empty());
  ASSERT_EQ(a.m_BPSet1.vecRecords.size(), 1u);
  EXPECT_EQ(a.m_BPSet1.vecRecords[0].strNote, L"first");
  EXPECT_EQ(c.m_BPSet1.vecRecords.size(), 1u);

  OpenProtocol& same = c;
  c = same;  // self-assignment keeps everything
  EXPECT_EQ(c.m_BPSet1, a.m_BPSet1);
}

TEST(ProtocolBase, StopRequestFromAnotherThreadIsSeen) {
  OpenProtocol p;
  int progress = 0, state = 0;
  enum_TransportType stage{};
  p.SetProgressInfo(&progress, &state, &stage);
  p.SetState(bplink::kStateRunning);
  std::thread host([&] { std::atomic_ref<int>(state).store(bplink::kStateStopRequested); });
  host.join();
  EXPECT_TRUE(p.IsStopRequested());
}

// On the Itanium C++ ABI a pointer to a virtual member function holds
// 1 + the byte offset of its vtable slot; the destructor takes two slots.
// This pins the slot order hosts program against.
#if defined(__GNUC__) && !defined(_WIN32)
template <typename F>
std::ptrdiff_t SlotOf(F f) {
  std::ptrdiff_t raw;
  static_assert(sizeof(f) >= sizeof(raw));
  std::memcpy(&raw, &f, sizeof raw);
  return (raw - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));  // 0 and 1: the destructor
}

class SlotProbe : public CProtocolBase {
 public:
  static std::vector<std::ptrdiff_t> Slots() {
    return {SlotOf(&CProtocolBase::PC_Download),
            SlotOf(&CProtocolBase::PC_Delete),
            SlotOf(&CProtocolBase::PC_Upload),
            SlotOf(&CProtocolBase::GetDownLoadDataMode),
            SlotOf(&CProtocolBase::SetDevice),
            SlotOf(&CProtocolBase::SetProgressInfo),
            SlotOf(&CProtocolBase::PC_DownloadBPInfoTimeInterval),
            SlotOf(&CProtocolBase::SetUpLoadData),
            SlotOf(&CProtocolBase::GetCurDeviceInfo),
            SlotOf(&CProtocolBase::GetProtocolVersion),
            SlotOf(&SlotProbe::ClearAllData),
            SlotOf(&SlotProbe::UploadBPInfo),
            SlotOf(&SlotProbe::DownloadBPInfo),
            SlotOf(&SlotProbe::DownloadSpO2Data),
            SlotOf(&SlotProbe::DownloadBPData)};
  }
};

TEST(ProtocolBase, VirtualSlotsKeepTheirOrder) {
  const auto slots = SlotProbe::Slots();
  for (size_t i = 0; i < slots.size(); ++i) EXPECT_EQ(slots[i], static_cast<std::ptrdiff_t>(i + 2));
}

TEST(Device, VirtualSlotsKeepTheirOrder) {
  EXPECT_EQ(SlotOf(static_cast<int (CDevice::*)(CString, DCB)>(&CDevice::Open)), 2);
  EXPECT_EQ(SlotOf(static_cast<int (CDevice::*)(int)>(&CDevice::Open)), 3);
  EXPECT_EQ(SlotOf(&CDevice::Close), 4);
  EXPECT_EQ(SlotOf(&CDevice::RecvData), 5);
  EXPECT_EQ(SlotOf(&CDevice::SendData), 6);
}
#endif

}  // namespace
