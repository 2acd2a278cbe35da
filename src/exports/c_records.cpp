// The C interface: the plan and the downloaded data as C structs.

#include <algorithm>
#include <cstring>

#include <bplink/plan/plan_file.h>

#include "exports/c_handles.h"

namespace bplink::capi {
namespace {

template <std::size_t N, std::size_t M>
void CopyField(const char (&from)[N], char (&to)[M]) {
  static_assert(N == M);
  std::memcpy(to, from, N);
  to[N - 1] = '\0';
}

void ToC(const _WARN_GROUP& in, bplink_warn_group& out) {
  out.on = in.nWarnSwitch;
  const int limits[6] = {in.nLimit1, in.nLimit2, in.nLimit3, in.nLimit4, in.nLimit5, in.nLimit6};
  std::memcpy(out.limits, limits, sizeof limits);
}

_WARN_GROUP FromC(const bplink_warn_group& in) {
  return {in.on, in.limits[0], in.limits[1], in.limits[2], in.limits[3], in.limits[4], in.limits[5]};
}

// The sets the device type fills, in the order a host reads them.
std::vector<std::pair<int, const _BP_DATASET*>> SetsOf(const bplink_download& d) {
  switch (d.device.nDeviceType) {
    case kDeviceThreeStores:
      return {{DATAMODE_ZONE1, &d.data.ZoneSet1}, {DATAMODE_ZONE2, &d.data.ZoneSet2}, {DATAMODE_ZONE3, &d.data.ZoneSet3}};
    case kDeviceAmbulatory:
      return {{DATAMODE_BP, &d.data.BPSet}, {DATAMODE_BP_SET2, &d.data.BPSet2}};
    default:
      return {{d.mode, &d.data.BPSet}};
  }
}

}  // namespace

void ToC(const _BP_TRANSPORT_INFO& device_plan, bplink_plan& out) {
  // "None" as the header spells it, whatever the device sent for it.
  const _BP_TRANSPORT_INFO in = plan::WithNoneSpelledOut(device_plan);
  CopyField(in.szPatientInfo1, out.patient1);
  CopyField(in.szPatientInfo2, out.patient2);
  CopyField(in.szPatientInfo3, out.patient3);
  CopyField(in.szPatientInfo4, out.patient4);
  out.patient_values[0] = in.nPatientInfo5;
  out.patient_values[1] = in.nPatientInfo6;
  out.year = in.nYear;
  out.month = in.nMonth;
  out.day = in.nDay;
  out.hour = in.nHour;
  out.minute = in.nMinute;
  out.second = in.nSecond;
  out.options[0] = in.nOption1;
  out.options[1] = in.nOption2;
  out.options[2] = in.nOption3;
  out.options[3] = in.nOption4;
  out.extra_start_hour = in.nExtraStartHour;
  out.extra_start_minute = in.nExtraStartMinute;
  out.extra_end_hour = in.nExtraEndHour;
  out.extra_end_minute = in.nExtraEndMinute;
  out.extra_interval = in.nExtraInterval;
  out.period1_hour = in.nPeriod1Hour;
  out.period1_minute = in.nPeriod1Minute;
  out.period1_interval = in.nPeriod1Interval;
  out.period2_hour = in.nPeriod2Hour;
  out.period2_minute = in.nPeriod2Minute;
  out.period2_interval = in.nPeriod2Interval;
  ToC(in.DayWarn, out.day_warn);
  ToC(in.NightWarn, out.night_warn);
  out.warn_switch = in.nWarnSwitchInfo;
}

_BP_TRANSPORT_INFO FromC(const bplink_plan& in) {
  _BP_TRANSPORT_INFO out;
  CopyField(in.patient1, out.szPatientInfo1);
  CopyField(in.patient2, out.szPatientInfo2);
  CopyField(in.patient3, out.szPatientInfo3);
  CopyField(in.patient4, out.szPatientInfo4);
  out.nPatientInfo5 = in.patient_values[0];
  out.nPatientInfo6 = in.patient_values[1];
  out.nYear = in.year;
  out.nMonth = in.month;
  out.nDay = in.day;
  out.nHour = in.hour;
  out.nMinute = in.minute;
  out.nSecond = in.second;
  out.nOption1 = in.options[0];
  out.nOption2 = in.options[1];
  out.nOption3 = in.options[2];
  out.nOption4 = in.options[3];
  out.nExtraStartHour = in.extra_start_hour;
  out.nExtraStartMinute = in.extra_start_minute;
  out.nExtraEndHour = in.extra_end_hour;
  out.nExtraEndMinute = in.extra_end_minute;
  out.nExtraInterval = in.extra_interval;
  out.nPeriod1Hour = in.period1_hour;
  out.nPeriod1Minute = in.period1_minute;
  out.nPeriod1Interval = in.period1_interval;
  out.nPeriod2Hour = in.period2_hour;
  out.nPeriod2Minute = in.period2_minute;
  out.nPeriod2Interval = in.period2_interval;
  out.DayWarn = FromC(in.day_warn);
  out.NightWarn = FromC(in.night_warn);
  out.nWarnSwitchInfo = in.warn_switch;
  return out;
}

}  // namespace bplink::capi

