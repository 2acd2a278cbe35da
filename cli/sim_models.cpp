#include "sim_models.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>

#include "hid/ambulatory_day.h"
#include "hid/hid_monitor.h"
#include "kv32/model.h"
#include "kx71/model.h"
#include "vestra16/model.h"
#include "vestra16c/model.h"
#include "vestra18/model.h"

namespace bplink::cli {
namespace {

constexpr int kMinutesPerDay = 24 * 60;
constexpr int kRecordingStartHour = 9;
constexpr int kStepMinutes = 15;  // spacing of readings beyond the simulated day
constexpr int kSecondsPerMinute = 60;
constexpr int kMaxWordCount = 0xFFFF;  // the devices that announce a 16-bit record count
constexpr int kStatusUsable = 0;       // how the day marks a reading that worked

constexpr int kNone = 0xFF;  // how the devices keep a time or interval that is not set

// The plan a simulated device keeps, in the fields they all share.
struct StartPlan {
  std::string patient1, patient2;
  int day_hour, day_minute, day_interval;
  int night_hour, night_minute, night_interval;
  int extra_start_hour = kNone, extra_start_minute = kNone, extra_interval = kNone;
  int extra_end_hour = kNone, extra_end_minute = kNone;
};

// The one the day was measured on, or the one --sim-plan gave.
StartPlan PlanOf(const SimSettings& settings) {
  if (!settings.plan) return {"DEMO PATIENT", "ID-0042", 7, 0, 15, 22, 0, 30};
  const _BP_TRANSPORT_INFO& p = *settings.plan;
  StartPlan plan{p.szPatientInfo1, p.szPatientInfo2, p.nPeriod1Hour, p.nPeriod1Minute, p.nPeriod1Interval,
                 p.nPeriod2Hour, p.nPeriod2Minute, p.nPeriod2Interval};
  if (p.nExtraStartHour >= 0 && p.nExtraEndHour >= 0 && p.nExtraInterval > 0) {
    plan.extra_start_hour = p.nExtraStartHour, plan.extra_start_minute = p.nExtraStartMinute;
    plan.extra_interval = p.nExtraInterval;
    plan.extra_end_hour = p.nExtraEndHour, plan.extra_end_minute = p.nExtraEndMinute;
  }
  return plan;
}

// Every model keeps the same fields under the same names.
template <typename ModelPlan>
void PutPlan(const StartPlan& from, ModelPlan& to) {
  to.patient1 = from.patient1;
  to.patient2 = from.patient2;
  to.day_hour = from.day_hour, to.day_minute = from.day_minute, to.day_interval = from.day_interval;
  to.night_hour = from.night_hour, to.night_minute = from.night_minute, to.night_interval = from.night_interval;
}

template <typename ModelPlan>
void PutExtra(const StartPlan& from, ModelPlan& to) {
  to.extra_start_hour = from.extra_start_hour, to.extra_start_minute = from.extra_start_minute;
  to.extra_interval = from.extra_interval;
  to.extra_end_hour = from.extra_end_hour, to.extra_end_minute = from.extra_end_minute;
}

// An ambulatory recorder put on yesterday morning, which has just finished
// its day and night.
CalendarTime YesterdayMorning() {
  CalendarTime start = AddMinutes(CurrentEnv()->LocalTime(), -kMinutesPerDay);
  start.hour = kRecordingStartHour;
  start.minute = start.second = 0;
  return start;
}

const sim::HidMonitorConfig& Day() {
  static const sim::HidMonitorConfig day = sim::AmbulatoryRecorderDay(YesterdayMorning());
  return day;
}

// `count` readings: the simulated day's, repeated with later times when more are asked for.
std::vector<sim::HidReading> Readings(int count) {
  const std::vector<sim::HidReading>& day = Day().stores[0].readings;
  std::vector<sim::HidReading> readings;
  for (int i = 0; i < count; ++i) {
    sim::HidReading r = day[static_cast<std::size_t>(i) % day.size()];
    if (i >= static_cast<int>(day.size()))
      r.time = AddMinutes(day.back().time, static_cast<std::int64_t>(i - day.size() + 1) * kStepMinutes);
    readings.push_back(r);
  }
  return readings;
}

// The readings of the first store, as many as asked for, checked against what the device can count.
std::vector<sim::HidReading> FirstStore(const SimSettings& settings, int most, const char* device) {
  const int count = settings.records.value_or(static_cast<int>(Day().stores[0].readings.size()));
  if (count < 0 || count > most)
    throw std::invalid_argument(std::string("a simulated ") + device + " holds 0 to " + std::to_string(most) +
                                " records");
  return Readings(count);
}

int SilentAfter(const SimSettings& settings) { return std::max(0, *settings.silent_after); }

// --- HID: one simulated monitor plays every device type

// An identity byte of each HID device type (type 6 has no HID protocol).
constexpr std::uint8_t kIdentityOfType[] = {0x00, 0x05, 0x51, 0x11, 0x31, 0x41};
constexpr int kLastHidType = 5;
constexpr int kOwnTimeFormat = 2;  // records that carry their own time

// --- KX71

constexpr std::uint8_t kKx71KeepsPlan = 0x34;  // the handshake answer of a recorder with a plan

sim::kx71::Reading Kx71Of(const sim::HidReading& r) {
  return {r.time, r.sys, r.press3, r.press2, r.pulse, r.status};
}

// --- KV32

sim::kv32::Reading Kv32Of(const sim::HidReading& r) {
  return {r.time, r.sys, r.press2, r.pulse, r.press3, r.status, r.flags};
}

// --- VESTRA16 and VESTRA16C: one monitor, two dialects

template <std::size_t N>
void PutText(std::array<std::uint8_t, N>& field, const std::string& text) {
  field.fill(0);
  std::copy_n(text.begin(), std::min(text.size(), N), field.begin());
}

sim::vestra16::Clock Vestra16Clock(const CalendarTime& t) { return {t.year, t.month, t.day, t.hour, t.minute}; }

constexpr int kForever = std::numeric_limits<int>::max();

std::uint8_t Byte(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 0xFF)); }

