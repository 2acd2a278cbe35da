#include "rig.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "hid/hid_monitor.h"
#include "kv32/model.h"
#include "kx71/model.h"
#include "vestra16/model.h"
#include "vestra16c/model.h"
#include "vestra18/model.h"

namespace bplink::bench {
namespace {

// Records are a quarter of an hour apart from here; their values wander so
// that bytes with and without the top bit both occur.
constexpr CalendarTime kFirstRecord{2026, 1, 5, 8, 0, 0};
constexpr int kMinutesApart = 15;

// Record counts the wire can announce: 16 bits on HID, KX71 and KV32 and the
// VESTRA16 families, three stores of one byte each on VESTRA18.
constexpr int kSixteenBitCount = 0xFFFF;

int Sys(int i) { return 100 + (i * 11) % 180; }
CalendarTime At(int i) { return AddMinutes(kFirstRecord, std::int64_t{kMinutesApart} * i); }

_BP_TRANSPORT_INFO Plan() {
  _BP_TRANSPORT_INFO plan;
  std::strcpy(plan.szPatientInfo1, "Benchmark patient");
  plan.nPeriod1Hour = 7;
  plan.nPeriod1Interval = 15;
  plan.nPeriod2Hour = 22;
  plan.nPeriod2Interval = 30;
  return plan;
}

template <typename ProtocolClass, typename ModelClass>
class RigOf : public Rig {
 public:
  RigOf(enum_DataMode mode, bool canUpload) : Rig(mode), can_upload_(canUpload) {}

  sim::DeviceModel& Model() override { return model_; }
  CProtocolBase& Protocol() override { return *protocol_; }
  void RenewProtocol() override { protocol_.emplace(); }
  bool CanUpload() const override { return can_upload_; }

  ModelClass& Device() { return model_; }

 private:
  bool can_upload_;
  ModelClass model_;
  std::optional<ProtocolClass> protocol_{std::in_place};
};

std::unique_ptr<Rig> HidRig(int records) {
  auto rig = std::make_unique<RigOf<CProtocol_NEW, sim::HidMonitor>>(DATAMODE_BP, true);
  sim::HidRecordStore& store = rig->Device().Config().stores[0];
  store.format = 2;
  store.start = kFirstRecord;
  store.readings.resize(static_cast<std::size_t>(records));
  for (int i = 0; i < records; ++i) {
    sim::HidReading& r = store.readings[static_cast<std::size_t>(i)];
    r.time = At(i);
    r.sys = Sys(i);
    r.press2 = 60 + i % 40;
    r.press3 = 80 + i % 30;
    r.pulse = 55 + i % 50;
  }
  return rig;
}

std::unique_ptr<Rig> Kx71Rig(int records) {
  auto rig = std::make_unique<RigOf<CProtocolCOMKX71, sim::kx71::Recorder>>(DATAMODE_BP, true);
  sim::kx71::Group group{true, kFirstRecord, {}};
  for (int i = 0; i < records; ++i)
    group.readings.push_back({At(i), Sys(i), 0x1FF - i % 200, 70 + i % 40, 0x80 + i % 60, i % 2 == 0 ? 0 : 3});
  rig->Device().Config().groups = {group};
  return rig;
}

std::unique_ptr<Rig> Kv32Rig(int records) {
  auto rig = std::make_unique<RigOf<CProtocolCOMKV32, sim::kv32::Monitor>>(DATAMODE_BP, true);
  sim::kv32::MonitorConfig& config = rig->Device().Config();
  config.plan.start = kFirstRecord;
  for (int i = 0; i < records; ++i) {
    sim::kv32::Reading r;
    r.time = At(i);
    r.sys = Sys(i);
    config.readings.push_back(r);
  }
  return rig;
}

template <typename Protocol, typename Monitor>
std::unique_ptr<Rig> Vestra16Rig(int records) {
  auto rig = std::make_unique<RigOf<Protocol, Monitor>>(DATAMODE_BP, true);
  rig->Device().settings().start = {kFirstRecord.year, kFirstRecord.month, kFirstRecord.day,
                                    kFirstRecord.hour, kFirstRecord.minute};
  for (int i = 0; i < records; ++i) {
    sim::vestra16::Measurement m;
    m.minutes = static_cast<std::uint32_t>(kMinutesApart * i);
    m.systolic = static_cast<std::uint16_t>(Sys(i));
    rig->Device().measurements().push_back(m);
  }
  return rig;
}

std::unique_ptr<Rig> Vestra18Rig(int records) {
  auto rig = std::make_unique<RigOf<CProtocolCOMVESTRA18, sim::vestra18::Monitor>>(DATAMODE_ZONE_ALL, false);
  // Spread over the three stores, each a section of its own.
  for (int i = 0; i < records; ++i) {
    sim::vestra18::Reading r;
    r.time = At(i);
    r.sys = Sys(i);
    r.press2 = 70;
    r.pulse = 60;
    r.press3 = 90;
    r.status = 1;
    rig->Device().Config().stores[static_cast<std::size_t>(i % sim::vestra18::kStores)].push_back(r);
  }
  return rig;
}

}  // namespace

std::string_view FamilyName(Family family) {
  switch (family) {
    case Family::kHid: return "HID";
    case Family::kKX71: return "KX71";
    case Family::kKV32: return "KV32";
    case Family::kVestra16: return "VESTRA16";
    case Family::kVestra16C: return "VESTRA16C";
    case Family::kVestra18: return "VESTRA18";
  }
  return "?";
}

int MaxRecords(Family family) {
  return family == Family::kVestra18 ? static_cast<int>(sim::vestra18::kStores * sim::vestra18::kMaxSection)
                                     : kSixteenBitCount;
}

void Rig::Bind(CDevice& device, bool opened) {
  Protocol().SetDevice(&device, opened);
  Protocol().SetProgressInfo(&progress_, &state_, &stage_);
}

int Rig::Download() { return Protocol().PC_Download(mode_); }

int Rig::Upload() {
  Protocol().SetUpLoadData(Plan());
  return Protocol().PC_Upload(mode_);
}

std::size_t Rig::StoredRecords() {
  _DOWNLOAD_DATAINFO info;
  Protocol().GetDownLoadData(&info);
  // The three-store layout hands set 1 out twice, as BPSet and as ZoneSet1.
  const std::size_t zones =
      info.ZoneSet1.vecRecords.size() + info.ZoneSet2.vecRecords.size() + info.ZoneSet3.vecRecords.size();
  return zones != 0 ? zones : info.BPSet.vecRecords.size() + info.BPSet2.vecRecords.size();
}

std::unique_ptr<Rig> MakeRig(Family family, int records) {
  records = std::clamp(records, 0, MaxRecords(family));
  switch (family) {
    case Family::kHid: return HidRig(records);
    case Family::kKX71: return Kx71Rig(records);
    case Family::kKV32: return Kv32Rig(records);
    case Family::kVestra16: return Vestra16Rig<CProtocolCOMVESTRA16, sim::vestra16::Monitor>(records);
    case Family::kVestra16C: return Vestra16Rig<CProtocolCOMVESTRA16C, sim::vestra16c::Monitor>(records);
    case Family::kVestra18: return Vestra18Rig(records);
  }
  return nullptr;
}

}  // namespace bplink::bench