using bplink::capi::Fits;
using bplink::capi::Guard;
using bplink::capi::SetsOf;

extern "C" {

BPLINK_C_API int BPLINK_C_CALL bplink_plan_default(bplink_plan* plan) {
  return Guard([&]() -> int {
    if (!Fits(plan)) return bplink::kResultCannotStart;
    bplink::capi::ToC(_BP_TRANSPORT_INFO{}, *plan);
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_download_free(bplink_download* download) {
  return Guard([&]() -> int {
    delete download;
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_download_device(const bplink_download* download, bplink_device_info* info) {
  return Guard([&]() -> int {
    if (download == nullptr || !Fits(info)) return bplink::kResultCannotStart;
    bplink::capi::ToC(download->device, *info);
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_download_sets(const bplink_download* download, size_t* count) {
  return Guard([&]() -> int {
    if (download == nullptr || count == nullptr) return bplink::kResultCannotStart;
    *count = SetsOf(*download).size();
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_download_set(const bplink_download* download, size_t set,
                                                   bplink_set_info* info) {
  return Guard([&]() -> int {
    if (download == nullptr || !Fits(info)) return bplink::kResultCannotStart;
    const auto sets = SetsOf(*download);
    if (set >= sets.size()) return bplink::kResultNotForDevice;
    const _DATA_HEAD& h = sets[set].second->Head;
    info->mode = sets[set].first;
    info->announced = h.nCount;
    info->year = h.nYear;
    info->month = h.nMonth;
    info->day = h.nDay;
    info->hour = h.nHour;
    info->minute = h.nMinute;
    info->second = h.nSecond;
    info->records = sets[set].second->vecRecords.size();
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_download_record(const bplink_download* download, size_t set, size_t index,
                                                      bplink_bp_record* record) {
  return Guard([&]() -> int {
    if (download == nullptr || !Fits(record)) return bplink::kResultCannotStart;
    const auto sets = SetsOf(*download);
    if (set >= sets.size() || index >= sets[set].second->vecRecords.size()) return bplink::kResultNotForDevice;
    const _BP_RECORD& r = sets[set].second->vecRecords[index];
    record->year = r.nYear;
    record->month = r.wMonth;
    record->day = r.wDay;
    record->hour = r.wHour;
    record->minute = r.wMinute;
    record->second = r.wSecond;
    record->sys = r.nSys;
    record->press2 = r.wPress2;
    record->press3 = r.wPress3;
    record->pulse = r.wPulseRate;
    record->status = r.wStatus;
    record->valid = r.bValid;
    record->flags_low = r.byFlagsLow;
    record->flags_high = r.wFlagsHigh;
    record->aux1 = r.wAux1;
    record->aux2 = r.wAux2;
    record->aux3 = r.nAux3;
    record->minute_offset = r.nMinuteOffset;
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_download_spo2_count(const bplink_download* download, size_t* count) {
  return Guard([&]() -> int {
    if (download == nullptr || count == nullptr) return bplink::kResultCannotStart;
    *count = download->device.nDeviceType == bplink::kDeviceWithSpO2 ? download->data.SpO2Set.vecRecords.size() : 0;
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_download_spo2(const bplink_download* download, size_t index,
                                                    bplink_spo2_record* sample) {
  return Guard([&]() -> int {
    if (download == nullptr || !Fits(sample)) return bplink::kResultCannotStart;
    size_t count = 0;
    bplink_download_spo2_count(download, &count);
    if (index >= count) return bplink::kResultNotForDevice;
    const _SPO2_RECORD& s = download->data.SpO2Set.vecRecords[index];
    sample->spo2 = s.bySpO2;
    sample->pulse = s.byPulseRate;
    sample->time_offset = s.nTimeOffset;
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_download_plan(const bplink_download* download, bplink_plan* plan) {
  return Guard([&]() -> int {
    if (download == nullptr || !Fits(plan)) return bplink::kResultCannotStart;
    if (download->device.nDeviceType == bplink::kDeviceThreeStores) return bplink::kResultNotForDevice;
    bplink::capi::ToC(download->data.Info, *plan);
    return bplink::kResultOk;
  });
}

}  // extern "C"