void FillVestra16(sim::vestra16::Monitor& monitor, const SimSettings& settings) {
  const std::vector<sim::HidReading> readings = FirstStore(settings, kMaxWordCount, "VESTRA16 monitor");
  const CalendarTime start = Day().stores[0].start;
  const StartPlan plan = PlanOf(settings);
  sim::vestra16::Settings& s = monitor.settings();
  PutText(s.patient1, plan.patient1);
  PutText(s.patient2, plan.patient2);
  s.start = s.next = Vestra16Clock(start);
  s.period1_hour = Byte(plan.day_hour), s.period1_minute = Byte(plan.day_minute);
  s.period1_interval = Byte(plan.day_interval);
  s.period2_hour = Byte(plan.night_hour), s.period2_minute = Byte(plan.night_minute);
  s.period2_interval = Byte(plan.night_interval);
  s.extra = {Byte(plan.extra_start_hour), Byte(plan.extra_start_minute), Byte(plan.extra_interval),
             Byte(plan.extra_end_hour), Byte(plan.extra_end_minute)};
  for (const sim::HidReading& r : readings) {
    sim::vestra16::Measurement m;
    m.minutes = static_cast<std::uint32_t>(SecondsBetween(start, r.time) / kSecondsPerMinute);
    m.systolic = static_cast<std::uint16_t>(r.sys);
    m.press2 = Byte(r.press2);
    m.pulse = Byte(r.pulse);
    m.press3 = Byte(r.press3);
    m.status = Byte(r.status);
    monitor.measurements().push_back(m);
  }
  // Unanswered for good: the monitor never gets past this record, not even with an echo.
  if (settings.silent_after) monitor.faults().unanswered_record_requests[SilentAfter(settings)] = kForever;
}

// --- VESTRA18

constexpr int kVestra18Usable = 1, kVestra18Failed = 0;

sim::vestra18::Reading Vestra18Of(const sim::HidReading& r) {
  return {r.time, r.sys, r.press2, r.pulse, r.press3, r.status == kStatusUsable ? kVestra18Usable : kVestra18Failed};
}

}  // namespace

std::unique_ptr<sim::DeviceModel> MakeHidMonitor(const SimSettings& settings) {
  if (settings.device_type < kDeviceAmbulatory || settings.device_type > kLastHidType)
    throw std::invalid_argument("a simulated HID device is of type 1 to 5");

  sim::HidMonitorConfig config = Day();
  config.stores[0].readings = FirstStore(settings, kMaxWordCount, "HID store");
  sim::HidPlan plan = sim::DecodePlan(config.plan);
  PutPlan(PlanOf(settings), plan);
  PutExtra(PlanOf(settings), plan);
  config.plan = sim::EncodePlan(plan);
  if (settings.device_type != kDeviceAmbulatory) {
    // The monitors date every record themselves and offer what their type offers.
    config.identity = kIdentityOfType[settings.device_type];
    config.capability_a = config.capability_b = 0;
    config.stores[0].format = kOwnTimeFormat;
    if (settings.device_type == kDeviceThreeStores) {
      const int day = static_cast<int>(Day().stores[0].readings.size());
      for (int store = 1; store < sim::kHidStores; ++store) {
        config.stores[store].format = kOwnTimeFormat;
        config.stores[store].readings = Readings(day / (store + 1));
      }
    }
  }

  auto monitor = std::make_unique<sim::HidMonitor>(config);
  if (settings.silent_after) {
    const int count = static_cast<int>(config.stores[0].readings.size());
    for (int i = SilentAfter(settings); i < count; ++i) monitor->AddRecordFault({0, i, true});
  }
  return monitor;
}

