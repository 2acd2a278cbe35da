// The demo HID device: one simulated monitor plays every HID device type,
// holding the wearer's day in its first store. The settings choose the
// device type, its version byte, the record and SpO2 formats it sends in and,
// for the ambulatory recorder, whether it keeps a plan.
#include <memory>
#include <stdexcept>

#include "demo_day.h"
#include "hid/hid_monitor.h"

namespace bplink::sim::hid {
namespace {

// An identity byte of each HID device type (type 6 has no HID protocol).
constexpr std::uint8_t kIdentityOfType[] = {0x00, 0x05, 0x51, 0x11, 0x31, 0x41};
// A recorder that keeps no plan and no second set answers with one of these.
constexpr std::uint8_t kRecorderWithoutPlan = 0x03;
constexpr int kLastHidType = 5;
constexpr int kOwnTimeFormat = 2;  // records that carry their own time
constexpr int kLastRecordFormat = 3;
constexpr std::size_t kAuxSpread = 200;
constexpr int kOffsetSpO2Format = 1, kOwnTimeSpO2Format = 2;
constexpr int kMaxSpO2Count = 0xFFFFFF;
constexpr int kSampleSecond = 30;  // samples fall between the minutes readings are on

// What the devices of a version keep beyond the plan and the records, as
// the version decides: a table of intervals, alarm limits and an alarm
// switch, and from version 5 on the recorder's patient block.
constexpr int kFirstShortAlarmVersion = 2;  // type 4 only, and only this version
constexpr std::uint8_t kDemoIntervals[] = {5, 10, 15, 20, 30, 45, 60, 90, 120};
constexpr HidAlarms kDemoAlarms{{1, {160, 100, 95, 55, 140, 85}}, {0, {145, 90, 80, 45, 125, 75}}};
constexpr int kDemoWarnSwitch = 1;

void PutVersion(int version, HidMonitorConfig& config) {
  config.version = static_cast<std::uint8_t>(version);
  config.intervals = std::vector<int>(std::begin(kDemoIntervals), std::end(kDemoIntervals));
  config.alarms = kDemoAlarms;
  config.warn_switch = kDemoWarnSwitch;
  const HidPlan plan = DecodePlan(config.plan);
  config.patient = EncodePatient({plan.patient1, plan.patient2, "DR. A. OSEI, WARD 4", "REVIEW IN 2 WEEKS", 72, 175});
}

void PutSpO2(const SimSettings& settings, HidMonitorConfig& config) {
  const int count = demo::Within(settings.spo2_samples, 0, kMaxSpO2Count,
                                 static_cast<int>(config.stores[0].readings.size()), "a HID SpO2 store's count");
  config.spo2.format = demo::Within(settings.spo2_format, kOffsetSpO2Format, kOwnTimeSpO2Format,
                                    kOwnTimeSpO2Format, "a HID SpO2 format");
  for (const demo::SpO2Sample& s : demo::SpO2Samples(count, kSampleSecond))
    config.spo2.samples.push_back({s.time, s.spo2, s.pulse});
  config.spo2.start = config.spo2.samples.empty() ? demo::Day().stores[0].start : config.spo2.samples.front().time;
}

}  // namespace

std::unique_ptr<DeviceModel> MakeModel(const SimSettings& settings) {
  const int type = demo::Within(settings.device_type, kDeviceAmbulatory, kLastHidType, kDeviceAmbulatory,
                                "a simulated HID device's type");
  unsigned takes = demo::kDeviceType | demo::kVersion | demo::kRecordFormat;
  if (type == kDeviceWithSpO2) takes |= demo::kSpO2Format | demo::kSpO2Samples;
  if (type == kDeviceAmbulatory) takes |= demo::kPlanVariant;
  else takes |= demo::kHomeDays;  // a monitor a patient uses at home
  const std::string device = "a HID device of type " + std::to_string(type);
  demo::TakesOnly(settings, takes, device);
  const bool keepsPlan = type != kDeviceThreeStores && demo::Within(settings.variant, 1, 2, 2, "a variant") == 2;
  if (settings.plan && !keepsPlan) throw std::invalid_argument(device + " of this variant keeps no plan");

  HidMonitorConfig config = demo::Day();
  config.stores[0].readings = demo::FirstStore(settings, demo::kMaxWordCount, "HID store");
  HidPlan plan = DecodePlan(config.plan);
  plan.clock = demo::StoreStart(config.stores[0].readings);
  demo::PutPlan(demo::PlanOf(settings), plan);
  demo::PutExtra(demo::PlanOf(settings), plan);
  config.plan = EncodePlan(plan);
  if (type != kDeviceAmbulatory) {
    // The monitors date every record themselves and offer what their type offers.
    config.identity = kIdentityOfType[type];
    config.capability_a = config.capability_b = 0;
    config.stores[0].format = kOwnTimeFormat;
    if (type == kDeviceThreeStores) {
      const int day = static_cast<int>(demo::Day().stores[0].readings.size());
      for (int store = 1; store < kHidStores; ++store) {
        config.stores[store].format = kOwnTimeFormat;
        config.stores[store].readings = demo::Readings(day / (store + 1));
      }
    }
  } else if (!keepsPlan) {
    config.identity = kRecorderWithoutPlan;
  }
  if (settings.version)
    PutVersion(demo::Within(settings.version, 0, 0xFF, 0, "a HID version byte"), config);
  // The alarm block an upload carries has the length the type and version
  // give it, whatever the version came from.
  config.alarm_layout = type == kDeviceType4 && config.version == kFirstShortAlarmVersion ? HidAlarmLayout::kShort
                                                                                          : HidAlarmLayout::kLong;
  if (settings.record_format) {
    const int format = demo::Within(settings.record_format, 1, kLastRecordFormat, 1, "a HID record format");
    for (HidRecordStore& store : config.stores) {
      store.format = format;
      // Format 1 counts minutes from the store's start; format 3 adds two
      // bytes of its own, given values here so they are seen to arrive.
      if (!store.readings.empty()) store.start = store.readings.front().time;
      for (std::size_t i = 0; i < store.readings.size() && format == kLastRecordFormat; ++i) {
        store.readings[i].aux1 = 1 + static_cast<int>(i % kAuxSpread);
        store.readings[i].aux2 = kAuxSpread - static_cast<int>(i % kAuxSpread);
      }
    }
  }
  if (type == kDeviceWithSpO2) PutSpO2(settings, config);

  auto monitor = std::make_unique<HidMonitor>(config);
  if (settings.silent_after) {
    const int count = static_cast<int>(config.stores[0].readings.size());
    for (int i = demo::SilentAfter(settings); i < count; ++i) monitor->AddRecordFault({0, i, true});
  }
  return monitor;
}

}  // namespace bplink::sim::hid
