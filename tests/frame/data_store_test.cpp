// Emptying the store before a download and handing it out by device type.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <cstring>

namespace {

class Store : public CProtocolBase {
 public:
  using CProtocolBase::ClearAllData;
  using CProtocolBase::m_BPSet1;
  using CProtocolBase::m_BPSet2;
  using CProtocolBase::m_BPSet3;
  using CProtocolBase::m_SpO2Set;
  using CProtocolBase::m_SupportInfo;
  using CProtocolBase::m_UploadNeeded;

  // Three recognisable sets, SpO2 samples and a plan that is not the default.
  void Fill(int deviceType) {
    m_SupportInfo.nDeviceType = deviceType;
    m_BPSet1 = MakeSet(1, 3);
    m_BPSet2 = MakeSet(2, 2);
    m_BPSet3 = MakeSet(3, 4);
    m_SpO2Set.Head.nCount = 2;
    m_SpO2Set.vecRecords = {{97, 61, 0}, {96, 62, 4}};
    m_UploadNeeded.Info.nPeriod1Interval = 15;
    m_UploadNeeded.Info.nYear = 2026;
  }

  static _BP_DATASET MakeSet(int tag, int count) {
    _BP_DATASET set;
    set.Head = {count, 2026, 3, tag, 8, 0, 0, 0};
    for (int i = 0; i < count; ++i) {
      _BP_RECORD r;
      r.nSys = 100 * tag + i;
      set.vecRecords.push_back(r);
    }
    return set;
  }
};

struct ModeGuard {
  ~ModeGuard() { CProtocolBase::m_nABPM_Type = DATAMODE_NONE; }
};

// A host record whose every member holds something, to see what is overwritten.
_DOWNLOAD_DATAINFO Stale() {
  _DOWNLOAD_DATAINFO out;
  out.BPSet = Store::MakeSet(9, 5);
  out.BPSet2 = Store::MakeSet(9, 6);
  out.ZoneSet1 = Store::MakeSet(9, 1);
  out.ZoneSet2 = Store::MakeSet(9, 1);
  out.ZoneSet3 = Store::MakeSet(9, 1);
  out.SpO2Set.vecRecords.resize(7);
  out.Info.nPeriod2Hour = 23;
  return out;
}

TEST(DataStore, AmbulatoryRecorderHandsOutPlanAndBothSets) {
  Store s;
  s.Fill(1);
  _DOWNLOAD_DATAINFO out = Stale();
  ASSERT_EQ(s.GetDownLoadData(&out), 1);
  EXPECT_EQ(out.Info, s.m_UploadNeeded.Info);
  EXPECT_EQ(out.BPSet, s.m_BPSet1);
  EXPECT_EQ(out.BPSet2, s.m_BPSet2);
  EXPECT_EQ(out.SpO2Set.vecRecords.size(), 7u);  // not part of this layout
}

TEST(DataStore, SingleSetMonitorsLeaveTheThirdMemberAlone) {
  for (int type : {2, 4, 6}) {
    Store s;
    s.Fill(type);
    _DOWNLOAD_DATAINFO out = Stale();
    const _DOWNLOAD_DATAINFO before = out;
    ASSERT_EQ(s.GetDownLoadData(&out), 1);
    EXPECT_EQ(out.Info, s.m_UploadNeeded.Info);
    EXPECT_EQ(out.BPSet, s.m_BPSet1);
    EXPECT_EQ(out.BPSet2, before.BPSet2);
    EXPECT_EQ(out.SpO2Set, before.SpO2Set);
  }
}

TEST(DataStore, SpO2MonitorHandsOutSamplesAndTheSetOfTheDataMode) {
  ModeGuard guard;
  Store s;
  s.Fill(3);
  _DOWNLOAD_DATAINFO out = Stale();
  CProtocolBase::m_nABPM_Type = DATAMODE_BP_SPO2;
  ASSERT_EQ(s.GetDownLoadData(&out), 1);
  EXPECT_EQ(out.BPSet, s.m_BPSet1);
  EXPECT_EQ(out.SpO2Set, s.m_SpO2Set);

  CProtocolBase::m_nABPM_Type = DATAMODE_BP_SET2;
  ASSERT_EQ(s.GetDownLoadData(&out), 1);
  EXPECT_EQ(out.BPSet, s.m_BPSet2);
  EXPECT_EQ(out.SpO2Set, s.m_SpO2Set);
}

TEST(DataStore, ThreeStoreMonitorUsesLayoutBAndWritesNoPlan) {
  Store s;
  s.Fill(5);
  _DOWNLOAD_DATAINFO out = Stale();
  const _BP_TRANSPORT_INFO plan = out.Info;
  ASSERT_EQ(s.GetDownLoadData(&out), 1);
  EXPECT_EQ(out.ZoneSet1, s.m_BPSet1);
  EXPECT_EQ(out.BPSet, s.m_BPSet1);  // the same storage under its other name
  EXPECT_EQ(out.ZoneSet2, s.m_BPSet2);
  EXPECT_EQ(out.ZoneSet3, s.m_BPSet3);
  EXPECT_EQ(out.Info, plan);
}

TEST(DataStore, UnidentifiedDeviceWritesNothing) {
  for (int type : {255, -1, 0, 7}) {
    Store s;
    s.Fill(type);
    _DOWNLOAD_DATAINFO out = Stale();
    const _DOWNLOAD_DATAINFO before = out;
    EXPECT_EQ(s.GetDownLoadData(&out), 1);
    EXPECT_EQ(out, before) << type;
  }
}

TEST(DataStore, FetchingTwiceGivesEqualDataAndReplacesLongerTargets) {
  Store s;
  s.Fill(1);
  _DOWNLOAD_DATAINFO first = Stale(), second;
  ASSERT_EQ(s.GetDownLoadData(&first), 1);
  ASSERT_EQ(s.GetDownLoadData(&second), 1);
  EXPECT_EQ(first.BPSet, second.BPSet);
  EXPECT_EQ(first.BPSet2, second.BPSet2);
  EXPECT_EQ(first.BPSet.vecRecords.size(), 3u);  // the five stale records are gone
}

TEST(DataStore, EmptyDownloadKeepsTheAnnouncedCount) {
  Store s;
  s.m_SupportInfo.nDeviceType = 2;
  s.m_BPSet1.Head.nCount = 12;  // announced, nothing arrived
  _DOWNLOAD_DATAINFO out = Stale();
  ASSERT_EQ(s.GetDownLoadData(&out), 1);
  EXPECT_EQ(out.BPSet.Head.nCount, 12);
  EXPECT_TRUE(out.BPSet.vecRecords.empty());
}

TEST(DataStore, ClearingRestoresTheDefaultPlanAndKeepsDeviceKnowledge) {
  Store s;
  s.Fill(1);
  std::strcpy(s.m_UploadNeeded.Info.szPatientInfo3, "ward 4");
  s.m_UploadNeeded.Info.DayWarn.nWarnSwitch = 1;
  s.m_UploadNeeded.vecInterval1 = {15, 30};
  s.m_UploadNeeded.vecInterval2 = {15, 30, 240};
  s.m_UploadNeeded.nDataMode[3] = 1;
  const tag_SUPPORT_PROTOCOL identity = s.m_SupportInfo;

  ASSERT_TRUE(s.ClearAllData());
  EXPECT_EQ(s.m_UploadNeeded.Info, _BP_TRANSPORT_INFO{});
  for (const _BP_DATASET* set : {&s.m_BPSet1, &s.m_BPSet2, &s.m_BPSet3}) {
    EXPECT_EQ(set->Head, _DATA_HEAD{});
    EXPECT_TRUE(set->vecRecords.empty());
  }
  EXPECT_EQ(s.m_SpO2Set.Head, _DATA_HEAD{});
  EXPECT_TRUE(s.m_SpO2Set.vecRecords.empty());
  EXPECT_EQ(s.m_UploadNeeded.vecInterval1, (std::vector<int>{15, 30}));
  EXPECT_EQ(s.m_UploadNeeded.vecInterval2, (std::vector<int>{15, 30, 240}));
  EXPECT_EQ(s.m_UploadNeeded.nDataMode[3], 1);
  EXPECT_EQ(s.m_SupportInfo, identity);
}

TEST(DataStore, NullTargetIsHarmless) {
  Store s;
  s.Fill(1);
  EXPECT_EQ(s.GetDownLoadData(nullptr), 1);
}

}  // namespace
