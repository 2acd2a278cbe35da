// Emptying the store before a download and handing it out by device type.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace {

class Store : public CProtocolBase {
 public:
  using CProtocolBase::ClearAllData, CProtocolBase::m_BPSet1, CProtocolBase::m_BPSet2, CProtocolBase::m_BPSet3,
      CProtocolBase::m_SpO2Set, CProtocolBase::m_SupportInfo, CProtocolBase::m_UploadNeeded;

  // Three recognisable sets, SpO2 samples and a plan that is not the default.
  explicit Store(int deviceType) {
    m_SupportInfo.nDeviceType = deviceType;
    m_BPSet1 = MakeSet(1, 3);
    m_BPSet2 = MakeSet(2, 2);
    m_BPSet3 = MakeSet(3, 4);
    m_SpO2Set = {{2, 0, 0, 0, 0, 0, 0, 0}, {{97, 61, 0}, {96, 62, 4}}};
    m_UploadNeeded.Info.nPeriod1Interval = 15;
    std::strcpy(m_UploadNeeded.Info.szPatientInfo3, "ward 4");
  }
  static _BP_DATASET MakeSet(int tag, int count) {
    _BP_DATASET set{{count, 2026, 3, tag, 8, 0, 0, 0}, {}};
    for (int i = 0; i < count; ++i) {
      set.vecRecords.emplace_back();
      set.vecRecords.back().nSys = 100 * tag + i;
    }
    return set;
  }
};

// A host record whose every member holds something, to see what is
// overwritten; its sets are longer than the store's.
_DOWNLOAD_DATAINFO Stale() {
  _DOWNLOAD_DATAINFO out;
  out.BPSet = out.BPSet2 = out.ZoneSet1 = out.ZoneSet2 = out.ZoneSet3 = Store::MakeSet(9, 5);
  out.SpO2Set.vecRecords.resize(7);
  out.Info.nPeriod2Hour = 23;
  return out;
}

// Layout A for types 1..4 and 6 (the third member by type), layout B for
// type 5 without the plan, nothing for a device not identified. The store
// is unchanged: a second fetch gives the same.
TEST(DataStore, HandsOutTheLayoutOfTheDeviceType) {
  for (enum_DataMode mode : {DATAMODE_BP_SPO2, DATAMODE_BP_SET2}) {
    CProtocolBase::m_nABPM_Type = mode;
    for (int type : {1, 2, 3, 4, 5, 6, 0, 7, 255, -1}) {
      SCOPED_TRACE(::testing::Message() << "type " << type << " mode " << mode);
      Store s(type);
      _DOWNLOAD_DATAINFO expected = Stale();
      if (type >= 1 && type <= 6 && type != 5) expected.Info = s.m_UploadNeeded.Info, expected.BPSet = s.m_BPSet1;
      if (type == 1) expected.BPSet2 = s.m_BPSet2;
      if (type == 3) expected.SpO2Set = s.m_SpO2Set;
      if (type == 3 && mode == DATAMODE_BP_SET2) expected.BPSet = s.m_BPSet2;
      if (type == 5)
        expected.BPSet = expected.ZoneSet1 = s.m_BPSet1, expected.ZoneSet2 = s.m_BPSet2, expected.ZoneSet3 = s.m_BPSet3;
      for (int fetch = 0; fetch < 2; ++fetch) {
        _DOWNLOAD_DATAINFO out = Stale();
        EXPECT_EQ(s.GetDownLoadData(&out), 1);
        EXPECT_EQ(out, expected);
      }
      EXPECT_EQ(s.GetDownLoadData(nullptr), 1);
    }
  }
  CProtocolBase::m_nABPM_Type = DATAMODE_NONE;
}

TEST(DataStore, ClearingRestoresTheDefaultPlanAndKeepsDeviceKnowledge) {
  Store s(1);
  s.m_UploadNeeded.Info.DayWarn.nWarnSwitch = 1;
  s.m_UploadNeeded.vecInterval1 = {15, 30};
  s.m_UploadNeeded.vecInterval2 = {15, 30, 240};
  s.m_UploadNeeded.nDataMode[3] = 1;
  const tag_SUPPORT_PROTOCOL identity = s.m_SupportInfo;
  _UPLOAD_NEEDED_DATA kept = s.m_UploadNeeded;  // all but the plan
  kept.Info = _BP_TRANSPORT_INFO{};

  ASSERT_TRUE(s.ClearAllData());
  for (const _BP_DATASET* set : {&s.m_BPSet1, &s.m_BPSet2, &s.m_BPSet3}) EXPECT_EQ(*set, _BP_DATASET{});
  EXPECT_EQ(std::tie(s.m_SpO2Set, s.m_UploadNeeded, s.m_SupportInfo), std::tuple(_SPO2_DATASET{}, kept, identity));
}

}  // namespace
