#include "families.h"

#include <algorithm>
#include <stdexcept>

#include "hid/ambulatory_day.h"
#include "hid/hid_monitor.h"

namespace bplink::cli {
namespace {

// --- the HID family: one simulated monitor plays every device type

constexpr int kMinutesPerDay = 24 * 60;
constexpr int kRecordingStartHour = 9;
constexpr int kMaxHidRecords = 0xFFFF;  // the count is 16 bits on the wire
constexpr int kStepMinutes = 15;        // spacing of readings beyond the simulated day

// An identity byte of each HID device type (type 6 has no HID protocol).
constexpr std::uint8_t kIdentityOfType[] = {0x00, 0x05, 0x51, 0x11, 0x31, 0x41};
constexpr int kLastHidType = 5;
constexpr int kOwnTimeFormat = 2;  // records that carry their own time

// An ambulatory recorder put on yesterday morning, which has just finished
// its day and night.
CalendarTime YesterdayMorning() {
  CalendarTime start = AddMinutes(CurrentEnv()->LocalTime(), -kMinutesPerDay);
  start.hour = kRecordingStartHour;
  start.minute = start.second = 0;
  return start;
}

// `count` readings: the simulated day's, repeated with later times when more are asked for.
std::vector<sim::HidReading> Readings(const std::vector<sim::HidReading>& day, int count) {
  std::vector<sim::HidReading> readings;
  for (int i = 0; i < count; ++i) {
    sim::HidReading r = day[static_cast<std::size_t>(i) % day.size()];
    if (i >= static_cast<int>(day.size()))
      r.time = AddMinutes(day.back().time, static_cast<std::int64_t>(i - day.size() + 1) * kStepMinutes);
    readings.push_back(r);
  }
  return readings;
}

std::unique_ptr<sim::DeviceModel> MakeHidMonitor(const SimSettings& settings) {
  if (settings.device_type < kDeviceAmbulatory || settings.device_type > kLastHidType)
    throw std::invalid_argument("a simulated HID device is of type 1 to 5");
  if (settings.records && (*settings.records < 0 || *settings.records > kMaxHidRecords))
    throw std::invalid_argument("a simulated HID store holds 0 to 65535 records");

  sim::HidMonitorConfig config = sim::AmbulatoryRecorderDay(YesterdayMorning());
  const std::vector<sim::HidReading> day = config.stores[0].readings;
  config.stores[0].readings = Readings(day, settings.records.value_or(static_cast<int>(day.size())));
  if (settings.device_type != kDeviceAmbulatory) {
    // The monitors date every record themselves and offer what their type offers.
    config.identity = kIdentityOfType[settings.device_type];
    config.capability_a = config.capability_b = 0;
    config.stores[0].format = kOwnTimeFormat;
    if (settings.device_type == kDeviceThreeStores) {
      for (int store = 1; store < sim::kHidStores; ++store) {
        config.stores[store].format = kOwnTimeFormat;
        config.stores[store].readings = Readings(day, static_cast<int>(day.size()) / (store + 1));
      }
    }
  }

  auto monitor = std::make_unique<sim::HidMonitor>(config);
  if (settings.silent_after) {
    const int count = static_cast<int>(config.stores[0].readings.size());
    for (int i = std::max(0, *settings.silent_after); i < count; ++i)
      monitor->AddRecordFault({0, i, true});
  }
  return monitor;
}

const std::vector<Family>& Table() {
  static const std::vector<Family> families = {
      {"hid", "CProtocol_NEW", LinkKind::kHid, {1, 2, 3, 4, 5},
       [] { return std::make_unique<CProtocol_NEW>(); }, MakeHidMonitor},
  };
  return families;
}

}  // namespace

const std::vector<std::string>& FamilyNames() {
  static const std::vector<std::string> names = {"hid", "kx71", "kv32", "vestra16", "vestra16c", "vestra18"};
  return names;
}

const Family* FindFamily(const std::string& name) {
  const auto& table = Table();
  const auto it = std::find_if(table.begin(), table.end(), [&](const Family& f) { return f.name == name; });
  return it != table.end() ? &*it : nullptr;
}

const Family* FamilyForProtocol(int protocol) {
  for (const Family& family : Table())
    if (std::find(family.protocols.begin(), family.protocols.end(), protocol) != family.protocols.end())
      return &family;
  return nullptr;
}

std::string NotInBuild(const std::string& name) {
  return "the " + name + " family is not available in this build";
}

}  // namespace bplink::cli