// The recorder files the day in its primary group and the last quarter of
// it again in the secondary one, and keeps the plan it measured on.
std::unique_ptr<sim::DeviceModel> MakeKx71Recorder(const SimSettings& settings) {
  if (settings.silent_after)
    throw std::invalid_argument(
        "a KX71 recorder ends every download by falling silent, so silence part-way is not a fault it can show");
  const std::vector<sim::HidReading> readings = FirstStore(settings, kMaxWordCount, "KX71 recorder");

  sim::kx71::RecorderConfig config;
  config.reply_code = kKx71KeepsPlan;
  sim::kx71::Group primary{true, Day().stores[0].start, {}};
  for (const auto& r : readings) primary.readings.push_back(Kx71Of(r));
  sim::kx71::Group secondary{false, {}, {}};
  secondary.readings.assign(primary.readings.end() - static_cast<std::ptrdiff_t>(primary.readings.size() / 4),
                            primary.readings.end());
  secondary.start = secondary.readings.empty() ? primary.start : secondary.readings.front().time;
  config.groups = {primary, secondary};
  PutPlan(PlanOf(settings), config.plan);  // it keeps no extra window
  config.plan.clock = primary.start;
  return std::make_unique<sim::kx71::Recorder>(std::move(config));
}

std::unique_ptr<sim::DeviceModel> MakeKv32Monitor(const SimSettings& settings) {
  sim::kv32::MonitorConfig config;
  for (const auto& r : FirstStore(settings, kMaxWordCount, "KV32 monitor")) config.readings.push_back(Kv32Of(r));
  PutPlan(PlanOf(settings), config.plan);
  PutExtra(PlanOf(settings), config.plan);
  config.plan.start = Day().stores[0].start;
  auto monitor = std::make_unique<sim::kv32::Monitor>(std::move(config));
  if (settings.silent_after) monitor->SilenceAfterRecords(SilentAfter(settings));
  return monitor;
}

std::unique_ptr<sim::DeviceModel> MakeVestra16Monitor(const SimSettings& settings) {
  auto monitor = std::make_unique<sim::vestra16::Monitor>();
  FillVestra16(*monitor, settings);
  return monitor;
}

std::unique_ptr<sim::DeviceModel> MakeVestra16CMonitor(const SimSettings& settings) {
  auto monitor = std::make_unique<sim::vestra16c::Monitor>();
  FillVestra16(*monitor, settings);
  return monitor;
}

// Store 1 holds the day; stores 2 and 3 a half and a third of it, as a
// monitor shared by three people might.
std::unique_ptr<sim::DeviceModel> MakeVestra18Monitor(const SimSettings& settings) {
  if (settings.plan) throw std::invalid_argument("a VESTRA18 monitor keeps no plan");
  constexpr int kMostPerStore = static_cast<int>(sim::vestra18::kMaxSection);
  sim::vestra18::MonitorConfig config;
  const std::vector<sim::HidReading> first = FirstStore(settings, kMostPerStore, "VESTRA18 store");
  const int day = std::min(kMostPerStore, static_cast<int>(Day().stores[0].readings.size()));
  for (int store = 0; store < sim::vestra18::kStores; ++store) {
    const std::vector<sim::HidReading> readings = store == 0 ? first : Readings(day / (store + 1));
    for (const auto& r : readings) config.stores[store].push_back(Vestra18Of(r));
  }
  auto monitor = std::make_unique<sim::vestra18::Monitor>(std::move(config));
  // Frames left out of store 1 are a pause that never ends on a line no host can call off.
  const int count = static_cast<int>(first.size());
  if (settings.silent_after && SilentAfter(settings) < count)
    monitor->AddGap({0, SilentAfter(settings), count - SilentAfter(settings)});
  return monitor;
}

}  // namespace bplink::cli
