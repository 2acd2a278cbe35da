// Readings from a download held in the library's records.

#include <bplink/report/readings.h>

#include <algorithm>
#include <array>

namespace bplink::report {
namespace {

constexpr int kAmbulatoryRecorder = 1;
constexpr int kMonitorWithSpO2 = 3;
constexpr int kThreeStoreMonitor = 5;
constexpr int kVariantWithoutPlan = 1;
constexpr int kFirstSerialProtocol = 6;

std::string DeviceKind(int device_type) {
  switch (device_type) {
    case kAmbulatoryRecorder: return "ambulatory recorder";
    case kMonitorWithSpO2: return "blood-pressure monitor with SpO2";
    case kThreeStoreMonitor: return "blood-pressure monitor with three stores";
    case 2:  // the three types of monitor with one store
    case 4:
    case 6: return "blood-pressure monitor";
    default: return "device of unknown type";
  }
}

bool IsHid(const tag_SUPPORT_PROTOCOL& device) {
  return device.nProtocol >= 1 && device.nProtocol < kFirstSerialProtocol;
}

std::string FamilyName(const tag_SUPPORT_PROTOCOL& device) {
  // Serial protocol codes in order, from kFirstSerialProtocol on.
  static constexpr std::array<const char*, 5> kSerial = {"KX71", "KV32", "VESTRA16", "VESTRA16C",
                                                         "VESTRA18"};
  if (IsHid(device)) return "USB HID";
  const int serial = device.nProtocol - kFirstSerialProtocol;
  if (serial >= 0 && serial < static_cast<int>(kSerial.size())) return std::string(kSerial[serial]) + " serial";
  return "unknown protocol";
}

bool ValidClock(int hour, int minute) {
  return hour >= 0 && hour < kHoursPerDay && minute >= 0 && minute < kMinutesPerHour;
}

void ReadPlan(const _BP_TRANSPORT_INFO& plan, Recording& recording) {
  for (const std::string& text :
       {TextFromDevice(plan.szPatientInfo1, sizeof plan.szPatientInfo1),
        TextFromDevice(plan.szPatientInfo2, sizeof plan.szPatientInfo2),
        TextFromDevice(plan.szPatientInfo3, sizeof plan.szPatientInfo3),
        TextFromDevice(plan.szPatientInfo4, sizeof plan.szPatientInfo4)})
    if (!text.empty()) recording.patient.push_back(text);

  // A plan whose periods do not make two distinct times of day cannot say
  // what is night; the analysis then falls back to the other rules.
  if (!ValidClock(plan.nPeriod1Hour, plan.nPeriod1Minute) ||
      !ValidClock(plan.nPeriod2Hour, plan.nPeriod2Minute))
    return;
  PlanPeriods periods;
  periods.day_start = plan.nPeriod1Hour * kMinutesPerHour + plan.nPeriod1Minute;
  periods.day_interval = plan.nPeriod1Interval;
  periods.night_start = plan.nPeriod2Hour * kMinutesPerHour + plan.nPeriod2Minute;
  periods.night_interval = plan.nPeriod2Interval;
  recording.plan_start = PlanStart(plan);
  if (periods.day_start != periods.night_start) recording.plan = periods;
}

}  // namespace

Reading ReadingOf(const _BP_RECORD& record) {
  Reading r;
  r.time = {record.nYear, record.wMonth, record.wDay, record.wHour, record.wMinute, record.wSecond};
  r.sys = record.nSys;
  // The record's second and third pressures are the diastolic and the mean
  // arterial pressure, in an order that differs between families. Since
  // diastolic < mean < systolic holds for every real measurement, the lower
  // is the diastolic and the higher the mean.
  r.dia = std::min(record.wPress2, record.wPress3);
  r.map = std::max(record.wPress2, record.wPress3);
  if (record.wPulseRate > 0) r.pulse = record.wPulseRate;  // 0: the device measured none
  r.device_valid = record.bValid != 0;
  return r;
}

std::optional<CalendarTime> PlanStart(const _BP_TRANSPORT_INFO& plan) {
  const CalendarTime start{plan.nYear, plan.nMonth, plan.nDay, plan.nHour, plan.nMinute, plan.nSecond};
  if (!IsValidTime(start)) return std::nullopt;
  return start;
}

bool PlanStartBounds(int mode) { return mode != DATAMODE_BP_SET2; }

bool IsAmbulatoryRecorder(const DeviceSummary& device) { return device.device_type == kAmbulatoryRecorder; }

DeviceSummary DescribeDevice(const tag_SUPPORT_PROTOCOL& device) {
  DeviceSummary d;
  d.kind = DeviceKind(device.nDeviceType);
  d.family = FamilyName(device);
  if (IsHid(device)) d.version = std::to_string(device.nVersion);  // serial families report none
  d.description = d.kind + " (" + d.family + (d.version.empty() ? "" : ", protocol version " + d.version) + ")";
  d.device_type = device.nDeviceType;
  return d;
}

Recording RecordingFromDownload(const _BP_DATASET& set, const _BP_TRANSPORT_INFO* plan,
                                const _SPO2_DATASET* spo2, std::optional<DeviceSummary> device) {
  Recording recording;
  recording.source = "device download";
  recording.device = std::move(device);
  if (plan) ReadPlan(*plan, recording);

  for (const _BP_RECORD& record : set.vecRecords) recording.readings.push_back(ReadingOf(record));

  if (spo2) {
    // A sample's offset counts seconds from the set's start time.
    const CalendarTime start{spo2->Head.nYear,   spo2->Head.nMonth,  spo2->Head.nDay,
                             spo2->Head.nHour,   spo2->Head.nMinute, spo2->Head.nSecond};
    if (IsValidTime(start))
      for (const _SPO2_RECORD& sample : spo2->vecRecords)
        recording.spo2.push_back({AddSeconds(start, sample.nTimeOffset), sample.bySpO2,
                                  sample.byPulseRate});
  }
  return recording;
}

Recording RecordingFromDownload(const _DOWNLOAD_DATAINFO& data, const tag_SUPPORT_PROTOCOL& device,
                                SetChoice set) {
  const DeviceSummary summary = DescribeDevice(device);
  // The sets this type of device fills, in order.
  std::vector<const _BP_DATASET*> sets = {&data.BPSet};
  if (device.nDeviceType == kThreeStoreMonitor) sets = {&data.ZoneSet1, &data.ZoneSet2, &data.ZoneSet3};
  if (device.nDeviceType == kAmbulatoryRecorder) sets.push_back(&data.BPSet2);
  const char* noun = device.nDeviceType == kThreeStoreMonitor ? "store" : "set";
  const int count = static_cast<int>(sets.size());

  int chosen = 1;
  std::string why;
  if (set) {
    if (*set < 1 || *set > count)
      throw InputError("device download: --set " + std::to_string(*set) + ": this device has " + noun + "s 1 to " +
                       std::to_string(count));
    chosen = *set;
    why = ", as asked";
  } else {
    for (chosen = 1; chosen < count && sets[chosen - 1]->vecRecords.empty();) ++chosen;
    why = count > 1 ? ", the first with readings" : "";
  }
  const bool has_plan = device.nDeviceType != kThreeStoreMonitor &&
                        !(device.nDeviceType == kAmbulatoryRecorder && device.nVariant == kVariantWithoutPlan);
  const _SPO2_DATASET* spo2 = device.nDeviceType == kMonitorWithSpO2 ? &data.SpO2Set : nullptr;
  Recording r = RecordingFromDownload(*sets[chosen - 1], has_plan ? &data.Info : nullptr, spo2, summary);
  if (sets[chosen - 1] == &data.BPSet2) r.plan_start.reset();
  r.set_label = std::string(noun) + " " + std::to_string(chosen) + " of " + std::to_string(count) + why;
  return r;
}

}  // namespace bplink::report
