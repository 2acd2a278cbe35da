// The records are read by hosts directly: their layout and defaults are part
// of the interface.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <cstddef>

namespace {

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

template <typename Record, typename Field>
std::ptrdiff_t OffsetOf(const Record& r, const Field& f) {
  return reinterpret_cast<const char*>(&f) - reinterpret_cast<const char*>(&r);
}

TEST(Records, MeasurementLayoutKeepsFieldOrderAndWidths) {
  const _BP_RECORD r;
  EXPECT_EQ((std::vector<std::ptrdiff_t>{OffsetOf(r, r.nYear), OffsetOf(r, r.wMonth), OffsetOf(r, r.wSecond),
                                         OffsetOf(r, r.nSys), OffsetOf(r, r.wPress2), OffsetOf(r, r.wStatus),
                                         OffsetOf(r, r.byFlagsLow), OffsetOf(r, r.nAux3),
                                         OffsetOf(r, r.nMinuteOffset), OffsetOf(r, r.bValid)}),
            (std::vector<std::ptrdiff_t>{4, 8, 16, 20, 24, 36, 38, 40, 44, 48}));
  const _SPO2_RECORD s;
  EXPECT_EQ(OffsetOf(s, s.byPulseRate), 1);
  EXPECT_EQ(OffsetOf(s, s.nTimeOffset), 4);
}

TEST(Records, DefaultsAreTheDocumentedOnes) {
  const _BP_TRANSPORT_INFO plan;
  // Texts, values, date, options 1..4, the extra window, both periods.
  const int numbers[] = {plan.nPatientInfo5, plan.nPatientInfo6, plan.nYear, plan.nMonth, plan.nDay, plan.nHour,
                         plan.nMinute, plan.nSecond, plan.nOption1, plan.nOption2, plan.nOption3, plan.nOption4,
                         plan.nExtraStartHour, plan.nExtraStartMinute, plan.nExtraEndHour, plan.nExtraEndMinute,
                         plan.nExtraInterval, plan.nPeriod1Hour, plan.nPeriod1Minute, plan.nPeriod1Interval,
                         plan.nPeriod2Hour, plan.nPeriod2Minute, plan.nPeriod2Interval, plan.nWarnSwitchInfo};
  EXPECT_EQ(std::vector<int>(std::begin(numbers), std::end(numbers)),
            (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 297, 0, -1, -1, -1, -1, 0, 7, 0, 60, 22, 0, 30, 0}));
  EXPECT_EQ(std::string(plan.szPatientInfo1, 31) + std::string(plan.szPatientInfo4, 31), std::string(62, '\0'));
  EXPECT_EQ(plan.DayWarn, (_WARN_GROUP{0, 140, 90, 90, 60, 0, 0}));
  EXPECT_EQ(plan.NightWarn, (_WARN_GROUP{0, 120, 80, 80, 50, 0, 0}));
  // A fresh measurement is valid and zero.
  EXPECT_EQ(_BP_RECORD{}, (_BP_RECORD{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, L""}));
}

}  // namespace
