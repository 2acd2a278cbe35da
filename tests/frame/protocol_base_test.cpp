// The base protocol object: what every slot answers before a family
// overrides it, the progress conventions and the identity-byte tables.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <tuple>

#include "scripted_device.h"

namespace {

// Opens the protected members of the base class to the tests.
class OpenProtocol : public CProtocolBase {
 public:
  using CProtocolBase::ClearAllData, CProtocolBase::DownloadBPData, CProtocolBase::DownloadBPInfo,
      CProtocolBase::DownloadSpO2Data, CProtocolBase::GetDataMode, CProtocolBase::GetDeviceProtocol,
      CProtocolBase::GetDeviceType, CProtocolBase::UploadBPInfo;
  using CProtocolBase::m_BPSet1, CProtocolBase::m_bOpened, CProtocolBase::m_pDevice, CProtocolBase::m_pnProgress,
      CProtocolBase::m_pnState, CProtocolBase::m_pTransportType, CProtocolBase::m_SupportInfo,
      CProtocolBase::m_UploadNeeded;
};

// The identity byte by range, as the device documentation lists it: low
// nibble F names a protocol only, 0x21..0x2E a type only.
TEST(IdentityByte, EveryByteMapsAsTheTableSays) {
  struct Range {
    int first, last, type, protocol;
  };
  const Range table[] = {
      {0x01, 0x0E, 1, 1},  {0x0F, 0x0F, -1, 6}, {0x11, 0x1E, 3, 3},  {0x1F, 0x1F, -1, 7},
      {0x21, 0x2E, 6, -1}, {0x2F, 0x2F, -1, 9}, {0x31, 0x3E, 4, 4},  {0x3F, 0x3F, -1, 8},
      {0x41, 0x4E, 5, 5},  {0x4F, 0x4F, -1, 10}, {0x51, 0x5E, 2, 2},
  };
  for (int byte = 0; byte <= 0xFF; ++byte) {
    int type = -1, protocol = -1;
    for (const auto& row : table)
      if (byte >= row.first && byte <= row.last) type = row.type, protocol = row.protocol;
    EXPECT_EQ(OpenProtocol::GetDeviceType(static_cast<BYTE>(byte)), type) << byte;
    EXPECT_EQ(OpenProtocol::GetDeviceProtocol(static_cast<BYTE>(byte)), protocol) << byte;
  }
}

// A new object holds the default plan and is bound to nothing; the base
// answer of every public slot, called through the base class as a host does;
// the protected transfer slots write only their stage.
TEST(ProtocolBase, EverySlotGivesItsBaseAnswer) {
  OpenProtocol open;
  EXPECT_EQ(std::tuple(open.m_UploadNeeded, open.m_SupportInfo, open.m_pDevice, open.m_pnProgress, open.m_bOpened),
            std::tuple(_UPLOAD_NEEDED_DATA{}, tag_SUPPORT_PROTOCOL{0, 0, 0, 0, 0}, nullptr, nullptr, false));
  CProtocolBase& p = open;
  bplink::testing::ScriptedDevice device;
  int progress = -1, state = -1;
  enum_TransportType stage = TRANSPORT_BP_MODE0;
  int modes[9] = {7, 7, 7, 7, 7, 7, 7, 7, 7};
  EXPECT_EQ((std::array{p.PC_Download(DATAMODE_BP), p.PC_Delete(DATAMODE_BP), p.PC_Upload(DATAMODE_BP),
                        p.GetDownLoadDataMode(modes)}),
            (std::array{1, 1, 1, 1}));
  for (int m : modes) EXPECT_EQ(m, 7);  // left as the host gave it
  p.SetDevice(&device, false);
  p.SetDevice(nullptr, true);  // a null device changes only the flag
  EXPECT_EQ(std::tuple(open.m_pDevice, open.m_bOpened), std::tuple(static_cast<CDevice*>(&device), true));
  EXPECT_EQ(p.SetProgressInfo(&progress, &state, &stage), 1);
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
  const auto stageOf = [&](int (CProtocolBase::*slot)()) {
    EXPECT_EQ((open.*slot)(), 1);
    return stage;
  };
  EXPECT_EQ((std::array{stageOf(&OpenProtocol::UploadBPInfo), stageOf(&OpenProtocol::DownloadBPInfo),
                        stageOf(&OpenProtocol::DownloadSpO2Data)}),
            (std::array{TRANSPORT_PLAN_UPLOAD, TRANSPORT_PLAN_DOWNLOAD, TRANSPORT_SPO2}));
  // The data download's stage follows the data mode; an unknown one counts as mode 1.
  const enum_TransportType byMode[] = {TRANSPORT_BP_MODE0, TRANSPORT_BP,       TRANSPORT_BP,
                                       TRANSPORT_BP_SET2,  TRANSPORT_BP_ZONE1, TRANSPORT_BP_ZONE2,
                                       TRANSPORT_BP_ZONE3, TRANSPORT_BP_ZONE1, TRANSPORT_BP, TRANSPORT_BP};
  for (int mode = 0; mode <= 9; ++mode) {
    CProtocolBase::m_nABPM_Type = static_cast<enum_DataMode>(mode == 9 ? 42 : mode);
    EXPECT_EQ(stageOf(&OpenProtocol::DownloadBPData), byMode[mode]) << "mode " << mode;
  }
  CProtocolBase::m_nABPM_Type = DATAMODE_NONE;
  EXPECT_EQ(std::pair(progress, state), std::pair(-1, -1));  // no base slot moves progress or state
}

TEST(ProtocolBase, ProgressRegistrationStopsAtTheFirstNull) {
  OpenProtocol p;
  int progress = 0, state = 0, otherProgress = 0;
  enum_TransportType stage{}, otherStage{};
  ASSERT_EQ(p.SetProgressInfo(&otherProgress, &state, &otherStage), 1);
  EXPECT_EQ(p.SetProgressInfo(&progress, nullptr, &stage), 0);
  EXPECT_EQ(std::tuple(p.m_pnProgress, p.m_pnState, p.m_pTransportType), std::tuple(&progress, &state, &otherStage));
  EXPECT_EQ(p.SetProgressInfo(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(p.m_pnProgress, &progress);
  EXPECT_EQ(p.SetProgressInfo(&progress, &state, nullptr), 0);
  EXPECT_EQ(p.m_pTransportType, &otherStage);
}

// The families without an interval query: the standard list after what the
// host had, twice, the default plan, and "not for this device".
TEST(ProtocolBase, BaseIntervalQueryAppendsTheStandardListAndResetsThePlan) {
  CProtocolBase p;
  _UPLOAD_NEEDED_DATA needed{{}, {7}, {1, 2, 3}, {0, 1}};
  needed.Info.nPeriod1Hour = 3;
  EXPECT_EQ(p.PC_DownloadBPInfoTimeInterval(needed), 10);
  const std::vector<int> expected{7, 5, 10, 15, 20, 30, 45, 60, 90, 120};
  EXPECT_EQ(needed, (_UPLOAD_NEEDED_DATA{{}, expected, expected, {0, 1}}));
}

// Flags already set stay set; an unknown type sets nothing.
TEST(ProtocolBase, DataModesByDeviceType) {
  const std::vector<int> offered[] = {{}, {1, 3}, {1}, {1, 2}, {1}, {4, 5, 6}, {1}};
  for (int type = 0; type <= 7; ++type) {
    OpenProtocol p;
    p.m_UploadNeeded.nDataMode[8] = 1;
    EXPECT_EQ(p.GetDataMode(type), type >= 1 && type <= 6 ? 1 : 10);
    int expected[9] = {0, 0, 0, 0, 0, 0, 0, 0, 1};
    if (type >= 1 && type <= 6)
      for (int m : offered[type]) expected[m] = 1;
    EXPECT_TRUE(std::equal(expected, expected + 9, p.m_UploadNeeded.nDataMode)) << type;
  }
}

TEST(ProtocolBase, CopyHoldsSeparateDataAndSharesDeviceAndProgress) {
  OpenProtocol a;
  bplink::testing::ScriptedDevice device;
  int progress = 0, state = 0;
  enum_TransportType stage{};
  a.SetDevice(&device, true);
  a.SetProgressInfo(&progress, &state, &stage);
  _BP_RECORD r;
  r.strNote = L"first";
  a.m_BPSet1.vecRecords = {r};
  a.m_UploadNeeded.vecInterval1 = {15, 30};
  a.m_UploadNeeded.Info.nPeriod2Interval = 45;
  a.m_SupportInfo = {1, 1, 255, 2, 7};

  OpenProtocol b(a);
  OpenProtocol c;
  c = a;
  for (OpenProtocol* copy : {&b, &c}) {
    EXPECT_EQ(std::tie(copy->m_BPSet1, copy->m_UploadNeeded, copy->m_SupportInfo),
              std::tie(a.m_BPSet1, a.m_UploadNeeded, a.m_SupportInfo));
    EXPECT_EQ(std::tuple(copy->m_pDevice, copy->m_pnProgress, copy->m_pnState, copy->m_pTransportType, copy->m_bOpened),
              std::tuple(&device, &progress, &state, &stage, true));
  }
  ASSERT_TRUE(b.ClearAllData());
  EXPECT_TRUE(b.m_BPSet1.vecRecords.empty());
  EXPECT_EQ(a.m_BPSet1.vecRecords, std::vector{r});
  OpenProtocol& same = c;
  c = same;  // self-assignment keeps everything
  EXPECT_EQ(c.m_BPSet1, a.m_BPSet1);
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
    return {SlotOf(&CProtocolBase::PC_Download),   SlotOf(&CProtocolBase::PC_Delete),
            SlotOf(&CProtocolBase::PC_Upload),     SlotOf(&CProtocolBase::GetDownLoadDataMode),
            SlotOf(&CProtocolBase::SetDevice),     SlotOf(&CProtocolBase::SetProgressInfo),
            SlotOf(&CProtocolBase::PC_DownloadBPInfoTimeInterval), SlotOf(&CProtocolBase::SetUpLoadData),
            SlotOf(&CProtocolBase::GetCurDeviceInfo), SlotOf(&CProtocolBase::GetProtocolVersion),
            SlotOf(&SlotProbe::ClearAllData),      SlotOf(&SlotProbe::UploadBPInfo),
            SlotOf(&SlotProbe::DownloadBPInfo),    SlotOf(&SlotProbe::DownloadSpO2Data),
            SlotOf(&SlotProbe::DownloadBPData)};
  }
};

TEST(VirtualSlots, KeepTheirOrder) {
  EXPECT_EQ(SlotProbe::Slots(), (std::vector<std::ptrdiff_t>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
  EXPECT_EQ((std::vector<std::ptrdiff_t>{SlotOf(static_cast<int (CDevice::*)(CString, DCB)>(&CDevice::Open)),
                                         SlotOf(static_cast<int (CDevice::*)(int)>(&CDevice::Open)),
                                         SlotOf(&CDevice::Close), SlotOf(&CDevice::RecvData),
                                         SlotOf(&CDevice::SendData)}),
            (std::vector<std::ptrdiff_t>{2, 3, 4, 5, 6}));
}
#endif

}  // namespace
