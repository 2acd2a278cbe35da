// Writes the seed inputs of the fuzz targets: sessions with the simulated
// devices, recorded at the link and written in the replay device's format.
// Each seed is replayed before it is written, and must give the host exactly
// what the simulated device gave it; the exit status is 1 when one does not.
//
//   bplink-fuzz-seeds DIR   writes DIR/<target>/<seed>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "hid/hid_monitor.h"
#include "hid/seven_in_eight.h"
#include "in_process_device.h"
#include "kv32/model.h"
#include "kx71/model.h"
#include "models.h"
#include "operations.h"
#include "recording_device.h"
#include "vestra16/model.h"
#include "vestra16c/model.h"
#include "vestra18/model.h"

namespace bplink::fuzz {
namespace {

using sim::DeviceModel;

constexpr CalendarTime kStart{2026, 3, 14, 8, 30, 0};
constexpr int kStepMinutes = 15;
constexpr int kReadings = 4;  // per store: enough for every path, small enough to mutate fast

// Identity bytes of the HID device types 1 to 5.
constexpr std::uint8_t kAmbulatory = 0x05, kOneStore = 0x51, kWithSpO2 = 0x11, kMonitor = 0x31,
                       kThreeStores = 0x41;
constexpr std::uint8_t kVersionWithPatient = 5;
constexpr std::uint8_t kVersionWithTable = 3;
constexpr int kOwnTimeFormat = 2;

// A simulated device and how it is attached.
struct Setup {
  std::unique_ptr<DeviceModel> model;
  bool hid = false;
};

Setup Hid(std::uint8_t identity, std::uint8_t version = 1) {
  sim::HidMonitorConfig config;
  config.identity = identity;
  config.version = version;
  for (auto& store : config.stores) {
    store.format = identity == kAmbulatory ? 1 : kOwnTimeFormat;
    store.start = kStart;
    for (int i = 0; i < kReadings; ++i)
      store.readings.push_back({AddMinutes(kStart, kStepMinutes * i), 118 + i, 76, 90, 64 + i, i % 4});
  }
  for (int i = 0; i < kReadings; ++i)
    config.spo2.samples.push_back({AddMinutes(kStart, i), 97 - i, 70 + i});
  config.spo2.start = kStart;
  config.intervals = std::vector<int>{5, 10, 15, 30};
  config.patient = sim::EncodePatient({"Ann Example", "ID-7", "ward 3", "none", 1, 2});
  return {std::make_unique<sim::HidMonitor>(config), true};
}

Setup Kx71() {
  sim::kx71::RecorderConfig config;
  for (bool primary : {true, false}) {
    sim::kx71::Group group{primary, kStart, {}};
    for (int i = 0; i < kReadings; ++i)
      group.readings.push_back({AddMinutes(kStart, kStepMinutes * i), 250 + i, 95, 80, 130, i % 4});
    config.groups.push_back(group);
  }
  config.plan.patient1 = "Ann Example";
  config.plan.clock = kStart;
  config.plan_in_stream = true;
  return {std::make_unique<sim::kx71::Recorder>(config)};
}

Setup Kv32(int spo2Samples) {
  sim::kv32::MonitorConfig config;
  config.plan.start = kStart;
  for (int i = 0; i < kReadings; ++i) {
    sim::kv32::Reading r;
    r.time = AddMinutes(kStart, kStepMinutes * i);
    r.sys = 260 + i;
    r.status = i % 4;
    config.readings.push_back(r);
  }
  config.spo2_samples = spo2Samples;
  return {std::make_unique<sim::kv32::Monitor>(config)};
}

template <typename Monitor>
Setup Vestra16() {
  auto monitor = std::make_unique<Monitor>();
  monitor->settings().start = {kStart.year, kStart.month, kStart.day, kStart.hour, kStart.minute};
  for (int i = 0; i < kReadings; ++i)
    monitor->measurements().push_back({static_cast<std::uint32_t>(kStepMinutes * i), 300, 80, 70, 95,
                                       static_cast<std::uint8_t>(i % 4), 0, 0});
  return {std::move(monitor)};
}

Setup Vestra18() {
  sim::vestra18::MonitorConfig config;
  for (int s = 0; s < sim::vestra18::kStores; ++s)
    for (int i = 0; i < kReadings; ++i)
      config.stores[s].push_back({AddMinutes(kStart, 24 * 60 * s + kStepMinutes * i), 256 + i, 70, 65, 90, i % 4});
  return {std::make_unique<sim::vestra18::Monitor>(config)};
}

// A serial family's demo device, which answers its detection probe.
Setup Serial(const std::string& family) {
  sim::SimSettings settings;
  settings.records = 1;
  return {sim::MakeModel(family, settings)};
}

// Records what the device sent, as the replay device's input.
sim::RecordingDevice::Observer RecordInto(Bytes& input) {
  return [&input](const sim::LinkEvent& e) {
    using Kind = sim::LinkEvent::Kind;
    if (e.kind == Kind::kReceived) {
      if (e.result != 0) AppendReply(input, e.bytes);
      else AppendSilence(input);
    }
    // The replay device always opens; a HID device that is not there is,
    // to the host, one that answers nothing.
    if (e.kind == Kind::kOpen && e.result == 0 && e.target.starts_with("device")) AppendSilence(input);
  };
}

void WriteFile(const std::filesystem::path& dir, const std::string& target, const std::string& name,
               const Bytes& bytes) {
  std::filesystem::create_directories(dir / target);
  std::ofstream(dir / target / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool WriteSeed(const std::filesystem::path& dir, const std::string& target, const std::string& name,
               Setup setup, Operation operation, enum_DataMode mode) {
  Bytes input{static_cast<std::uint8_t>(mode)};
  Outcome expected;
  {
    FuzzMachine machine;
    sim::InProcessDevice simulated;
    simulated.SetRecvTimeout(ReplayDevice::kRecvTimeoutMs);
    if (setup.hid) simulated.AttachHid(setup.model.get());
    else simulated.AttachPort(FuzzMachine::PortPath(), setup.model.get());
    sim::RecordingDevice recording(simulated, RecordInto(input));
    expected = operation(recording, mode);
  }
  // A seed is worth its bytes only when the session it recorded succeeded.
  bool good = expected.result == kResultOk;
  if (!good) std::fprintf(stderr, "%s/%s: the session failed with %d\n", target.c_str(), name.c_str(), expected.result);
  if (Replay(input, operation) != expected) {
    std::fprintf(stderr, "%s/%s: the replay differs from the session\n", target.c_str(), name.c_str());
    good = false;
  }
  WriteFile(dir, target, name, input);
  return good;
}

}  // namespace
}  // namespace bplink::fuzz

int main(int argc, char** argv) {
  using namespace bplink::fuzz;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const std::filesystem::path dir(argv[1]);
  bool ok = true;
  auto seed = [&](const char* target, const std::string& name, Setup setup, Operation operation,
                  enum_DataMode mode = DATAMODE_BP) {
    ok = WriteSeed(dir, target, name, std::move(setup), operation, mode) && ok;
  };

  // The decoder's seed: a payload as the simulated HID device packs it.
  const Bytes plain{0x00, 0x7F, 0x80, 0xFF, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  WriteFile(dir, "unpack", "payload", bplink::sim::Pack7in8(plain.data(), plain.size()));

  const auto hid = Download<CProtocol_NEW>;
  seed("hid_download", "type1", Hid(kAmbulatory), hid);
  seed("hid_download", "type1_set2", Hid(kAmbulatory), hid, DATAMODE_BP_SET2);
  seed("hid_download", "type1_patient", Hid(kAmbulatory, kVersionWithPatient), hid);
  seed("hid_download", "type2", Hid(kOneStore), hid);
  seed("hid_download", "type3_spo2", Hid(kWithSpO2), hid, DATAMODE_BP_SPO2);
  seed("hid_download", "type4", Hid(kMonitor), hid);
  seed("hid_download", "type5_zone2", Hid(kThreeStores), hid, DATAMODE_ZONE2);
  seed("hid_download", "type5_all", Hid(kThreeStores), hid, DATAMODE_ZONE_ALL);

  seed("hid_time_interval", "type1_table", Hid(kAmbulatory, kVersionWithTable), TimeInterval);
  seed("hid_time_interval", "type2", Hid(kOneStore), TimeInterval);
  seed("hid_time_interval", "type3", Hid(kWithSpO2, kVersionWithPatient), TimeInterval);

  seed("hid_patient_info", "type1", Hid(kAmbulatory, kVersionWithPatient), PatientInfo);

  seed("kx71_download", "both_sets", Kx71(), Download<CProtocolCOMKX71>, DATAMODE_BP_SET2);
  seed("kv32_download", "records", Kv32(0), Download<CProtocolCOMKV32>);
  seed("kv32_download", "spo2", Kv32(3), Download<CProtocolCOMKV32>, DATAMODE_BP_SPO2);
  seed("vestra16_download", "records", Vestra16<bplink::sim::vestra16::Monitor>(),
       Download<CProtocolCOMVESTRA16>);
  seed("vestra16c_download", "records", Vestra16<bplink::sim::vestra16c::Monitor>(),
       Download<CProtocolCOMVESTRA16C>);
  seed("vestra18_download", "zone1", Vestra18(), Download<CProtocolCOMVESTRA18>, DATAMODE_ZONE1);
  seed("vestra18_download", "all", Vestra18(), Download<CProtocolCOMVESTRA18>, DATAMODE_ZONE_ALL);

  seed("detect", "hid", Hid(kWithSpO2), Detect);
  for (const std::string& family : bplink::sim::FamilyNames())
    if (family != "hid") seed("detect", family, Serial(family), Detect);
  return ok ? 0 : 1;
}
