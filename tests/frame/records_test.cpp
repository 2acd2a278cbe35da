// The records are read by hosts directly: their layout and defaults are part
// of the interface.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <cstddef>

namespace {

template <typename Record, typename Field>
std::ptrdiff_t OffsetOf(const Record& r, const Field& f) {
  return reinterpret_cast<const char*>(&f) - reinterpret_cast<const char*>(&r);
}

TEST(Records, PlanLayoutKeepsFieldOrderAndWidths) {
  static_assert(sizeof(_WARN_GROUP) == 7 * sizeof(int));
  static_assert(offsetof(_BP_TRANSPORT_INFO, szPatientInfo2) == 31);
  static_assert(offsetof(_BP_TRANSPORT_INFO, szPatientInfo3) == 43);
  static_assert(offsetof(_BP_TRANSPORT_INFO, szPatientInfo4) == 74);
  static_assert(offsetof(_BP_TRANSPORT_INFO, nPatientInfo5) == 108);  // 105 bytes of text, int-aligned
  static_assert(offsetof(_BP_TRANSPORT_INFO, nYear) == 116);
  static_assert(offsetof(_BP_TRANSPORT_INFO, nOption3) == 148);
  static_assert(offsetof(_BP_TRANSPORT_INFO, nExtraStartHour) == 156);
  static_assert(offsetof(_BP_TRANSPORT_INFO, nPeriod2Interval) == 196);
  static_assert(offsetof(_BP_TRANSPORT_INFO, DayWarn) == 200);
  static_assert(offsetof(_BP_TRANSPORT_INFO, NightWarn) == 228);
  static_assert(offsetof(_BP_TRANSPORT_INFO, nWarnSwitchInfo) == 256);
  static_assert(sizeof(_BP_TRANSPORT_INFO) == 260);
  static_assert(sizeof(tag_SUPPORT_PROTOCOL) == 5 * sizeof(int));
  static_assert(sizeof(_DATA_HEAD) == 8 * sizeof(int));
  static_assert(sizeof(enum_DataMode) == sizeof(int) && sizeof(enum_TransportType) == sizeof(int));
  SUCCEED();
}

TEST(Records, MeasurementLayoutKeepsFieldOrderAndWidths) {
  _BP_RECORD r;
  EXPECT_EQ(OffsetOf(r, r.nYear), 4);
  EXPECT_EQ(OffsetOf(r, r.wMonth), 8);
  EXPECT_EQ(OffsetOf(r, r.wSecond), 16);
  EXPECT_EQ(OffsetOf(r, r.nSys), 20);
  EXPECT_EQ(OffsetOf(r, r.wPress2), 24);
  EXPECT_EQ(OffsetOf(r, r.wStatus), 36);
  EXPECT_EQ(OffsetOf(r, r.byFlagsLow), 38);
  EXPECT_EQ(OffsetOf(r, r.nAux3), 40);
  EXPECT_EQ(OffsetOf(r, r.nMinuteOffset), 44);
  EXPECT_EQ(OffsetOf(r, r.bValid), 48);
  _SPO2_RECORD s;
  EXPECT_EQ(OffsetOf(s, s.byPulseRate), 1);
  EXPECT_EQ(OffsetOf(s, s.nTimeOffset), 4);
}

TEST(Records, DefaultPlanIsTheDocumentedOne) {
  const _BP_TRANSPORT_INFO plan;
  for (char c : plan.szPatientInfo1) EXPECT_EQ(c, 0);
  EXPECT_EQ(plan.nOption1, 1);
  EXPECT_EQ(plan.nOption2, 1);
  EXPECT_EQ(plan.nOption3, 297);
  EXPECT_EQ(plan.nOption4, 0);
  EXPECT_EQ(plan.nExtraStartHour, -1);
  EXPECT_EQ(plan.nExtraStartMinute, -1);
  EXPECT_EQ(plan.nExtraEndHour, -1);
  EXPECT_EQ(plan.nExtraEndMinute, -1);
  EXPECT_EQ(plan.nExtraInterval, 0);
  EXPECT_EQ(plan.nPeriod1Hour, 7);
  EXPECT_EQ(plan.nPeriod1Minute, 0);
  EXPECT_EQ(plan.nPeriod1Interval, 60);
  EXPECT_EQ(plan.nPeriod2Hour, 22);
  EXPECT_EQ(plan.nPeriod2Minute, 0);
  EXPECT_EQ(plan.nPeriod2Interval, 30);
  EXPECT_EQ(plan.DayWarn, (_WARN_GROUP{0, 140, 90, 90, 60, 0, 0}));
  EXPECT_EQ(plan.NightWarn, (_WARN_GROUP{0, 120, 80, 80, 50, 0, 0}));
  EXPECT_EQ(plan.nWarnSwitchInfo, 0);
  EXPECT_EQ(plan.nYear + plan.nMonth + plan.nDay + plan.nHour + plan.nMinute + plan.nSecond, 0);
}

TEST(Records, FreshMeasurementIsValidAndZero) {
  const _BP_RECORD r;
  EXPECT_EQ(r.bValid, 1);
  EXPECT_EQ(r, (_BP_RECORD{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, L""}));
}

TEST(Records, CopiedMeasurementOwnsItsNote) {
  _BP_RECORD a;
  a.nSys = 120;
  a.strNote = L"cuff";
  _BP_RECORD b = a;
  a.strNote[0] = L'C';
  EXPECT_EQ(b.strNote, L"cuff");
  EXPECT_EQ(b.nSys, 120);
}

}  // namespace
