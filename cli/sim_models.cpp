#include "sim_models.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>

#include "hid/ambulatory_day.h"
#include "hid/hid_monitor.h"
#include "kv32/kv32_monitor.h"
#include "kx71/recorder.h"
#include "vestra16/monitor.h"
#include "vestra16c/monitor.h"
#include "vestra18/vestra18_monitor.h"

namespace bplink::cli {
namespace {

constexpr int kMinutesPerDay = 24 * 60;
constexpr int kRecordingStartHour = 9;
constexpr int kStepMinutes = 15;  // spacing of readings beyond the simulated day
constexpr int kSecondsPerMinute = 60;
constexpr int kMaxWordCount = 0xFFFF;  // the devices that announce a 16-bit record count
constexpr int kStatusUsable = 0;       // how the day marks a reading that worked

// The plan every simulated serial device starts with: the one the HID
// recorder's day was measured on.
constexpr const char* kPatient1 = "DEMO PATIENT";
constexpr const char* kPatient2 = "ID-0042";
constexpr int kDayHour = 7, kDayInterval = 15, kNightHour = 22, kNightInterval = 30;

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

sim::Kx71Reading Kx71Of(const sim::HidReading& r) {
  return {r.time, r.sys, r.press3, r.press2, r.pulse, r.status};
}

// --- KV32

sim::Kv32Reading Kv32Of(const sim::HidReading& r) {
  sim::Kv32Reading k;
  k.time = r.time;
  k.sys = r.sys;
  k.press2 = r.press2;
  k.pulse = r.pulse;
  k.press3 = r.press3;
  k.status = r.status;
  return k;
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
  sim::vestra16::Settings& s = monitor.settings();
  PutText(s.patient1, kPatient1);
  PutText(s.patient2, kPatient2);
  s.start = s.next = Vestra16Clock(start);
  s.period1_hour = kDayHour, s.period1_interval = kDayInterval;
  s.period2_hour = kNightHour, s.period2_interval = kNightInterval;
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

sim::Vestra18Reading Vestra18Of(const sim::HidReading& r) {
  return {r.time, r.sys, r.press2, r.pulse, r.press3, r.status == kStatusUsable ? kVestra18Usable : kVestra18Failed};
}

}  // namespace

std::unique_ptr<sim::DeviceModel> MakeHidMonitor(const SimSettings& settings) {
  if (settings.device_type < kDeviceAmbulatory || settings.device_type > kLastHidType)
    throw std::invalid_argument("a simulated HID device is of type 1 to 5");

  sim::HidMonitorConfig config = Day();
  config.stores[0].readings = FirstStore(settings, kMaxWordCount, "HID store");
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

  sim::Kx71RecorderConfig config;
  config.reply_code = kKx71KeepsPlan;
  sim::Kx71Group primary{true, Day().stores[0].start, {}};
  for (const auto& r : readings) primary.readings.push_back(Kx71Of(r));
  sim::Kx71Group secondary{false, {}, {}};
  secondary.readings.assign(primary.readings.end() - static_cast<std::ptrdiff_t>(primary.readings.size() / 4),
                            primary.readings.end());
  secondary.start = secondary.readings.empty() ? primary.start : secondary.readings.front().time;
  config.groups = {primary, secondary};
  config.plan.patient1 = kPatient1;
  config.plan.patient2 = kPatient2;
  config.plan.clock = primary.start;
  config.plan.day_hour = kDayHour, config.plan.day_interval = kDayInterval;
  config.plan.night_hour = kNightHour, config.plan.night_interval = kNightInterval;
  return std::make_unique<sim::Kx71Recorder>(std::move(config));
}

std::unique_ptr<sim::DeviceModel> MakeKv32Monitor(const SimSettings& settings) {
  sim::Kv32Config config;
  for (const auto& r : FirstStore(settings, kMaxWordCount, "KV32 monitor")) config.readings.push_back(Kv32Of(r));
  config.plan.patient1 = kPatient1;
  config.plan.patient2 = kPatient2;
  config.plan.start = Day().stores[0].start;
  config.plan.day_hour = kDayHour, config.plan.day_interval = kDayInterval;
  config.plan.night_hour = kNightHour, config.plan.night_interval = kNightInterval;
  auto monitor = std::make_unique<sim::Kv32Monitor>(std::move(config));
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
  constexpr int kMostPerStore = static_cast<int>(sim::kVestra18MaxSection);
  sim::Vestra18Config config;
  const std::vector<sim::HidReading> first = FirstStore(settings, kMostPerStore, "VESTRA18 store");
  const int day = std::min(kMostPerStore, static_cast<int>(Day().stores[0].readings.size()));
  for (int store = 0; store < sim::kVestra18Stores; ++store) {
    const std::vector<sim::HidReading> readings = store == 0 ? first : Readings(day / (store + 1));
    for (const auto& r : readings) config.stores[store].push_back(Vestra18Of(r));
  }
  auto monitor = std::make_unique<sim::Vestra18Monitor>(std::move(config));
  // Frames left out of store 1 are a pause that never ends on a line no host can call off.
  const int count = static_cast<int>(first.size());
  if (settings.silent_after && SilentAfter(settings) < count)
    monitor->AddGap({0, SilentAfter(settings), count - SilentAfter(settings)});
  return monitor;
}

}  // namespace bplink::cli
